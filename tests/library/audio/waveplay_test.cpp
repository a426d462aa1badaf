// Playback through the system's wave device 0 with no line linked. Device 0
// is pointed at a raw file, so what reached the device can be compared byte
// for byte.
#include "eventwait.h"
#include "wavetestsource.h"

#include <stdexcept>

using namespace wavetest;

namespace {

class WavePlay : public ::testing::Test {
protected:
    WavePlay()
        : file(dir.path / "out.raw")
        , env("ZQ_WAVE_OUT_PCM", "file:\"" + file.string() + "\",raw")
    {
        log.Attach(wave);
    }

    bool WaitAfterPlay(int n)
    {
        return zqtest::WaitUntil([&] { return log.afterPlay >= n; });
    }

    TempDir dir;
    std::filesystem::path file;
    ScopedEnv env;
    TTestWave wave;
    EventLog log;
};

TEST_F(WavePlay, DefaultsAreThoseOfTheComponent)
{
    EXPECT_EQ(wave.PlayOptions, TWaveOptions(woMapping));
    EXPECT_EQ(wave.RecordOptions, TWaveOptions(woMapping));
    EXPECT_EQ(wave.RecordSeconds, 20u);
    EXPECT_EQ(wave.RecordBufferTenths, 1u);
    EXPECT_EQ(wave.PlayBufferSeconds, 1);
    EXPECT_FALSE(wave.Playing());
    EXPECT_EQ(wave.WaveOutDeviceID(), 0u);
    EXPECT_EQ(wave.WaveInDeviceID(), 0u);
}

TEST_F(WavePlay, ASourceWithNothingClosesAtOnceAndStillRaisesAfterPlay)
{
    wave.StartPlay();
    ASSERT_TRUE(WaitAfterPlay(1));
    EXPECT_FALSE(wave.Playing());
    EXPECT_EQ(wave.Fills, 1); // the second buffer is never asked for
    EXPECT_EQ(wave.Finished, 1);
    EXPECT_TRUE(log.afterOnMain);
    EXPECT_TRUE(ReadFile(file).empty());
}

TEST_F(WavePlay, NothingToPrepareStartsNothingAndRaisesNothing)
{
    wave.HasData = false;
    wave.StartPlay();
    EXPECT_FALSE(wave.Playing());
    EXPECT_EQ(wave.Fills, 0);
    zq::kernel::ProcessMessages();
    EXPECT_EQ(log.afterPlay, 0);
}

TEST_F(WavePlay, DataThatFitsOneBufferIsQueuedOnceAndPlayedExactly)
{
    wave.Data = Pattern(3000);
    wave.StartPlay();
    ASSERT_TRUE(WaitAfterPlay(1));
    // A gets the data, B gets nothing and is not queued, A's completion ends;
    // each fill is offered the whole buffer.
    EXPECT_EQ(wave.Fills, 3);
    EXPECT_EQ(wave.Offered, std::vector<int>({ 8000, 8000, 8000 }));
    EXPECT_EQ(wave.Finished, 1);
    EXPECT_EQ(ReadFile(file), wave.Data);
}

TEST_F(WavePlay, BuffersAreRefilledInTheWaveThreadUntilTheDataRunsOut)
{
    wave.Data = Pattern(8000 + 8000 + 1234, 9);
    wave.StartPlay();
    ASSERT_TRUE(WaitAfterPlay(1));
    EXPECT_EQ(ReadFile(file), wave.Data);
    EXPECT_TRUE(log.afterOnMain);
    EXPECT_EQ(log.afterPlay, 1);
    EXPECT_EQ(wave.Finished, 1);
    EXPECT_EQ(wave.OutputBufferSize(), 0); // freed at the end
}

TEST_F(WavePlay, ACountLargerThanTheBufferPlaysOnlyTheBuffer)
{
    wave.Data = Pattern(8000);
    wave.OverReport = 5000;
    wave.StartPlay();
    ASSERT_TRUE(WaitAfterPlay(1));
    EXPECT_EQ(ReadFile(file), wave.Data);
}

TEST_F(WavePlay, SynchroReturnsOnlyWhenPlayedWithAfterPlayRaised)
{
    wave.Data = Pattern(2000);
    wave.PlayOptions = woSynchro;
    wave.StartPlay();
    EXPECT_EQ(log.afterPlay, 1);
    EXPECT_FALSE(wave.Playing());
    EXPECT_EQ(ReadFile(file), wave.Data);
    EXPECT_TRUE(log.afterOnMain);
}

TEST_F(WavePlay, StopPlayRaisesAfterPlayBeforeItReturnsAndDoesNothingWhenIdle)
{
    wave.StopPlay();
    EXPECT_EQ(log.afterPlay, 0);
    EXPECT_EQ(wave.Finished, 0);

    wave.Data = Pattern(8000 * 10);
    wave.StartPlay();
    ASSERT_TRUE(wave.Playing());
    wave.StopPlay();
    EXPECT_EQ(log.afterPlay, 1);
    EXPECT_FALSE(wave.Playing());
    EXPECT_GE(wave.Finished, 1);
    EXPECT_LT(ReadFile(file).size(), wave.Data.size());

    wave.StopPlay();
    EXPECT_EQ(log.afterPlay, 1);
}

TEST_F(WavePlay, StoppingWhileTheWaveThreadRefillsKeepsWhatWasPlayedWholeAndInOrder)
{
    // The wave thread refills the buffers as fast as the file takes them,
    // while the main thread tears the device down: what reached the device
    // is always the start of the data, with no buffer freed while filled.
    wave.Data = Pattern(8000 * 200, 5);
    for (int round = 1; round <= 10; ++round) {
        const int fills = wave.Fills;
        wave.StartPlay();
        ASSERT_TRUE(zqtest::WaitUntil([&] { return wave.Fills >= fills + 4 || !wave.Playing(); }));
        wave.StopPlay();
        const std::vector<uint8_t> played = ReadFile(file);
        ASSERT_LE(played.size(), wave.Data.size());
        EXPECT_TRUE(std::equal(played.begin(), played.end(), wave.Data.begin())) << "round " << round;
        EXPECT_EQ(log.afterPlay, round);
    }
}

TEST_F(WavePlay, StartPlayWhilePlayingEndsTheRunningPlaybackFirst)
{
    wave.Data = Pattern(8000 * 10);
    wave.StartPlay();
    ASSERT_TRUE(wave.Playing());
    wave.Data = Pattern(1000, 3);
    wave.StartPlay();
    EXPECT_EQ(log.afterPlay, 1);
    EXPECT_TRUE(wave.Playing());
    ASSERT_TRUE(WaitAfterPlay(2));
    // Each open starts the file anew: only the second playback is in it.
    EXPECT_EQ(ReadFile(file), wave.Data);
}

TEST_F(WavePlay, AfterPlayMayStartTheNextPlayback)
{
    wave.Data = Pattern(500);
    log.onAfterPlay = [&] {
        if (log.afterPlay == 1)
            wave.StartPlay();
    };
    wave.StartPlay();
    ASSERT_TRUE(WaitAfterPlay(2));
    EXPECT_EQ(wave.Prepared, 2);
    EXPECT_FALSE(wave.Playing());
}

TEST_F(WavePlay, ARaisingBufferHandlerIsReportedAndTheBufferPlaysFromTheSource)
{
    struct Thrower {
        void Handle(TObject*, void*, int&, bool&) { throw std::runtime_error(" boom"); }
    } thrower;
    wave.OnBufferPlay = TWaveBufferEvent(&thrower, &Thrower::Handle);
    wave.Data = Pattern(1000);
    wave.StartPlay();
    ASSERT_TRUE(WaitAfterPlay(1));
    ASSERT_FALSE(log.fatal.empty());
    EXPECT_EQ(std::get<0>(log.fatal[0]), 4u);
    EXPECT_EQ(std::get<1>(log.fatal[0]), 19u);
    EXPECT_EQ(std::get<2>(log.fatal[0]), "zqWave Error: Error in OnBufferPlay event. boom");
    EXPECT_EQ(ReadFile(file), wave.Data);
}

TEST_F(WavePlay, ARaisingBufferHandlerWithoutARescueRaisesOutOfStartPlay)
{
    struct Thrower {
        void Handle(TObject*, void*, int&, bool&) { throw std::runtime_error("x"); }
    } thrower;
    wave.OnBufferPlay = TWaveBufferEvent(&thrower, &Thrower::Handle);
    wave.OnFatalError = nullptr;
    wave.Data = Pattern(1000);
    EXPECT_THROW(wave.StartPlay(), Exception);
    wave.StopPlay();
    EXPECT_FALSE(wave.Playing());
    EXPECT_TRUE(WaitAfterPlay(1));
}

TEST_F(WavePlay, ADestroyedComponentRaisesNothingAndLeavesNoThreadBehind)
{
    auto* w = new TTestWave;
    EventLog own;
    own.Attach(*w);
    w->Data = Pattern(8000 * 10);
    w->StartPlay();
    ASSERT_TRUE(w->Playing());
    delete w;
    zq::kernel::ProcessMessages();
    EXPECT_EQ(own.afterPlay, 0);
}

TEST_F(WavePlay, AComponentMayBeDestroyedFromItsOwnAfterPlay)
{
    auto* w = new TTestWave;
    EventLog own;
    own.Attach(*w);
    own.onAfterPlay = [&] { delete w; };
    w->Data = Pattern(300);
    w->StartPlay();
    ASSERT_TRUE(zqtest::WaitUntil([&] { return own.afterPlay == 1; }));
}

} // namespace

TEST(WaveOpen, AFailedOpenReportsCode4Detail14AndAfterPlayFollows)
{
    ScopedEnv env("ZQ_WAVE_OUT_PCM", "zq_no_such_pcm");
    TTestWave wave;
    EventLog log;
    log.Attach(wave);
    wave.Data = Pattern(1000);
    wave.StartPlay();
    ASSERT_EQ(log.fatal.size(), 1u);
    EXPECT_EQ(std::get<0>(log.fatal[0]), 4u);
    EXPECT_EQ(std::get<1>(log.fatal[0]), 14u);
    const std::string& msg = std::get<2>(log.fatal[0]);
    EXPECT_EQ(msg.rfind("zqWave Error: Device does not open wav output\r", 0), 0u) << msg;
    EXPECT_EQ(std::count(msg.begin(), msg.end(), '\r'), 2);
    EXPECT_EQ(wave.Finished, 1);
    EXPECT_EQ(wave.OutputBufferSize(), 0);
    // Still counted as playing until the next stop completes the teardown.
    EXPECT_TRUE(wave.Playing());
    ASSERT_TRUE(zqtest::WaitUntil([&] { return log.afterPlay == 1; }));
    wave.StopPlay();
    EXPECT_FALSE(wave.Playing());
    EXPECT_EQ(log.afterPlay, 1);
}

TEST(WaveOpen, AFailedOpenRaisesUnlessTheHandlerClearsIt)
{
    ScopedEnv env("ZQ_WAVE_OUT_PCM", "zq_no_such_pcm");
    TTestWave wave;
    EventLog log;
    log.Attach(wave);
    log.raise = true;
    wave.Data = Pattern(1000);
    EXPECT_THROW(wave.StartPlay(), Exception);
    // The next start stops the failed one first; AfterPlay for it comes
    // once, whichever of the two raises it.
    wave.HasData = false;
    wave.StartPlay();
    EXPECT_TRUE(zqtest::WaitUntil([&] { return log.afterPlay == 1; }));
    EXPECT_FALSE(wave.Playing());
}
