#include "sysinfo.h"

BOOL GetVersionEx(OSVERSIONINFO* info)
{
    if (!info)
        return FALSE;
    info->dwMajorVersion = 6;
    info->dwMinorVersion = 1;
    info->dwBuildNumber = 7601;
    info->dwPlatformId = VER_PLATFORM_WIN32_NT;
    return TRUE;
}

bool zq::kernel::IsNTFamily()
{
    OSVERSIONINFO v;
    GetVersionEx(&v);
    return v.dwPlatformId == VER_PLATFORM_WIN32_NT;
}
