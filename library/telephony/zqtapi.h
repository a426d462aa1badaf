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

#include <string>

LONG lineInitialize(HLINEAPP* lphLineApp, HINSTANCE hInstance, LINECALLBACK lpfnCallback, LPCSTR lpszAppName,
    DWORD* lpdwNumDevs);
// Also clears *lphLineApp and releases the service library, so the next
// operation loads it again.
LONG lineShutdown(HLINEAPP* lphLineApp);
LONG lineNegotiateAPIVersion(HLINEAPP hLineApp, DWORD dwDeviceID, DWORD dwAPILowVersion,
    DWORD dwAPIHighVersion, DWORD* lpdwAPIVersion, LINEEXTENSIONID* lpExtensionID);
LONG lineOpen(HLINEAPP hLineApp, DWORD dwDeviceID, HLINE* lphLine, DWORD dwAPIVersion, DWORD dwExtVersion,
    DWORD_PTR dwCallbackInstance, DWORD dwPrivileges, DWORD dwMediaModes, const LINECALLPARAMS* lpCallParams);
LONG lineClose(HLINE hLine);
LONG lineGetID(HLINE hLine, DWORD dwAddressID, HCALL hCall, DWORD dwSelect, VARSTRING* lpDeviceID,
    LPCSTR lpszDeviceClass);
LONG lineGetDevCaps(
    HLINEAPP hLineApp, DWORD dwDeviceID, DWORD dwAPIVersion, DWORD dwExtVersion, LINEDEVCAPS* lpLineDevCaps);
LONG lineTranslateAddress(HLINEAPP hLineApp, DWORD dwDeviceID, DWORD dwAPIVersion, LPCSTR lpszAddressIn,
    DWORD dwCard, DWORD dwTranslateOptions, LINETRANSLATEOUTPUT* lpTranslateOutput);
LONG lineMakeCall(HLINE hLine, HCALL* lphCall, LPCSTR lpszDestAddress, DWORD dwCountryCode,
    const LINECALLPARAMS* lpCallParams);
LONG lineAnswer(HCALL hCall, LPCSTR lpsUserUserInfo, DWORD dwSize);
LONG lineDrop(HCALL hCall, LPCSTR lpsUserUserInfo, DWORD dwSize);
LONG lineUncompleteCall(HLINE hLine, DWORD dwCompletionID);
LONG lineDeallocateCall(HCALL hCall);
LONG lineGetCallStatus(HCALL hCall, LINECALLSTATUS* lpCallStatus);
LONG lineGetCallInfo(HCALL hCall, LINECALLINFO* lpCallInfo);
LONG lineMonitorDigits(HCALL hCall, DWORD dwDigitModes);
LONG lineSetCallParams(
    HCALL hCall, DWORD dwBearerMode, DWORD dwMinRate, DWORD dwMaxRate, const LINEDIALPARAMS* lpDialParams);
LONG lineConfigDialog(DWORD dwDeviceID, HWND hwndOwner, LPCSTR lpszDeviceClass);
LONG lineGetDevConfig(DWORD dwDeviceID, VARSTRING* lpDeviceConfig, LPCSTR lpszDeviceClass);
LONG lineSetDevConfig(DWORD dwDeviceID, const void* lpDeviceConfig, DWORD dwSize, LPCSTR lpszDeviceClass);
LONG lineGetAddressID(
    HLINE hLine, DWORD* lpdwAddressID, DWORD dwAddressMode, LPCSTR lpsAddress, DWORD dwSize);

// Readable text of a TAPI error code, from the error-text library:
// "Unknown error. Can't load tapiui.dll" without it, empty for a code it has
// no text for.
std::string TAPIErrorText(DWORD code);
// The message identifier TAPIErrorText looks up: line errors (0x8...)
// 0xE000 + the code's low part, phone errors (0x9...) 0xF000 + it, any other
// code with its low 16 bits cleared.
DWORD TAPIErrorMessageId(DWORD code);
