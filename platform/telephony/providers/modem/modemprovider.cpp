#include "modemprovider.h"

#include "debugout.h"
#include "modemdiscovery.h"
#include "modemline_p.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <set>

namespace zq::modem {

namespace {

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
        ScanSerialPorts();
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

std::unique_ptr<telephony::Provider> CreateModemProvider()
{
    return std::make_unique<ModemProvider>();
}

} // namespace zq::modem
