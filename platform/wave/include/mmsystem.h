#pragma once
// The multimedia wave interface as the Windows services spell it: open a
// device, queue prepared headers, get each header back once it has been
// played out (or filled) in real time, reset, close.
//
// Device 0 is the system's default sound output (or input) through ALSA;
// further identifiers are devices that providers register (wavedevices.h).
// Completion messages reach the thread, window, event or function given at
// open, in the order the buffers were queued; MM_WOM_CLOSE/MM_WIM_CLOSE
// always comes after the last MM_WOM_DONE/MM_WIM_DATA of a handle.
#include "win32types.h"
#include "zqwave_export.h"

#include <cstddef>
#include <cstdint>

using CHAR = char;
using LPSTR = char*;
using UINT_PTR = uintptr_t;
using DWORD_PTR = uintptr_t;
using MMRESULT = UINT;
using MMVERSION = UINT;

// Wave handles are opaque; their values are keys of the layer's own table.
struct HWAVEOUT__;
struct HWAVEIN__;
using HWAVEOUT = HWAVEOUT__*;
using HWAVEIN = HWAVEIN__*;
using LPHWAVEOUT = HWAVEOUT*;
using LPHWAVEIN = HWAVEIN*;

constexpr MMRESULT MMSYSERR_NOERROR = 0;
constexpr MMRESULT MMSYSERR_ERROR = 1;
constexpr MMRESULT MMSYSERR_BADDEVICEID = 2;
constexpr MMRESULT MMSYSERR_NOTENABLED = 3;
constexpr MMRESULT MMSYSERR_ALLOCATED = 4;
constexpr MMRESULT MMSYSERR_INVALHANDLE = 5;
constexpr MMRESULT MMSYSERR_NODRIVER = 6;
constexpr MMRESULT MMSYSERR_NOMEM = 7;
constexpr MMRESULT MMSYSERR_NOTSUPPORTED = 8;
constexpr MMRESULT MMSYSERR_BADERRNUM = 9;
constexpr MMRESULT MMSYSERR_INVALFLAG = 10;
constexpr MMRESULT MMSYSERR_INVALPARAM = 11;
constexpr MMRESULT MMSYSERR_HANDLEBUSY = 12;
constexpr MMRESULT MMSYSERR_LASTERROR = 21;
constexpr MMRESULT WAVERR_BADFORMAT = 32;
constexpr MMRESULT WAVERR_STILLPLAYING = 33;
constexpr MMRESULT WAVERR_UNPREPARED = 34;
constexpr MMRESULT WAVERR_SYNC = 35;
constexpr MMRESULT WAVERR_LASTERROR = 35;

constexpr UINT MM_WOM_OPEN = 0x3BB;
constexpr UINT MM_WOM_CLOSE = 0x3BC;
constexpr UINT MM_WOM_DONE = 0x3BD;
constexpr UINT MM_WIM_OPEN = 0x3BE;
constexpr UINT MM_WIM_CLOSE = 0x3BF;
constexpr UINT MM_WIM_DATA = 0x3C0;
constexpr UINT WOM_OPEN = MM_WOM_OPEN;
constexpr UINT WOM_CLOSE = MM_WOM_CLOSE;
constexpr UINT WOM_DONE = MM_WOM_DONE;
constexpr UINT WIM_OPEN = MM_WIM_OPEN;
constexpr UINT WIM_CLOSE = MM_WIM_CLOSE;
constexpr UINT WIM_DATA = MM_WIM_DATA;

constexpr DWORD CALLBACK_TYPEMASK = 0x00070000;
constexpr DWORD CALLBACK_NULL = 0x00000000;
constexpr DWORD CALLBACK_WINDOW = 0x00010000;
constexpr DWORD CALLBACK_TASK = 0x00020000;
constexpr DWORD CALLBACK_THREAD = CALLBACK_TASK;
constexpr DWORD CALLBACK_FUNCTION = 0x00030000;
constexpr DWORD CALLBACK_EVENT = 0x00050000;

constexpr DWORD WAVE_FORMAT_QUERY = 0x0001;
constexpr DWORD WAVE_ALLOWSYNC = 0x0002;
constexpr DWORD WAVE_MAPPED = 0x0004;
constexpr DWORD WAVE_FORMAT_DIRECT = 0x0008;
constexpr UINT WAVE_MAPPER = 0xFFFFFFFFu;

constexpr WORD WAVE_FORMAT_PCM = 1;

constexpr DWORD WHDR_DONE = 0x00000001;
constexpr DWORD WHDR_PREPARED = 0x00000002;
constexpr DWORD WHDR_BEGINLOOP = 0x00000004;
constexpr DWORD WHDR_ENDLOOP = 0x00000008;
constexpr DWORD WHDR_INQUEUE = 0x00000010;

// Standard formats a device's capabilities list (rate kHz, mono/stereo, bits).
constexpr DWORD WAVE_FORMAT_1M08 = 0x00000001;
constexpr DWORD WAVE_FORMAT_1S08 = 0x00000002;
constexpr DWORD WAVE_FORMAT_1M16 = 0x00000004;
constexpr DWORD WAVE_FORMAT_1S16 = 0x00000008;
constexpr DWORD WAVE_FORMAT_2M08 = 0x00000010;
constexpr DWORD WAVE_FORMAT_2S08 = 0x00000020;
constexpr DWORD WAVE_FORMAT_2M16 = 0x00000040;
constexpr DWORD WAVE_FORMAT_2S16 = 0x00000080;
constexpr DWORD WAVE_FORMAT_4M08 = 0x00000100;
constexpr DWORD WAVE_FORMAT_4S08 = 0x00000200;
constexpr DWORD WAVE_FORMAT_4M16 = 0x00000400;
constexpr DWORD WAVE_FORMAT_4S16 = 0x00000800;
constexpr DWORD WAVE_FORMAT_48M08 = 0x00001000;
constexpr DWORD WAVE_FORMAT_48S08 = 0x00002000;
constexpr DWORD WAVE_FORMAT_48M16 = 0x00004000;
constexpr DWORD WAVE_FORMAT_48S16 = 0x00008000;
constexpr DWORD WAVE_FORMAT_96M08 = 0x00010000;
constexpr DWORD WAVE_FORMAT_96S08 = 0x00020000;
constexpr DWORD WAVE_FORMAT_96M16 = 0x00040000;
constexpr DWORD WAVE_FORMAT_96S16 = 0x00080000;

constexpr DWORD WAVECAPS_PITCH = 0x0001;
constexpr DWORD WAVECAPS_PLAYBACKRATE = 0x0002;
constexpr DWORD WAVECAPS_VOLUME = 0x0004;
constexpr DWORD WAVECAPS_LRVOLUME = 0x0008;
constexpr DWORD WAVECAPS_SYNC = 0x0010;
constexpr DWORD WAVECAPS_SAMPLEACCURATE = 0x0020;

constexpr UINT MAXPNAMELEN = 32;
// Longest error text waveOutGetErrorTextA can give, with its terminator.
constexpr UINT MAXERRORLENGTH = 256;

// Byte-packed as on Windows: 18 bytes, cbSize right after wBitsPerSample.
#pragma pack(push, 1)
struct WAVEFORMATEX {
    WORD wFormatTag = 0;
    WORD nChannels = 0;
    DWORD nSamplesPerSec = 0;
    DWORD nAvgBytesPerSec = 0;
    WORD nBlockAlign = 0;
    WORD wBitsPerSample = 0;
    WORD cbSize = 0;
};
#pragma pack(pop)
static_assert(sizeof(WAVEFORMATEX) == 18);
using LPWAVEFORMATEX = WAVEFORMATEX*;
using LPCWAVEFORMATEX = const WAVEFORMATEX*;

// dwLoops and the loop flags are kept but not acted on: every header plays
// once. The layer never touches lpNext and reserved, so callers may pass the
// 32-bit header size (32), which ends just before them.
struct WAVEHDR {
    LPSTR lpData = nullptr;
    DWORD dwBufferLength = 0;
    DWORD dwBytesRecorded = 0;
    DWORD_PTR dwUser = 0;
    DWORD dwFlags = 0;
    DWORD dwLoops = 0;
    WAVEHDR* lpNext = nullptr;
    DWORD_PTR reserved = 0;
};
using LPWAVEHDR = WAVEHDR*;
// Smallest header size the header calls accept.
constexpr UINT WAVEHDR_MIN_SIZE = offsetof(WAVEHDR, lpNext);
static_assert(WAVEHDR_MIN_SIZE <= 32);

struct WAVEOUTCAPSA {
    WORD wMid = 0;
    WORD wPid = 0;
    MMVERSION vDriverVersion = 0;
    CHAR szPname[MAXPNAMELEN] = {};
    DWORD dwFormats = 0;
    WORD wChannels = 0;
    WORD wReserved1 = 0;
    DWORD dwSupport = 0;
};
using LPWAVEOUTCAPSA = WAVEOUTCAPSA*;

struct WAVEINCAPSA {
    WORD wMid = 0;
    WORD wPid = 0;
    MMVERSION vDriverVersion = 0;
    CHAR szPname[MAXPNAMELEN] = {};
    DWORD dwFormats = 0;
    WORD wChannels = 0;
    WORD wReserved1 = 0;
};
using LPWAVEINCAPSA = WAVEINCAPSA*;

// CALLBACK_FUNCTION procedures run on the device's worker thread; they may
// queue and unprepare headers but must not reset or close the device.
using LPWAVEOUTPROC
    = void (*)(HWAVEOUT hwo, UINT msg, DWORD_PTR instance, DWORD_PTR param1, DWORD_PTR param2);
using LPWAVEINPROC = void (*)(HWAVEIN hwi, UINT msg, DWORD_PTR instance, DWORD_PTR param1, DWORD_PTR param2);

// Output. The identifier counts as a device identifier only (no handles);
// WAVE_MAPPER stands for device 0.
ZQWAVE_EXPORT UINT waveOutGetNumDevs();
ZQWAVE_EXPORT MMRESULT waveOutGetDevCapsA(UINT_PTR deviceId, LPWAVEOUTCAPSA caps, UINT capsSize);
ZQWAVE_EXPORT MMRESULT waveOutGetErrorTextA(MMRESULT error, LPSTR text, UINT textSize);
ZQWAVE_EXPORT MMRESULT waveOutOpen(LPHWAVEOUT handle, UINT deviceId, LPCWAVEFORMATEX format,
    DWORD_PTR callback, DWORD_PTR instance, DWORD flags);
ZQWAVE_EXPORT MMRESULT waveOutClose(HWAVEOUT hwo);
ZQWAVE_EXPORT MMRESULT waveOutPrepareHeader(HWAVEOUT hwo, LPWAVEHDR header, UINT headerSize);
ZQWAVE_EXPORT MMRESULT waveOutUnprepareHeader(HWAVEOUT hwo, LPWAVEHDR header, UINT headerSize);
ZQWAVE_EXPORT MMRESULT waveOutWrite(HWAVEOUT hwo, LPWAVEHDR header, UINT headerSize);
ZQWAVE_EXPORT MMRESULT waveOutReset(HWAVEOUT hwo);
ZQWAVE_EXPORT MMRESULT waveOutGetID(HWAVEOUT hwo, UINT* deviceId);

// Input.
ZQWAVE_EXPORT UINT waveInGetNumDevs();
ZQWAVE_EXPORT MMRESULT waveInGetDevCapsA(UINT_PTR deviceId, LPWAVEINCAPSA caps, UINT capsSize);
ZQWAVE_EXPORT MMRESULT waveInGetErrorTextA(MMRESULT error, LPSTR text, UINT textSize);
ZQWAVE_EXPORT MMRESULT waveInOpen(LPHWAVEIN handle, UINT deviceId, LPCWAVEFORMATEX format, DWORD_PTR callback,
    DWORD_PTR instance, DWORD flags);
ZQWAVE_EXPORT MMRESULT waveInClose(HWAVEIN hwi);
ZQWAVE_EXPORT MMRESULT waveInPrepareHeader(HWAVEIN hwi, LPWAVEHDR header, UINT headerSize);
ZQWAVE_EXPORT MMRESULT waveInUnprepareHeader(HWAVEIN hwi, LPWAVEHDR header, UINT headerSize);
ZQWAVE_EXPORT MMRESULT waveInAddBuffer(HWAVEIN hwi, LPWAVEHDR header, UINT headerSize);
ZQWAVE_EXPORT MMRESULT waveInStart(HWAVEIN hwi);
ZQWAVE_EXPORT MMRESULT waveInStop(HWAVEIN hwi);
ZQWAVE_EXPORT MMRESULT waveInReset(HWAVEIN hwi);
ZQWAVE_EXPORT MMRESULT waveInGetID(HWAVEIN hwi, UINT* deviceId);
