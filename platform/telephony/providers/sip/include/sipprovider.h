#pragma once
// SIP accounts as line devices. Each account below
// HKLM\SOFTWARE\zqcomm\Telephony\SIP\Accounts (see sipaccounts.h) is one
// line, named after its key. The provider runs when the value "Enabled"
// (DWORD 1) is set in HKLM\SOFTWARE\zqcomm\Telephony\SIP.
//
// A line registers with its registrar when it is first opened and
// unregisters when it is last closed; calls go out as INVITEs and come in as
// offered calls; sound travels as G.711 over RTP, digits as telephone-events
// (or as tones, detected in the received audio).
#include "provider.h"

#include <memory>

namespace zq::sip {

std::unique_ptr<telephony::Provider> CreateSipProvider();

} // namespace zq::sip
