#include "modemsession_p.h"
#include "modemsim_process.h"

#include <gtest/gtest.h>

#include <cmath>
#include <condition_variable>
#include <future>
#include <mutex>

using namespace zq::modem;
using zq::modem::test::ModemSimProcess;

namespace {

// What the session reported, for waiting on from the test's thread.
class Events {
public:
    void operator()(const ModemEvent& e)
    {
        std::lock_guard<std::mutex> g(m_);
        all_.push_back(e);
        cv_.notify_all();
    }
    bool wait(ModemEvent::Kind kind, ModemEvent* found = nullptr, int seconds = 30)
    {
        std::unique_lock<std::mutex> g(m_);
        return cv_.wait_for(g, std::chrono::seconds(seconds), [&] {
            for (auto& e : all_) {
                if (e.kind == kind) {
                    if (found)
                        *found = e;
                    return true;
                }
            }
            return false;
        });
    }
    std::string logText()
    {
        std::lock_guard<std::mutex> g(m_);
        std::string s;
        for (auto& e : all_) {
            if (e.kind == ModemEvent::Log || e.kind == ModemEvent::OutOfService)
                s += e.text + "\n";
        }
        return s;
    }
    std::string digits()
    {
        std::lock_guard<std::mutex> g(m_);
        std::string s;
        for (auto& e : all_) {
            if (e.kind == ModemEvent::Digit)
                s += e.digit;
        }
        return s;
    }

private:
    std::mutex m_;
    std::condition_variable cv_;
    std::vector<ModemEvent> all_;
};

struct Session {
    explicit Session(const std::string& device)
        : session(device, [this](const ModemEvent& e) { events(e); })
    {
    }
    Events events;
    ModemSession session;
};

// Waits for a job's result, bounded so that a hang fails instead of blocking.
template <class Start> ModemResult run(Start start, int seconds = 60)
{
    auto p = std::make_shared<std::promise<ModemResult>>();
    auto f = p->get_future();
    start([p](ModemResult r) { p->set_value(r); });
    if (f.wait_for(std::chrono::seconds(seconds)) != std::future_status::ready)
        return ModemResult::Stopped;
    return f.get();
}

ModemResult openSession(Session& s, ModemSettings settings = {}, const std::string& userInit = {})
{
    return run([&](auto done) { s.session.open(settings, userInit, done); });
}

// A tone with every byte value in it, DLE included, as 16-bit samples.
std::vector<int16_t> testSignal(size_t count)
{
    std::vector<int16_t> v;
    for (size_t i = 0; i < count; ++i)
        v.push_back(static_cast<int16_t>(12000 * std::sin(i * 0.07) + (i % 256) * 16 - 0x0810));
    v[3] = 0x1010;
    return v;
}

std::vector<uint8_t> bytesOf(const std::vector<int16_t>& s)
{
    std::vector<uint8_t> b;
    for (int16_t x : s) {
        b.push_back(static_cast<uint8_t>(x & 0xFF));
        b.push_back(static_cast<uint8_t>((x >> 8) & 0xFF));
    }
    return b;
}

} // namespace

TEST(ModemSession, OpensWithTheSettingsAndLogsARefusedOne)
{
    ModemSimProcess sim("error &K\n");
    ASSERT_FALSE(sim.device().empty());
    Session s(sim.device());
    ModemSettings settings;
    settings.callSetupFailTimer = 45;
    EXPECT_EQ(openSession(s, settings, "AT&C1"), ModemResult::Ok);
    EXPECT_TRUE(s.session.voiceCapable());
    EXPECT_EQ(s.session.voiceFormat().coding, SampleCoding::Linear16);
    const std::string log = sim.log();
    for (const char* cmd : { "> ATZ", "> ATL1", "> ATM3", "> ATS7=45", "> ATS30=1", "> AT\\N2", "> AT%C1",
             "> AT&K4", "> ATX4", "> AT&C1", "> AT+FCLASS=8", "> AT+VSM=129,8000", "> AT+VCID=1" })
        EXPECT_NE(log.find(cmd), std::string::npos) << cmd;
    EXPECT_NE(s.events.logText().find("refused the flow control setting (AT&K4)"), std::string::npos)
        << s.events.logText();

    // The port is the line's while it is open: a second session is refused.
    Session other(sim.device());
    EXPECT_EQ(openSession(other), ModemResult::PortBusy);
    EXPECT_NE(other.events.logText().find("in use"), std::string::npos);
    EXPECT_EQ(run([&](auto done) { s.session.close(done); }), ModemResult::Ok);
    EXPECT_EQ(openSession(other), ModemResult::Ok);
}

// A line opened, rung and closed at once, then opened again (a program
// listing the lines before it waits for a call): what the modem said after
// the close must not be taken for answers of the next open, which would put
// every later answer one command behind.
TEST(ModemSession, WhatCameAfterACloseIsNotTakenForTheNextOpensAnswers)
{
    ModemSimProcess sim("after AT+VCID=1: ring 20 every 500 cid +15551234 \"Alice Smith\"\n");
    Session s(sim.device());
    for (int i = 0; i < 3; ++i) {
        ASSERT_EQ(openSession(s), ModemResult::Ok) << i;
        EXPECT_TRUE(s.session.voiceCapable()) << i << sim.log();
        // Closed while the caller id after the first ring is on its way.
        const auto rings = [&] {
            size_t n = 0;
            const std::string log = sim.log();
            for (size_t at = log.find("< RING"); at != std::string::npos; at = log.find("< RING", at + 1))
                ++n;
            return n;
        };
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (rings() <= size_t(i) && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        EXPECT_EQ(run([&](auto done) { s.session.close(done); }), ModemResult::Ok);
    }
}

TEST(ModemSession, FallsBackToEightBitOrG711)
{
    ModemSimProcess sim("formats alaw,ulaw\n");
    Session s(sim.device());
    ASSERT_EQ(openSession(s), ModemResult::Ok);
    EXPECT_EQ(s.session.voiceFormat().coding, SampleCoding::Ulaw);
    EXPECT_TRUE(sim.waitLog("> AT+VSM=4,8000"));
}

TEST(ModemSession, DialsAVoiceCallAndPlaysIntoIt)
{
    ModemSimProcess sim("");
    Session s(sim.device());
    ASSERT_EQ(openSession(s), ModemResult::Ok);
    EXPECT_EQ(run([&](auto done) { s.session.dialVoice("+1 (555) 123-4567", done); }), ModemResult::Ok);
    EXPECT_TRUE(sim.waitLog("dial +15551234567"));

    const std::vector<int16_t> signal = testSignal(8000); // one second
    size_t at = 0;
    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(run([&](auto done) {
        s.session.play(
            [&](std::vector<int16_t>& out) {
                const size_t n = std::min<size_t>(160, signal.size() - at);
                out.insert(out.end(), signal.begin() + at, signal.begin() + at + n);
                at += n;
                return at < signal.size();
            },
            done);
    }),
        ModemResult::Ok);
    // Taken at the real rate, a second of samples cannot be played sooner.
    EXPECT_GE(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(800));
    const std::string rec = sim.record();
    const std::vector<uint8_t> want = bytesOf(signal);
    EXPECT_EQ(std::vector<uint8_t>(rec.begin(), rec.end()), want);
    EXPECT_EQ(run([&](auto done) { s.session.hangUp(done); }), ModemResult::Ok);
}

TEST(ModemSession, IncomingCallWithCallerIdRecordedUntilTheCallerHangsUp)
{
    const std::vector<int16_t> memo = testSignal(4000);
    const std::vector<uint8_t> memoBytes = bytesOf(memo);
    ModemSimProcess sim("after AT+VCID=1: ring 5 every 300 cid +15551234 \"Alice Smith\"\n"
                        "after AT+VRX: play; dtmf 1#; hangup\n",
        memoBytes);
    Session s(sim.device());
    ASSERT_EQ(openSession(s), ModemResult::Ok);
    ModemEvent cid;
    ASSERT_TRUE(s.events.wait(ModemEvent::CallerId, &cid));
    // The name comes in the line after the number.
    ASSERT_TRUE(s.events.wait(ModemEvent::Ring));
    EXPECT_EQ(cid.number, "+15551234");
    EXPECT_EQ(run([&](auto done) { s.session.answerVoice(done); }), ModemResult::Ok);
    EXPECT_TRUE(sim.waitLog("answered"));

    std::vector<int16_t> got;
    EXPECT_EQ(run([&](auto done) {
        s.session.record([&](const int16_t* p, size_t n) { got.insert(got.end(), p, p + n); }, done);
    }),
        ModemResult::NoCarrier);
    EXPECT_EQ(s.events.digits(), "1#");
    EXPECT_TRUE(s.events.wait(ModemEvent::Disconnected, nullptr, 1));
    // Silence before the memo is the line's; the memo itself arrives whole.
    auto it = std::search(got.begin(), got.end(), memo.begin(), memo.end());
    EXPECT_NE(it, got.end());
}

// A modem that offers full duplex plays and records in one stream: what is
// played reaches the modem whole while the far end's memo and digits arrive.
TEST(ModemSession, FullDuplexPlaysAndRecordsAtOnce)
{
    const std::vector<int16_t> memo = testSignal(8000);
    ModemSimProcess sim("duplex\nafter AT+VTR: play; dtmf 1#; hangup\n", bytesOf(memo));
    Session s(sim.device());
    ASSERT_EQ(openSession(s), ModemResult::Ok);
    EXPECT_TRUE(s.session.duplexCapable());
    EXPECT_EQ(run([&](auto done) { s.session.dialVoice("5551234", done); }), ModemResult::Ok);

    const std::vector<int16_t> signal = testSignal(4000);
    size_t at = 0;
    std::vector<int16_t> got;
    EXPECT_EQ(run([&](auto done) {
        s.session.duplex(
            [&](std::vector<int16_t>& out) {
                const size_t n = std::min<size_t>(160, signal.size() - at);
                out.insert(out.end(), signal.begin() + at, signal.begin() + at + n);
                at += n;
                return at < signal.size();
            },
            [&](const int16_t* p, size_t n) { got.insert(got.end(), p, p + n); }, done);
    }),
        ModemResult::NoCarrier);
    EXPECT_EQ(s.events.digits(), "1#");
    EXPECT_NE(std::search(got.begin(), got.end(), memo.begin(), memo.end()), got.end());
    const std::string recorded = sim.record();
    const std::vector<uint8_t> rec(recorded.begin(), recorded.end()), want = bytesOf(signal);
    EXPECT_NE(std::search(rec.begin(), rec.end(), want.begin(), want.end()), rec.end());
    // One stream, never switched between playing and recording.
    EXPECT_EQ(sim.log().find("VTX start"), std::string::npos);
    EXPECT_EQ(sim.log().find("VRX start"), std::string::npos);
}

TEST(ModemSession, BusyAndRefusedNumbers)
{
    ModemSimProcess sim("on ATD: ok; busy\n");
    Session s(sim.device());
    ASSERT_EQ(openSession(s), ModemResult::Ok);
    for (const char* bad : { "555;ATH", "555\rATZ", "12&F",
             ""
             "S0=1" }) {
        EXPECT_EQ(run([&](auto done) { s.session.dialVoice(bad, done); }), ModemResult::Refused) << bad;
    }
    EXPECT_EQ(sim.log().find("dial"), std::string::npos);
    EXPECT_EQ(run([&](auto done) { s.session.dialVoice("5551234", done); }), ModemResult::Ok);
    EXPECT_TRUE(s.events.wait(ModemEvent::Busy));
}

TEST(ModemSession, DataCallLendsThePortAndEscapesAfterwards)
{
    ModemSimProcess sim("on ATD: connect 31200\n");
    Session s(sim.device());
    ASSERT_EQ(openSession(s), ModemResult::Ok);
    ASSERT_EQ(run([&](auto done) { s.session.dialData("5551234", done); }), ModemResult::Connect);
    EXPECT_EQ(s.session.rate(), 31200u);
    EXPECT_TRUE(sim.waitLog("> AT+FCLASS=0"));
    EXPECT_EQ(run([&](auto done) { s.session.endDataCall(done); }), ModemResult::Ok);
    EXPECT_TRUE(sim.waitLog("escape"));
    EXPECT_TRUE(sim.waitLog("on hook"));

    ModemSimProcess failing("on ATD: nocarrier\n");
    Session f(failing.device());
    ASSERT_EQ(openSession(f), ModemResult::Ok);
    EXPECT_EQ(run([&](auto done) { f.session.dialData("5551234", done); }), ModemResult::NoCarrier);
}

TEST(ModemSession, AModemThatStopsAnsweringGoesOutOfService)
{
    ModemSimProcess silent("start: mute\n");
    Session a(silent.device());
    EXPECT_EQ(openSession(a), ModemResult::Timeout);

    // Silent while its voice class is set up: no start, rather than a line
    // that takes itself for data only.
    ModemSimProcess voiceless("on AT+VSM=?: mute\n");
    Session v(voiceless.device());
    EXPECT_EQ(openSession(v), ModemResult::Timeout);

    ModemSimProcess sim("after AT+VCID=1: mute\n");
    Session s(sim.device());
    ASSERT_EQ(openSession(s), ModemResult::Ok);
    EXPECT_EQ(run([&](auto done) { s.session.hangUp(done); }), ModemResult::Timeout);
    ModemEvent e;
    ASSERT_TRUE(s.events.wait(ModemEvent::OutOfService, &e));
    EXPECT_NE(e.text.find("stopped answering"), std::string::npos);
}

TEST(ModemSession, UnpluggedDuringARecording)
{
    ModemSimProcess sim("on ATD: ok\nafter AT+VRX: wait 300; unplug\n");
    Session s(sim.device());
    ASSERT_EQ(openSession(s), ModemResult::Ok);
    ASSERT_EQ(run([&](auto done) { s.session.dialVoice("5551234", done); }), ModemResult::Ok);
    size_t samples = 0;
    EXPECT_EQ(
        run([&](auto done) { s.session.record([&](const int16_t*, size_t n) { samples += n; }, done); }),
        ModemResult::PortFailed);
    ModemEvent e;
    ASSERT_TRUE(s.events.wait(ModemEvent::OutOfService, &e));
    EXPECT_NE(e.text.find("went away"), std::string::npos);
}
