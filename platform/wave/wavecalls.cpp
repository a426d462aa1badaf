// The wave calls of both directions: argument checks here, the work in the
// streams. The directions differ only in their types and messages.
#include "mmsystem.h"
#include "wavedevices.h"
#include "wavedevicetable_p.h"
#include "wavehandles_p.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <string>

namespace zq::wave {
namespace {

struct OutDirection {
    using Handle = HWAVEOUT;
    using Caps = WAVEOUTCAPSA;
    using Stream = WaveOutStream;
    static constexpr UINT kOpenMessage = MM_WOM_OPEN;
    static constexpr UINT kCloseMessage = MM_WOM_CLOSE;
    static std::optional<WaveOutDeviceEntry> FindDevice(UINT id) { return FindWaveOutDevice(id); }
    static UINT DeviceLimit() { return WaveOutDeviceLimit(); }
};

struct InDirection {
    using Handle = HWAVEIN;
    using Caps = WAVEINCAPSA;
    using Stream = WaveInStream;
    static constexpr UINT kOpenMessage = MM_WIM_OPEN;
    static constexpr UINT kCloseMessage = MM_WIM_CLOSE;
    static std::optional<WaveInDeviceEntry> FindDevice(UINT id) { return FindWaveInDevice(id); }
    static UINT DeviceLimit() { return WaveInDeviceLimit(); }
};

// Every standard format opens: ALSA converts, an endpoint decides at open.
constexpr DWORD kAllStandardFormats = 0x000FFFFF;

bool ValidWaveHeader(const WAVEHDR* header, UINT headerSize)
{
    return header && headerSize >= WAVEHDR_MIN_SIZE && (header->lpData || header->dwBufferLength == 0);
}

// Capabilities hold a name of at most 31 characters.
void CopyDeviceName(CHAR (&dest)[MAXPNAMELEN], const std::string& name)
{
    size_t n = std::min<size_t>(name.size(), MAXPNAMELEN - 1);
    std::memcpy(dest, name.data(), n);
    dest[n] = '\0';
}

template <class Direction> struct WaveCalls {
    using Handle = typename Direction::Handle;
    using Stream = typename Direction::Stream;

    static std::shared_ptr<Stream> Find(Handle handle) { return FindWaveStreamAs<Stream>(handle); }

    static MMRESULT GetDevCaps(UINT_PTR deviceId, typename Direction::Caps* caps, UINT capsSize)
    {
        if (!caps || capsSize == 0)
            return MMSYSERR_INVALPARAM;
        auto device = Direction::FindDevice(UINT(deviceId));
        if (!device || deviceId > WAVE_MAPPER)
            return MMSYSERR_BADDEVICEID;
        typename Direction::Caps c;
        c.vDriverVersion = 0x0100;
        CopyDeviceName(c.szPname, device->name);
        c.dwFormats = kAllStandardFormats;
        c.wChannels = device->channels;
        std::memcpy(caps, &c, std::min<size_t>(capsSize, sizeof c));
        return MMSYSERR_NOERROR;
    }

    static MMRESULT Open(Handle* handle, UINT deviceId, LPCWAVEFORMATEX format, DWORD_PTR callback,
        DWORD_PTR instance, DWORD flags)
    {
        const bool query = flags & WAVE_FORMAT_QUERY;
        if (handle && !query)
            *handle = nullptr;
        if ((!handle && !query) || !format)
            return MMSYSERR_INVALPARAM;
        if (MMRESULT r = WaveCallback::Check(flags))
            return r;
        auto device = Direction::FindDevice(deviceId);
        if (!device)
            return MMSYSERR_BADDEVICEID;
        if (MMRESULT r = ValidatePcmFormat(*format))
            return r;
        auto backend = device->makeBackend();
        if (MMRESULT r = backend->Open(*format))
            return r;
        if (query) {
            backend->Close();
            return MMSYSERR_NOERROR;
        }
        UINT id = deviceId == WAVE_MAPPER ? 0 : deviceId;
        auto stream = std::make_shared<Stream>(
            id, *format, WaveCallback(flags, callback, instance), std::move(backend));
        void* h = AddWaveStream(stream);
        *handle = static_cast<Handle>(h);
        stream->Start(h, Direction::kOpenMessage);
        return MMSYSERR_NOERROR;
    }

    static MMRESULT Close(Handle handle)
    {
        auto stream = Find(handle);
        if (!stream)
            return MMSYSERR_INVALHANDLE;
        if (MMRESULT r = stream->Close())
            return r;
        RemoveWaveStream(handle);
        stream->SendClosed(Direction::kCloseMessage);
        return MMSYSERR_NOERROR;
    }

    // A header call; `valid` says whether the header arguments pass, which
    // is looked at only once the handle has been found.
    static MMRESULT OnHeader(Handle handle, WAVEHDR* header, bool valid, MMRESULT (WaveStream::*op)(WAVEHDR*))
    {
        auto stream = Find(handle);
        if (!stream)
            return MMSYSERR_INVALHANDLE;
        if (!valid)
            return MMSYSERR_INVALPARAM;
        return ((*stream).*op)(header);
    }

    static MMRESULT Prepare(Handle handle, LPWAVEHDR header, UINT headerSize)
    {
        return OnHeader(handle, header, ValidWaveHeader(header, headerSize), &WaveStream::Prepare);
    }

    static MMRESULT Unprepare(Handle handle, LPWAVEHDR header, UINT headerSize)
    {
        return OnHeader(handle, header, header && headerSize >= WAVEHDR_MIN_SIZE, &WaveStream::Unprepare);
    }

    static MMRESULT Queue(Handle handle, LPWAVEHDR header, UINT headerSize)
    {
        return OnHeader(handle, header, ValidWaveHeader(header, headerSize), &WaveStream::Queue);
    }

    template <auto op> static MMRESULT OnStream(Handle handle)
    {
        auto stream = Find(handle);
        return stream ? ((*stream).*op)() : MMSYSERR_INVALHANDLE;
    }

    static MMRESULT GetID(Handle handle, UINT* deviceId)
    {
        auto stream = Find(handle);
        if (!stream)
            return MMSYSERR_INVALHANDLE;
        if (!deviceId)
            return MMSYSERR_INVALPARAM;
        *deviceId = stream->DeviceId();
        return MMSYSERR_NOERROR;
    }

    static std::string HandleError(Handle handle)
    {
        auto stream = Find(handle);
        return stream ? stream->Error() : std::string();
    }
};

using OutCalls = WaveCalls<OutDirection>;
using InCalls = WaveCalls<InDirection>;

} // namespace

std::string WaveOutHandleError(HWAVEOUT handle)
{
    return OutCalls::HandleError(handle);
}

std::string WaveInHandleError(HWAVEIN handle)
{
    return InCalls::HandleError(handle);
}

} // namespace zq::wave

using zq::wave::InCalls;
using zq::wave::OutCalls;
using zq::wave::WaveInStream;
using zq::wave::WaveStream;

// Each call beside its other direction.

UINT waveOutGetNumDevs()
{
    return zq::wave::WaveOutDeviceLimit();
}

UINT waveInGetNumDevs()
{
    return zq::wave::WaveInDeviceLimit();
}

MMRESULT waveOutGetDevCapsA(UINT_PTR deviceId, LPWAVEOUTCAPSA caps, UINT capsSize)
{
    return OutCalls::GetDevCaps(deviceId, caps, capsSize);
}

MMRESULT waveInGetDevCapsA(UINT_PTR deviceId, LPWAVEINCAPSA caps, UINT capsSize)
{
    return InCalls::GetDevCaps(deviceId, caps, capsSize);
}

MMRESULT waveOutOpen(LPHWAVEOUT handle, UINT deviceId, LPCWAVEFORMATEX format, DWORD_PTR callback,
    DWORD_PTR instance, DWORD flags)
{
    return OutCalls::Open(handle, deviceId, format, callback, instance, flags);
}

MMRESULT waveInOpen(LPHWAVEIN handle, UINT deviceId, LPCWAVEFORMATEX format, DWORD_PTR callback,
    DWORD_PTR instance, DWORD flags)
{
    return InCalls::Open(handle, deviceId, format, callback, instance, flags);
}

MMRESULT waveOutClose(HWAVEOUT hwo)
{
    return OutCalls::Close(hwo);
}

MMRESULT waveInClose(HWAVEIN hwi)
{
    return InCalls::Close(hwi);
}

MMRESULT waveOutPrepareHeader(HWAVEOUT hwo, LPWAVEHDR header, UINT headerSize)
{
    return OutCalls::Prepare(hwo, header, headerSize);
}

MMRESULT waveInPrepareHeader(HWAVEIN hwi, LPWAVEHDR header, UINT headerSize)
{
    return InCalls::Prepare(hwi, header, headerSize);
}

MMRESULT waveOutUnprepareHeader(HWAVEOUT hwo, LPWAVEHDR header, UINT headerSize)
{
    return OutCalls::Unprepare(hwo, header, headerSize);
}

MMRESULT waveInUnprepareHeader(HWAVEIN hwi, LPWAVEHDR header, UINT headerSize)
{
    return InCalls::Unprepare(hwi, header, headerSize);
}

MMRESULT waveOutWrite(HWAVEOUT hwo, LPWAVEHDR header, UINT headerSize)
{
    return OutCalls::Queue(hwo, header, headerSize);
}

MMRESULT waveInAddBuffer(HWAVEIN hwi, LPWAVEHDR header, UINT headerSize)
{
    return InCalls::Queue(hwi, header, headerSize);
}

MMRESULT waveInStart(HWAVEIN hwi)
{
    return InCalls::OnStream<&WaveInStream::StartInput>(hwi);
}

MMRESULT waveInStop(HWAVEIN hwi)
{
    return InCalls::OnStream<&WaveInStream::Stop>(hwi);
}

MMRESULT waveOutReset(HWAVEOUT hwo)
{
    return OutCalls::OnStream<&WaveStream::Reset>(hwo);
}

MMRESULT waveInReset(HWAVEIN hwi)
{
    return InCalls::OnStream<&WaveStream::Reset>(hwi);
}

MMRESULT waveOutGetID(HWAVEOUT hwo, UINT* deviceId)
{
    return OutCalls::GetID(hwo, deviceId);
}

MMRESULT waveInGetID(HWAVEIN hwi, UINT* deviceId)
{
    return InCalls::GetID(hwi, deviceId);
}
