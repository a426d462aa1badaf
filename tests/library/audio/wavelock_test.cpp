// The lock of a wave direction: taken again by its holder, waited for with
// a limit by others, and handed from thread to thread so that what one
// holder wrote is what the next one reads.
#include "zqwavelock.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

using zq::audio::WaveLock;

namespace {

// Whether another thread can take the lock now (and gives it back).
bool FreeForOthers(WaveLock& lock)
{
    bool took = false;
    std::thread([&] {
        took = lock.try_lock();
        if (took)
            lock.unlock();
    }).join();
    return took;
}

TEST(WaveLock, TheHolderTakesItAgainAndOthersWaitForTheLastRelease)
{
    WaveLock lock;
    lock.lock();
    ASSERT_TRUE(lock.try_lock());
    ASSERT_TRUE(lock.try_lock_for(std::chrono::milliseconds(1)));
    EXPECT_TRUE(lock.HeldByCurrentThread());
    EXPECT_FALSE(FreeForOthers(lock));
    lock.unlock();
    lock.unlock();
    EXPECT_FALSE(FreeForOthers(lock));
    lock.unlock();
    EXPECT_FALSE(lock.HeldByCurrentThread());
    EXPECT_TRUE(FreeForOthers(lock));
}

TEST(WaveLock, ATimedTakeGivesUpWhileAnotherHoldsIt)
{
    WaveLock lock;
    lock.lock();
    bool took = true;
    std::thread([&] { took = lock.try_lock_for(std::chrono::milliseconds(20)); }).join();
    EXPECT_FALSE(took);
    lock.unlock();
}

TEST(WaveLock, ATimedTakeGetsItWhenTheHolderReleases)
{
    WaveLock lock;
    lock.lock();
    std::atomic<bool> waiting { false };
    bool took = false;
    std::thread other([&] {
        waiting = true;
        // Far longer than any scheduling delay: the release ends the wait.
        took = lock.try_lock_for(std::chrono::minutes(5));
        if (took)
            lock.unlock();
    });
    while (!waiting)
        std::this_thread::yield();
    lock.unlock();
    other.join();
    EXPECT_TRUE(took);
}

TEST(WaveLock, AReleaseOnAnotherThreadFreesItAndASpareReleaseIsHarmless)
{
    WaveLock lock;
    lock.lock();
    std::thread([&] { lock.unlock(); }).join();
    EXPECT_TRUE(FreeForOthers(lock));
    lock.unlock(); // not held: nothing happens
    lock.lock();
    EXPECT_FALSE(FreeForOthers(lock));
    lock.unlock();
}

// Holders on several threads, nested, each reading and writing plain data:
// every take sees the last holder's writes (a sanitizer build checks the
// hand-over itself).
TEST(WaveLock, HoldersInTurnSeeEachOthersWrites)
{
    WaveLock lock;
    std::vector<int> data;
    long sum = 0;
    constexpr int kThreads = 4;
    constexpr int kRounds = 500;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < kRounds; ++i) {
                while (!lock.try_lock_for(std::chrono::milliseconds(1))) { }
                lock.lock();
                data.push_back(t);
                sum += t;
                lock.unlock();
                lock.unlock();
            }
        });
    }
    for (auto& th : threads)
        th.join();
    EXPECT_EQ(data.size(), size_t(kThreads * kRounds));
    EXPECT_EQ(sum, long(kRounds) * (kThreads * (kThreads - 1) / 2));
}

} // namespace
