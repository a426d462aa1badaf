#pragma once
// The "comm/datamodem" device configuration of a modem line: the modem
// provider's block (header, COMMCONFIG with its DCB, MODEMSETTINGS as the
// provider data), exactly as applications read and patch it at fixed offsets.
#include "commapi.h" // DCB
#include "win32types.h"

#include <cstddef>
#include <vector>

constexpr DWORD PST_MODEM = 6;

struct COMMCONFIG {
    DWORD dwSize;
    WORD wVersion;
    WORD wReserved;
    DCB dcb;
    DWORD dwProviderSubType;
    DWORD dwProviderOffset;
    DWORD dwProviderSize;
    // wcProviderData follows at dwProviderOffset
};
static_assert(sizeof(COMMCONFIG) == 48);

struct MODEMSETTINGS {
    DWORD dwActualSize;
    DWORD dwRequiredSize;
    DWORD dwDevSpecificOffset;
    DWORD dwDevSpecificSize;
    DWORD dwCallSetupFailTimer; // seconds
    DWORD dwInactivityTimeout; // seconds, 0 = none
    DWORD dwSpeakerVolume;
    DWORD dwSpeakerMode;
    DWORD dwPreferredModemOptions;
    DWORD dwNegotiatedModemOptions;
    DWORD dwNegotiatedDCERate;
    DWORD dwReserved; // abVariablePortion
};
static_assert(sizeof(MODEMSETTINGS) == 48);

constexpr DWORD MDMVOL_LOW = 0;
constexpr DWORD MDMVOL_MEDIUM = 1;
constexpr DWORD MDMVOL_HIGH = 2;
constexpr DWORD MDMSPKR_OFF = 0;
constexpr DWORD MDMSPKR_DIAL = 1;
constexpr DWORD MDMSPKR_ON = 2;
constexpr DWORD MDMSPKR_CALLSETUP = 3;

constexpr DWORD MDM_COMPRESSION = 0x1;
constexpr DWORD MDM_ERROR_CONTROL = 0x2;
constexpr DWORD MDM_FORCED_EC = 0x4;
constexpr DWORD MDM_FLOWCONTROL_HARD = 0x10;
constexpr DWORD MDM_FLOWCONTROL_SOFT = 0x20;
constexpr DWORD MDM_SPEED_ADJUST = 0x80;
constexpr DWORD MDM_BLIND_DIAL = 0x200;

// Header options word.
constexpr WORD UMTERMINAL_PRE = 0x1;
constexpr WORD UMTERMINAL_POST = 0x2;
constexpr WORD UMMANUAL_DIAL = 0x4;
constexpr WORD UMLAUNCH_LIGHTS = 0x8;

namespace zq::telephony {

struct ModemDevConfig {
    DWORD dwSize; // of the whole block
    DWORD dwVersion;
    WORD fwOptions;
    WORD wWaitBong;
    COMMCONFIG commconfig;
    MODEMSETTINGS modemsettings;
};
static_assert(sizeof(ModemDevConfig) == 108);
static_assert(offsetof(ModemDevConfig, fwOptions) == 8);
static_assert(offsetof(ModemDevConfig, commconfig) == 12);
static_assert(offsetof(ModemDevConfig, commconfig.dcb.BaudRate) == 24);
static_assert(offsetof(ModemDevConfig, commconfig.dcb.Flags) == 28);
static_assert(offsetof(ModemDevConfig, commconfig.dwProviderSubType) == 48);
static_assert(offsetof(ModemDevConfig, modemsettings) == 60);
static_assert(offsetof(ModemDevConfig, modemsettings.dwCallSetupFailTimer) == 76);
static_assert(offsetof(ModemDevConfig, modemsettings.dwInactivityTimeout) == 80);
static_assert(offsetof(ModemDevConfig, modemsettings.dwSpeakerVolume) == 84);
static_assert(offsetof(ModemDevConfig, modemsettings.dwSpeakerMode) == 88);
static_assert(offsetof(ModemDevConfig, modemsettings.dwPreferredModemOptions) == 92);
static_assert(offsetof(ModemDevConfig, modemsettings.dwNegotiatedModemOptions) == 96);
static_assert(offsetof(ModemDevConfig, modemsettings.dwNegotiatedDCERate) == 100);

constexpr DWORD MODEM_DEVCONFIG_VERSION = 0x00010003;

// A fresh block: 57600 bit/s, speaker medium during call set-up, 60 s
// call set-up time-out, error control and compression, hardware flow
// control, wait for the dial tone, status icon shown.
ModemDevConfig DefaultModemDevConfig(DWORD maxRate = 57600);

// True when the bytes hold a modem block this service can interpret.
bool IsModemDevConfig(const void* data, size_t size);

// The block held in bytes, or a default one when they hold none.
ModemDevConfig ModemDevConfigOf(const std::vector<uint8_t>& bytes);

} // namespace zq::telephony
