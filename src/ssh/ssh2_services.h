#pragma once
// The channel services of the SSH-2 connection layer (ssh2_connection.h): port forwarding (ssh2_tunnels.cpp), agent
// forwarding over the same forwarder (ssh2_tunnels.cpp) and SFTP (ssh2_sftp.cpp). Each is registered with the
// connection, which walks them; their own calls (the forwards' state, SFTP's channel) are reached through it.
#include <cstddef>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

#include "forward/forwarder.h"
#include "sftp/client.h"
#include "ssh/ssh2_connection.h"

namespace ssh {

// The forwarder's channels over the channel table: direct-tcpip ones we open, forwarded-tcpip ones the host opens
// for a remote forward, and tcpip-forward requests. The forwards of `ssh_forwards` start once the shell is asked
// for; they end with the connection. A channel's window reopens only by what the local end took.
class tunnel_service final : public channel_service {
public:
    explicit tunnel_service(ssh2_connection& conn) : conn_(conn) {}
    ~tunnel_service() override;

    void start() override;
    void stop() override;   // listeners close; links are freed later, as they may be inside a call of their own
    void close() override;  // Disconnect: each tunnel's channel closed, then stop
    bool accepts(std::string_view type) const override { return port_ && type == "forwarded-tcpip"; }
    void open_from_host(std::string_view type, const host_open& o, wire_reader& r) override;
    void global_answer(bool success) override;

    // The running forwards with their state and byte counts.
    std::vector<fwd::forwarder::status> status() const;
    // A jump host's channels to the next host (negotiated mode, once a network is set); null otherwise.
    fwd::ssh_tunnels* direct_channels();
    // The forwarder runs (forwards were asked for, or agent forwarding, or a jump host's channels).
    bool running() const { return port_ != nullptr; }
    // An auth-agent channel the host opened, handed to the forwarder's agent link (refused unless it allows one).
    void take_agent_channel(const host_open& o);

private:
    struct port;
    struct port_deleter {
        void operator()(port* p) const;
    };
    // A row of the table for a channel the host opened, or null (refused) when the table is full.
    channel* host_row(const host_open& o);
    ssh2_connection& conn_;
    std::unique_ptr<port, port_deleter> port_;
};

// Agent forwarding, only when this connection's profile asks for it: auth-agent-req before the shell, and the
// host's auth-agent@openssh.com channels carried by the tunnel service's forwarder.
class agent_service final : public channel_service {
public:
    agent_service(ssh2_connection& conn, tunnel_service& tunnels) : conn_(conn), tunnels_(tunnels) {}
    void session_opened(const channel& session) override;
    bool accepts(std::string_view type) const override {
        return tunnels_.running() && type == "auth-agent@openssh.com";
    }
    void open_from_host(std::string_view type, const host_open& o, wire_reader& r) override;

private:
    bool wanted() const;
    ssh2_connection& conn_;
    tunnel_service& tunnels_;
};

// A second "session" channel on the same sign-on whose "subsystem" request asks for "sftp", opened once the shell
// is asked for (at once when asked later). A new one may be asked for after one ended. The client lives as long as
// the connection; its window reopens by what it consumed.
class sftp_service final : public channel_service {
public:
    explicit sftp_service(ssh2_connection& conn) : conn_(conn) {}
    ~sftp_service() override;

    void start() override;
    void stop() override;  // whatever runs on the channel fails

    void open(sftp_events ev);
    sftp::client* client() const;

private:
    struct port;
    struct port_deleter {
        void operator()(port* p) const;
    };
    ssh2_connection& conn_;
    bool may_open_ = false;
    std::optional<sftp_events> wanted_;
    std::unique_ptr<port, port_deleter> port_;
    // Channels that failed, kept with their clients for the connection's life (a caller may still be inside one),
    // so a new one can open after a failure; at most max_failed of them.
    static constexpr std::size_t max_failed = 8;
    std::vector<std::unique_ptr<port, port_deleter>> failed_;
};

}  // namespace ssh
