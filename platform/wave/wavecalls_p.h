#pragma once
// Checks and copies both directions' calls share.
#include "mmsystem.h"

#include <algorithm>
#include <cstring>
#include <string>

inline bool ValidWaveHeader(const WAVEHDR* header, UINT headerSize)
{
    return header && headerSize >= WAVEHDR_MIN_SIZE && (header->lpData || header->dwBufferLength == 0);
}

// Capabilities hold a name of at most 31 characters.
inline void CopyDeviceName(CHAR (&dest)[MAXPNAMELEN], const std::string& name)
{
    size_t n = std::min<size_t>(name.size(), MAXPNAMELEN - 1);
    std::memcpy(dest, name.data(), n);
    dest[n] = '\0';
}

// Every standard format opens: ALSA converts, an endpoint decides at open.
constexpr DWORD kAllStandardFormats = 0x000FFFFF;
