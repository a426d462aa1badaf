// The output calls: argument checks here, the work in WaveOutStream.
#include "mmsystem.h"
#include "wavecalls_p.h"
#include "wavedevices.h"
#include "wavedevicetable_p.h"
#include "wavehandles_p.h"

UINT waveOutGetNumDevs()
{
    return WaveOutDeviceLimit();
}

MMRESULT waveOutGetDevCapsA(UINT_PTR deviceId, LPWAVEOUTCAPSA caps, UINT capsSize)
{
    if (!caps || capsSize == 0)
        return MMSYSERR_INVALPARAM;
    auto device = FindWaveOutDevice(UINT(deviceId));
    if (!device || deviceId > WAVE_MAPPER)
        return MMSYSERR_BADDEVICEID;
    WAVEOUTCAPSA c;
    c.vDriverVersion = 0x0100;
    CopyDeviceName(c.szPname, device->name);
    c.dwFormats = kAllStandardFormats;
    c.wChannels = device->channels;
    std::memcpy(caps, &c, std::min<size_t>(capsSize, sizeof c));
    return MMSYSERR_NOERROR;
}

MMRESULT waveOutOpen(LPHWAVEOUT handle, UINT deviceId, LPCWAVEFORMATEX format, DWORD_PTR callback,
    DWORD_PTR instance, DWORD flags)
{
    const bool query = flags & WAVE_FORMAT_QUERY;
    if (handle && !query)
        *handle = nullptr;
    if ((!handle && !query) || !format)
        return MMSYSERR_INVALPARAM;
    if (MMRESULT r = WaveCallback::Check(flags))
        return r;
    auto device = FindWaveOutDevice(deviceId);
    if (!device)
        return MMSYSERR_BADDEVICEID;
    if (MMRESULT r = ValidatePcmFormat(*format))
        return r;
    std::unique_ptr<WaveOutBackend> backend = device->makeBackend();
    if (MMRESULT r = backend->Open(*format))
        return r;
    if (query) {
        backend->Close();
        return MMSYSERR_NOERROR;
    }
    UINT id = deviceId == WAVE_MAPPER ? 0 : deviceId;
    auto stream = std::make_shared<WaveOutStream>(
        id, *format, WaveCallback(flags, callback, instance), std::move(backend));
    void* h = AddWaveStream(stream);
    *handle = static_cast<HWAVEOUT>(h);
    stream->Start(h, MM_WOM_OPEN);
    return MMSYSERR_NOERROR;
}

MMRESULT waveOutClose(HWAVEOUT hwo)
{
    auto stream = FindWaveStreamAs<WaveOutStream>(hwo);
    if (!stream)
        return MMSYSERR_INVALHANDLE;
    if (MMRESULT r = stream->Close())
        return r;
    RemoveWaveStream(hwo);
    stream->SendClosed(MM_WOM_CLOSE);
    return MMSYSERR_NOERROR;
}

MMRESULT waveOutPrepareHeader(HWAVEOUT hwo, LPWAVEHDR header, UINT headerSize)
{
    auto stream = FindWaveStreamAs<WaveOutStream>(hwo);
    if (!stream)
        return MMSYSERR_INVALHANDLE;
    if (!ValidWaveHeader(header, headerSize))
        return MMSYSERR_INVALPARAM;
    return stream->Prepare(header);
}

MMRESULT waveOutUnprepareHeader(HWAVEOUT hwo, LPWAVEHDR header, UINT headerSize)
{
    auto stream = FindWaveStreamAs<WaveOutStream>(hwo);
    if (!stream)
        return MMSYSERR_INVALHANDLE;
    if (!header || headerSize < WAVEHDR_MIN_SIZE)
        return MMSYSERR_INVALPARAM;
    return stream->Unprepare(header);
}

MMRESULT waveOutWrite(HWAVEOUT hwo, LPWAVEHDR header, UINT headerSize)
{
    auto stream = FindWaveStreamAs<WaveOutStream>(hwo);
    if (!stream)
        return MMSYSERR_INVALHANDLE;
    if (!ValidWaveHeader(header, headerSize))
        return MMSYSERR_INVALPARAM;
    return stream->Write(header);
}

MMRESULT waveOutReset(HWAVEOUT hwo)
{
    auto stream = FindWaveStreamAs<WaveOutStream>(hwo);
    return stream ? stream->Reset() : MMSYSERR_INVALHANDLE;
}

MMRESULT waveOutGetID(HWAVEOUT hwo, UINT* deviceId)
{
    auto stream = FindWaveStreamAs<WaveOutStream>(hwo);
    if (!stream)
        return MMSYSERR_INVALHANDLE;
    if (!deviceId)
        return MMSYSERR_INVALPARAM;
    *deviceId = stream->DeviceId();
    return MMSYSERR_NOERROR;
}

std::string WaveOutHandleError(HWAVEOUT handle)
{
    auto stream = FindWaveStreamAs<WaveOutStream>(handle);
    return stream ? stream->Error() : std::string();
}
