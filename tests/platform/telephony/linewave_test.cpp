// A line's wave devices: what an application plays in its own format
// reaches the line in the line's, formats that cannot be converted are
// refused, and a paced or ended line never strands a buffer.
#include "fakeprovider.h"
#include "mmsystem.h"
#include "servicetesting.h"
#include "tapitest.h"
#include "testaudio.h"
#include "waveheaderflags.h"

#include <cmath>

namespace {

using zqtest::Pcm;

// One second of a sine in the given format.
std::vector<char> Tone(const WAVEFORMATEX& f, double hz)
{
    std::vector<char> out(f.nAvgBytesPerSec);
    char* p = out.data();
    for (DWORD i = 0; i < f.nSamplesPerSec; ++i) {
        const double v = 0.5 * std::sin(2 * M_PI * hz * i / f.nSamplesPerSec);
        for (int c = 0; c < f.nChannels; ++c) {
            if (f.wBitsPerSample == 8) {
                *p++ = char(uint8_t(128 + int(v * 127)));
            } else {
                const int16_t s = int16_t(v * 32767);
                std::memcpy(p, &s, 2);
                p += 2;
            }
        }
    }
    return out;
}

// Sign changes per second, halved: the tone's frequency.
double Frequency(const std::vector<int16_t>& s, DWORD rate, size_t from = 0)
{
    size_t crossings = 0;
    for (size_t i = from + 1; i < s.size(); ++i)
        if ((s[i - 1] < 0) != (s[i] < 0))
            ++crossings;
    return crossings / 2.0 * rate / double(s.size() - from);
}

class LineWave : public TapiTest {
protected:
    void SetUp() override
    {
        TapiTest::SetUp();
        zq::telephony::UseProvidersForTesting({ { "Fake", &fake::Create } });
        Register();
        line_ = Open(0, kInst1, LINECALLPRIVILEGE_NONE);
        VarBlock ids;
        ASSERT_EQ(lineGetID(line_, 0, 0, LINECALLSELECT_LINE, ids.Var(), "wave/in/out"), 0);
        in_ = ids.Dword(0);
        out_ = ids.Dword(1);
        audio_ = fake::Current()->lines[0]->audio;
    }
    void TearDown() override
    {
        TapiTest::TearDown();
        zq::telephony::UseProvidersForTesting({});
    }
    // Plays one buffer and waits until the device has given it back.
    void PlayAll(HWAVEOUT out, std::vector<char>& data)
    {
        WAVEHDR h {};
        h.lpData = data.data();
        h.dwBufferLength = DWORD(data.size());
        ASSERT_EQ(waveOutPrepareHeader(out, &h, sizeof h), MMSYSERR_NOERROR);
        ASSERT_EQ(waveOutWrite(out, &h, sizeof h), MMSYSERR_NOERROR);
        ASSERT_TRUE(zqtest::WaitUntil([&] { return (zq::wave::HeaderFlags(h) & WHDR_DONE) != 0; }));
        waveOutUnprepareHeader(out, &h, sizeof h);
    }

    HLINE line_ = 0;
    UINT in_ = 0, out_ = 0;
    std::shared_ptr<fake::Audio> audio_;
};

TEST_F(LineWave, WhatIsPlayedInAnyPcmFormatReachesTheLineAt8kHz)
{
    struct Case {
        WAVEFORMATEX format;
        DWORD flags;
    };
    const Case cases[]
        = { { Pcm(16000, 1, 16), 0 }, { Pcm(22050, 2, 8), WAVE_MAPPED }, { Pcm(8000, 1, 16), 0 } };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.format.nSamplesPerSec);
        const size_t before = audio_->Played().size();
        HWAVEOUT out = nullptr;
        ASSERT_EQ(waveOutOpen(&out, out_, &c.format, 0, 0, CALLBACK_NULL | c.flags), MMSYSERR_NOERROR);
        std::vector<char> tone = Tone(c.format, 1000);
        PlayAll(out, tone);
        ASSERT_EQ(waveOutClose(out), MMSYSERR_NOERROR);
        const std::vector<int16_t> all = audio_->Played();
        const std::vector<int16_t> heard(all.begin() + ptrdiff_t(before), all.end());
        // One second at the line's rate, all of it once the device is
        // closed, and the same tone.
        EXPECT_NEAR(double(heard.size()), 8000.0, 8.0);
        EXPECT_NEAR(Frequency(heard, 8000, 200), 1000.0, 20.0);
    }
}

TEST_F(LineWave, FormatsTheLineCannotTakeAreRefused)
{
    for (const WAVEFORMATEX& f : { Pcm(16000, 1, 24), Pcm(8000, 4, 16), Pcm(2000, 1, 16) }) {
        HWAVEOUT out = nullptr;
        EXPECT_EQ(waveOutOpen(&out, out_, &f, 0, 0, CALLBACK_NULL), WAVERR_BADFORMAT);
        HWAVEIN in = nullptr;
        EXPECT_EQ(waveInOpen(&in, in_, &f, 0, 0, CALLBACK_NULL), WAVERR_BADFORMAT);
    }
    const WAVEFORMATEX ok = Pcm(44100, 2, 16);
    EXPECT_EQ(waveOutOpen(nullptr, out_, &ok, 0, 0, WAVE_FORMAT_QUERY), MMSYSERR_NOERROR);
}

TEST_F(LineWave, WhatTheLineHearsIsRecordedInTheApplicationsFormat)
{
    std::vector<int16_t> heard(8000);
    for (size_t i = 0; i < heard.size(); ++i)
        heard[i] = int16_t(16000 * std::sin(2 * M_PI * 500 * double(i) / 8000));
    audio_->Hear(heard);
    const WAVEFORMATEX f = Pcm(16000, 1, 16);
    HWAVEIN in = nullptr;
    ASSERT_EQ(waveInOpen(&in, in_, &f, 0, 0, CALLBACK_NULL), MMSYSERR_NOERROR);
    // In 20 ms pieces, as a device clock asks for them.
    std::vector<std::vector<char>> buffers(60, std::vector<char>(640));
    std::vector<WAVEHDR> headers(buffers.size());
    for (size_t i = 0; i < buffers.size(); ++i) {
        headers[i].lpData = buffers[i].data();
        headers[i].dwBufferLength = DWORD(buffers[i].size());
        ASSERT_EQ(waveInPrepareHeader(in, &headers[i], sizeof(WAVEHDR)), MMSYSERR_NOERROR);
        ASSERT_EQ(waveInAddBuffer(in, &headers[i], sizeof(WAVEHDR)), MMSYSERR_NOERROR);
    }
    ASSERT_EQ(waveInStart(in), MMSYSERR_NOERROR);
    ASSERT_TRUE(zqtest::WaitUntil([&] { return (zq::wave::HeaderFlags(headers.back()) & WHDR_DONE) != 0; }));
    std::vector<int16_t> got;
    for (const WAVEHDR& h : headers) {
        const auto* p = reinterpret_cast<const int16_t*>(h.lpData);
        got.insert(got.end(), p, p + h.dwBytesRecorded / 2);
    }
    ASSERT_EQ(got.size(), 60u * 320);
    // The line's second at twice the rate, after the resampler's lead-in
    // (well under 100 ms), without a gap.
    size_t first = got.size();
    for (size_t i = 0; i < got.size() && first == got.size(); ++i)
        if (std::abs(got[i]) > 1000)
            first = i;
    ASSERT_LT(first, 1600u);
    got.resize(first + 16000 - 400);
    size_t quiet = 0, longest = 0;
    for (size_t i = first; i < got.size(); ++i) {
        quiet = std::abs(got[i]) < 200 ? quiet + 1 : 0;
        longest = std::max(longest, quiet);
    }
    EXPECT_LT(longest, 8u); // a sine's zero crossing, not a gap
    got.assign(got.begin() + ptrdiff_t(first), got.end());
    EXPECT_NEAR(Frequency(got, 16000), 500.0, 10.0);
    waveInReset(in);
    for (WAVEHDR& h : headers)
        waveInUnprepareHeader(in, &h, sizeof h);
    waveInClose(in);
}

TEST_F(LineWave, APacedLineTakesBuffersWhenItCanAndAnEndedCallStrandsNone)
{
    const WAVEFORMATEX f = Pcm(8000, 1, 16);
    HWAVEOUT out = nullptr;
    ASSERT_EQ(waveOutOpen(&out, out_, &f, 0, 0, CALLBACK_NULL), MMSYSERR_NOERROR);
    std::vector<char> first = Tone(f, 400), second = Tone(f, 400);
    // Held back (flow control): the buffer completes once the line takes it.
    audio_->Hold();
    WAVEHDR h1 {}, h2 {};
    h1.lpData = first.data();
    h1.dwBufferLength = DWORD(first.size());
    h2.lpData = second.data();
    h2.dwBufferLength = DWORD(second.size());
    ASSERT_EQ(waveOutPrepareHeader(out, &h1, sizeof h1), MMSYSERR_NOERROR);
    ASSERT_EQ(waveOutPrepareHeader(out, &h2, sizeof h2), MMSYSERR_NOERROR);
    ASSERT_EQ(waveOutWrite(out, &h1, sizeof h1), MMSYSERR_NOERROR);
    audio_->Release();
    ASSERT_TRUE(zqtest::WaitUntil([&] { return (zq::wave::HeaderFlags(h1) & WHDR_DONE) != 0; }));
    EXPECT_EQ(audio_->PlayedBytes(), first.size());
    // Held again and the call ends meanwhile: the buffer still comes back,
    // and resetting and closing the device does not wait for the line.
    audio_->Hold();
    ASSERT_EQ(waveOutWrite(out, &h2, sizeof h2), MMSYSERR_NOERROR);
    audio_->EndCall();
    ASSERT_TRUE(zqtest::WaitUntil([&] { return (zq::wave::HeaderFlags(h2) & WHDR_DONE) != 0; }));
    EXPECT_EQ(waveOutReset(out), MMSYSERR_NOERROR);
    waveOutUnprepareHeader(out, &h1, sizeof h1);
    waveOutUnprepareHeader(out, &h2, sizeof h2);
    EXPECT_EQ(waveOutClose(out), MMSYSERR_NOERROR);
}

} // namespace
