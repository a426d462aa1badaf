// Construction, the line's devices and data port, the error reports and the
// medium notifications of the wave component. Playing and recording are in
// zqwaveplay.cpp and zqwaverecord.cpp.
#include "zqwavebase.h"

#include "zqwavelock_p.h"

#include <cstring>
#include <exception>

namespace {

constexpr int kWaveOut = 0;
constexpr int kWaveIn = 1;

UINT LineWaveDevice(TzqCommTAPI* Line, int Direction)
{
    if (!Line || !Line->DeviceModem())
        return 0;
    TzqModemDevice* modem = Line->DeviceModem();
    return modem->HasWaveDevice(Direction) ? static_cast<UINT>(modem->WaveDeviceID(Direction)) : 0;
}

// The fixed text, the result code and the system's text for it, each on a
// line of its own.
template <class GetText> std::string DeviceErrorMessage(const char* Fixed, MMRESULT Code, GetText Text)
{
    char buffer[128];
    std::memset(buffer, 0, sizeof buffer);
    Text(Code, buffer, 127);
    return std::string(Fixed) + "\r" + std::to_string(Code) + "\r" + buffer;
}

} // namespace

TzqCustomWave::TzqCustomWave(QObject* AOwner)
    : TzqCustomTAPIProcessor(AOwner)
{
    PublishEvent("AfterPlay", &AfterPlay);
    PublishEvent("AfterRecord", &AfterRecord);
    PublishEvent("OnBufferPlay", &OnBufferPlay);
}

TzqCustomWave::~TzqCustomWave()
{
    Destroying();
    AfterPlay = nullptr;
    AfterRecord = nullptr;
    StopPlay();
    StopRecord();
    // A direction that ended on its own may not have run its after-event
    // yet; that event calls into this object, so it must be over first.
    FinishThread(outputThread_);
    FinishThread(inputThread_);
}

UINT TzqCustomWave::WaveOutDeviceID()
{
    if (!zqCommTAPI())
        return StandardOutputDevice;
    return LineWaveDevice(zqCommTAPI(), kWaveOut);
}

UINT TzqCustomWave::WaveInDeviceID()
{
    return LineWaveDevice(zqCommTAPI(), kWaveIn);
}

void TzqCustomWave::SaveDataPort()
{
    savedLine_ = zqCommTAPI();
    if (TzqCommTAPI* line = savedLine_.data()) {
        savedDataPort_ = line->CommActive();
        line->SetCommActive(false);
    }
}

void TzqCustomWave::RestoreDataPort()
{
    // A device that ends on its own is closed on its wave thread; opening
    // the line's port runs telephony calls, starts the port's threads and
    // notifies, all of which belong to the main thread.
    if (!zq::kernel::IsMainThread() && zq::kernel::HasApplicationObject()) {
        restorePending_ = true;
        return;
    }
    restorePending_ = false;
    if (TzqCommTAPI* line = savedLine_.data())
        line->SetCommActive(savedDataPort_);
}

void TzqCustomWave::RestorePendingDataPort()
{
    if (!restorePending_.exchange(false))
        return;
    if (TzqCommTAPI* line = savedLine_.data())
        line->SetCommActive(savedDataPort_);
}

std::string TzqCustomWave::OutputErrorMessage(MMRESULT Code)
{
    return DeviceErrorMessage("zqWave Error: Device does not open wav output", Code, waveOutGetErrorTextA);
}

std::string TzqCustomWave::InputErrorMessage(MMRESULT Code)
{
    return DeviceErrorMessage("zqWave Error: Wav input device not opened", Code, waveInGetErrorTextA);
}

void TzqCustomWave::ReportOutputError(MMRESULT Code)
{
    FatalError(4, 14, OutputErrorMessage(Code));
}

void TzqCustomWave::ReportInputError(MMRESULT Code)
{
    FatalError(4, 18, InputErrorMessage(Code));
}

bool TzqCustomWave::DoBufferPlay(void* Buffer, int& Size)
{
    bool Handled = false;
    if (!OnBufferPlay)
        return false;
    std::string reason;
    try {
        OnBufferPlay(this, Buffer, Size, Handled);
        return Handled;
    } catch (const std::exception& e) {
        reason = e.what();
    } catch (...) {
    }
    FatalError(4, 19, "zqWave Error: Error in OnBufferPlay event." + reason);
    return Handled;
}

void TzqCustomWave::MediumClosed()
{
    TzqCustomTAPIProcessor::MediumClosed();
    WriteLog(1, "Medium CLOSED!!!");
    StopPlay();
    StopRecord();
}

void TzqCustomWave::MediumOpened()
{
    TzqCustomTAPIProcessor::MediumOpened();
    WriteLog(1, "Medium OPENED!!!");
}

void TzqCustomWave::FinishThread(std::shared_ptr<zq::audio::TWavLink>& Link)
{
    if (!Link)
        return;
    Link->WaitFor();
    Link.reset();
}
