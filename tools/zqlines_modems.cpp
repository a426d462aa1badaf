// zqlines --modem-*: the voice and data modems that become line devices (the
// registry's modem class) and the switch of their provider, so that nobody
// has to edit the registry by hand.
#include "modemclass.h"
#include "modemdiscovery.h"
#include "modemlines.h"
#include "registry.h"
#include "telephonysettings.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

namespace zq::tools {

namespace {

std::string ModemProviderKey()
{
    return telephony::ProviderSettingsKey("Modem");
}

// Whether the provider runs: only an "Enabled" of 1 switches it on.
bool ProviderOn()
{
    HKEY key = nullptr;
    if (RegOpenKeyEx(HKEY_LOCAL_MACHINE, ModemProviderKey().c_str(), 0, KEY_QUERY_VALUE, &key)
        != LONG(ERROR_SUCCESS))
        return false;
    DWORD value = 0, type = 0, size = sizeof value;
    const LONG rc = RegQueryValueEx(
        key, telephony::kProviderEnabledValue, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size);
    RegCloseKey(key);
    return rc == LONG(ERROR_SUCCESS) && type == REG_DWORD && value == 1;
}

bool SwitchProvider(bool on)
{
    HKEY key = nullptr;
    LONG rc = RegCreateKeyEx(HKEY_LOCAL_MACHINE, ModemProviderKey().c_str(), 0, nullptr,
        REG_OPTION_NON_VOLATILE, KEY_SET_VALUE, nullptr, &key, nullptr);
    if (rc == LONG(ERROR_SUCCESS)) {
        const DWORD value = on ? 1 : 0;
        rc = RegSetValueEx(key, telephony::kProviderEnabledValue, 0, REG_DWORD,
            reinterpret_cast<const BYTE*>(&value), sizeof value);
        RegCloseKey(key);
    }
    if (rc != LONG(ERROR_SUCCESS)) {
        std::fprintf(stderr, "zqlines: the modem provider could not be switched %s: registry error %ld\n",
            on ? "on" : "off", long(rc));
        return false;
    }
    std::printf("The modem provider is %s.\n", on ? "on" : "off");
    return true;
}

std::optional<modem::ModemInfo> FindByName(const std::string& name)
{
    for (const modem::ModemInfo& m : modem::ListClassModems())
        if (m.name == name)
            return m;
    return std::nullopt;
}

// Printable ASCII only: an init string is sent to the modem as one command
// line, so a CR or LF in it would end the command early and run the rest as
// another one.
bool Printable(const std::string& text)
{
    for (const unsigned char c : text)
        if (c < 0x20 || c > 0x7E)
            return false;
    return true;
}

// Deletes a key with everything below it.
LONG DeleteTree(HKEY parent, const std::string& name)
{
    HKEY key = nullptr;
    LONG rc = RegOpenKeyEx(parent, name.c_str(), 0, KEY_ENUMERATE_SUB_KEYS, &key);
    if (rc != LONG(ERROR_SUCCESS))
        return rc;
    std::vector<std::string> subkeys;
    for (DWORD i = 0;; ++i) {
        char sub[256];
        DWORD len = sizeof sub;
        if (RegEnumKeyEx(key, i, sub, &len, nullptr, nullptr, nullptr, nullptr) != LONG(ERROR_SUCCESS))
            break;
        subkeys.emplace_back(sub, len);
    }
    for (const std::string& sub : subkeys)
        if ((rc = DeleteTree(key, sub)) != LONG(ERROR_SUCCESS))
            break;
    RegCloseKey(key);
    return rc == LONG(ERROR_SUCCESS) ? RegDeleteKey(parent, name.c_str()) : rc;
}

int List()
{
    bool read = false;
    const std::vector<modem::ModemInfo> modems = modem::ListClassModems(&read);
    std::printf("The modem provider is %s.\n", ProviderOn() ? "on" : "off");
    if (modems.empty())
        std::printf("No modems in the modem class.\n");
    for (const modem::ModemInfo& m : modems)
        std::printf("%s  %s\n      port %s (%s)  init %s\n", m.subkey.c_str(), m.name.c_str(),
            m.device.c_str(), modem::PortPresent(m.device) ? "present" : "not present now",
            m.userInit.empty() ? "(none)" : ("\"" + m.userInit + "\"").c_str());
    return 0;
}

int Add(const std::string& name, int argc, char** argv, int first)
{
    std::string port, init;
    for (int i = first; i < argc; ++i) {
        const std::string o = argv[i];
        if (o != "--port" && o != "--init") {
            std::fprintf(stderr, "zqlines: unknown option %s\n", o.c_str());
            return 2;
        }
        if (i + 1 >= argc) {
            std::fprintf(stderr, "zqlines: %s needs a value\n", o.c_str());
            return 2;
        }
        (o == "--port" ? port : init) = argv[++i];
    }
    if (name.empty() || !Printable(name)) {
        std::fprintf(stderr, "zqlines: a modem's name must be printable text, not empty\n");
        return 2;
    }
    if (port.empty()) {
        std::fprintf(stderr, "zqlines: --modem-add needs --port PORT (ttyACM0 or a full path)\n");
        return 2;
    }
    if (!Printable(init)) {
        std::fprintf(stderr,
            "zqlines: the init string may hold only printable characters (no line ends or control "
            "characters)\n");
        return 2;
    }
    if (FindByName(name)) {
        std::fprintf(stderr, "zqlines: there is a modem \"%s\" already\n", name.c_str());
        return 1;
    }
    const std::string attachedTo = modem::AttachedToValue(port);
    const std::string device = modem::DevicePath(attachedTo);
    struct stat st { };
    if (stat(device.c_str(), &st) != 0) {
        if (errno != ENOENT) {
            std::fprintf(stderr, "zqlines: %s: %s\n", device.c_str(), std::strerror(errno));
            return 1;
        }
        std::fprintf(stderr,
            "zqlines: warning: %s is not there now; the line appears once the modem is plugged in\n",
            device.c_str());
    } else if (!S_ISCHR(st.st_mode)) {
        std::fprintf(stderr, "zqlines: %s is not a serial port (not a character device)\n", device.c_str());
        return 1;
    }
    const std::string subkey = telephony::PublishModemLine(name, attachedTo);
    LONG rc = subkey.empty() ? LONG(ERROR_WRITE_FAULT) : LONG(ERROR_SUCCESS);
    if (rc == LONG(ERROR_SUCCESS) && !init.empty()) {
        HKEY key = nullptr;
        rc = RegOpenKeyEx(HKEY_LOCAL_MACHINE, (std::string(registry::kModemClassKey) + "\\" + subkey).c_str(),
            0, KEY_SET_VALUE, &key);
        if (rc == LONG(ERROR_SUCCESS)) {
            rc = RegSetValueEx(key, "UserInit", 0, REG_SZ, reinterpret_cast<const BYTE*>(init.c_str()),
                DWORD(init.size() + 1));
            RegCloseKey(key);
        }
    }
    if (rc != LONG(ERROR_SUCCESS)) {
        // Without its init string the modem would still become a line, set
        // up otherwise than asked: it goes again.
        if (!subkey.empty()) {
            HKEY cls = nullptr;
            if (RegOpenKeyEx(HKEY_LOCAL_MACHINE, registry::kModemClassKey, 0, KEY_ENUMERATE_SUB_KEYS, &cls)
                == LONG(ERROR_SUCCESS)) {
                DeleteTree(cls, subkey);
                RegCloseKey(cls);
            }
        }
        std::fprintf(stderr, "zqlines: the modem could not be added: registry error %ld\n", long(rc));
        return 1;
    }
    std::printf("Added modem %s \"%s\" on %s.\n", subkey.c_str(), name.c_str(), device.c_str());
    return SwitchProvider(true) ? 0 : 1;
}

int Remove(const std::string& name)
{
    const std::optional<modem::ModemInfo> m = FindByName(name);
    if (!m) {
        std::fprintf(stderr, "zqlines: there is no modem \"%s\"\n", name.c_str());
        return 1;
    }
    HKEY cls = nullptr;
    LONG rc = RegOpenKeyEx(HKEY_LOCAL_MACHINE, registry::kModemClassKey, 0, KEY_ENUMERATE_SUB_KEYS, &cls);
    if (rc == LONG(ERROR_SUCCESS)) {
        rc = DeleteTree(cls, m->subkey);
        RegCloseKey(cls);
    }
    if (rc != LONG(ERROR_SUCCESS)) {
        std::fprintf(stderr, "zqlines: the modem could not be removed: registry error %ld\n", long(rc));
        return 1;
    }
    std::printf("Removed modem %s \"%s\".\n", m->subkey.c_str(), name.c_str());
    return 0;
}

int Scan(const std::vector<std::string>& ports)
{
    std::printf(
        ports.empty() ? "Asking the USB serial ports (ttyACM*, ttyUSB*)...\n" : "Asking the ports...\n");
    std::fflush(stdout);
    using Result = modem::PortAnswer::Result;
    int added = 0;
    bool failed = false;
    const std::vector<modem::PortAnswer> answers = modem::ScanSerialPorts(ports);
    for (const modem::PortAnswer& a : answers) {
        switch (a.result) {
        case Result::Added:
            std::printf("%s: found \"%s\", added as %s\n", a.port.c_str(), a.name.c_str(), a.subkey.c_str());
            ++added;
            break;
        case Result::NoAnswer:
            std::printf("%s: nothing answered\n", a.port.c_str());
            break;
        case Result::CannotOpen:
            // A busy port is no failure of a scan of all ports; a port the
            // user named that cannot be asked is.
            failed = failed || !ports.empty();
            std::fprintf(ports.empty() ? stdout : stderr, "%s%s: cannot be opened (error %u: %s)\n",
                ports.empty() ? "" : "zqlines: ", a.port.c_str(), unsigned(a.error),
                a.error == ERROR_ACCESS_DENIED ? "in use, or no access: is the user in group dialout?"
                    : a.error == ERROR_FILE_NOT_FOUND || a.error == ERROR_PATH_NOT_FOUND ? "no such port"
                    : a.error == ERROR_NOT_SUPPORTED                                     ? "not a serial port"
                                                     : "see the system log");
            break;
        case Result::InClass:
            std::printf("%s: a modem of the class is on it already\n", a.port.c_str());
            break;
        case Result::AskedBefore:
            std::printf(
                "%s: asked before, the same device on it (name the port to ask it again)\n", a.port.c_str());
            break;
        case Result::NotSaved:
            std::fprintf(stderr, "zqlines: %s: found \"%s\", but the modem class could not be written\n",
                a.port.c_str(), a.name.c_str());
            failed = true;
            break;
        }
    }
    if (answers.empty())
        std::printf("No USB serial ports.\n");
    std::printf("%d modem(s) added.\n", added);
    if (!SwitchProvider(true) || failed)
        return 1;
    return 0;
}

} // namespace

const char* ModemsUsage()
{
    return "       zqlines --modem-list         list the modems and whether their provider is on\n"
           "       zqlines --modem-add NAME --port PORT [--init STRING]\n"
           "                                    add a modem (a line named NAME) on PORT (ttyACM0\n"
           "                                    or a full path), with an optional init string of\n"
           "                                    AT commands; switches the provider on\n"
           "       zqlines --modem-remove NAME  remove a modem; running programs drop its line\n"
           "       zqlines --modem-scan [PORT...]\n"
           "                                    ask the USB serial ports not asked before (or the\n"
           "                                    PORTs named) whether a modem answers, add those\n"
           "                                    that do; switches the provider on\n"
           "       zqlines --modem-on | --modem-off\n"
           "                                    switch the modem provider on or off\n";
}

int RunModems(int argc, char** argv)
{
    int at = 1;
    while (at < argc && std::strncmp(argv[at], "--modem-", 8) != 0)
        ++at;
    const std::string command = argv[at];
    if (command == "--modem-list")
        return List();
    if (command == "--modem-on" || command == "--modem-off")
        return SwitchProvider(command == "--modem-on") ? 0 : 1;
    if (command == "--modem-scan")
        return Scan(std::vector<std::string>(argv + at + 1, argv + argc));
    if (command != "--modem-add" && command != "--modem-remove") {
        std::fprintf(stderr, "zqlines: unknown command %s\n", command.c_str());
        return 2;
    }
    if (at + 1 >= argc || argv[at + 1][0] == '-') {
        std::fprintf(stderr, "zqlines: %s needs the modem's name\n", command.c_str());
        return 2;
    }
    const std::string name = argv[at + 1];
    if (command == "--modem-remove")
        return at + 2 < argc ? (std::fprintf(stderr, "zqlines: unknown option %s\n", argv[at + 2]), 2)
                             : Remove(name);
    return Add(name, argc, argv, at + 2);
}

} // namespace zq::tools
