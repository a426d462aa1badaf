#include "modemdiscovery.h"

#include "atresponse.h"
#include "commapi.h"
#include "debugout.h"
#include "handles.h"
#include "lasterror.h"
#include "modemclass.h"
#include "modemlines.h"
#include "registry.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <dirent.h>
#include <fstream>
#include <sys/stat.h>
#include <sys/sysmacros.h>

namespace zq::modem {

namespace {

std::string ReadString(HKEY key, const char* name)
{
    char buf[4096] = {};
    DWORD size = sizeof buf - 1;
    DWORD type = 0;
    if (RegQueryValueEx(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buf), &size)
        != LONG(ERROR_SUCCESS))
        return {};
    return std::string(buf, strnlen(buf, size));
}

// What udev knows of a port: its model, the device's serial identity, and
// whether it looks like a modem.
std::string UdevModel(const std::string& device, bool& candidate, std::string& identity)
{
    candidate = false;
    identity.clear();
    struct stat st { };
    if (stat(device.c_str(), &st) != 0)
        return {};
    std::ifstream f(
        "/run/udev/data/c" + std::to_string(major(st.st_rdev)) + ":" + std::to_string(minor(st.st_rdev)));
    std::string line, model;
    while (std::getline(f, line)) {
        if (line.rfind("E:ID_MODEL_FROM_DATABASE=", 0) == 0
            || (model.empty() && line.rfind("E:ID_MODEL=", 0) == 0))
            model = line.substr(line.find('=') + 1);
        if (line.rfind("E:ID_SERIAL=", 0) == 0)
            identity = line.substr(line.find('=') + 1);
        if (line == "E:ID_MM_CANDIDATE=1" || line.rfind("E:ID_MODEM", 0) == 0)
            candidate = true;
    }
    return model;
}

// Asks the port once whether a modem answers: ATE0I for its name. Empty
// when nothing answers within a second; *error is set when the port could
// not be opened.
std::string Probe(const std::string& device, DWORD* error)
{
    *error = 0;
    HANDLE h = serial::OpenCommPort(device);
    if (h == INVALID_HANDLE_VALUE) {
        *error = GetLastError();
        return {};
    }
    COMMTIMEOUTS t {};
    t.ReadIntervalTimeout = 0xFFFFFFFFu;
    t.ReadTotalTimeoutMultiplier = 0xFFFFFFFFu;
    t.ReadTotalTimeoutConstant = 100;
    t.WriteTotalTimeoutConstant = 1000;
    SetCommTimeouts(h, &t);
    AtResponseParser parser;
    std::string name;
    bool ok = false;
    const char* cmd = "ATE0I\r";
    DWORD written = 0;
    WriteFile(h, cmd, static_cast<DWORD>(std::strlen(cmd)), &written, nullptr);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(1);
    while (!ok && std::chrono::steady_clock::now() < deadline) {
        uint8_t buf[256];
        DWORD got = 0;
        if (!ReadFile(h, buf, sizeof buf, &got, nullptr))
            break;
        std::vector<AtLine> lines;
        parser.feed(buf, got, lines);
        for (const AtLine& l : lines) {
            if (l.kind == AtKind::Info && name.empty())
                name = l.text;
            if (l.kind == AtKind::Ok)
                ok = true;
        }
    }
    CloseHandle(h);
    if (!ok)
        return {};
    return name.empty() ? "Modem" : name;
}

constexpr const char* kAskedPortsKey = "SOFTWARE\\zqcomm\\Telephony\\Modem\\AskedPorts";

// The USB modems and adapters there are now.
std::vector<std::string> UsbSerialPorts()
{
    std::vector<std::string> ports;
    DIR* dir = opendir("/dev");
    if (!dir)
        return ports;
    while (dirent* e = readdir(dir)) {
        const std::string n = e->d_name;
        if (n.rfind("ttyACM", 0) == 0 || n.rfind("ttyUSB", 0) == 0)
            ports.push_back("/dev/" + n);
    }
    closedir(dir);
    std::sort(ports.begin(), ports.end());
    return ports;
}

} // namespace

std::string DevicePath(const std::string& attachedTo)
{
    if (attachedTo.empty() || attachedTo[0] == '/')
        return attachedTo;
    return "/dev/" + attachedTo;
}

std::string AttachedToValue(const std::string& port)
{
    if (port.size() > 5 && port.rfind("/dev/", 0) == 0)
        return port.substr(5);
    return port;
}

bool PortPresent(const std::string& device)
{
    struct stat st { };
    return stat(device.c_str(), &st) == 0;
}

std::string CurrentUserInit(const ModemInfo& modem)
{
    HKEY key = nullptr;
    if (RegOpenKeyEx(HKEY_LOCAL_MACHINE, modem.registryKey.c_str(), 0, KEY_QUERY_VALUE, &key)
        != LONG(ERROR_SUCCESS))
        return modem.userInit;
    std::string userInit = ReadString(key, "UserInit");
    RegCloseKey(key);
    return userInit;
}

std::vector<ModemInfo> ListClassModems(bool* read)
{
    std::vector<ModemInfo> out;
    if (read)
        *read = false;
    HKEY cls = nullptr;
    if (RegOpenKeyEx(
            HKEY_LOCAL_MACHINE, registry::kModemClassKey, 0, KEY_ENUMERATE_SUB_KEYS | KEY_QUERY_VALUE, &cls)
        != LONG(ERROR_SUCCESS))
        return out;
    if (read)
        *read = true;
    for (DWORD i = 0;; ++i) {
        char sub[256];
        DWORD len = sizeof sub;
        if (RegEnumKeyEx(cls, i, sub, &len, nullptr, nullptr, nullptr, nullptr) != LONG(ERROR_SUCCESS))
            break;
        HKEY k = nullptr;
        if (RegOpenKeyEx(cls, sub, 0, KEY_QUERY_VALUE, &k) != LONG(ERROR_SUCCESS))
            continue;
        ModemInfo m;
        m.name = ReadString(k, "FriendlyName");
        m.device = DevicePath(ReadString(k, "AttachedTo"));
        m.userInit = ReadString(k, "UserInit");
        m.registryKey = std::string(registry::kModemClassKey) + "\\" + sub;
        m.subkey = sub;
        RegCloseKey(k);
        if (!m.name.empty() && !m.device.empty())
            out.push_back(m);
    }
    RegCloseKey(cls);
    return out;
}

std::vector<PortAnswer> ScanSerialPorts(const std::vector<std::string>& named)
{
    std::vector<std::string> known;
    for (const ModemInfo& m : ListClassModems())
        known.push_back(m.device);
    const bool all = named.empty();
    std::vector<std::string> ports;
    for (const std::string& p : all ? UsbSerialPorts() : named)
        ports.push_back(DevicePath(AttachedToValue(p)));
    // Ports asked before, with what was plugged into them then (udev's
    // serial identity, then a line end, so that a port asked while udev knew
    // nothing is told from one never asked): a port is asked again only when
    // another device sits on it.
    HKEY asked = nullptr;
    RegCreateKeyEx(HKEY_LOCAL_MACHINE, kAskedPortsKey, 0, nullptr, REG_OPTION_NON_VOLATILE,
        KEY_QUERY_VALUE | KEY_SET_VALUE, nullptr, &asked, nullptr);
    std::vector<PortAnswer> out;
    for (const std::string& port : ports) {
        PortAnswer a;
        a.port = port;
        if (std::find(known.begin(), known.end(), port) != known.end()) {
            a.result = PortAnswer::Result::InClass;
            out.push_back(a);
            continue;
        }
        bool candidate = false;
        std::string identity;
        std::string model = UdevModel(port, candidate, identity);
        const std::string askedWith = asked ? ReadString(asked, port.c_str()) : std::string();
        if (all && asked && askedWith == identity + "\n") {
            a.result = PortAnswer::Result::AskedBefore;
            out.push_back(a);
            continue;
        }
        const std::string answer = Probe(port, &a.error);
        if (asked && a.error == 0) {
            const std::string value = identity + "\n";
            RegSetValueEx(asked, port.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                DWORD(value.size() + 1));
        }
        if (answer.empty()) {
            a.result = a.error ? PortAnswer::Result::CannotOpen : PortAnswer::Result::NoAnswer;
            OutputDebugString("Modem: nothing answers on " + port + ".");
            out.push_back(a);
            continue;
        }
        if (model.empty())
            model = answer;
        const std::string attachedTo = AttachedToValue(port);
        a.name = model + " (" + attachedTo + ")";
        a.subkey = telephony::PublishModemLine(a.name, attachedTo);
        a.result = a.subkey.empty() ? PortAnswer::Result::NotSaved : PortAnswer::Result::Added;
        known.push_back(port);
        out.push_back(a);
    }
    if (asked)
        RegCloseKey(asked);
    return out;
}

} // namespace zq::modem
