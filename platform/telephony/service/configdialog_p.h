#pragma once
// The modem configuration dialog of a line: shows the settings held in the
// device's modem block and writes the edited ones back into it.
//
// Object names of the editors (for automation and tests): speakerVolume,
// speakerMode, callSetupFailTimer, inactivityTimeout, maxSpeed, errorControl,
// forcedErrorControl, compression, flowControl, waitForDialTone,
// terminalBefore, terminalAfter, statusIcon; the dialog itself is
// "modemConfigDialog".
#include "win32types.h"

#include <cstdint>
#include <string>
#include <vector>

namespace zq::telephony {

// Modal on the calling (GUI) thread. True when the user accepted; the block
// then holds the new settings. owner is a top-level widget or null.
bool RunModemConfigDialog(const std::string& lineName, HWND owner, std::vector<uint8_t>* block);

} // namespace zq::telephony
