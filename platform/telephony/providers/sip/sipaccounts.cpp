#include "sipaccounts.h"

#include "registry.h"
#include "sipuri_p.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>

namespace zq::sip {

namespace {

std::string KeyOf(const std::string& name)
{
    return std::string(kSipAccountsKey) + "\\" + name;
}

std::string ReadString(HKEY key, const char* name, const std::string& fallback = {})
{
    DWORD type = 0, size = 0;
    if (RegQueryValueEx(key, name, nullptr, &type, nullptr, &size) != 0 || type != REG_SZ)
        return fallback;
    std::string s(size, '\0');
    if (RegQueryValueEx(key, name, nullptr, &type, reinterpret_cast<BYTE*>(s.data()), &size) != 0)
        return fallback;
    s.resize(std::min<size_t>(size, std::strlen(s.c_str())));
    return s;
}

int ReadInt(HKEY key, const char* name, int fallback)
{
    DWORD type = 0, value = 0, size = sizeof value;
    if (RegQueryValueEx(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size) != 0
        || type != REG_DWORD)
        return fallback;
    return int(value);
}

void WriteString(HKEY key, const char* name, const std::string& value)
{
    RegSetValueEx(
        key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()), DWORD(value.size() + 1));
}

void WriteInt(HKEY key, const char* name, int value)
{
    const DWORD v = DWORD(value);
    RegSetValueEx(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&v), sizeof v);
}

// The secrets file: one account a line, name and password hex-encoded so
// neither needs quoting.
std::string Hex(const std::string& s)
{
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (unsigned char c : s) {
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out;
}

bool Unhex(const std::string& s, std::string* out)
{
    if (s.size() % 2)
        return false;
    out->clear();
    for (size_t i = 0; i < s.size(); i += 2) {
        auto nibble = [](char c) {
            return c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
        };
        const int hi = nibble(s[i]), lo = nibble(s[i + 1]);
        if (hi < 0 || lo < 0)
            return false;
        *out += char(hi * 16 + lo);
    }
    return true;
}

std::map<std::string, std::string> ReadSecrets()
{
    std::map<std::string, std::string> secrets;
    std::ifstream in(SipSecretsFile());
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string name, password;
        if (fields >> name >> password) {
            std::string n, p;
            if (Unhex(name, &n) && Unhex(password, &p))
                secrets[n] = p;
        }
    }
    return secrets;
}

bool WriteSecrets(const std::map<std::string, std::string>& secrets, std::string* error)
{
    const std::string path = SipSecretsFile();
    const std::string dir = path.substr(0, path.rfind('/'));
    mkdir(dir.c_str(), 0700);
    const std::string temp = path + ".new";
    // Created owner-only from the start: the password is never readable by
    // others, not even for a moment.
    const int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) {
        *error = "cannot write " + temp + ": " + std::strerror(errno);
        return false;
    }
    fchmod(fd, 0600);
    std::string content;
    for (const auto& [name, password] : secrets)
        content += Hex(name) + " " + Hex(password) + "\n";
    const bool ok = write(fd, content.data(), content.size()) == ssize_t(content.size()) && fsync(fd) == 0;
    close(fd);
    if (!ok || rename(temp.c_str(), path.c_str()) != 0) {
        *error = "cannot write " + path + ": " + std::strerror(errno);
        unlink(temp.c_str());
        return false;
    }
    return true;
}

} // namespace

std::string SipSecretsFile()
{
    const std::string store = registry::RegistryStoreFile();
    const size_t slash = store.rfind('/');
    return (slash == std::string::npos ? std::string(".") : store.substr(0, slash)) + "/sip-secrets";
}

std::vector<std::string> SipAccountNames()
{
    std::vector<std::string> names;
    HKEY key = nullptr;
    if (RegOpenKeyEx(HKEY_LOCAL_MACHINE, kSipAccountsKey, 0, KEY_READ, &key) != 0)
        return names;
    for (DWORD i = 0;; ++i) {
        char name[REG_MAX_KEY_NAME + 1];
        DWORD len = sizeof name;
        if (RegEnumKeyEx(key, i, name, &len, nullptr, nullptr, nullptr, nullptr) != 0)
            break;
        names.emplace_back(name, len);
    }
    RegCloseKey(key);
    return names;
}

bool LoadSipAccount(const std::string& name, SipAccountSettings* out)
{
    HKEY key = nullptr;
    if (RegOpenKeyEx(HKEY_LOCAL_MACHINE, KeyOf(name).c_str(), 0, KEY_READ, &key) != 0)
        return false;
    SipAccountSettings s;
    s.name = name;
    s.address = ReadString(key, "Address");
    s.displayName = ReadString(key, "DisplayName");
    s.registrar = ReadString(key, "Registrar");
    s.outboundProxy = ReadString(key, "OutboundProxy");
    s.authUser = ReadString(key, "AuthUser");
    s.transport = ReadString(key, "Transport", s.transport);
    s.localAddress = ReadString(key, "LocalAddress");
    s.localPort = ReadInt(key, "LocalPort", 0);
    s.rtpPortMin = ReadInt(key, "RtpPortMin", 0);
    s.rtpPortMax = ReadInt(key, "RtpPortMax", 0);
    s.codecs = ReadString(key, "Codecs", s.codecs);
    s.ringIntervalMs = ReadInt(key, "RingIntervalMs", s.ringIntervalMs);
    RegCloseKey(key);
    *out = s;
    return true;
}

bool SaveSipAccount(const SipAccountSettings& s, std::string* error)
{
    HKEY key = nullptr;
    if (RegCreateKeyEx(HKEY_LOCAL_MACHINE, KeyOf(s.name).c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
            KEY_READ | KEY_WRITE, nullptr, &key, nullptr)
        != 0) {
        *error = "cannot write the account \"" + s.name + "\" to the registry";
        return false;
    }
    WriteString(key, "Address", s.address);
    WriteString(key, "DisplayName", s.displayName);
    WriteString(key, "Registrar", s.registrar);
    WriteString(key, "OutboundProxy", s.outboundProxy);
    WriteString(key, "AuthUser", s.authUser);
    WriteString(key, "Transport", s.transport);
    WriteString(key, "LocalAddress", s.localAddress);
    WriteInt(key, "LocalPort", s.localPort);
    WriteInt(key, "RtpPortMin", s.rtpPortMin);
    WriteInt(key, "RtpPortMax", s.rtpPortMax);
    WriteString(key, "Codecs", s.codecs);
    WriteInt(key, "RingIntervalMs", s.ringIntervalMs);
    RegCloseKey(key);
    return true;
}

bool RemoveSipAccount(const std::string& name, std::string* error)
{
    HKEY key = nullptr;
    if (RegOpenKeyEx(HKEY_LOCAL_MACHINE, kSipAccountsKey, 0, KEY_READ | KEY_WRITE, &key) != 0
        || RegDeleteKey(key, name.c_str()) != 0) {
        if (key)
            RegCloseKey(key);
        *error = "there is no SIP account \"" + name + "\"";
        return false;
    }
    RegCloseKey(key);
    return SetSipPassword(name, "", error);
}

std::string SipPassword(const std::string& name)
{
    const auto secrets = ReadSecrets();
    const auto it = secrets.find(name);
    return it == secrets.end() ? std::string() : it->second;
}

bool SetSipPassword(const std::string& name, const std::string& password, std::string* error)
{
    auto secrets = ReadSecrets();
    if (password.empty()) {
        if (!secrets.erase(name))
            return true;
    } else {
        secrets[name] = password;
    }
    return WriteSecrets(secrets, error);
}

std::string CheckSipAccount(const SipAccountSettings& s)
{
    if (s.name.empty() || s.name.find('\\') != std::string::npos)
        return "the account needs a name without \"\\\"";
    SipUri aor;
    if (!ParseSipUri(s.address, &aor) || aor.user.empty())
        return "the address \"" + s.address + "\" is not of the form sip:user@domain";
    SipUri server;
    if (!s.registrar.empty() && !ParseSipUri(s.registrar, &server))
        return "the registrar \"" + s.registrar + "\" is not of the form sip:host[:port]";
    if (!s.outboundProxy.empty() && !ParseSipUri(s.outboundProxy, &server))
        return "the outbound proxy \"" + s.outboundProxy + "\" is not of the form sip:host[:port]";
    if (s.transport != "udp" && s.transport != "tcp" && s.transport != "tls")
        return "the transport must be udp, tcp or tls";
    if (s.localPort < 0 || s.localPort > 65535 || s.rtpPortMin < 0 || s.rtpPortMax > 65535
        || s.rtpPortMax < s.rtpPortMin)
        return "the ports must lie between 0 and 65535, the audio range from low to high";
    if (CodecList(s.codecs).empty())
        return "the codecs must name PCMU and/or PCMA";
    return {};
}

} // namespace zq::sip
