#pragma once
// The wave device component: streams PCM audio to a wave output device and
// records from a wave input device. The device is the wave device of the
// linked line's selected TAPI device (so the sound goes into the call); with
// no line it is the system's wave device 0. Each direction is driven by a
// TWavThread that receives the device's completion messages. Where played
// data comes from and where recorded data goes are virtual hooks.
#include "mmsystem.h"
#include "zqcommtapi.h"
#include "zqwavebase_export.h"
#include "zqwavelock.h"
#include "zqwavthread.h"

#include <QFlags>
#include <QPointer>

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>

// (Sender, Buffer, var Size, var Handled): Size comes in as the buffer's
// capacity and goes out as the number of bytes to play.
using TWaveBufferEvent = TEvent<TObject*, void*, int&, bool&>;

class ZQWAVEBASE_EXPORT TzqCustomWave : public TzqCustomTAPIProcessor {
    Q_OBJECT
public:
    enum TWaveOption : uint8_t {
        // The start operation returns once the device is closed again and
        // the wave thread has ended.
        woSynchro = 1,
        // The device is opened through the wave mapper.
        woMapping = 2,
        // The data source raises OnBufferPlay after filling a buffer rather
        // than before.
        woEventLast = 4,
    };
    Q_DECLARE_FLAGS(TWaveOptions, TWaveOption)
    Q_FLAG(TWaveOptions)

    explicit TzqCustomWave(QObject* AOwner = nullptr);
    ~TzqCustomWave() override;

    TWaveOptions RecordOptions = woMapping;
    TWaveOptions PlayOptions = woMapping;
    TNotifyEvent AfterPlay;
    TNotifyEvent AfterRecord;
    Cardinal RecordSeconds = 20;
    Cardinal RecordBufferTenths = 1;
    int32_t PlayBufferSeconds = 1;
    TWaveBufferEvent OnBufferPlay;
    // The output device used when no line is linked: the system's device 0
    // unless a program sends the sound elsewhere (a file device, say).
    UINT StandardOutputDevice = 0;

    // Output direction.
    virtual void StartPlay();
    virtual void StopPlay();
    // Produces the data and fills the output format; False: nothing to play.
    virtual bool PreparePlay() = 0;
    // Releases what PreparePlay acquired; runs when the output closes.
    virtual void PlayFinished();
    virtual void PlayBufferDone(WAVEHDR* Header);
    // Copies up to Size bytes into Buffer and returns the count; 0 ends.
    virtual int FillBuffer(void* Buffer, int Size);
    virtual MMRESULT WriteBuffer(WAVEHDR* Header);
    virtual void DoAfterPlay();
    virtual void CloseOutput();
    virtual void AllocOutputBuffers();
    virtual void FreeOutputBuffers();

    // Input direction.
    virtual void StartRecord();
    virtual void StopRecord();
    // Fills the input format; the base never records.
    virtual bool PrepareRecord();
    virtual void RecordFinished();
    virtual void RecordBufferDone(WAVEHDR* Header);
    virtual void StoreRecorded(const void* Buffer, int Size);
    virtual void DoAfterRecord();
    virtual void CloseInput();
    virtual void AllocInputBuffers();
    virtual void FreeInputBuffers();

    void MediumClosed() override;
    void MediumOpened() override;

    // Raises OnBufferPlay; an exception of the handler is reported (4, 19)
    // and the buffer counts as not handled.
    bool DoBufferPlay(void* Buffer, int& Size);

    // The wave device of the linked line's selected device, or 0.
    UINT WaveOutDeviceID();
    UINT WaveInDeviceID();

    bool Playing() const { return playing_; }
    bool Recording() const { return recording_; }
    int OutputBufferSize() const { return outputBufferSize_; }
    int InputBufferSize() const { return inputBufferSize_; }
    const WAVEFORMATEX& OutputFormat() const { return outputFormat_; }
    const WAVEFORMATEX& InputFormat() const { return inputFormat_; }
    Cardinal RecordedBytes() const { return recordedBytes_; }

protected:
    WAVEHDR inHeaderA_ {};
    WAVEHDR inHeaderB_ {};
    // The input buffer the device hands back next (A first, then in turn).
    WAVEHDR* nextInHeader_ = nullptr;
    // Read by the program while the wave thread frees the buffers.
    std::atomic<int> outputBufferSize_ { 0 };
    std::atomic<int> inputBufferSize_ { 0 };
    Cardinal recordLimit_ = 0;
    bool savedDataPort_ = false;
    // The line whose data port SaveDataPort closed: the port goes back to
    // that line, whatever the component is linked to by then.
    QPointer<TzqCommTAPI> savedLine_;
    // A restore that came due on a wave thread; it runs on the main thread
    // with the direction's after-event.
    std::atomic<bool> restorePending_ { false };
    HWAVEIN waveIn_ = nullptr;
    HWAVEOUT waveOut_ = nullptr;
    WAVEFORMATEX outputFormat_ {};
    WAVEFORMATEX inputFormat_ {};
    std::atomic<Cardinal> recordedBytes_ { 0 };
    WAVEHDR outHeaderA_ {};
    WAVEHDR outHeaderB_ {};

private:
    void SaveDataPort();
    void RestoreDataPort();
    void RestorePendingDataPort();
    // Hands over what an input buffer holds, up to the record limit.
    void StoreInputBuffer(WAVEHDR* Header);
    void ReportOutputError(MMRESULT Code);
    void ReportInputError(MMRESULT Code);
    std::string OutputErrorMessage(MMRESULT Code);
    std::string InputErrorMessage(MMRESULT Code);
    void StartOutputThread();
    void StartInputThread();
    // Waits for a direction's thread that has ended its device but not yet
    // its after-event, so events stay in order and none runs late.
    static void FinishThread(std::shared_ptr<zq::audio::TWavLink>& Link);

    std::shared_ptr<zq::audio::TWavLink> inputThread_;
    std::shared_ptr<zq::audio::TWavLink> outputThread_;
    // Held while a device is torn down or one of its buffers is refilled, so
    // neither thread frees a buffer the other is still filling.
    zq::audio::WaveLock outputLock_;
    zq::audio::WaveLock inputLock_;
    std::atomic<bool> playing_ { false };
    std::atomic<bool> recording_ { false };
};

Q_DECLARE_OPERATORS_FOR_FLAGS(TzqCustomWave::TWaveOptions)

using TWaveOption = TzqCustomWave::TWaveOption;
using TWaveOptions = TzqCustomWave::TWaveOptions;
using enum TzqCustomWave::TWaveOption;
