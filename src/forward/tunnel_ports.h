#pragma once
// What the forwarder needs from the two sides of a tunnel: the local network (listeners, connections to local
// destinations) and the SSH connection (channels). Both are interfaces so the forwarder runs in tests on fakes; the
// client implements the first with Qt sockets and the second on its SSH-2 engine.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>

namespace fwd {

// ----- local side -----
struct stream_events {
    virtual ~stream_events() = default;
    virtual void stream_connected() {}  // an outgoing connection (remote forward) is up
    virtual void stream_readable() = 0;
    virtual void stream_writable() = 0;
    // The local program went away (or an outgoing connection failed: why says how).
    virtual void stream_closed(std::string_view why) = 0;
};

// One local TCP connection of a tunnel.
struct tunnel_stream {
    virtual ~tunnel_stream() = default;
    virtual void set_events(stream_events* e) = 0;
    // Bytes read into buf; 0: nothing now; -1: the program closed its side.
    virtual long read(std::uint8_t* buf, std::size_t n) = 0;
    // Bytes taken (the stream holds at most a bounded amount unsent: stream_writable follows once it drains).
    virtual std::size_t write(std::span<const std::uint8_t> bytes) = 0;
    virtual void shutdown_write() = 0;     // after what was written: the program reads its end of file
    virtual std::string peer() const = 0;  // the program's address, for the host's originator fields
    virtual std::uint16_t peer_port() const = 0;
};

struct listener_events {
    virtual ~listener_events() = default;
    virtual void accepted(std::unique_ptr<tunnel_stream> s) = 0;
};

struct port_listener {
    virtual ~port_listener() = default;
    virtual std::uint16_t port() const = 0;  // the one bound (asked for 0: the system's choice)
};

// A one-shot timer on the local side's event loop; dropping it cancels it.
struct local_timer {
    virtual ~local_timer() = default;
};

struct local_network {
    virtual ~local_network() = default;
    // fire runs once, from the event loop, after ms milliseconds, unless the timer was dropped first.
    virtual std::unique_ptr<local_timer> start_timer(int ms, std::function<void()> fire) = 0;
    // Null with why filled ("Address already in use") when the port cannot be had.
    virtual std::unique_ptr<port_listener> listen(std::string_view address, std::uint16_t port, listener_events& events,
                                                  std::string& why) = 0;
    // A connection to a local destination (remote forwards); the outcome comes as stream_connected or
    // stream_closed on the events given.
    virtual std::unique_ptr<tunnel_stream> connect(std::string_view host, std::uint16_t port,
                                                   stream_events& events) = 0;
    // A connection to the local SSH agent (agent forwarding); null with why when there is none.
    virtual std::unique_ptr<tunnel_stream> connect_agent(stream_events& events, std::string& why) = 0;
};

// ----- SSH side -----
// Calls from the SSH connection to one tunnel's channel.
struct channel_events {
    virtual ~channel_events() = default;
    virtual void channel_opened() = 0;
    virtual void channel_failed(std::uint32_t reason, std::string_view text) = 0;
    virtual void channel_data(std::span<const std::uint8_t> bytes) = 0;
    virtual void channel_writable() = 0;  // the host's window opened again
    virtual void channel_eof() = 0;
    virtual void channel_closed() = 0;  // the channel is gone; no call follows
};

using channel_id = std::uint32_t;  // the connection's own number for a channel; 0 is none

struct ssh_tunnels {
    virtual ~ssh_tunnels() = default;
    // A direct-tcpip channel to host:port (RFC 4254 7.2); 0 when no channel can be opened now.
    virtual channel_id open_direct(std::string_view host, std::uint16_t port, std::string_view origin_address,
                                   std::uint16_t origin_port, channel_events& events) = 0;
    // The host's window: bytes the channel takes now.
    virtual std::size_t send_room(channel_id ch) const = 0;
    virtual void send(channel_id ch, std::span<const std::uint8_t> bytes) = 0;
    virtual void send_eof(channel_id ch) = 0;
    // May come while the open is outstanding: the channel is closed once the host confirms it.
    virtual void close(channel_id ch) = 0;
    // n bytes the host sent were handed on: the channel's window may reopen by that much.
    virtual void consumed(channel_id ch, std::size_t n) = 0;
    // tcpip-forward (RFC 4254 7.1); the answer comes through forwarder::remote_answer.
    virtual bool request_remote(std::string_view address, std::uint16_t port) = 0;
    virtual void cancel_remote(std::string_view address, std::uint16_t port) = 0;
    // The answer to a forwarded-tcpip channel the host opened (forwarder::forwarded took it).
    virtual void accept_open(channel_id ch, channel_events& events) = 0;
    virtual void refuse_open(channel_id ch, std::uint32_t reason, std::string_view why) = 0;
};

}  // namespace fwd
