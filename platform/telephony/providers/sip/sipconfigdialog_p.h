#pragma once
// The configuration dialog of a SIP line: shows the line's account and
// writes the edited one back to the stores. Runs modal on the GUI thread and
// touches neither the line nor the provider, only the stores (see
// sipaccounts.h), so it may outlive both.
//
// Object names of the editors (for automation and tests): address,
// displayName, registrar, outboundProxy, authUser, password, transport,
// localPort, rtpPortMin, rtpPortMax, codecs (a list whose checked entries in
// their order are the codec order), codecUp, codecDown, problem (the label
// that says why the input was refused); the dialog itself is
// "sipAccountDialog".
#include "win32types.h"

#include <string>

namespace zq::sip {

// 0 when the user accepted and the account was saved, or cancelled;
// LINEERR_NODEVICE when the account is gone from the store. owner is a
// top-level widget or null.
LONG RunSipAccountDialog(const std::string& accountName, HWND owner);

} // namespace zq::sip
