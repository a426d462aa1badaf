// The input calls: argument checks here, the work in WaveInStream.
#include "mmsystem.h"
#include "wavecalls_p.h"
#include "wavedevices.h"
#include "wavedevicetable_p.h"
#include "wavehandles_p.h"

UINT waveInGetNumDevs()
{
    return WaveInDeviceLimit();
}

MMRESULT waveInGetDevCapsA(UINT_PTR deviceId, LPWAVEINCAPSA caps, UINT capsSize)
{
    if (!caps || capsSize == 0)
        return MMSYSERR_INVALPARAM;
    auto device = FindWaveInDevice(UINT(deviceId));
    if (!device || deviceId > WAVE_MAPPER)
        return MMSYSERR_BADDEVICEID;
    WAVEINCAPSA c;
    c.vDriverVersion = 0x0100;
    CopyDeviceName(c.szPname, device->name);
    c.dwFormats = kAllStandardFormats;
    c.wChannels = device->channels;
    std::memcpy(caps, &c, std::min<size_t>(capsSize, sizeof c));
    return MMSYSERR_NOERROR;
}

MMRESULT waveInOpen(LPHWAVEIN handle, UINT deviceId, LPCWAVEFORMATEX format, DWORD_PTR callback,
    DWORD_PTR instance, DWORD flags)
{
    const bool query = flags & WAVE_FORMAT_QUERY;
    if (handle && !query)
        *handle = nullptr;
    if ((!handle && !query) || !format)
        return MMSYSERR_INVALPARAM;
    if (MMRESULT r = WaveCallback::Check(flags))
        return r;
    auto device = FindWaveInDevice(deviceId);
    if (!device)
        return MMSYSERR_BADDEVICEID;
    if (MMRESULT r = ValidatePcmFormat(*format))
        return r;
    std::unique_ptr<WaveInBackend> backend = device->makeBackend();
    if (MMRESULT r = backend->Open(*format))
        return r;
    if (query) {
        backend->Close();
        return MMSYSERR_NOERROR;
    }
    UINT id = deviceId == WAVE_MAPPER ? 0 : deviceId;
    auto stream = std::make_shared<WaveInStream>(
        id, *format, WaveCallback(flags, callback, instance), std::move(backend));
    void* h = AddWaveStream(stream);
    *handle = static_cast<HWAVEIN>(h);
    stream->Start(h, MM_WIM_OPEN);
    return MMSYSERR_NOERROR;
}

MMRESULT waveInClose(HWAVEIN hwi)
{
    auto stream = FindWaveStreamAs<WaveInStream>(hwi);
    if (!stream)
        return MMSYSERR_INVALHANDLE;
    if (MMRESULT r = stream->Close())
        return r;
    RemoveWaveStream(hwi);
    stream->SendClosed(MM_WIM_CLOSE);
    return MMSYSERR_NOERROR;
}

MMRESULT waveInPrepareHeader(HWAVEIN hwi, LPWAVEHDR header, UINT headerSize)
{
    auto stream = FindWaveStreamAs<WaveInStream>(hwi);
    if (!stream)
        return MMSYSERR_INVALHANDLE;
    if (!ValidWaveHeader(header, headerSize))
        return MMSYSERR_INVALPARAM;
    return stream->Prepare(header);
}

MMRESULT waveInUnprepareHeader(HWAVEIN hwi, LPWAVEHDR header, UINT headerSize)
{
    auto stream = FindWaveStreamAs<WaveInStream>(hwi);
    if (!stream)
        return MMSYSERR_INVALHANDLE;
    if (!header || headerSize < WAVEHDR_MIN_SIZE)
        return MMSYSERR_INVALPARAM;
    return stream->Unprepare(header);
}

MMRESULT waveInAddBuffer(HWAVEIN hwi, LPWAVEHDR header, UINT headerSize)
{
    auto stream = FindWaveStreamAs<WaveInStream>(hwi);
    if (!stream)
        return MMSYSERR_INVALHANDLE;
    if (!ValidWaveHeader(header, headerSize))
        return MMSYSERR_INVALPARAM;
    return stream->AddBuffer(header);
}

MMRESULT waveInStart(HWAVEIN hwi)
{
    auto stream = FindWaveStreamAs<WaveInStream>(hwi);
    return stream ? stream->StartInput() : MMSYSERR_INVALHANDLE;
}

MMRESULT waveInStop(HWAVEIN hwi)
{
    auto stream = FindWaveStreamAs<WaveInStream>(hwi);
    return stream ? stream->Stop() : MMSYSERR_INVALHANDLE;
}

MMRESULT waveInReset(HWAVEIN hwi)
{
    auto stream = FindWaveStreamAs<WaveInStream>(hwi);
    return stream ? stream->Reset() : MMSYSERR_INVALHANDLE;
}

MMRESULT waveInGetID(HWAVEIN hwi, UINT* deviceId)
{
    auto stream = FindWaveStreamAs<WaveInStream>(hwi);
    if (!stream)
        return MMSYSERR_INVALHANDLE;
    if (!deviceId)
        return MMSYSERR_INVALPARAM;
    *deviceId = stream->DeviceId();
    return MMSYSERR_NOERROR;
}

std::string WaveInHandleError(HWAVEIN handle)
{
    auto stream = FindWaveStreamAs<WaveInStream>(handle);
    return stream ? stream->Error() : std::string();
}
