#pragma once
// The operating-system version query. This platform presents itself as a
// member of the NT family, version 6, whose serial ports toggle RTS by
// themselves and whose modems are listed under the modem class key.
#include "win32types.h"
#include "zqkernel_export.h"

constexpr DWORD VER_PLATFORM_WIN32_WINDOWS = 1;
constexpr DWORD VER_PLATFORM_WIN32_NT = 2;

struct OSVERSIONINFO {
    DWORD dwMajorVersion = 0;
    DWORD dwMinorVersion = 0;
    DWORD dwBuildNumber = 0;
    DWORD dwPlatformId = 0;
};

ZQKERNEL_EXPORT BOOL GetVersionEx(OSVERSIONINFO* info);
namespace zq::kernel {

ZQKERNEL_EXPORT bool IsNTFamily();

} // namespace zq::kernel
