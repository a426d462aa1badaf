// The output direction of the wave component: two buffers, refilled from
// the data source and requeued as the device returns them.
#include "zqwavebase.h"

#include "zqwavelock_p.h"

#include <algorithm>
#include <climits>

namespace {

constexpr UINT kHeaderSize = 32;

} // namespace

void TzqCustomWave::StartPlay()
{
    if (playing_)
        StopPlay();
    playing_ = false;
    // A playback that ended on its own raises its AfterPlay before the next
    // one starts.
    FinishThread(outputThread_);
    const UINT deviceId = WaveOutDeviceID();
    if (!PreparePlay())
        return;
    AllocOutputBuffers();
    SaveDataPort();
    StartOutputThread();
    DWORD flags = CALLBACK_THREAD;
    if (PlayOptions & woMapping)
        flags |= WAVE_MAPPED;
    const MMRESULT result
        = waveOutOpen(&waveOut_, deviceId, &outputFormat_, outputThread_->ThreadId(), 0, flags);
    if (result != MMSYSERR_NOERROR) {
        // Still counted as playing: the next StopPlay completes the teardown
        // and restores the data port.
        outputThread_->WakeAndTerminate();
        PlayFinished();
        FreeOutputBuffers();
        ReportOutputError(result);
        return;
    }
    PlayBufferDone(&outHeaderA_);
    PlayBufferDone(&outHeaderB_);
    if (PlayOptions & woSynchro)
        FinishThread(outputThread_);
}

void TzqCustomWave::StartOutputThread()
{
    auto* thread = new TWavThread(zq::audio::TWaveHeaderEvent(this, &TzqCustomWave::PlayBufferDone), [this] {
        RestorePendingDataPort();
        DoAfterPlay();
    });
    playing_ = true;
    outputThread_ = thread->StartWithQueue();
}

void TzqCustomWave::StopPlay()
{
    if (!playing_)
        return;
    if (outputThread_)
        outputThread_->ClearCallback();
    CloseOutput();
    // The device's close message ends the thread; this ends it as well when
    // the device never opened or did not close.
    if (outputThread_)
        outputThread_->WakeAndTerminate();
    FinishThread(outputThread_);
    playing_ = false;
}

void TzqCustomWave::PlayFinished() { }

void TzqCustomWave::PlayBufferDone(WAVEHDR* Header)
{
    MMRESULT failure = MMSYSERR_NOERROR;
    {
        zq::audio::TWaveDeviceLock lock(outputLock_);
        // A buffer the reset returned after the device was torn down.
        if (!waveOut_ || (Header != &outHeaderA_ && Header != &outHeaderB_))
            return;
        WAVEHDR* other = Header == &outHeaderA_ ? &outHeaderB_ : &outHeaderA_;
        if (Header->dwBufferLength != 0)
            waveOutUnprepareHeader(waveOut_, Header, kHeaderSize);
        // A data source may answer more than it was offered; never more than
        // the buffer holds is played.
        const int capacity = outputBufferSize_;
        const int count = std::clamp(FillBuffer(Header->lpData, capacity), 0, capacity);
        Header->dwBufferLength = static_cast<DWORD>(count);
        if (count == 0) {
            if (other->dwBufferLength == 0)
                CloseOutput();
        } else {
            failure = WriteBuffer(Header);
            if (failure != MMSYSERR_NOERROR)
                CloseOutput();
        }
    }
    if (failure != MMSYSERR_NOERROR)
        ReportOutputError(failure);
}

int TzqCustomWave::FillBuffer(void*, int)
{
    return 0;
}

MMRESULT TzqCustomWave::WriteBuffer(WAVEHDR* Header)
{
    Header->dwFlags = 0;
    Header->dwLoops = 0;
    waveOutPrepareHeader(waveOut_, Header, kHeaderSize);
    return waveOutWrite(waveOut_, Header, kHeaderSize);
}

void TzqCustomWave::DoAfterPlay()
{
    if (AfterPlay)
        AfterPlay(this);
}

void TzqCustomWave::CloseOutput()
{
    if (outputThread_)
        outputThread_->ClearCallback();
    {
        zq::audio::TWaveDeviceLock lock(outputLock_);
        waveOutReset(waveOut_);
        waveOutUnprepareHeader(waveOut_, &outHeaderA_, kHeaderSize);
        waveOutUnprepareHeader(waveOut_, &outHeaderB_, kHeaderSize);
        waveOutClose(waveOut_);
        waveOut_ = nullptr;
        PlayFinished();
        FreeOutputBuffers();
    }
    playing_ = false;
    RestoreDataPort();
}

void TzqCustomWave::AllocOutputBuffers()
{
    FreeOutputBuffers();
    const long long size = static_cast<long long>(outputFormat_.nAvgBytesPerSec) * PlayBufferSeconds;
    outputBufferSize_ = static_cast<int>(std::clamp(size, 0LL, static_cast<long long>(INT_MAX)));
    for (WAVEHDR* h : { &outHeaderA_, &outHeaderB_ }) {
        *h = WAVEHDR {};
        h->lpData = new char[static_cast<size_t>(outputBufferSize_)]();
    }
}

void TzqCustomWave::FreeOutputBuffers()
{
    for (WAVEHDR* h : { &outHeaderA_, &outHeaderB_ }) {
        delete[] h->lpData;
        h->lpData = nullptr;
    }
    outputBufferSize_ = 0;
}
