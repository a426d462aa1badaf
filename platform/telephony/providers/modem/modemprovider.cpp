#include "modemprovider.h"

#include "atresponse_p.h"
#include "commapi.h"
#include "debugout.h"
#include "handles.h"
#include "modemclass.h"
#include "modemline_p.h"
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

std::string DevicePath(const std::string& attachedTo)
{
    if (attachedTo.empty() || attachedTo[0] == '/')
        return attachedTo;
    return "/dev/" + attachedTo;
}

// What udev knows of a port: its model, and whether it looks like a modem.
std::string UdevModel(const std::string& device, bool& candidate)
{
    candidate = false;
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
        if (line == "E:ID_MM_CANDIDATE=1" || line.rfind("E:ID_MODEM", 0) == 0)
            candidate = true;
    }
    return model;
}

// Asks the port once whether a modem answers: ATI for its name, then
// AT+FCLASS=? for voice. Empty when nothing answers within a second.
std::string Probe(const std::string& device)
{
    HANDLE h = OpenCommPort(device);
    if (h == INVALID_HANDLE_VALUE)
        return {};
    COMMTIMEOUTS t {};
    t.ReadIntervalTimeout = 0xFFFFFFFFu;
    t.ReadTotalTimeoutMultiplier = 0xFFFFFFFFu;
    t.ReadTotalTimeoutConstant = 100;
    t.WriteTotalTimeoutConstant = 1000;
    SetCommTimeouts(h, &t);
    AtResponseParser parser;
    std::string name;
    bool ok = false;
    for (const char* cmd : { "ATE0I\r" }) {
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
    }
    CloseHandle(h);
    if (!ok)
        return {};
    return name.empty() ? "Modem" : name;
}

// The serial ports a modem may sit on: USB modems and adapters. Built-in
// UARTs (ttyS*) exist whether or not anything is attached, so they are only
// used when listed in the modem class.
void ScanPorts()
{
    HKEY cls = nullptr;
    std::vector<std::string> known;
    if (RegOpenKeyEx(HKEY_LOCAL_MACHINE, kModemClassKey, 0, KEY_ENUMERATE_SUB_KEYS | KEY_QUERY_VALUE, &cls)
        == LONG(ERROR_SUCCESS)) {
        for (DWORD i = 0;; ++i) {
            char sub[256];
            DWORD len = sizeof sub;
            if (RegEnumKeyEx(cls, i, sub, &len, nullptr, nullptr, nullptr, nullptr) != LONG(ERROR_SUCCESS))
                break;
            HKEY k = nullptr;
            if (RegOpenKeyEx(cls, sub, 0, KEY_QUERY_VALUE, &k) == LONG(ERROR_SUCCESS)) {
                known.push_back(DevicePath(ReadString(k, "AttachedTo")));
                // A port asked before, with or without an answer, is not asked again.
                RegCloseKey(k);
            }
        }
        RegCloseKey(cls);
    }
    DIR* dir = opendir("/dev");
    if (!dir)
        return;
    std::vector<std::string> ports;
    while (dirent* e = readdir(dir)) {
        const std::string n = e->d_name;
        if (n.rfind("ttyACM", 0) == 0 || n.rfind("ttyUSB", 0) == 0)
            ports.push_back("/dev/" + n);
    }
    closedir(dir);
    std::sort(ports.begin(), ports.end());
    for (const std::string& port : ports) {
        if (std::find(known.begin(), known.end(), port) != known.end())
            continue;
        bool candidate = false;
        std::string model = UdevModel(port, candidate);
        const std::string answer = Probe(port);
        if (answer.empty()) {
            OutputDebugString("Modem: nothing answers on " + port + ".");
            continue;
        }
        if (model.empty())
            model = answer;
        telephony::PublishModemLine(model + " (" + port.substr(5) + ")", port.substr(5));
    }
}

class ModemProvider : public telephony::Provider {
public:
    std::string Name() const override { return "Modems"; }
    std::vector<telephony::ProviderLine*> Start(telephony::ServiceSink* sink) override
    {
        dispatcher_ = std::make_unique<Dispatcher>();
        std::vector<telephony::ProviderLine*> out;
        DWORD index = 0;
        started_ = FindModems();
        for (const ModemInfo& m : started_) {
            lines_.push_back(std::make_unique<ModemLine>(m, index++, sink, dispatcher_.get()));
            out.push_back(lines_.back().get());
        }
        return out;
    }
    void Stop() override
    {
        lines_.clear();
        dispatcher_.reset();
    }
    // A modem added to or removed from the class, or moved to another port.
    bool SettingsChanged() const override
    {
        const std::vector<ModemInfo> now = ListModems();
        if (now.size() != started_.size())
            return true;
        for (size_t i = 0; i < now.size(); ++i) {
            if (now[i].name != started_[i].name || now[i].device != started_[i].device
                || now[i].subkey != started_[i].subkey)
                return true;
        }
        return false;
    }

private:
    std::vector<ModemInfo> started_;
    std::unique_ptr<Dispatcher> dispatcher_;
    std::vector<std::unique_ptr<ModemLine>> lines_;
};

} // namespace

std::vector<ModemInfo> FindModems()
{
    const char* scan = std::getenv("ZQ_MODEM_SCAN");
    if (scan && std::strcmp(scan, "1") == 0)
        ScanPorts();
    return ListModems();
}

std::vector<ModemInfo> ListModems()
{
    std::vector<ModemInfo> out;
    HKEY cls = nullptr;
    if (RegOpenKeyEx(HKEY_LOCAL_MACHINE, kModemClassKey, 0, KEY_ENUMERATE_SUB_KEYS | KEY_QUERY_VALUE, &cls)
        != LONG(ERROR_SUCCESS))
        return out;
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
        m.registryKey = std::string(kModemClassKey) + "\\" + sub;
        m.subkey = sub;
        RegCloseKey(k);
        // A modem whose port is not there (unplugged) is not offered.
        struct stat st { };
        if (!m.name.empty() && !m.device.empty() && stat(m.device.c_str(), &st) == 0)
            out.push_back(m);
    }
    RegCloseKey(cls);
    return out;
}

std::unique_ptr<telephony::Provider> CreateModemProvider()
{
    return std::make_unique<ModemProvider>();
}

} // namespace zq::modem
