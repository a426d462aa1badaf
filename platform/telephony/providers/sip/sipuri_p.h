#pragma once
// The little of SIP addresses the provider reads itself: an account's
// address of record, and what a dialled number becomes.
#include <optional>
#include <string>
#include <vector>

namespace zq::sip {

struct SipUri {
    bool secure = false; // sips:
    std::string user;
    std::string host; // with its brackets for IPv6
    std::string port; // empty: the default
};

// sip:user@host[:port][;params] (or sips:); false for anything else.
bool ParseSipUri(const std::string& text, SipUri* out);

// The request URI for a dialled number: digits (with '+', '*', '#', visual
// separators and a modem's dial modifiers such as "T" or ",", which are
// dropped) become sip:NUMBER@<domain of the account>, a SIP URI is
// taken as it is. Null with *error set for anything else.
std::optional<std::string> RequestUriFor(
    const std::string& dialled, const std::string& accountAddress, std::string* error);

// "PCMU,PCMA" in order as payload types; unknown names are left out.
std::vector<int> CodecList(const std::string& names);

} // namespace zq::sip
