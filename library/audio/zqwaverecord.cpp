// The input direction of the wave component, offered to descendants: two
// buffers handed over to StoreRecorded as the device fills them, up to the
// recording limit.
#include "zqwavebase.h"

#include "zqwavelock_p.h"

#include <algorithm>
#include <climits>

namespace {

constexpr UINT kHeaderSize = 32;

} // namespace

void TzqCustomWave::StartRecord()
{
    if (recording_)
        StopRecord();
    recording_ = false;
    FinishThread(inputThread_);
    const UINT deviceId = WaveInDeviceID();
    if (!PrepareRecord())
        return;
    AllocInputBuffers();
    SaveDataPort();
    StartInputThread();
    DWORD flags = CALLBACK_THREAD;
    if (RecordOptions & woMapping)
        flags |= WAVE_MAPPED;
    const MMRESULT result = waveInOpen(&waveIn_, deviceId, &inputFormat_, inputThread_->ThreadId(), 0, flags);
    if (result != MMSYSERR_NOERROR) {
        inputThread_->WakeAndTerminate();
        RecordFinished();
        FreeInputBuffers();
        // Not recording, so no later stop would give the line its data port
        // back.
        RestoreDataPort();
        ReportInputError(result);
        return;
    }
    {
        zq::audio::TWaveDeviceLock lock(inputLock_);
        waveInPrepareHeader(waveIn_, &inHeaderA_, kHeaderSize);
        waveInPrepareHeader(waveIn_, &inHeaderB_, kHeaderSize);
        waveInAddBuffer(waveIn_, &inHeaderA_, kHeaderSize);
        waveInAddBuffer(waveIn_, &inHeaderB_, kHeaderSize);
        recording_ = true;
        waveInStart(waveIn_);
    }
    if (RecordOptions & woSynchro)
        FinishThread(inputThread_);
}

void TzqCustomWave::StartInputThread()
{
    auto* thread
        = new TWavThread(zq::audio::TWaveHeaderEvent(this, &TzqCustomWave::RecordBufferDone), [this] {
              RestorePendingDataPort();
              DoAfterRecord();
          });
    inputThread_ = thread->StartWithQueue();
}

void TzqCustomWave::StopRecord()
{
    if (!recording_)
        return;
    try {
        CloseInput();
        if (inputThread_)
            inputThread_->WakeAndTerminate();
        FinishThread(inputThread_);
    } catch (...) {
        inputThread_.reset();
    }
}

bool TzqCustomWave::PrepareRecord()
{
    return false;
}

void TzqCustomWave::RecordFinished() { }

void TzqCustomWave::RecordBufferDone(WAVEHDR* Header)
{
    zq::audio::TWaveDeviceLock lock(inputLock_);
    if (!waveIn_ || (Header != &inHeaderA_ && Header != &inHeaderB_))
        return;
    // The device never reports more than the buffer holds; should it, only
    // the buffer is handed over.
    const Cardinal count
        = std::min<Cardinal>(Header->dwBytesRecorded, static_cast<Cardinal>(inputBufferSize_));
    // The buffers come back in the order they were queued: the other one
    // is the older from now on.
    nextInHeader_ = Header == &inHeaderA_ ? &inHeaderB_ : &inHeaderA_;
    if (count == 0 || recordedBytes_ + count >= recordLimit_) {
        // The buffer that reaches the limit still holds recorded audio: it
        // is stored up to the limit before the newer one is looked at.
        StoreInputBuffer(Header);
        CloseInput();
        return;
    }
    StoreRecorded(Header->lpData, static_cast<int>(count));
    recordedBytes_ += count;
    waveInAddBuffer(waveIn_, Header, kHeaderSize);
}

void TzqCustomWave::StoreInputBuffer(WAVEHDR* Header)
{
    const Cardinal room = recordLimit_ > recordedBytes_ ? recordLimit_ - recordedBytes_ : 0;
    const Cardinal count
        = std::min<Cardinal>({ Header->dwBytesRecorded, static_cast<Cardinal>(inputBufferSize_), room });
    Header->dwBytesRecorded = 0; // handed over once
    if (count == 0 || !Header->lpData)
        return;
    StoreRecorded(Header->lpData, static_cast<int>(count));
    recordedBytes_ += count;
}

void TzqCustomWave::StoreRecorded(const void*, int) { }

void TzqCustomWave::DoAfterRecord()
{
    if (AfterRecord)
        AfterRecord(this);
}

void TzqCustomWave::CloseInput()
{
    recording_ = false;
    if (inputThread_)
        inputThread_->ClearCallback();
    {
        zq::audio::TWaveDeviceLock lock(inputLock_);
        if (waveIn_) {
            waveInReset(waveIn_);
            waveInClose(waveIn_);
            // What the reset returned of the buffers still queued, older
            // first, as far as the limit allows.
            WAVEHDR* older = nextInHeader_ ? nextInHeader_ : &inHeaderA_;
            StoreInputBuffer(older);
            StoreInputBuffer(older == &inHeaderA_ ? &inHeaderB_ : &inHeaderA_);
            waveInUnprepareHeader(waveIn_, &inHeaderA_, kHeaderSize);
            waveInUnprepareHeader(waveIn_, &inHeaderB_, kHeaderSize);
        }
        RecordFinished();
        FreeInputBuffers();
        waveIn_ = nullptr;
    }
    RestoreDataPort();
}

void TzqCustomWave::AllocInputBuffers()
{
    FreeInputBuffers();
    recordedBytes_ = 0;
    const long long tenth = inputFormat_.nAvgBytesPerSec / 10;
    inputBufferSize_
        = static_cast<int>(std::clamp(tenth * RecordBufferTenths, 0LL, static_cast<long long>(INT_MAX)));
    recordLimit_ = RecordSeconds * inputFormat_.nAvgBytesPerSec;
    for (WAVEHDR* h : { &inHeaderA_, &inHeaderB_ }) {
        *h = WAVEHDR {};
        h->lpData = new char[static_cast<size_t>(inputBufferSize_)];
        h->dwBufferLength = static_cast<DWORD>(inputBufferSize_);
    }
    nextInHeader_ = &inHeaderA_;
}

void TzqCustomWave::FreeInputBuffers()
{
    for (WAVEHDR* h : { &inHeaderA_, &inHeaderB_ }) {
        delete[] h->lpData;
        *h = WAVEHDR {};
    }
    inputBufferSize_ = 0;
}
