// The service's entry points, exported with C linkage under TAPI's names.
// Nothing thrown inside may cross into the caller.
#include "service_p.h"
#include "servicetesting.h"

#include <new>

#define ZQ_EXPORT extern "C" __attribute__((visibility("default")))

namespace {
template <class F> LONG Guarded(F&& f)
{
    try {
        return f();
    } catch (const std::bad_alloc&) {
        return LONG(LINEERR_NOMEM);
    } catch (...) {
        return LONG(LINEERR_OPERATIONFAILED);
    }
}
zq::telephony::Service& S()
{
    return zq::telephony::Service::Instance();
}
} // namespace

ZQ_EXPORT LONG lineInitialize(
    HLINEAPP* lphLineApp, HINSTANCE, LINECALLBACK lpfnCallback, LPCSTR, DWORD* lpdwNumDevs)
{
    return Guarded([&] { return S().Initialize(lphLineApp, lpfnCallback, lpdwNumDevs); });
}

ZQ_EXPORT LONG lineShutdown(HLINEAPP hLineApp)
{
    return Guarded([&] { return S().Shutdown(hLineApp); });
}

ZQ_EXPORT LONG lineNegotiateAPIVersion(HLINEAPP hLineApp, DWORD dwDeviceID, DWORD dwAPILowVersion,
    DWORD dwAPIHighVersion, DWORD* lpdwAPIVersion, LINEEXTENSIONID* lpExtensionID)
{
    return Guarded([&] {
        return S().NegotiateAPIVersion(
            hLineApp, dwDeviceID, dwAPILowVersion, dwAPIHighVersion, lpdwAPIVersion, lpExtensionID);
    });
}

ZQ_EXPORT LONG lineOpen(HLINEAPP hLineApp, DWORD dwDeviceID, HLINE* lphLine, DWORD dwAPIVersion,
    DWORD dwExtVersion, DWORD_PTR dwCallbackInstance, DWORD dwPrivileges, DWORD dwMediaModes,
    const LINECALLPARAMS*)
{
    return Guarded([&] {
        return S().Open(hLineApp, dwDeviceID, lphLine, dwAPIVersion, dwExtVersion, dwCallbackInstance,
            dwPrivileges, dwMediaModes);
    });
}

ZQ_EXPORT LONG lineClose(HLINE hLine)
{
    return Guarded([&] { return S().Close(hLine); });
}

ZQ_EXPORT LONG lineGetIDA(HLINE hLine, DWORD dwAddressID, HCALL hCall, DWORD dwSelect, VARSTRING* lpDeviceID,
    LPCSTR lpszDeviceClass)
{
    return Guarded(
        [&] { return S().GetID(hLine, dwAddressID, hCall, dwSelect, lpDeviceID, lpszDeviceClass); });
}

ZQ_EXPORT LONG lineGetDevCapsA(
    HLINEAPP hLineApp, DWORD dwDeviceID, DWORD dwAPIVersion, DWORD, LINEDEVCAPS* lpLineDevCaps)
{
    return Guarded([&] { return S().GetDevCaps(hLineApp, dwDeviceID, dwAPIVersion, lpLineDevCaps); });
}

ZQ_EXPORT LONG lineTranslateAddressA(HLINEAPP hLineApp, DWORD dwDeviceID, DWORD, LPCSTR lpszAddressIn,
    DWORD dwCard, DWORD, LINETRANSLATEOUTPUT* lpTranslateOutput)
{
    return Guarded(
        [&] { return S().TranslateAddress(hLineApp, dwDeviceID, lpszAddressIn, dwCard, lpTranslateOutput); });
}

ZQ_EXPORT LONG lineMakeCallA(HLINE hLine, HCALL* lphCall, LPCSTR lpszDestAddress, DWORD dwCountryCode,
    const LINECALLPARAMS* lpCallParams)
{
    return Guarded(
        [&] { return S().MakeCall(hLine, lphCall, lpszDestAddress, dwCountryCode, lpCallParams); });
}

ZQ_EXPORT LONG lineAnswer(HCALL hCall, LPCSTR, DWORD)
{
    return Guarded([&] { return S().Answer(hCall); });
}

ZQ_EXPORT LONG lineDrop(HCALL hCall, LPCSTR, DWORD)
{
    return Guarded([&] { return S().Drop(hCall); });
}

ZQ_EXPORT LONG lineUncompleteCall(HLINE hLine, DWORD dwCompletionID)
{
    return Guarded([&] { return S().UncompleteCall(hLine, dwCompletionID); });
}

ZQ_EXPORT LONG lineDeallocateCall(HCALL hCall)
{
    return Guarded([&] { return S().DeallocateCall(hCall); });
}

ZQ_EXPORT LONG lineGetCallStatus(HCALL hCall, LINECALLSTATUS* lpCallStatus)
{
    return Guarded([&] { return S().GetCallStatus(hCall, lpCallStatus); });
}

ZQ_EXPORT LONG lineGetCallInfoA(HCALL hCall, LINECALLINFO* lpCallInfo)
{
    return Guarded([&] { return S().GetCallInfo(hCall, lpCallInfo); });
}

ZQ_EXPORT LONG lineMonitorDigits(HCALL hCall, DWORD dwDigitModes)
{
    return Guarded([&] { return S().MonitorDigits(hCall, dwDigitModes); });
}

ZQ_EXPORT LONG lineSetCallParams(HCALL hCall, DWORD dwBearerMode, DWORD, DWORD, const LINEDIALPARAMS*)
{
    return Guarded([&] { return S().SetCallParams(hCall, dwBearerMode); });
}

ZQ_EXPORT LONG lineConfigDialogA(DWORD dwDeviceID, HWND hwndOwner, LPCSTR lpszDeviceClass)
{
    return Guarded([&] { return S().ConfigDialog(dwDeviceID, hwndOwner, lpszDeviceClass); });
}

ZQ_EXPORT LONG lineGetDevConfigA(DWORD dwDeviceID, VARSTRING* lpDeviceConfig, LPCSTR lpszDeviceClass)
{
    return Guarded([&] { return S().GetDevConfig(dwDeviceID, lpDeviceConfig, lpszDeviceClass); });
}

ZQ_EXPORT LONG lineSetDevConfigA(
    DWORD dwDeviceID, const void* lpDeviceConfig, DWORD dwSize, LPCSTR lpszDeviceClass)
{
    return Guarded([&] { return S().SetDevConfig(dwDeviceID, lpDeviceConfig, dwSize, lpszDeviceClass); });
}

ZQ_EXPORT LONG lineGetAddressIDA(
    HLINE hLine, DWORD* lpdwAddressID, DWORD dwAddressMode, LPCSTR lpsAddress, DWORD dwSize)
{
    return Guarded([&] { return S().GetAddressID(hLine, lpdwAddressID, dwAddressMode, lpsAddress, dwSize); });
}

namespace zq::telephony {

void UseProvidersForTesting(std::vector<std::pair<std::string, ProviderFactory>> providers)
{
    S().UseProviders(std::move(providers));
}

} // namespace zq::telephony
