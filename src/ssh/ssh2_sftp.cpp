// SFTP as a service of the SSH-2 connection layer: a second "session" channel whose "subsystem" request asks for "sftp"
// (RFC 4254 section 6.5), carrying an sftp::client. Its window reopens only by what the client consumed, and the
// client's writes wait for room in the channel's queue, which empties as the host's window allows.
#include "session/profile.h"
#include "session/session.h"
#include "ssh/ssh2.h"
#include "ssh/ssh2_services.h"

namespace ssh {
namespace {
// Room for the reads a transfer keeps outstanding (4 MiB) to arrive without waiting for an adjustment.
constexpr std::uint32_t sftp_window = 8 * 1024 * 1024;
constexpr std::uint32_t sftp_max_packet = 32 * 1024;
// Writes of a transfer outstanding (4 MiB) plus the largest single request.
constexpr std::size_t sftp_pending_limit = 4 * 1024 * 1024 + 512 * 1024;
}  // namespace

struct sftp_service::port final : channel_handler, sftp::client::transport {
    port(ssh2_connection& conn, sftp_events ev) : e(conn), events(std::move(ev)), client(*this, files) {}

    ssh2_connection& e;
    sftp_events events;
    sftp::posix_files files;
    sftp::client client;
    std::optional<std::uint32_t> id;  // the channel's number while it is in the table
    bool over = false;

    channel* row() const {
        channel* c = id ? e.channels().find(*id) : nullptr;
        return c && c->state == channel_state::open ? c : nullptr;
    }
    // The channel is over: the engine closes it (replies still on their way are dropped there, never taken as a
    // protocol error), and the client and the owner hear why (once).
    void end(std::string_view why) {
        if (id) e.release_channel(*id);
        id.reset();
        if (over) return;
        over = true;
        client.lost(why);
        if (events.ended) events.ended(why);
    }

    // ----- sftp::client::transport -----
    void send(std::span<const std::uint8_t> bytes) override {
        channel* c = row();
        if (!c || e.closed()) return;
        // The client asks for room before large writes; small requests may go a little past the limit.
        c->pending.insert(c->pending.end(), bytes.begin(), bytes.end());
        e.flush_pending(*c);
    }
    std::size_t room() const override {
        const channel* c = row();
        if (!c || c->pending.size() >= sftp_pending_limit) return 0;
        return sftp_pending_limit - c->pending.size();
    }

    // ----- channel_handler -----
    bool own_window() const override { return true; }
    void opened(channel& c, wire_reader&) override {
        wire_writer w = e.link().begin(SSH_MSG_CHANNEL_REQUEST);
        w.u32(c.remote_id);
        w.string("subsystem");
        w.boolean(true);
        w.string("sftp");
        e.link().send(w);
    }
    void open_refused(channel&, std::uint32_t reason, std::string_view text) override {
        end("the host refused the SFTP channel: " + std::string(text) + " (reason " + std::to_string(reason) + ")");
    }
    void reply(channel&, bool success) override {
        if (!success) return end("the host refused the sftp subsystem");
        client.start([this](const sftp::outcome& o) {
            if (!o.ok) return;  // lost() or the client's failure reaches `ended` through end()
            if (events.ready) events.ready(client);
        });
    }
    void data(channel& c, std::span<const std::uint8_t> d, std::optional<std::uint32_t> code) override {
        if (d.size() > c.local_window) {
            e.io().session_log_line("SFTP channel: the host sent more than its window");
            d = d.first(c.local_window);
        }
        c.local_window -= static_cast<std::uint32_t>(d.size());
        const std::uint32_t local_id = c.local_id;
        if (code) {
            e.io().session_log_line("SFTP server: " + host_text(d, 200));
        } else {
            client.receive(d);
            if (e.closed()) return;
            if (!client.failure().empty() && !over) return end(std::string(client.failure()));
        }
        // What the client took (all of it: it keeps at most one packet) reopens the window.
        channel* still = e.channels().find(local_id);
        if (!still) return;
        if (const std::uint32_t add = reopen_window(*still, d.size())) e.send_window_adjust(*still, add);
    }
    void eof(channel&) override {}
    void closed(channel&) override { end("the host closed the SFTP channel"); }
    void request(channel& c, std::string_view, bool want_reply, wire_reader&) override {
        e.refuse_request(c, want_reply);
    }
    void writable(channel&) override { client.writable(); }
};

void sftp_service::port_deleter::operator()(port* p) const { delete p; }

sftp_service::~sftp_service() = default;

void sftp_service::open(sftp_events ev) {
    const bool closed = conn_.closed();
    if (!closed && port_ && port_->over && failed_.size() < max_failed) failed_.push_back(std::move(port_));
    if (closed || port_) {
        if (ev.ended)
            ev.ended(closed        ? "the session has ended"
                     : port_->over ? "too many SFTP channels failed in this session"
                                   : "an SFTP channel is open already");
        return;
    }
    wanted_ = std::move(ev);
    if (may_open_) start();
}

sftp::client* sftp_service::client() const { return port_ && !port_->over ? &port_->client : nullptr; }

void sftp_service::start() {
    may_open_ = true;
    if (!wanted_ || port_ || conn_.closed()) return;
    sftp_events ev = std::move(*wanted_);
    wanted_.reset();
    if (!conn_.negotiated()) {
        if (ev.ended) ev.ended("SFTP needs the negotiated SSH-2 mode");
        return;
    }
    port_.reset(new port(conn_, std::move(ev)));
    channel* c = conn_.channels().add(*port_, sftp_window, sftp_max_packet, true, sftp_pending_limit);
    if (!c) return port_->end("too many channels are open");
    port_->id = c->local_id;
    conn_.link().send(conn_.channel_open("session", *c));
}

void sftp_service::stop() {
    if (port_) port_->end("the session ended");
    if (wanted_) {
        sftp_events ev = std::move(*wanted_);
        wanted_.reset();
        if (ev.ended) ev.ended("the session ended before SFTP could start");
    }
}

}  // namespace ssh
