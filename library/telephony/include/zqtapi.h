#pragma once
// Unit zqtapi: the run-time binding of the telephony service. Every
// operation loads the service library on first use and looks its entry point
// up by name at each call; without the library or the entry point it answers
// -1 and calls nothing, so programs run where there is no telephony.
//
// The service library is libtapi32.so next to the executable, or the file
// named by ZQ_TAPI_LIBRARY; the error texts come from libtapiui.so next to
// the executable, or ZQ_TAPIUI_LIBRARY. The variables are read whenever a
// library is loaded.
#include "tapi.h"
#include "zqtapi_export.h"

#include <string>

ZQTAPI_EXPORT LONG lineInitialize(HLINEAPP* lphLineApp, HINSTANCE hInstance, LINECALLBACK lpfnCallback,
    LPCSTR lpszAppName, DWORD* lpdwNumDevs);
// Also clears *lphLineApp and releases the service library, so the next
// operation loads it again.
ZQTAPI_EXPORT LONG lineShutdown(HLINEAPP* lphLineApp);
ZQTAPI_EXPORT LONG lineNegotiateAPIVersion(HLINEAPP hLineApp, DWORD dwDeviceID, DWORD dwAPILowVersion,
    DWORD dwAPIHighVersion, DWORD* lpdwAPIVersion, LINEEXTENSIONID* lpExtensionID);
ZQTAPI_EXPORT LONG lineOpen(HLINEAPP hLineApp, DWORD dwDeviceID, HLINE* lphLine, DWORD dwAPIVersion,
    DWORD dwExtVersion, DWORD_PTR dwCallbackInstance, DWORD dwPrivileges, DWORD dwMediaModes,
    const LINECALLPARAMS* lpCallParams);
ZQTAPI_EXPORT LONG lineClose(HLINE hLine);
ZQTAPI_EXPORT LONG lineGetID(HLINE hLine, DWORD dwAddressID, HCALL hCall, DWORD dwSelect,
    VARSTRING* lpDeviceID, LPCSTR lpszDeviceClass);
ZQTAPI_EXPORT LONG lineGetDevCaps(
    HLINEAPP hLineApp, DWORD dwDeviceID, DWORD dwAPIVersion, DWORD dwExtVersion, LINEDEVCAPS* lpLineDevCaps);
ZQTAPI_EXPORT LONG lineTranslateAddress(HLINEAPP hLineApp, DWORD dwDeviceID, DWORD dwAPIVersion,
    LPCSTR lpszAddressIn, DWORD dwCard, DWORD dwTranslateOptions, LINETRANSLATEOUTPUT* lpTranslateOutput);
ZQTAPI_EXPORT LONG lineMakeCall(HLINE hLine, HCALL* lphCall, LPCSTR lpszDestAddress, DWORD dwCountryCode,
    const LINECALLPARAMS* lpCallParams);
ZQTAPI_EXPORT LONG lineAnswer(HCALL hCall, LPCSTR lpsUserUserInfo, DWORD dwSize);
ZQTAPI_EXPORT LONG lineDrop(HCALL hCall, LPCSTR lpsUserUserInfo, DWORD dwSize);
ZQTAPI_EXPORT LONG lineUncompleteCall(HLINE hLine, DWORD dwCompletionID);
ZQTAPI_EXPORT LONG lineDeallocateCall(HCALL hCall);
ZQTAPI_EXPORT LONG lineGetCallStatus(HCALL hCall, LINECALLSTATUS* lpCallStatus);
ZQTAPI_EXPORT LONG lineGetCallInfo(HCALL hCall, LINECALLINFO* lpCallInfo);
ZQTAPI_EXPORT LONG lineMonitorDigits(HCALL hCall, DWORD dwDigitModes);
ZQTAPI_EXPORT LONG lineSetCallParams(
    HCALL hCall, DWORD dwBearerMode, DWORD dwMinRate, DWORD dwMaxRate, const LINEDIALPARAMS* lpDialParams);
ZQTAPI_EXPORT LONG lineConfigDialog(DWORD dwDeviceID, HWND hwndOwner, LPCSTR lpszDeviceClass);
ZQTAPI_EXPORT LONG lineGetDevConfig(DWORD dwDeviceID, VARSTRING* lpDeviceConfig, LPCSTR lpszDeviceClass);
ZQTAPI_EXPORT LONG lineSetDevConfig(
    DWORD dwDeviceID, const void* lpDeviceConfig, DWORD dwSize, LPCSTR lpszDeviceClass);
ZQTAPI_EXPORT LONG lineGetAddressID(
    HLINE hLine, DWORD* lpdwAddressID, DWORD dwAddressMode, LPCSTR lpsAddress, DWORD dwSize);

// Readable text of a TAPI error code, from the error-text library:
// "Unknown error. Can't load tapiui.dll" without it, empty for a code it has
// no text for.
ZQTAPI_EXPORT std::string TAPIErrorText(DWORD code);
namespace zq::telephony {

// The message identifier TAPIErrorText looks up: line errors (0x8...)
// 0xE000 + the code's low part, phone errors (0x9...) 0xF000 + it, any other
// code with its low 16 bits cleared.
ZQTAPI_EXPORT DWORD TAPIErrorMessageId(DWORD code);

} // namespace zq::telephony
