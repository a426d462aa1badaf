// The wave component linked to line components on the simulated exchange:
// the line's wave devices, its data port around playback, its medium
// closing, and audio recorded on one line from what the other played.
#include "eventwait.h"
#include "recordinglog.h"
#include "scratchstore.h"
#include "wavetestsource.h"

#include <algorithm>
#include <atomic>

using namespace wavetest;

namespace {

using zqtest::RecordingLog;

class WaveLine : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        zqtest::UseScratchStore();
        zqtest::UseFastRings();
    }

    void SetUp() override
    {
        for (TzqCommTAPI* c : { &a, &b }) {
            c->EnumDevices();
            c->SetRetries(0);
        }
        ASSERT_EQ(a.DeviceCount(), 2);
        a.SetDeviceIndex(0);
        b.SetDeviceIndex(1);
        a.OnLineConnected = TNotifyEvent::Bind(this, "connected", [this](TObject*) { ++connected; });
        log.Attach(wave);
        wave.SetLog(&lines);
    }
    void TearDown() override
    {
        wave.StopPlay();
        a.HangUp();
        b.HangUp();
    }
    TzqDeviceTAPI* Device(TzqCommTAPI& line)
    {
        return dynamic_cast<TzqDeviceTAPI*>(line.GetDevice(line.GetDeviceIndex()));
    }
    void Call(bool voice)
    {
        a.SetVoice(voice);
        a.SetPhone("1002");
        a.MakeCall();
        ASSERT_TRUE(zqtest::WaitUntil([&] { return connected == 1; }));
    }

    TzqCommTAPI a, b;
    int connected = 0;
    RecordingLog lines;
    TTestWave wave;
    EventLog log;
};

TEST_F(WaveLine, TheDeviceIsTheWaveDeviceOfTheLinesSelectedDevice)
{
    wave.SetzqCommTAPI(&a);
    ASSERT_NE(Device(a), nullptr);
    EXPECT_NE(Device(a)->WaveOutID, 0u);
    EXPECT_EQ(wave.WaveOutDeviceID(), Device(a)->WaveOutID);
    EXPECT_EQ(wave.WaveInDeviceID(), Device(a)->WaveInID);

    // A device without wave-out counts as none: device 0.
    Device(a)->WaveOutID = 0;
    EXPECT_EQ(wave.WaveOutDeviceID(), 0u);

    // So does a line with no selected device.
    TzqCommTAPI none;
    wave.SetzqCommTAPI(&none);
    EXPECT_EQ(none.GetDeviceIndex(), -1);
    EXPECT_EQ(wave.WaveOutDeviceID(), 0u);
    EXPECT_EQ(wave.WaveInDeviceID(), 0u);
}

TEST_F(WaveLine, ALineWhoseDeviceHasNoWaveOutPlaysOnDeviceZero)
{
    TempDir dir;
    const auto file = dir.path / "zero.raw";
    ScopedEnv env("ZQ_WAVE_OUT_PCM", "file:\"" + file.string() + "\",raw");
    Device(a)->WaveOutID = 0;
    wave.SetzqCommTAPI(&a);
    wave.Data = Pattern(700);
    wave.PlayOptions = woSynchro;
    wave.StartPlay();
    EXPECT_EQ(ReadFile(file), wave.Data);
}

TEST_F(WaveLine, AnOpenDataPortIsClosedForPlaybackAndReopenedAfterwards)
{
    Call(false);
    ASSERT_TRUE(a.CommActive());
    // The line is the main thread's: its port is reopened there, also when
    // the playback ends on its own in the wave thread.
    std::atomic<int> opened { 0 };
    std::atomic<int> openedOffMain { 0 };
    a.RegisterNotify(TNotifyHandler::Bind(this, "opened", [&](TzqBaseIO*, int code) {
        if (code != NOTIFY_OPENED)
            return;
        ++opened;
        openedOffMain += !zq::kernel::IsMainThread();
    }));
    wave.SetzqCommTAPI(&a);
    wave.Data = Pattern(800);
    wave.StartPlay();
    EXPECT_FALSE(a.CommActive());
    EXPECT_EQ(lines.Count("Medium CLOSED!!!"), 1);
    EXPECT_TRUE(wave.Playing()); // closing the port for the device stops nothing
    ASSERT_TRUE(zqtest::WaitUntil([&] { return log.afterPlay == 1; }));
    EXPECT_TRUE(a.CommActive());
    EXPECT_EQ(lines.Count("Medium OPENED!!!"), 1);
    EXPECT_EQ(opened, 1);
    EXPECT_EQ(openedOffMain, 0);
}

TEST_F(WaveLine, TheDataPortIsRestoredOnTheLineItWasTakenFrom)
{
    Call(false);
    ASSERT_TRUE(a.CommActive());
    wave.SetzqCommTAPI(&a);
    wave.Data = Pattern(8000 * 2);
    wave.StartPlay();
    ASSERT_FALSE(a.CommActive());
    // Linked elsewhere while playing: the port still goes back to the line
    // it was taken from, and only that one.
    wave.SetzqCommTAPI(&b);
    ASSERT_TRUE(zqtest::WaitUntil([&] { return log.afterPlay == 1; }));
    EXPECT_TRUE(a.CommActive());
    EXPECT_FALSE(b.CommActive());
}

TEST_F(WaveLine, TheLinesMediumClosingDuringPlaybackStopsIt)
{
    Call(false);
    wave.SetzqCommTAPI(&a);
    wave.Data = Pattern(8000 * 20);
    wave.StartPlay();
    ASSERT_TRUE(wave.Playing());
    a.SetCommActive(true);
    EXPECT_EQ(lines.Count("Medium OPENED!!!"), 1);
    a.SetCommActive(false);
    EXPECT_EQ(lines.Count("Medium CLOSED!!!"), 2);
    EXPECT_FALSE(wave.Playing());
    EXPECT_EQ(log.afterPlay, 1);
    EXPECT_TRUE(log.afterOnMain);
}

TEST_F(WaveLine, WhatOneLinePlaysIsRecordedOnTheOther)
{
    Call(true);
    TTestWave recorder;
    EventLog recorderLog;
    recorderLog.Attach(recorder);
    recorder.SetzqCommTAPI(&b);
    recorder.RecordSeconds = 2;
    recorder.StartRecord();
    ASSERT_TRUE(recorder.Recording());
    EXPECT_EQ(recorder.InputBufferSize(), 1600);

    wave.SetzqCommTAPI(&a);
    wave.Format = Pcm(8000, 1, 16);
    wave.Data = Pattern(4000, 5);
    wave.StartPlay();
    ASSERT_TRUE(zqtest::WaitUntil([&] { return log.afterPlay == 1; }));
    ASSERT_TRUE(zqtest::WaitUntil([&] { return recorderLog.afterRecord == 1; }));
    EXPECT_FALSE(recorder.Recording());
    EXPECT_TRUE(recorderLog.afterOnMain);
    EXPECT_EQ(recorder.RecordsFinished, 1);
    EXPECT_LT(recorder.Recorded.size(), 32000u + 1600u);
    // The line pads with silence whenever played audio is late; the test
    // audio has no zero bytes, so the silence is taken out before comparing.
    std::vector<uint8_t> got;
    std::copy_if(recorder.Recorded.begin(), recorder.Recorded.end(), std::back_inserter(got),
        [](uint8_t v) { return v != 0; });
    EXPECT_EQ(got.size(), wave.Data.size());
    EXPECT_NE(std::search(got.begin(), got.end(), wave.Data.begin(), wave.Data.end()), got.end());
}

TEST_F(WaveLine, ARecordingThatReachesItsLimitIsCompleteAndInOrder)
{
    // The far end plays longer than the recording lasts, so every buffer up
    // to the limit holds audio, the last one included.
    Call(true);
    TTestWave recorder;
    EventLog recorderLog;
    recorderLog.Attach(recorder);
    recorder.SetzqCommTAPI(&b);
    recorder.RecordSeconds = 1;
    recorder.StartRecord();
    ASSERT_TRUE(recorder.Recording());

    wave.SetzqCommTAPI(&a);
    wave.Format = Pcm(8000, 1, 16);
    wave.Data = Pattern(16000 * 3, 9);
    wave.StartPlay();
    ASSERT_TRUE(zqtest::WaitUntil([&] { return recorderLog.afterRecord == 1; }));
    wave.StopPlay();
    EXPECT_EQ(recorder.Recorded.size(), 16000u);
    EXPECT_EQ(recorder.RecordedBytes(), 16000u);
    std::vector<uint8_t> got;
    std::copy_if(recorder.Recorded.begin(), recorder.Recorded.end(), std::back_inserter(got),
        [](uint8_t v) { return v != 0; });
    ASSERT_FALSE(got.empty());
    // What was recorded of the played audio is one unbroken piece of it.
    EXPECT_NE(std::search(wave.Data.begin(), wave.Data.end(), got.begin(), got.end()), wave.Data.end());
}

TEST_F(WaveLine, StopRecordEndsTheRecordingAndRaisesAfterRecord)
{
    TTestWave recorder;
    EventLog recorderLog;
    recorderLog.Attach(recorder);
    recorder.SetzqCommTAPI(&b);
    recorder.StopRecord();
    EXPECT_EQ(recorderLog.afterRecord, 0);
    recorder.StartRecord();
    ASSERT_TRUE(recorder.Recording());
    recorder.StopRecord();
    EXPECT_FALSE(recorder.Recording());
    EXPECT_EQ(recorderLog.afterRecord, 1);
}

} // namespace
