// A pseudo-terminal whose far end goes away while bytes move both ways: the
// port reports the failure, closes once, and nothing waits for ever.
#include "commtestutil.h"
#include "handles.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>

using namespace commtest;

namespace {

TEST(PtyHangup, MasterClosedMidTransferClosesThePortOnce)
{
    constexpr int kRounds = 20;
    constexpr size_t kSize = 256 * 1024;
    const std::string out(kSize, 'o');
    const std::string in(kSize, 'i');
    const int threadsBefore = ThreadCount();
    const int handlesBefore = zq::kernel::OpenHandleCount();
    for (int round = 0; round < kRounds; ++round) {
        PtyEnd far;
        ASSERT_FALSE(far.slave.empty());
        QObject owner;
        auto* comm = new TestComm(&owner);
        comm->opener = [&] { return far.OpenNear(); };
        std::atomic<int> closed { 0 };
        comm->RegisterNotify(TNotifyHandler::Bind(&closed, nullptr, [&](TzqBaseIO*, int code) {
            if (code == NOTIFY_CLOSED)
                ++closed;
        }));
        size_t received = 0;
        comm->OnAfterReceive
            = TOnReceived::Bind(comm, nullptr, [&](TObject*, const void*, Cardinal n) { received += n; });
        comm->Open();
        ASSERT_TRUE(comm->IsOpened());
        // The far end sends a little (less than the line holds, so it never
        // waits for this side), takes a different share of the transfer each
        // round, and hangs up with bytes still in flight.
        const size_t cut = 1000 + size_t(round) * 7919;
        std::thread farEnd([&] {
            far.Write(in.substr(0, 2048));
            far.Read(cut);
            far.CloseMaster();
        });
        comm->SendData(out.data(), int(kSize));
        farEnd.join();
        ASSERT_TRUE(zqtest::WaitUntil([&] { return closed == 1 && !comm->IsOpened(); }))
            << "round " << round << ": closed " << closed << " times";
        comm->SendData(out.data(), 16); // on a closed port: nothing happens
        comm->Close(); // nothing left to close
        EXPECT_EQ(closed, 1) << "round " << round;
        EXPECT_LE(received, 2048u) << "round " << round;
        delete comm;
    }
    EXPECT_TRUE(zqtest::WaitUntil([&] { return ThreadCount() <= threadsBefore; }));
    EXPECT_EQ(zq::kernel::OpenHandleCount(), handlesBefore);
}

} // namespace
