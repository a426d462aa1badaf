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
#include <set>
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

constexpr const char* kAskedPortsKey = "SOFTWARE\\zqcomm\\Telephony\\Modem\\AskedPorts";

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
    // Ports asked before, with what was plugged into them then (udev's
    // serial identity, then a line end, so that a port asked while udev knew
    // nothing is told from one never asked): a port is asked again only when
    // another device sits on it.
    HKEY asked = nullptr;
    RegCreateKeyEx(HKEY_LOCAL_MACHINE, kAskedPortsKey, 0, nullptr, REG_OPTION_NON_VOLATILE,
        KEY_QUERY_VALUE | KEY_SET_VALUE, nullptr, &asked, nullptr);
    for (const std::string& port : ports) {
        if (std::find(known.begin(), known.end(), port) != known.end())
            continue;
        bool candidate = false;
        std::string identity;
        std::string model = UdevModel(port, candidate, identity);
        const std::string askedWith = asked ? ReadString(asked, port.c_str()) : std::string();
        if (asked && askedWith == identity + "\n")
            continue;
        const std::string answer = Probe(port);
        if (asked) {
            const std::string value = identity + "\n";
            RegSetValueEx(asked, port.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                DWORD(value.size() + 1));
        }
        if (answer.empty()) {
            OutputDebugString("Modem: nothing answers on " + port + ".");
            continue;
        }
        if (model.empty())
            model = answer;
        telephony::PublishModemLine(model + " (" + port.substr(5) + ")", port.substr(5));
    }
    if (asked)
        RegCloseKey(asked);
}

bool PortPresent(const std::string& device)
{
    struct stat st { };
    return stat(device.c_str(), &st) == 0;
}

bool SameModem(const ModemInfo& a, const ModemInfo& b)
{
    return a.subkey == b.subkey && a.name == b.name && a.device == b.device;
}

// How often the class and the ports are looked at while the provider runs.
constexpr DWORD kWatchMs = 1000;

class ModemProvider : public telephony::Provider {
public:
    std::string Name() const override { return "Modems"; }
    std::vector<telephony::ProviderLine*> Start(telephony::ServiceSink* sink) override
    {
        sink_ = sink;
        dispatcher_ = std::make_unique<Dispatcher>();
        std::vector<telephony::ProviderLine*> out;
        for (const ModemInfo& m : FindModems()) {
            lines_.push_back(std::make_unique<ModemLine>(m, nextIndex_++, sink, dispatcher_.get()));
            out.push_back(lines_.back().get());
        }
        std::lock_guard<std::recursive_mutex> lock(telephony::ServiceLock());
        watch_ = sink_->StartTimer(kWatchMs, [this] { Watch(); });
        return out;
    }
    void Stop() override
    {
        {
            std::lock_guard<std::recursive_mutex> lock(telephony::ServiceLock());
            if (watch_)
                sink_->CancelTimer(watch_);
            watch_ = 0;
        }
        lines_.clear();
        retired_.clear();
        dispatcher_.reset();
    }
    // Changes the watch has not taken in yet: the service may start the
    // provider afresh when no application is registered.
    bool SettingsChanged() const override
    {
        std::vector<ModemInfo> want;
        for (const ModemInfo& m : ListClassModems())
            if (Line(m) || PortPresent(m.device))
                want.push_back(m);
        if (want.size() != lines_.size())
            return true;
        for (const ModemInfo& m : want)
            if (!Line(m))
                return true;
        return false;
    }

private:
    ModemLine* Line(const ModemInfo& m) const
    {
        for (const auto& line : lines_)
            if (SameModem(line->Info(), m))
                return line.get();
        return nullptr;
    }
    // With the service lock held, on the service's timer thread: a modem
    // that left the class (or moved to another port) is removed, a port that
    // vanished or came back takes its line out of service or back, and a
    // modem of the class whose port is there becomes a new line.
    void Watch()
    {
        bool read = false;
        const std::vector<ModemInfo> now = ListClassModems(&read);
        if (!read) {
            // The class could not be read this time: nothing is concluded.
            watch_ = sink_->StartTimer(kWatchMs, [this] { Watch(); });
            return;
        }
        std::set<ModemLine*> missing;
        for (auto it = lines_.begin(); it != lines_.end();) {
            const ModemInfo& info = (*it)->Info();
            const auto same = std::find_if(
                now.begin(), now.end(), [&](const ModemInfo& m) { return SameModem(m, info); });
            // Gone only when missing twice in a row: one look may fall on
            // the class while a program rewrites it.
            if (same == now.end() && !missing_.count(it->get())) {
                missing.insert(it->get());
                ++it;
                continue;
            }
            if (same == now.end()) {
                OutputDebugString("Modem: " + info.name + " on " + info.device
                    + " left the modem class; its line is removed.");
                (*it)->Retire();
                sink_->LineRemoved(it->get());
                // Destroyed at Stop: destroying a line waits for its
                // session's thread, which is not done under the lock.
                retired_.push_back(std::move(*it));
                it = lines_.erase(it);
                continue;
            }
            (*it)->PortPresent(PortPresent(info.device));
            ++it;
        }
        missing_ = std::move(missing);
        for (const ModemInfo& m : now) {
            if (Line(m) || !PortPresent(m.device))
                continue;
            OutputDebugString("Modem: " + m.name + " on " + m.device + " is a new line.");
            lines_.push_back(std::make_unique<ModemLine>(m, nextIndex_++, sink_, dispatcher_.get()));
            sink_->LineAdded(lines_.back().get());
        }
        watch_ = sink_->StartTimer(kWatchMs, [this] { Watch(); });
    }

    telephony::ServiceSink* sink_ = nullptr;
    std::unique_ptr<Dispatcher> dispatcher_;
    std::vector<std::unique_ptr<ModemLine>> lines_;
    std::vector<std::unique_ptr<ModemLine>> retired_;
    DWORD nextIndex_ = 0;
    telephony::TimerId watch_ = 0;
    std::set<ModemLine*> missing_; // lines whose modem the last look did not find
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
    for (const ModemInfo& m : ListClassModems())
        // A modem whose port is not there (unplugged) is not offered.
        if (PortPresent(m.device))
            out.push_back(m);
    return out;
}

std::vector<ModemInfo> ListClassModems(bool* read)
{
    std::vector<ModemInfo> out;
    if (read)
        *read = false;
    HKEY cls = nullptr;
    if (RegOpenKeyEx(HKEY_LOCAL_MACHINE, kModemClassKey, 0, KEY_ENUMERATE_SUB_KEYS | KEY_QUERY_VALUE, &cls)
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
        m.registryKey = std::string(kModemClassKey) + "\\" + sub;
        m.subkey = sub;
        RegCloseKey(k);
        if (!m.name.empty() && !m.device.empty())
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
