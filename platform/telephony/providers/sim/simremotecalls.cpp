// Calls between simulated lines of different programs: the dialling side
// and the waiting side of a link.
#include "simexchange_p.h"

#include <cstring>

namespace zq::sim {

// Calls between programs -----------------------------------------------------

void SimExchange::DialRemote(
    const std::shared_ptr<Connection>& conn, std::shared_ptr<remote::Link> link, const std::string& dialled)
{
    conn->remote = link;
    std::weak_ptr<Connection> weak = conn;
    std::weak_ptr<bool> alive = alive_;
    // Audio goes straight into what the line hears, without the lock. The
    // reader holds that sound itself and never looks at the line: a restart
    // of the exchange frees its lines while audio may still be arriving.
    std::shared_ptr<zq::wave::PcmPipe> heard = conn->caller->line_->audio_->In();
    link->Start(
        [this, weak, alive, heard](char type, const std::string& payload) {
            if (type == remote::kAudio) {
                heard->Write(payload.data(), payload.size());
                return;
            }
            auto conn = weak.lock();
            if (!conn)
                return;
            std::lock_guard lock(telephony::ServiceLock());
            if (!alive.lock() || !*alive.lock() || conn->ended || type != remote::kState
                || payload.size() != 8)
                return;
            uint32_t values[2];
            std::memcpy(values, payload.data(), sizeof values);
            const DWORD state = values[0], mode = values[1];
            if (state == LINECALLSTATE_DISCONNECTED || state == LINECALLSTATE_IDLE) {
                End(conn, state == LINECALLSTATE_IDLE ? LINEDISCONNECTMODE_NORMAL : mode, 0);
            } else if (state == LINECALLSTATE_CONNECTED && !conn->connected) {
                conn->connected = true;
                SetState(conn->caller, state, mode);
                auto link = conn->remote;
                conn->caller->line_->audio_->SetForward(
                    [link](const void* d, size_t n) { link->Send(remote::kAudio, d, uint32_t(n)); });
            } else if (state != conn->caller->state_) {
                SetState(conn->caller, state, mode);
            }
        },
        [this, weak, alive] {
            auto conn = weak.lock();
            std::lock_guard lock(telephony::ServiceLock());
            if (conn && alive.lock() && *alive.lock() && !conn->ended)
                End(conn, LINEDISCONNECTMODE_NORMAL, 0);
        });
    const telephony::CallDetails& d = conn->caller->details_;
    const std::string dial = dialled + '\0' + d.callerId + '\0' + d.callerName;
    link->Send(remote::kDial, dial);
}

void SimExchange::AcceptRemote(std::shared_ptr<remote::Link> link)
{
    // Runs on the listener's thread: only the link's own thread takes the
    // service lock, when the caller's dial arrives.
    auto conn = std::make_shared<std::weak_ptr<Connection>>();
    std::weak_ptr<bool> alive = alive_;
    std::weak_ptr<remote::Link> weakLink = link;
    link->Start(
        [this, conn, alive, weakLink](char type, const std::string& payload) {
            if (type == remote::kAudio) {
                if (auto c = conn->lock(); c && c->remoteCaller)
                    c->remoteCaller->audio_->Play(payload.data(), payload.size());
                return;
            }
            std::lock_guard lock(telephony::ServiceLock());
            if (!alive.lock() || !*alive.lock())
                return;
            if (type == remote::kDial && conn->expired()) {
                if (auto l = weakLink.lock())
                    RemoteDialled(l, payload);
                for (auto& c : conns_)
                    if (c->remote == weakLink.lock())
                        *conn = c;
            } else if (type == remote::kEnd && payload.size() == 4) {
                uint32_t mode;
                std::memcpy(&mode, payload.data(), 4);
                if (auto c = conn->lock(); c && !c->ended)
                    End(c, LINEDISCONNECTMODE_NORMAL, mode);
            }
        },
        [this, conn, alive] {
            std::lock_guard lock(telephony::ServiceLock());
            if (auto c = conn->lock(); c && alive.lock() && *alive.lock() && !c->ended)
                End(c, LINEDISCONNECTMODE_NORMAL, LINEDISCONNECTMODE_NORMAL);
        });
}

void SimExchange::RemoteDialled(std::shared_ptr<remote::Link> link, const std::string& payload)
{
    std::vector<std::string> parts;
    size_t start = 0;
    for (size_t i = 0; i <= payload.size(); ++i)
        if (i == payload.size() || payload[i] == '\0') {
            parts.push_back(payload.substr(start, i - start));
            start = i + 1;
        }
    parts.resize(3);
    const DialString dialled = ParseDialString(parts[0]);
    SimLine* callee = LineByNumber(dialled.number);
    if (!callee) {
        link->Close();
        return;
    }
    auto conn = std::make_shared<Connection>();
    conn->remote = link;
    conn->dialled = parts[0];
    conn->calledLine = callee;
    conn->script = Overlay(callee->settings_.script, dialled);

    // The caller's line is a stand-in with wave endpoints of its own that
    // only the link feeds and reads.
    SimLineSettings s;
    s.key = "remote";
    s.name = parts[2].empty() ? parts[1] : parts[2];
    s.number = parts[1];
    s.callerId = parts[1];
    s.callerName = parts[2];
    conn->remoteCaller = std::make_unique<SimLine>(this, s, DWORD(-1));
    conn->remoteCaller->devConfig_ = callee->devConfig_;

    telephony::CallDetails d;
    d.bearerMode = LINEBEARERMODE_VOICE;
    d.mediaMode = LINEMEDIAMODE_INTERACTIVEVOICE;
    d.origin = LINECALLORIGIN_OUTBOUND;
    d.callerId = s.callerId;
    d.callerName = s.callerName;
    d.calledId = dialled.number;
    d.calledName = callee->settings_.name;
    auto a = std::make_shared<SimLeg>(this, conn->remoteCaller.get(), d);
    a->state_ = LINECALLSTATE_DIALING;
    a->released_ = true;
    a->conn_ = conn;
    conn->caller = a;
    conns_.insert(conn);
    Proceed(conn);
}

} // namespace zq::sim
