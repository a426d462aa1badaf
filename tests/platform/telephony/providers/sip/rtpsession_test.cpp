// Two sessions talking over loopback, as the two ends of a call.
#include "rtpsession.h"

#include "eventwait.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>

#include <spandsp.h>

#include <cmath>
#include <mutex>
#include <string>
#include <vector>

using namespace zq::sip;

namespace {

struct End {
    std::unique_ptr<RtpSession> session;
    std::mutex mutex;
    std::vector<int16_t> heard;
    std::string digits;

    RtpCallbacks Callbacks()
    {
        return { [this](const int16_t* pcm, size_t n) {
                    std::lock_guard lock(mutex);
                    heard.insert(heard.end(), pcm, pcm + n);
                },
            [this](char d) {
                std::lock_guard lock(mutex);
                digits += d;
            } };
    }
    std::string Digits()
    {
        std::lock_guard lock(mutex);
        return digits;
    }
    std::vector<int16_t> Heard()
    {
        std::lock_guard lock(mutex);
        return heard;
    }
};

RtpConfig To(int port, int eventPt = 101)
{
    RtpConfig c;
    auto* a = reinterpret_cast<sockaddr_in*>(&c.remote);
    a->sin_family = AF_INET;
    a->sin_port = htons(uint16_t(port));
    a->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    c.remoteLength = sizeof(sockaddr_in);
    c.eventPayloadType = eventPt;
    return c;
}

std::unique_ptr<RtpSession> Open()
{
    std::string error;
    auto s = RtpSession::Bind("127.0.0.1", 0, 0, &error);
    EXPECT_TRUE(s) << error;
    return s;
}

} // namespace

TEST(RtpSession, WhatOneEndSendsTheOtherHearsWhole)
{
    End a, b;
    a.session = Open();
    b.session = Open();
    ASSERT_TRUE(a.session && b.session);
    // A sends A-law, B sends mu-law: each end takes either.
    RtpConfig alaw = To(b.session->LocalPort());
    alaw.law = G711Law::ALaw;
    alaw.payloadType = kPayloadPcma;
    a.session->Start(alaw, a.Callbacks());
    b.session->Start(To(a.session->LocalPort()), b.Callbacks());
    // A second of a 500 Hz tone; what arrives must be the same tone through
    // A-law or mu-law, at the same place relative to its own start.
    std::vector<int16_t> tone(8000);
    for (size_t i = 0; i < tone.size(); ++i)
        tone[i] = int16_t(8000 * std::cos(2 * M_PI * 500 * double(i) / 8000));
    a.session->Send(tone.data(), tone.size());
    ASSERT_TRUE(zqtest::WaitUntil([&] { return b.session->Stats().received >= 80; }));
    ASSERT_TRUE(zqtest::WaitUntil([&] {
        const auto h = b.Heard();
        size_t loud = 0;
        for (auto s : h)
            loud += std::abs(s) > 4000;
        return loud >= 4000;
    }));
    a.session->Stop();
    b.session->Stop();
    const auto heard = b.Heard();
    size_t start = 0;
    while (start < heard.size() && std::abs(heard[start]) < 1000)
        ++start;
    ASSERT_LT(start + tone.size(), heard.size() + 1);
    double err = 0, power = 0;
    for (size_t i = 0; i < tone.size() && start + i < heard.size(); ++i) {
        err += std::pow(double(heard[start + i]) - tone[i], 2);
        power += std::pow(double(tone[i]), 2);
    }
    EXPECT_LT(err / power, 0.01); // better than 20 dB, which G.711 is by far
    EXPECT_EQ(b.session->Stats().late, 0u);
}

TEST(RtpSession, DigitsTravelAsTelephoneEventsOnAnyPayloadType)
{
    End a, b;
    a.session = Open();
    b.session = Open();
    ASSERT_TRUE(a.session && b.session);
    a.session->Start(To(b.session->LocalPort(), 96), a.Callbacks());
    b.session->Start(To(a.session->LocalPort(), 96), b.Callbacks());
    a.session->SendDigits("12#x9");
    EXPECT_TRUE(zqtest::WaitUntil([&] { return b.Digits().size() >= 4; }));
    a.session->Stop();
    b.session->Stop();
    EXPECT_EQ(b.Digits(), "12#9");
}

TEST(RtpSession, HearsToneDigitsWhenThePeerSendsNoEvents)
{
    End a, b;
    a.session = Open();
    b.session = Open();
    ASSERT_TRUE(a.session && b.session);
    a.session->Start(To(b.session->LocalPort(), -1), a.Callbacks());
    b.session->Start(To(a.session->LocalPort(), -1), b.Callbacks());
    dtmf_tx_state_t* tx = dtmf_tx_init(nullptr);
    dtmf_tx_put(tx, "5A*", -1);
    std::vector<int16_t> audio(8000);
    const int n = dtmf_tx(tx, audio.data(), int(audio.size()));
    dtmf_tx_free(tx);
    a.session->Send(audio.data(), size_t(n));
    EXPECT_TRUE(zqtest::WaitUntil([&] { return b.Digits().size() >= 3; }));
    a.session->Stop();
    b.session->Stop();
    EXPECT_EQ(b.Digits(), "5A*");
}

TEST(RtpSession, AnswersWhereThePeerSendsFrom)
{
    End a, b;
    a.session = Open();
    b.session = Open();
    auto nowhere = Open(); // a port nobody reads: where signalling said to send
    ASSERT_TRUE(a.session && b.session && nowhere);
    a.session->Start(To(b.session->LocalPort()), a.Callbacks());
    b.session->Start(To(nowhere->LocalPort()), b.Callbacks());
    EXPECT_TRUE(zqtest::WaitUntil([&] { return a.session->Stats().received >= 10; }));
    a.session->Stop();
    b.session->Stop();
}

TEST(RtpSession, BindsInsideTheConfiguredRange)
{
    std::string error;
    auto first = RtpSession::Bind("127.0.0.1", 0, 0, &error);
    ASSERT_TRUE(first);
    // Ask for a range of just the taken port: there is none free.
    const int taken = first->LocalPort() & ~1;
    if (taken == first->LocalPort()) {
        EXPECT_FALSE(RtpSession::Bind("127.0.0.1", taken, taken + 1, &error));
        EXPECT_NE(error.find("no free port"), std::string::npos);
    }
    EXPECT_FALSE(RtpSession::Bind("not an address", 0, 0, &error));
}
