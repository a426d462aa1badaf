#include "devconfig.h"

#include <cstring>

namespace zq::telephony {

ModemDevConfig DefaultModemDevConfig(DWORD maxRate)
{
    ModemDevConfig c {};
    c.dwSize = sizeof c;
    c.dwVersion = MODEM_DEVCONFIG_VERSION;
    c.fwOptions = UMLAUNCH_LIGHTS;
    c.commconfig.dwSize = sizeof(COMMCONFIG) + sizeof(MODEMSETTINGS);
    c.commconfig.wVersion = 0x100;
    c.commconfig.dcb.DCBlength = sizeof(DCB);
    c.commconfig.dcb.BaudRate = maxRate;
    c.commconfig.dcb.Flags = DCB_fBinary | (DTR_CONTROL_ENABLE << DCB_fDtrControlShift) | DCB_fOutxCtsFlow
        | (RTS_CONTROL_HANDSHAKE << DCB_fRtsControlShift);
    c.commconfig.dcb.XonLim = 10;
    c.commconfig.dcb.XoffLim = 10;
    c.commconfig.dcb.ByteSize = 8;
    c.commconfig.dcb.XonChar = 0x11;
    c.commconfig.dcb.XoffChar = 0x13;
    c.commconfig.dwProviderSubType = PST_MODEM;
    c.commconfig.dwProviderOffset = sizeof(COMMCONFIG);
    c.commconfig.dwProviderSize = sizeof(MODEMSETTINGS);
    MODEMSETTINGS& m = c.modemsettings;
    m.dwActualSize = sizeof(MODEMSETTINGS);
    m.dwRequiredSize = sizeof(MODEMSETTINGS);
    m.dwCallSetupFailTimer = 60;
    m.dwInactivityTimeout = 0;
    m.dwSpeakerVolume = MDMVOL_MEDIUM;
    m.dwSpeakerMode = MDMSPKR_CALLSETUP;
    m.dwPreferredModemOptions = MDM_COMPRESSION | MDM_ERROR_CONTROL | MDM_FLOWCONTROL_HARD | MDM_SPEED_ADJUST;
    return c;
}

bool IsModemDevConfig(const void* data, size_t size)
{
    if (!data || size < sizeof(ModemDevConfig))
        return false;
    ModemDevConfig c {};
    std::memcpy(&c, data, sizeof c);
    return c.commconfig.dwProviderSubType == PST_MODEM;
}

ModemDevConfig ModemDevConfigOf(const std::vector<uint8_t>& bytes)
{
    ModemDevConfig c = DefaultModemDevConfig();
    if (IsModemDevConfig(bytes.data(), bytes.size()))
        std::memcpy(&c, bytes.data(), sizeof c);
    return c;
}

} // namespace zq::telephony
