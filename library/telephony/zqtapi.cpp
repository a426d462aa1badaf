#include "zqtapi.h"

#include "tapiui.h"

#include <dlfcn.h>

#include <cstdlib>
#include <mutex>
#include <string>
#include <unistd.h>

namespace {

std::mutex bindingMutex;
void* tapiLibrary = nullptr;
void* tapiuiLibrary = nullptr;

std::string NextToExecutable(const char* file)
{
    char path[4096];
    const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0)
        return file;
    std::string dir(path, size_t(n));
    return dir.substr(0, dir.rfind('/') + 1) + file;
}

std::string LibraryPath(const char* variable, const char* file)
{
    const char* given = std::getenv(variable);
    if (given && *given)
        return given;
    std::string path = NextToExecutable(file);
#ifdef ZQ_SERVICE_DIR_FROM_BIN
    // Installed, the programs and the service live in different folders.
    if (access(path.c_str(), F_OK) != 0)
        path = NextToExecutable(ZQ_SERVICE_DIR_FROM_BIN "/") + file;
#endif
    return path;
}

// Releases what is still loaded when the program ends.
struct Unloader {
    ~Unloader()
    {
        if (tapiLibrary)
            dlclose(tapiLibrary);
        if (tapiuiLibrary)
            dlclose(tapiuiLibrary);
        tapiLibrary = tapiuiLibrary = nullptr;
    }
} unloader;

void* EntryPoint(const char* name)
{
    std::lock_guard lock(bindingMutex);
    if (!tapiLibrary)
        tapiLibrary = dlopen(LibraryPath("ZQ_TAPI_LIBRARY", "libtapi32.so").c_str(), RTLD_NOW | RTLD_LOCAL);
    return tapiLibrary ? dlsym(tapiLibrary, name) : nullptr;
}

template <class Fn, class... Args> LONG Call(const char* name, Args... args)
{
    auto fn = reinterpret_cast<Fn>(EntryPoint(name));
    return fn ? fn(args...) : -1;
}

} // namespace

LONG lineInitialize(HLINEAPP* lphLineApp, HINSTANCE hInstance, LINECALLBACK lpfnCallback, LPCSTR lpszAppName,
    DWORD* lpdwNumDevs)
{
    return Call<PFN_lineInitialize>(
        "lineInitialize", lphLineApp, hInstance, lpfnCallback, lpszAppName, lpdwNumDevs);
}

LONG lineShutdown(HLINEAPP* lphLineApp)
{
    auto fn = reinterpret_cast<PFN_lineShutdown>(EntryPoint("lineShutdown"));
    if (!fn)
        return -1;
    const LONG r = fn(lphLineApp ? *lphLineApp : 0);
    if (lphLineApp)
        *lphLineApp = 0;
    std::lock_guard lock(bindingMutex);
    if (tapiLibrary && dlclose(tapiLibrary) == 0)
        tapiLibrary = nullptr;
    return r;
}

LONG lineNegotiateAPIVersion(HLINEAPP hLineApp, DWORD dwDeviceID, DWORD dwAPILowVersion,
    DWORD dwAPIHighVersion, DWORD* lpdwAPIVersion, LINEEXTENSIONID* lpExtensionID)
{
    return Call<PFN_lineNegotiateAPIVersion>("lineNegotiateAPIVersion", hLineApp, dwDeviceID, dwAPILowVersion,
        dwAPIHighVersion, lpdwAPIVersion, lpExtensionID);
}

LONG lineOpen(HLINEAPP hLineApp, DWORD dwDeviceID, HLINE* lphLine, DWORD dwAPIVersion, DWORD dwExtVersion,
    DWORD_PTR dwCallbackInstance, DWORD dwPrivileges, DWORD dwMediaModes, const LINECALLPARAMS* lpCallParams)
{
    return Call<PFN_lineOpen>("lineOpen", hLineApp, dwDeviceID, lphLine, dwAPIVersion, dwExtVersion,
        dwCallbackInstance, dwPrivileges, dwMediaModes, lpCallParams);
}

LONG lineClose(HLINE hLine)
{
    return Call<PFN_lineClose>("lineClose", hLine);
}

LONG lineGetID(HLINE hLine, DWORD dwAddressID, HCALL hCall, DWORD dwSelect, VARSTRING* lpDeviceID,
    LPCSTR lpszDeviceClass)
{
    return Call<PFN_lineGetID>(
        "lineGetIDA", hLine, dwAddressID, hCall, dwSelect, lpDeviceID, lpszDeviceClass);
}

LONG lineGetDevCaps(
    HLINEAPP hLineApp, DWORD dwDeviceID, DWORD dwAPIVersion, DWORD dwExtVersion, LINEDEVCAPS* lpLineDevCaps)
{
    return Call<PFN_lineGetDevCaps>(
        "lineGetDevCapsA", hLineApp, dwDeviceID, dwAPIVersion, dwExtVersion, lpLineDevCaps);
}

LONG lineTranslateAddress(HLINEAPP hLineApp, DWORD dwDeviceID, DWORD dwAPIVersion, LPCSTR lpszAddressIn,
    DWORD dwCard, DWORD dwTranslateOptions, LINETRANSLATEOUTPUT* lpTranslateOutput)
{
    return Call<PFN_lineTranslateAddress>("lineTranslateAddressA", hLineApp, dwDeviceID, dwAPIVersion,
        lpszAddressIn, dwCard, dwTranslateOptions, lpTranslateOutput);
}

LONG lineMakeCall(HLINE hLine, HCALL* lphCall, LPCSTR lpszDestAddress, DWORD dwCountryCode,
    const LINECALLPARAMS* lpCallParams)
{
    return Call<PFN_lineMakeCall>(
        "lineMakeCallA", hLine, lphCall, lpszDestAddress, dwCountryCode, lpCallParams);
}

LONG lineAnswer(HCALL hCall, LPCSTR lpsUserUserInfo, DWORD dwSize)
{
    return Call<PFN_lineAnswer>("lineAnswer", hCall, lpsUserUserInfo, dwSize);
}

LONG lineDrop(HCALL hCall, LPCSTR lpsUserUserInfo, DWORD dwSize)
{
    return Call<PFN_lineDrop>("lineDrop", hCall, lpsUserUserInfo, dwSize);
}

LONG lineUncompleteCall(HLINE hLine, DWORD dwCompletionID)
{
    return Call<PFN_lineUncompleteCall>("lineUncompleteCall", hLine, dwCompletionID);
}

LONG lineDeallocateCall(HCALL hCall)
{
    return Call<PFN_lineDeallocateCall>("lineDeallocateCall", hCall);
}

LONG lineGetCallStatus(HCALL hCall, LINECALLSTATUS* lpCallStatus)
{
    return Call<PFN_lineGetCallStatus>("lineGetCallStatus", hCall, lpCallStatus);
}

LONG lineGetCallInfo(HCALL hCall, LINECALLINFO* lpCallInfo)
{
    return Call<PFN_lineGetCallInfo>("lineGetCallInfoA", hCall, lpCallInfo);
}

LONG lineMonitorDigits(HCALL hCall, DWORD dwDigitModes)
{
    return Call<PFN_lineMonitorDigits>("lineMonitorDigits", hCall, dwDigitModes);
}

LONG lineSetCallParams(
    HCALL hCall, DWORD dwBearerMode, DWORD dwMinRate, DWORD dwMaxRate, const LINEDIALPARAMS* lpDialParams)
{
    return Call<PFN_lineSetCallParams>(
        "lineSetCallParams", hCall, dwBearerMode, dwMinRate, dwMaxRate, lpDialParams);
}

LONG lineConfigDialog(DWORD dwDeviceID, HWND hwndOwner, LPCSTR lpszDeviceClass)
{
    return Call<PFN_lineConfigDialog>("lineConfigDialogA", dwDeviceID, hwndOwner, lpszDeviceClass);
}

LONG lineGetDevConfig(DWORD dwDeviceID, VARSTRING* lpDeviceConfig, LPCSTR lpszDeviceClass)
{
    return Call<PFN_lineGetDevConfig>("lineGetDevConfigA", dwDeviceID, lpDeviceConfig, lpszDeviceClass);
}

LONG lineSetDevConfig(DWORD dwDeviceID, const void* lpDeviceConfig, DWORD dwSize, LPCSTR lpszDeviceClass)
{
    return Call<PFN_lineSetDevConfig>(
        "lineSetDevConfigA", dwDeviceID, lpDeviceConfig, dwSize, lpszDeviceClass);
}

LONG lineGetAddressID(HLINE hLine, DWORD* lpdwAddressID, DWORD dwAddressMode, LPCSTR lpsAddress, DWORD dwSize)
{
    return Call<PFN_lineGetAddressID>(
        "lineGetAddressIDA", hLine, lpdwAddressID, dwAddressMode, lpsAddress, dwSize);
}

DWORD zq::telephony::TAPIErrorMessageId(DWORD code)
{
    switch (code >> 28) {
    case 0x8:
        return code - 0x80000000u + 0xE000u;
    case 0x9:
        return code - 0x90000000u + 0xF000u;
    default:
        return code & 0xFFFF0000u;
    }
}

std::string TAPIErrorText(DWORD code)
{
    PFN_LoadMessage load = nullptr;
    {
        std::lock_guard lock(bindingMutex);
        if (!tapiuiLibrary)
            tapiuiLibrary
                = dlopen(LibraryPath("ZQ_TAPIUI_LIBRARY", "libtapiui.so").c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!tapiuiLibrary)
            return "Unknown error. Can't load tapiui.dll";
        load = reinterpret_cast<PFN_LoadMessage>(dlsym(tapiuiLibrary, ZQ_TAPIUI_LOADMESSAGE));
    }
    if (!load)
        return std::string();
    char buffer[1024];
    const DWORD n = load(zq::telephony::TAPIErrorMessageId(code), buffer, sizeof buffer);
    return std::string(buffer, n);
}
