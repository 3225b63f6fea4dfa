// Port and agent forwarding as services of the SSH-2 connection layer: the forwarder's channels (direct-tcpip ones
// we open, forwarded-tcpip and auth-agent ones the host opens) as rows of the channel table, tcpip-forward requests,
// and a window per channel that reopens only by what the local end took (RFC 4254 sections 5.2 and 7).
#include <map>

#include "session/profile.h"
#include "session/session.h"
#include "ssh/ssh2.h"
#include "ssh/ssh2_services.h"

namespace ssh {
namespace {
constexpr std::uint32_t tunnel_window = 512 * 1024;
constexpr std::uint32_t tunnel_max_packet = 32 * 1024;
constexpr std::uint32_t open_prohibited = 1;  // SSH_OPEN_ADMINISTRATIVELY_PROHIBITED
}  // namespace

struct tunnel_service::port final : fwd::ssh_tunnels, channel_handler {
    port(ssh2_connection& conn, channel_service& owner)
        : e(conn), service(owner), forwarder(*conn.network(), *this, [this](std::string_view t) { note(t); }) {
        forwarder.set_hold(conn.hold());
    }
    ~port() override { forwarder.stop(); }

    struct row {
        fwd::channel_events* ev = nullptr;  // null until the forwarder accepts a channel the host opened
        bool close_when_open = false;       // closed by the forwarder before the host confirmed
        bool eof_after_data = false;        // EOF asked for while data still waited for window
    };

    void note(std::string_view t) { e.notice(t); }
    channel* open_row(fwd::channel_id ch) const {
        channel* c = e.channels().find(ch);
        return c && c->state == channel_state::open ? c : nullptr;
    }
    // The row and its channel go; the link that was told about it, if any, is returned to be told the end.
    fwd::channel_events* drop_row(std::uint32_t id) {
        const auto it = rows.find(id);
        fwd::channel_events* ev = it == rows.end() ? nullptr : it->second.ev;
        if (it != rows.end()) rows.erase(it);
        e.channels().remove(id);
        return ev;
    }
    // Disconnect: every tunnel's channel is closed before the session's, and nothing more is forwarded.
    void close_all() {
        for (const auto& [id, r] : rows) {
            channel* c = open_row(id);
            if (c) send_close(*c);
            if (e.closed()) return;
        }
        forwarder.stop();
    }
    void send_close(channel& c) { e.send_close(c); }
    void send_eof_now(const channel& c) { e.send_eof(c); }

    // ----- fwd::ssh_tunnels -----
    fwd::channel_id open_direct(std::string_view host, std::uint16_t port, std::string_view origin,
                                std::uint16_t origin_port, fwd::channel_events& ev) override {
        if (e.closed()) return 0;
        channel* c = e.channels().add(*this, tunnel_window, tunnel_max_packet, true, tunnel_window);
        if (!c) return 0;
        rows[c->local_id].ev = &ev;
        const std::uint32_t id = c->local_id;
        wire_writer w = e.channel_open("direct-tcpip", *c);
        w.string(host);
        w.u32(port);
        w.string(origin);
        w.u32(origin_port);
        e.link().send(w);
        return id;
    }
    std::size_t send_room(fwd::channel_id ch) const override {
        const channel* c = open_row(ch);
        if (!c || c->pending.size() >= c->remote_window) return 0;
        return c->remote_window - c->pending.size();
    }
    void send(fwd::channel_id ch, std::span<const std::uint8_t> bytes) override {
        channel* c = open_row(ch);
        if (!c) return;
        // Within the room asked for, so nothing waits in practice; the bound holds whatever a caller does.
        const std::size_t k = std::min(bytes.size(), c->pending_limit - std::min(c->pending_limit, c->pending.size()));
        c->pending.insert(c->pending.end(), bytes.begin(), bytes.begin() + std::ptrdiff_t(k));
        e.flush_pending(*c);
    }
    void send_eof(fwd::channel_id ch) override {
        channel* c = open_row(ch);
        if (!c) return;
        if (!c->pending.empty()) {
            rows[ch].eof_after_data = true;
            return;
        }
        send_eof_now(*c);
    }
    void close(fwd::channel_id ch) override {
        channel* c = e.channels().find(ch);
        if (!c) return;
        if (c->state == channel_state::opening) {
            rows[ch].close_when_open = true;
            return;
        }
        if (c->state == channel_state::open) send_close(*c);
    }
    void consumed(fwd::channel_id ch, std::size_t n) override {
        channel* c = open_row(ch);
        if (!c) return;
        if (const std::uint32_t add = reopen_window(*c, n)) e.send_window_adjust(*c, add);
    }
    bool request_remote(std::string_view address, std::uint16_t port) override {
        if (e.closed()) return false;
        wire_writer w = e.global_request("tcpip-forward", service);
        w.string(address);
        w.u32(port);
        e.link().send(w);
        return true;
    }
    void cancel_remote(std::string_view address, std::uint16_t port) override {
        if (e.closed()) return;
        wire_writer w = e.link().begin(SSH_MSG_GLOBAL_REQUEST);
        w.string("cancel-tcpip-forward");
        w.boolean(false);
        w.string(address);
        w.u32(port);
        e.link().send(w);
    }
    void accept_open(fwd::channel_id ch, fwd::channel_events& ev) override {
        channel* c = e.channels().find(ch);
        if (!c || c->state != channel_state::opening) return;
        rows[ch].ev = &ev;
        e.confirm_open(*c);
    }
    void refuse_open(fwd::channel_id ch, std::uint32_t reason, std::string_view why) override {
        channel* c = e.channels().find(ch);
        if (!c || c->state != channel_state::opening) return;
        const std::uint32_t remote = c->remote_id;
        drop_row(ch);
        e.refuse_channel(remote, reason, why);
    }

    // ----- channel_handler -----
    bool own_window() const override { return true; }
    void opened(channel& c, wire_reader&) override {
        row& r = rows[c.local_id];
        if (r.close_when_open) return send_close(c);
        if (r.ev) r.ev->channel_opened();
    }
    void open_refused(channel& c, std::uint32_t reason, std::string_view text) override {
        if (fwd::channel_events* ev = drop_row(c.local_id)) ev->channel_failed(reason, text);
    }
    void data(channel& c, std::span<const std::uint8_t> d, std::optional<std::uint32_t> code) override {
        // The window counts what arrived; it reopens by what the local end takes (consumed). What a host sends
        // beyond it is dropped, as OpenSSH does: the link holds no more than the window it gave.
        if (d.size() > c.local_window) {
            e.io().session_log_line("channel " + std::to_string(c.local_id) + ": the host sent more than its window");
            d = d.first(c.local_window);
        }
        c.local_window -= static_cast<std::uint32_t>(d.size());
        const auto it = rows.find(c.local_id);
        if (code || it == rows.end() || !it->second.ev || c.state != channel_state::open) {
            consumed(c.local_id, d.size());  // nobody takes it: keep the window from closing for good
            return;
        }
        it->second.ev->channel_data(d);
    }
    void eof(channel& c) override {
        const auto it = rows.find(c.local_id);
        if (it != rows.end() && it->second.ev) it->second.ev->channel_eof();
    }
    void closed(channel& c) override {
        // The host's CLOSE: ours answers it unless it went already; the row is gone either way.
        if (c.state == channel_state::open) send_close(c);
        if (fwd::channel_events* ev = drop_row(c.local_id)) ev->channel_closed();
    }
    void request(channel& c, std::string_view, bool want_reply, wire_reader&) override {
        e.refuse_request(c, want_reply);
    }
    void reply(channel&, bool) override {}
    void writable(channel& c) override {
        const auto it = rows.find(c.local_id);
        if (it == rows.end()) return;
        if (it->second.eof_after_data && c.pending.empty()) {
            it->second.eof_after_data = false;
            send_eof_now(c);
            return;
        }
        if (it->second.ev) it->second.ev->channel_writable();
    }

    ssh2_connection& e;
    channel_service& service;
    std::map<std::uint32_t, row> rows;
    fwd::forwarder forwarder;
};

void tunnel_service::port_deleter::operator()(port* p) const { delete p; }

tunnel_service::~tunnel_service() = default;

void tunnel_service::stop() {
    if (port_) port_->forwarder.stop();
}

void tunnel_service::close() {
    if (port_) port_->close_all();
}

std::vector<fwd::forwarder::status> tunnel_service::status() const {
    return port_ ? port_->forwarder.tunnels() : std::vector<fwd::forwarder::status>{};
}

fwd::ssh_tunnels* tunnel_service::direct_channels() {
    if (!conn_.negotiated() || !conn_.network() || conn_.closed()) return nullptr;
    if (!port_) port_.reset(new port(conn_, *this));
    return port_.get();
}

void tunnel_service::start() {
    const ssh_profile& s = conn_.profile().ssh;
    if (!conn_.negotiated() || !conn_.network() || port_) return;
    const fwd::forward_list list = fwd::parse_forwards(s.ssh_forwards);
    if (list.rules.empty() && list.errors.empty() && !s.ssh_agent_forward) return;
    port_.reset(new port(conn_, *this));
    for (const fwd::forward_error& err : list.errors)
        port_->note("Forward \"" + err.entry + "\" is not used: " + err.why);
    port_->forwarder.allow_agent(s.ssh_agent_forward != 0);
    port_->forwarder.start(list.rules);
}

channel* tunnel_service::host_row(const host_open& o) {
    channel* c = conn_.host_channel(o, *port_, tunnel_window, tunnel_max_packet, tunnel_window);
    if (c) port_->rows[c->local_id];
    return c;
}

void tunnel_service::open_from_host(std::string_view, const host_open& o, wire_reader& r) {
    const auto address = r.text(256);
    const auto port = r.u32();
    const auto origin = r.text(256);
    const auto origin_port = r.u32();
    if (!r.ok() || *port > 65535) return conn_.link().fail(msg::protocol_violation);
    (void)origin_port;
    if (!conn_.link().finished(r)) return;
    const channel* c = host_row(o);
    if (!c) return;
    const std::uint32_t id = c->local_id;
    if (!port_->forwarder.forwarded(*address, std::uint16_t(*port), id, host_text(*origin, 256)))
        port_->refuse_open(id, open_prohibited, "no such forward was asked for");
}

void tunnel_service::take_agent_channel(const host_open& o) {
    const channel* c = host_row(o);
    if (!c) return;
    const std::uint32_t id = c->local_id;
    if (!port_->forwarder.agent_opened(id)) port_->refuse_open(id, open_prohibited, "no such forward was asked for");
}

void tunnel_service::global_answer(bool success) {
    if (port_) port_->forwarder.remote_answer(success);
}

// ---------------------------------------------------------------------------------------------------------------
// Agent forwarding

bool agent_service::wanted() const {
    return conn_.negotiated() && conn_.network() && conn_.profile().ssh.ssh_agent_forward;
}

void agent_service::session_opened(const channel& session) {
    if (!wanted()) return;
    // Asked before the shell starts, so that its environment names the forwarded agent.
    wire_writer w = conn_.link().begin(SSH_MSG_CHANNEL_REQUEST);
    w.u32(session.remote_id);
    w.string("auth-agent-req@openssh.com");
    w.boolean(false);
    conn_.link().send(w);
}

void agent_service::open_from_host(std::string_view, const host_open& o, wire_reader& r) {
    if (conn_.link().finished(r)) tunnels_.take_agent_channel(o);
}

}  // namespace ssh
