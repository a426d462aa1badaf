#pragma once
// Publishing a provider's line in the registry's modem device class, so
// that modem discovery (the line component's list of modems and their
// settings keys) finds it under its friendly name.
#include <string>

namespace zq::telephony {

// Publishes (or refreshes) the modem entry of a line: the class subkey that
// already holds this friendly name, or a free one, with "FriendlyName" and
// "AttachedTo" set (a user's "UserInit" is kept). Returns the subkey's name
// (0000, 0001, ...), empty when the store could not be written.
std::string PublishModemLine(const std::string& friendlyName, const std::string& port);

} // namespace zq::telephony
