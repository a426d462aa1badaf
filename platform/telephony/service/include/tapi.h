#pragma once
// The telephony service's public interface, as TAPI 2.x/3.0 publishes it:
// handles, constants, the records passed in size-prefixed blocks, and the
// entry points of the service library (libtapi32.so), which the binding
// looks up by name. Records follow the 32-bit layout (DWORD fields, 32-bit
// handles); only the callback instance and the message parameters are
// pointer-sized, since applications pass object addresses through them.
#include "win32types.h"

#include <cstddef>
#include <cstdint>

using DWORD_PTR = uintptr_t;
using LPCSTR = const char*;
using HINSTANCE = void*;

using HLINEAPP = DWORD;
using HLINE = DWORD;
using HCALL = DWORD;

using LINECALLBACK = void (*)(DWORD hDevice, DWORD dwMessage, DWORD_PTR dwInstance, DWORD_PTR dwParam1,
    DWORD_PTR dwParam2, DWORD_PTR dwParam3);

// Versions the service supports.
constexpr DWORD TAPI_VERSION_1_4 = 0x00010004;
constexpr DWORD TAPI_VERSION_2_0 = 0x00020000;
constexpr DWORD TAPI_VERSION_3_0 = 0x00030000;

// Line messages.
constexpr DWORD LINE_ADDRESSSTATE = 0;
constexpr DWORD LINE_CALLINFO = 1;
constexpr DWORD LINE_CALLSTATE = 2;
constexpr DWORD LINE_CLOSE = 3;
constexpr DWORD LINE_DEVSPECIFIC = 4;
constexpr DWORD LINE_LINEDEVSTATE = 8;
constexpr DWORD LINE_MONITORDIGITS = 9;
constexpr DWORD LINE_MONITORMEDIA = 10;
constexpr DWORD LINE_MONITORTONE = 11;
constexpr DWORD LINE_REPLY = 12;
constexpr DWORD LINE_CREATE = 19; // dwParam1: the new device's identifier
constexpr DWORD LINE_REMOVE = 25; // dwParam1: the removed device's identifier

constexpr DWORD LINEDEVSTATE_RINGING = 0x00000004;
constexpr DWORD LINEDEVSTATE_INSERVICE = 0x00000040;
constexpr DWORD LINEDEVSTATE_OUTOFSERVICE = 0x00000080;

constexpr DWORD LINECALLPRIVILEGE_NONE = 0x1;
constexpr DWORD LINECALLPRIVILEGE_MONITOR = 0x2;
constexpr DWORD LINECALLPRIVILEGE_OWNER = 0x4;

constexpr DWORD LINEMEDIAMODE_UNKNOWN = 0x2;
constexpr DWORD LINEMEDIAMODE_INTERACTIVEVOICE = 0x4;
constexpr DWORD LINEMEDIAMODE_AUTOMATEDVOICE = 0x8;
constexpr DWORD LINEMEDIAMODE_DATAMODEM = 0x10;
constexpr DWORD LINEMEDIAMODE_G3FAX = 0x20;

constexpr DWORD LINEBEARERMODE_VOICE = 0x1;
constexpr DWORD LINEBEARERMODE_SPEECH = 0x2;
constexpr DWORD LINEBEARERMODE_MULTIUSE = 0x4;
constexpr DWORD LINEBEARERMODE_DATA = 0x8;
constexpr DWORD LINEBEARERMODE_ALTSPEECHDATA = 0x10;
constexpr DWORD LINEBEARERMODE_NONCALLSIGNALING = 0x20;
constexpr DWORD LINEBEARERMODE_PASSTHROUGH = 0x40;

constexpr DWORD LINECALLPARAMFLAGS_SECURE = 0x1;
constexpr DWORD LINECALLPARAMFLAGS_IDLE = 0x2;

constexpr DWORD LINEADDRESSMODE_ADDRESSID = 0x1;
constexpr DWORD LINEADDRESSMODE_DIALABLEADDR = 0x2;

constexpr DWORD LINECALLSELECT_LINE = 0x1;
constexpr DWORD LINECALLSELECT_ADDRESS = 0x2;
constexpr DWORD LINECALLSELECT_CALL = 0x4;

constexpr DWORD STRINGFORMAT_ASCII = 1;
constexpr DWORD STRINGFORMAT_DBCS = 2;
constexpr DWORD STRINGFORMAT_UNICODE = 3;
constexpr DWORD STRINGFORMAT_BINARY = 4;

constexpr DWORD LINEDIGITMODE_PULSE = 0x1;
constexpr DWORD LINEDIGITMODE_DTMF = 0x2;
constexpr DWORD LINEDIGITMODE_DTMFEND = 0x4;

constexpr DWORD LINECALLSTATE_IDLE = 0x1;
constexpr DWORD LINECALLSTATE_OFFERING = 0x2;
constexpr DWORD LINECALLSTATE_ACCEPTED = 0x4;
constexpr DWORD LINECALLSTATE_DIALTONE = 0x8;
constexpr DWORD LINECALLSTATE_DIALING = 0x10;
constexpr DWORD LINECALLSTATE_RINGBACK = 0x20;
constexpr DWORD LINECALLSTATE_BUSY = 0x40;
constexpr DWORD LINECALLSTATE_SPECIALINFO = 0x80;
constexpr DWORD LINECALLSTATE_CONNECTED = 0x100;
constexpr DWORD LINECALLSTATE_PROCEEDING = 0x200;
constexpr DWORD LINECALLSTATE_ONHOLD = 0x400;
constexpr DWORD LINECALLSTATE_DISCONNECTED = 0x4000;
constexpr DWORD LINECALLSTATE_UNKNOWN = 0x8000;

constexpr DWORD LINEDISCONNECTMODE_NORMAL = 0x1;
constexpr DWORD LINEDISCONNECTMODE_UNKNOWN = 0x2;
constexpr DWORD LINEDISCONNECTMODE_REJECT = 0x4;
constexpr DWORD LINEDISCONNECTMODE_BUSY = 0x20;
constexpr DWORD LINEDISCONNECTMODE_NOANSWER = 0x40;
constexpr DWORD LINEDISCONNECTMODE_BADADDRESS = 0x80;
constexpr DWORD LINEDISCONNECTMODE_UNAVAIL = 0x800;

constexpr DWORD LINECONNECTEDMODE_ACTIVE = 0x1;
constexpr DWORD LINEOFFERINGMODE_ACTIVE = 0x1;
constexpr DWORD LINEBUSYMODE_STATION = 0x1;

constexpr DWORD LINECALLINFOSTATE_BEARERMODE = 0x4;
constexpr DWORD LINECALLINFOSTATE_RATE = 0x8;
constexpr DWORD LINECALLINFOSTATE_CALLERID = 0x8000;
constexpr DWORD LINECALLINFOSTATE_CALLEDID = 0x10000;

constexpr DWORD LINECALLORIGIN_OUTBOUND = 0x1;
constexpr DWORD LINECALLORIGIN_INTERNAL = 0x2;
constexpr DWORD LINECALLORIGIN_INBOUND = 0x80;
constexpr DWORD LINECALLREASON_DIRECT = 0x1;

constexpr DWORD LINECALLPARTYID_NAME = 0x4;
constexpr DWORD LINECALLPARTYID_ADDRESS = 0x8;
constexpr DWORD LINECALLPARTYID_UNKNOWN = 0x20;

constexpr DWORD LINECALLFEATURE_ANSWER = 0x4;
constexpr DWORD LINECALLFEATURE_DROP = 0x80;
constexpr DWORD LINECALLFEATURE_MONITORDIGITS = 0x1000;
constexpr DWORD LINECALLFEATURE_SETCALLPARAMS = 0x200000;

constexpr DWORD LINEDEVCAPFLAGS_DIALBILLING = 0x2;
constexpr DWORD LINEDEVCAPFLAGS_DIALQUIET = 0x4;
constexpr DWORD LINEDEVCAPFLAGS_DIALDIALTONE = 0x8;
constexpr DWORD LINEANSWERMODE_NONE = 0x1;
constexpr DWORD LINERINGMODE_DEFAULT = 1;

constexpr DWORD LINETRANSLATERESULT_CANONICAL = 0x1;
constexpr DWORD LINETRANSLATERESULT_INTERNATIONAL = 0x2;
constexpr DWORD LINETRANSLATERESULT_LONGDISTANCE = 0x4;
constexpr DWORD LINETRANSLATERESULT_LOCAL = 0x8;

// Error results (negative as LONG).
constexpr DWORD LINEERR_ALLOCATED = 0x80000001;
constexpr DWORD LINEERR_BADDEVICEID = 0x80000002;
constexpr DWORD LINEERR_BEARERMODEUNAVAIL = 0x80000003;
constexpr DWORD LINEERR_CALLUNAVAIL = 0x80000005;
constexpr DWORD LINEERR_INCOMPATIBLEAPIVERSION = 0x8000000C;
constexpr DWORD LINEERR_INCOMPATIBLEEXTVERSION = 0x8000000D;
constexpr DWORD LINEERR_INUSE = 0x8000000F;
constexpr DWORD LINEERR_INVALADDRESS = 0x80000010;
constexpr DWORD LINEERR_INVALADDRESSID = 0x80000011;
constexpr DWORD LINEERR_INVALADDRESSMODE = 0x80000012;
constexpr DWORD LINEERR_INVALAPPHANDLE = 0x80000014;
constexpr DWORD LINEERR_INVALBEARERMODE = 0x80000016;
constexpr DWORD LINEERR_INVALCALLHANDLE = 0x80000018;
constexpr DWORD LINEERR_INVALCALLPARAMS = 0x80000019;
constexpr DWORD LINEERR_INVALCALLPRIVILEGE = 0x8000001A;
constexpr DWORD LINEERR_INVALCALLSELECT = 0x8000001B;
constexpr DWORD LINEERR_INVALCALLSTATE = 0x8000001C;
constexpr DWORD LINEERR_INVALCARD = 0x8000001E;
constexpr DWORD LINEERR_INVALCOMPLETIONID = 0x8000001F;
constexpr DWORD LINEERR_INVALCOUNTRYCODE = 0x80000022;
constexpr DWORD LINEERR_INVALDEVICECLASS = 0x80000023;
constexpr DWORD LINEERR_INVALDIGITMODE = 0x80000027;
constexpr DWORD LINEERR_INVALLINEHANDLE = 0x8000002B;
constexpr DWORD LINEERR_INVALMEDIAMODE = 0x8000002F;
constexpr DWORD LINEERR_INVALPARAM = 0x80000032;
constexpr DWORD LINEERR_INVALPOINTER = 0x80000035;
constexpr DWORD LINEERR_INVALRATE = 0x80000037;
constexpr DWORD LINEERR_NODEVICE = 0x80000042;
constexpr DWORD LINEERR_NODRIVER = 0x80000043;
constexpr DWORD LINEERR_NOMEM = 0x80000044;
constexpr DWORD LINEERR_NOTOWNER = 0x80000046;
constexpr DWORD LINEERR_OPERATIONFAILED = 0x80000048;
constexpr DWORD LINEERR_OPERATIONUNAVAIL = 0x80000049;
constexpr DWORD LINEERR_RESOURCEUNAVAIL = 0x8000004B;
constexpr DWORD LINEERR_STRUCTURETOOSMALL = 0x8000004D;
constexpr DWORD LINEERR_UNINITIALIZED = 0x80000050;
constexpr DWORD LINEERR_USERCANCELLED = 0x8000005D;

// The variable part of every record lies after its fixed part, within
// dwTotalSize; offsets count from the record's first byte.
struct VARSTRING {
    DWORD dwTotalSize;
    DWORD dwNeededSize;
    DWORD dwUsedSize;
    DWORD dwStringFormat;
    DWORD dwStringSize;
    DWORD dwStringOffset;
};
static_assert(sizeof(VARSTRING) == 24);

struct LINEEXTENSIONID {
    DWORD dwExtensionID0;
    DWORD dwExtensionID1;
    DWORD dwExtensionID2;
    DWORD dwExtensionID3;
};

struct LINEDIALPARAMS {
    DWORD dwDialPause;
    DWORD dwDialSpeed;
    DWORD dwDigitDuration;
    DWORD dwWaitForDialtone;
};
static_assert(sizeof(LINEDIALPARAMS) == 16);

struct TAPIGUID {
    DWORD Data1;
    WORD Data2;
    WORD Data3;
    BYTE Data4[8];
};

struct LINEDEVCAPS {
    DWORD dwTotalSize;
    DWORD dwNeededSize;
    DWORD dwUsedSize;
    DWORD dwProviderInfoSize;
    DWORD dwProviderInfoOffset;
    DWORD dwSwitchInfoSize;
    DWORD dwSwitchInfoOffset;
    DWORD dwPermanentLineID;
    DWORD dwLineNameSize;
    DWORD dwLineNameOffset;
    DWORD dwStringFormat;
    DWORD dwAddressModes;
    DWORD dwNumAddresses;
    DWORD dwBearerModes;
    DWORD dwMaxRate;
    DWORD dwMediaModes;
    DWORD dwGenerateToneModes;
    DWORD dwGenerateToneMaxNumFreq;
    DWORD dwGenerateDigitModes;
    DWORD dwMonitorToneMaxNumFreq;
    DWORD dwMonitorToneMaxNumEntries;
    DWORD dwMonitorDigitModes;
    DWORD dwGatherDigitsMinTimeout;
    DWORD dwGatherDigitsMaxTimeout;
    DWORD dwMedCtlDigitMaxListSize;
    DWORD dwMedCtlMediaMaxListSize;
    DWORD dwMedCtlToneMaxListSize;
    DWORD dwMedCtlCallStateMaxListSize;
    DWORD dwDevCapFlags;
    DWORD dwMaxNumActiveCalls;
    DWORD dwAnswerMode;
    DWORD dwRingModes;
    DWORD dwLineStates;
    DWORD dwUUIAcceptSize;
    DWORD dwUUIAnswerSize;
    DWORD dwUUIMakeCallSize;
    DWORD dwUUIDropSize;
    DWORD dwUUISendUserUserInfoSize;
    DWORD dwUUICallInfoSize;
    LINEDIALPARAMS MinDialParams;
    LINEDIALPARAMS MaxDialParams;
    LINEDIALPARAMS DefaultDialParams;
    DWORD dwNumTerminals;
    DWORD dwTerminalCapsSize;
    DWORD dwTerminalCapsOffset;
    DWORD dwTerminalTextEntrySize;
    DWORD dwTerminalTextSize;
    DWORD dwTerminalTextOffset;
    DWORD dwDevSpecificSize;
    DWORD dwDevSpecificOffset;
    DWORD dwLineFeatures;
    DWORD dwSettableDevStatus;
    DWORD dwDeviceClassesSize;
    DWORD dwDeviceClassesOffset;
    TAPIGUID PermanentLineGuid;
    DWORD dwAddressTypes;
    TAPIGUID ProtocolGuid;
    DWORD dwAvailableTracking;
};
static_assert(sizeof(LINEDEVCAPS) == 292);
static_assert(offsetof(LINEDEVCAPS, dwBearerModes) == 52);
static_assert(offsetof(LINEDEVCAPS, dwMediaModes) == 60);

struct LINECALLPARAMS {
    DWORD dwTotalSize;
    DWORD dwBearerMode;
    DWORD dwMinRate;
    DWORD dwMaxRate;
    DWORD dwMediaMode;
    DWORD dwCallParamFlags;
    DWORD dwAddressMode;
    DWORD dwAddressID;
    LINEDIALPARAMS DialParams;
    DWORD dwOrigAddressSize;
    DWORD dwOrigAddressOffset;
    DWORD dwDisplayableAddressSize;
    DWORD dwDisplayableAddressOffset;
    DWORD dwCalledPartySize;
    DWORD dwCalledPartyOffset;
    DWORD dwCommentSize;
    DWORD dwCommentOffset;
    DWORD dwUserUserInfoSize;
    DWORD dwUserUserInfoOffset;
    DWORD dwHighLevelCompSize;
    DWORD dwHighLevelCompOffset;
    DWORD dwLowLevelCompSize;
    DWORD dwLowLevelCompOffset;
    DWORD dwDevSpecificSize;
    DWORD dwDevSpecificOffset;
    DWORD dwPredictiveAutoTransferStates;
    DWORD dwTargetAddressSize;
    DWORD dwTargetAddressOffset;
    DWORD dwSendingFlowspecSize;
    DWORD dwSendingFlowspecOffset;
    DWORD dwReceivingFlowspecSize;
    DWORD dwReceivingFlowspecOffset;
    DWORD dwDeviceClassSize;
    DWORD dwDeviceClassOffset;
    DWORD dwDeviceConfigSize;
    DWORD dwDeviceConfigOffset;
    DWORD dwCallDataSize;
    DWORD dwCallDataOffset;
    DWORD dwNoAnswerTimeout;
    DWORD dwCallingPartyIDSize;
    DWORD dwCallingPartyIDOffset;
    DWORD dwAddressType;
};
static_assert(sizeof(LINECALLPARAMS) == 180);

struct SYSTEMTIME {
    WORD wYear;
    WORD wMonth;
    WORD wDayOfWeek;
    WORD wDay;
    WORD wHour;
    WORD wMinute;
    WORD wSecond;
    WORD wMilliseconds;
};

struct LINECALLSTATUS {
    DWORD dwTotalSize;
    DWORD dwNeededSize;
    DWORD dwUsedSize;
    DWORD dwCallState;
    DWORD dwCallStateMode;
    DWORD dwCallPrivilege;
    DWORD dwCallFeatures;
    DWORD dwDevSpecificSize;
    DWORD dwDevSpecificOffset;
    DWORD dwCallFeatures2;
    SYSTEMTIME tStateEntryTime;
};
static_assert(sizeof(LINECALLSTATUS) == 56);

struct LINETRANSLATEOUTPUT {
    DWORD dwTotalSize;
    DWORD dwNeededSize;
    DWORD dwUsedSize;
    DWORD dwDialableStringSize;
    DWORD dwDialableStringOffset;
    DWORD dwDisplayableStringSize;
    DWORD dwDisplayableStringOffset;
    DWORD dwCurrentCountry;
    DWORD dwDestCountry;
    DWORD dwTranslateResults;
};
static_assert(sizeof(LINETRANSLATEOUTPUT) == 40);

struct LINECALLINFO {
    DWORD dwTotalSize;
    DWORD dwNeededSize;
    DWORD dwUsedSize;
    HLINE hLine;
    DWORD dwLineDeviceID;
    DWORD dwAddressID;
    DWORD dwBearerMode;
    DWORD dwRate;
    DWORD dwMediaMode;
    DWORD dwAppSpecific;
    DWORD dwCallID;
    DWORD dwRelatedCallID;
    DWORD dwCallParamFlags;
    DWORD dwCallStates;
    DWORD dwMonitorDigitModes;
    DWORD dwMonitorMediaModes;
    LINEDIALPARAMS DialParams;
    DWORD dwOrigin;
    DWORD dwReason;
    DWORD dwCompletionID;
    DWORD dwNumOwners;
    DWORD dwNumMonitors;
    DWORD dwCountryCode;
    DWORD dwTrunk;
    DWORD dwCallerIDFlags;
    DWORD dwCallerIDSize;
    DWORD dwCallerIDOffset;
    DWORD dwCallerIDNameSize;
    DWORD dwCallerIDNameOffset;
    DWORD dwCalledIDFlags;
    DWORD dwCalledIDSize;
    DWORD dwCalledIDOffset;
    DWORD dwCalledIDNameSize;
    DWORD dwCalledIDNameOffset;
    DWORD dwConnectedIDFlags;
    DWORD dwConnectedIDSize;
    DWORD dwConnectedIDOffset;
    DWORD dwConnectedIDNameSize;
    DWORD dwConnectedIDNameOffset;
    DWORD dwRedirectionIDFlags;
    DWORD dwRedirectionIDSize;
    DWORD dwRedirectionIDOffset;
    DWORD dwRedirectionIDNameSize;
    DWORD dwRedirectionIDNameOffset;
    DWORD dwRedirectingIDFlags;
    DWORD dwRedirectingIDSize;
    DWORD dwRedirectingIDOffset;
    DWORD dwRedirectingIDNameSize;
    DWORD dwRedirectingIDNameOffset;
    DWORD dwAppNameSize;
    DWORD dwAppNameOffset;
    DWORD dwDisplayableAddressSize;
    DWORD dwDisplayableAddressOffset;
    DWORD dwCalledPartySize;
    DWORD dwCalledPartyOffset;
    DWORD dwCommentSize;
    DWORD dwCommentOffset;
    DWORD dwDisplaySize;
    DWORD dwDisplayOffset;
    DWORD dwUserUserInfoSize;
    DWORD dwUserUserInfoOffset;
    DWORD dwHighLevelCompSize;
    DWORD dwHighLevelCompOffset;
    DWORD dwLowLevelCompSize;
    DWORD dwLowLevelCompOffset;
    DWORD dwChargingInfoSize;
    DWORD dwChargingInfoOffset;
    DWORD dwTerminalModesSize;
    DWORD dwTerminalModesOffset;
    DWORD dwDevSpecificSize;
    DWORD dwDevSpecificOffset;
    DWORD dwCallTreatment;
    DWORD dwCallDataSize;
    DWORD dwCallDataOffset;
    DWORD dwSendingFlowspecSize;
    DWORD dwSendingFlowspecOffset;
    DWORD dwReceivingFlowspecSize;
    DWORD dwReceivingFlowspecOffset;
    DWORD dwCallerIDAddressType;
    DWORD dwCalledIDAddressType;
    DWORD dwConnectedIDAddressType;
    DWORD dwRedirectionIDAddressType;
    DWORD dwRedirectingIDAddressType;
};
static_assert(sizeof(LINECALLINFO) == 344);

// Entry points of the service library, under these names with C linkage.
using PFN_lineInitialize = LONG (*)(HLINEAPP* lphLineApp, HINSTANCE hInstance, LINECALLBACK lpfnCallback,
    LPCSTR lpszAppName, DWORD* lpdwNumDevs);
using PFN_lineShutdown = LONG (*)(HLINEAPP hLineApp);
using PFN_lineNegotiateAPIVersion = LONG (*)(HLINEAPP hLineApp, DWORD dwDeviceID, DWORD dwAPILowVersion,
    DWORD dwAPIHighVersion, DWORD* lpdwAPIVersion, LINEEXTENSIONID* lpExtensionID);
using PFN_lineOpen = LONG (*)(HLINEAPP hLineApp, DWORD dwDeviceID, HLINE* lphLine, DWORD dwAPIVersion,
    DWORD dwExtVersion, DWORD_PTR dwCallbackInstance, DWORD dwPrivileges, DWORD dwMediaModes,
    const LINECALLPARAMS* lpCallParams);
using PFN_lineClose = LONG (*)(HLINE hLine);
using PFN_lineGetID = LONG (*)(HLINE hLine, DWORD dwAddressID, HCALL hCall, DWORD dwSelect,
    VARSTRING* lpDeviceID, LPCSTR lpszDeviceClass);
using PFN_lineGetDevCaps = LONG (*)(
    HLINEAPP hLineApp, DWORD dwDeviceID, DWORD dwAPIVersion, DWORD dwExtVersion, LINEDEVCAPS* lpLineDevCaps);
using PFN_lineTranslateAddress = LONG (*)(HLINEAPP hLineApp, DWORD dwDeviceID, DWORD dwAPIVersion,
    LPCSTR lpszAddressIn, DWORD dwCard, DWORD dwTranslateOptions, LINETRANSLATEOUTPUT* lpTranslateOutput);
using PFN_lineMakeCall = LONG (*)(HLINE hLine, HCALL* lphCall, LPCSTR lpszDestAddress, DWORD dwCountryCode,
    const LINECALLPARAMS* lpCallParams);
using PFN_lineAnswer = LONG (*)(HCALL hCall, LPCSTR lpsUserUserInfo, DWORD dwSize);
using PFN_lineDrop = LONG (*)(HCALL hCall, LPCSTR lpsUserUserInfo, DWORD dwSize);
using PFN_lineUncompleteCall = LONG (*)(HLINE hLine, DWORD dwCompletionID);
using PFN_lineDeallocateCall = LONG (*)(HCALL hCall);
using PFN_lineGetCallStatus = LONG (*)(HCALL hCall, LINECALLSTATUS* lpCallStatus);
using PFN_lineGetCallInfo = LONG (*)(HCALL hCall, LINECALLINFO* lpCallInfo);
using PFN_lineMonitorDigits = LONG (*)(HCALL hCall, DWORD dwDigitModes);
using PFN_lineSetCallParams = LONG (*)(
    HCALL hCall, DWORD dwBearerMode, DWORD dwMinRate, DWORD dwMaxRate, const LINEDIALPARAMS* lpDialParams);
using PFN_lineConfigDialog = LONG (*)(DWORD dwDeviceID, HWND hwndOwner, LPCSTR lpszDeviceClass);
using PFN_lineGetDevConfig = LONG (*)(DWORD dwDeviceID, VARSTRING* lpDeviceConfig, LPCSTR lpszDeviceClass);
using PFN_lineSetDevConfig
    = LONG (*)(DWORD dwDeviceID, const void* lpDeviceConfig, DWORD dwSize, LPCSTR lpszDeviceClass);
using PFN_lineGetAddressID
    = LONG (*)(HLINE hLine, DWORD* lpdwAddressID, DWORD dwAddressMode, LPCSTR lpsAddress, DWORD dwSize);
