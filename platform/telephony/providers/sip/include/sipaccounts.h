#pragma once
// SIP accounts as the service and the tools keep them: one registry key per
// account below kSipAccountsKey (its name is the line's name), and the
// passwords apart from it in a file only the owner may read, as the registry
// file itself is readable by anyone on the machine.
//
// Any thread; each call reads or writes the stores afresh.
#include <string>
#include <vector>

namespace zq::sip {

inline constexpr const char* kSipAccountsKey = "SOFTWARE\\zqcomm\\Telephony\\SIP\\Accounts";

struct SipAccountSettings {
    std::string name; // the line's name, and the account's key
    std::string address; // address of record, sip:user@domain
    std::string displayName;
    std::string registrar; // empty: the account does not register
    std::string outboundProxy;
    std::string authUser; // empty: the user part of the address
    std::string transport = "udp"; // udp, tcp or tls
    std::string localAddress; // empty: the one that reaches the domain
    int localPort = 0; // 0: any
    int rtpPortMin = 0, rtpPortMax = 0; // 0: any
    std::string codecs = "PCMU,PCMA";
    int ringIntervalMs = 2000; // between ring reports of an incoming call

    bool operator==(const SipAccountSettings&) const = default;
};

std::vector<std::string> SipAccountNames();
// False when there is no such account.
bool LoadSipAccount(const std::string& name, SipAccountSettings* out);
// False with *error set when the stores cannot be written.
bool SaveSipAccount(const SipAccountSettings& settings, std::string* error);
bool RemoveSipAccount(const std::string& name, std::string* error);

// The password lives in the secrets file (mode 0600). An empty password
// removes it.
std::string SipPassword(const std::string& name);
bool SetSipPassword(const std::string& name, const std::string& password, std::string* error);
std::string SipSecretsFile();

// What is wrong with the settings, or empty when they are usable.
std::string CheckSipAccount(const SipAccountSettings& settings);

} // namespace zq::sip
