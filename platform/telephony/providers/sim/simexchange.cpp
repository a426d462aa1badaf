// The simulated exchange: its lines from the registry, its timers.
#include "simexchange_p.h"

#include "devconfig.h"
#include "modemlines.h"
#include "registry.h"

namespace zq::sim {

std::vector<telephony::ProviderLine*> SimExchange::Start(telephony::ServiceSink* sink)
{
    SimSettings settings;
    bool stored = true;
    // Programs starting together on an empty store must agree on one set of
    // lines and publish each modem once.
    registry::RegWithStoreHeld([&] {
        if (CreateDefaultLines() != LONG(ERROR_SUCCESS)) {
            stored = false;
            return;
        }
        settings = ReadSimSettings();
        for (const SimLineSettings& s : settings.lines)
            if (telephony::PublishModemLine(s.name, s.port).empty()) {
                stored = false;
                return;
            }
    });
    std::lock_guard lock(telephony::ServiceLock());
    // The store has said why (once: nothing more is written after a failed
    // write); programs then learn that the lines are not there, rather than
    // finding none.
    startError_ = stored ? 0 : LONG(LINEERR_OPERATIONFAILED);
    if (!stored)
        return {};
    alive_ = std::make_shared<bool>(true);
    sink_ = sink;
    settings_ = std::move(settings);
    std::vector<telephony::ProviderLine*> out;
    for (const SimLineSettings& s : settings_.lines) {
        auto line = std::make_unique<SimLine>(this, s, DWORD(lines_.size()));
        line->devConfig_ = ReadDevConfig(s.key);
        out.push_back(line.get());
        lines_.push_back(std::move(line));
    }
    return out;
}

bool SimExchange::SettingsChanged() const
{
    return !(ReadSimSettings() == settings_);
}

void SimExchange::Stop()
{
    // What owns threads (listeners, links) leaves the lock's reach before
    // it goes, so a thread waiting for the lock can finish.
    std::vector<std::unique_ptr<SimLine>> lines;
    std::set<std::shared_ptr<Connection>> conns;
    {
        std::lock_guard lock(telephony::ServiceLock());
        *alive_ = false;
        for (auto& conn : conns_)
            if (conn->remote)
                conn->remote->Close();
        for (telephony::TimerId id : timers_)
            sink_->CancelTimer(id);
        timers_.clear();
        for (auto& conn : conns_) {
            for (auto* leg : { conn->caller.get(), conn->called.get() })
                if (leg) {
                    leg->ReleasePort();
                    leg->ex_ = nullptr;
                    leg->line_ = nullptr;
                }
            Unlink(*conn);
        }
        conns.swap(conns_);
        lines.swap(lines_);
    }
    lines.clear();
    conns.clear();
}

telephony::TimerId SimExchange::StartTimer(DWORD ms, std::function<void()> fn)
{
    auto id = std::make_shared<telephony::TimerId>(0);
    *id = sink_->StartTimer(ms, [this, id, fn = std::move(fn)] {
        timers_.erase(*id);
        fn();
    });
    timers_.insert(*id);
    return *id;
}

void SimExchange::CancelTimer(telephony::TimerId& id)
{
    if (id) {
        sink_->CancelTimer(id);
        timers_.erase(id);
    }
    id = 0;
}

SimLine* SimExchange::LineByNumber(const std::string& number) const
{
    for (auto& l : lines_)
        if (!number.empty() && l->settings_.number == number)
            return l.get();
    return nullptr;
}

std::unique_ptr<telephony::Provider> CreateSimulatedExchange()
{
    return std::make_unique<SimExchange>();
}
} // namespace zq::sim
