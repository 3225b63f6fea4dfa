#pragma once
// The port forwards of one SSH connection: listeners for local and dynamic (SOCKS) forwards, the host's listeners
// for remote ones, and for each TCP connection a link between its local stream and an SSH channel.
//
// Flow control is per link: a link reads from its local program only while its channel has room in the host's
// window, and tells the connection that host data was consumed only once its local stream took it, so a slow local
// reader closes its own channel's window and nothing else (the shell and the other tunnels go on). What a link holds
// is bounded by the window it gives.
//
// Failures (a port in use, the host refusing a forward or a channel) are reported through the note callback with
// their cause; the shell is never ended by a tunnel.
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "forward/forward_rule.h"
#include "forward/tunnel_ports.h"

namespace fwd {

inline constexpr std::size_t max_links = 256;  // open connections through all tunnels together
// A SOCKS program has this long to make its request, and this many may be making one at a time: idle connections
// would otherwise hold the -D port's links without bound.
inline constexpr int socks_time_limit_ms = 10000;
inline constexpr std::size_t max_socks_waiting = 32;

class forwarder {
public:
    using note_fn = std::function<void(std::string_view)>;
    forwarder(local_network& net, ssh_tunnels& ssh, note_fn note);
    ~forwarder();
    forwarder(const forwarder&) = delete;
    forwarder& operator=(const forwarder&) = delete;

    // Held for the length of every call that comes from the local network (a connection accepted, a stream's news),
    // so that the connection's owner does not free the connection, and this forwarder with it, under that call.
    using hold_fn = std::function<std::shared_ptr<void>()>;
    void set_hold(hold_fn h) { hold_ = std::move(h); }

    // Opens the local listeners and asks the host for the remote ones. Called once the session is signed on.
    void start(std::span<const forward_rule> rules);
    // Closes every listener and link (the connection is ending).
    void stop();

    // Agent forwarding: once allowed (the host was asked with auth-agent-req), the host's auth-agent channels reach
    // the local agent. agent_opened: false when not allowed (the caller refuses); true: answered later, as
    // forwarded.
    void allow_agent(bool on) { agent_allowed_ = on; }
    bool agent_opened(channel_id ch);

    // The host's answer to the oldest remote request still unanswered.
    void remote_answer(bool ok);
    // The host opened a forwarded-tcpip channel for address:port. False: no such forward here (the caller refuses
    // the channel). True: the forwarder answers later through ssh_tunnels::accept_open / refuse_open.
    bool forwarded(std::string_view address, std::uint16_t port, channel_id ch, std::string_view origin);

    struct status {
        std::string what;                      // describe_forward
        std::string state;                     // "listening", "asked", "failed: ..."
        int open = 0;                          // connections now
        std::uint64_t sent = 0, received = 0;  // bytes to and from the host, all connections so far
    };
    std::vector<status> tunnels() const;

    struct link;  // one TCP connection through a tunnel

private:
    struct entry;
    friend struct link;
    void accept_on(entry& e, std::unique_ptr<tunnel_stream> s);
    link& add_link(std::unique_ptr<link> l);
    // A link for a channel the host opened, its local end made by `dial` (why: the cause when it returns null);
    // the host's answer follows the connection.
    using dial_fn = std::function<std::unique_ptr<tunnel_stream>(link&, std::string& why)>;
    void link_here(entry& e, channel_id ch, std::string_view origin, const dial_fn& dial);
    void finished(link* l);
    void reap();
    entry* remote_entry(std::string_view address, std::uint16_t port);
    std::shared_ptr<void> hold() const { return hold_ ? hold_() : nullptr; }

    local_network& net_;
    ssh_tunnels& ssh_;
    note_fn note_;
    hold_fn hold_;
    std::list<entry> entries_;
    std::list<entry> ended_;  // entries of a stopped run, freed at the next entry point like done_
    std::list<std::unique_ptr<link>> links_;
    std::vector<std::unique_ptr<link>> done_;  // finished inside their own callbacks; freed at the next entry point
    std::vector<entry*> asked_;                // remote requests in the order sent
    std::unique_ptr<entry> agent_;
    bool agent_allowed_ = false;
};

}  // namespace fwd
