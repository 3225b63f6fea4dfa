#pragma once
// The forwarder's local network on plain non-blocking sockets watched by Qt's event loop: listeners, the TCP
// connections of tunnels and the local socket of the SSH agent. Each direction of a connection ends on its own: the
// program's end of file (shutdown or FIN) is read as such while what goes to it still flows, and our shutdown_write
// leaves its sending side open; QTcpSocket took a FIN for the end of both.
// A stream holds at most 256 KiB unsent; a dropped stream still sends what it took and waits up to 5 s for the
// program's end of file before its socket goes.
#include <QString>

#include "adapters/name_lookup.h"
#include "forward/tunnel_ports.h"

class qt_tunnel_network : public fwd::local_network {
public:
    // The agent's socket: $SSH_AUTH_SOCK unless set here (tests).
    void set_agent_socket(const QString& path) { agent_socket_ = path; }
    // Names of connections are looked up with this instead of the system (in the lookup's own thread).
    void set_resolver(resolve_fn r) { resolve_ = std::move(r); }
    std::unique_ptr<fwd::local_timer> start_timer(int ms, std::function<void()> fire) override;
    std::unique_ptr<fwd::port_listener> listen(std::string_view address, std::uint16_t port,
                                               fwd::listener_events& events, std::string& why) override;
    std::unique_ptr<fwd::tunnel_stream> connect(std::string_view host, std::uint16_t port,
                                                fwd::stream_events& events) override;
    std::unique_ptr<fwd::tunnel_stream> connect_agent(fwd::stream_events& events, std::string& why) override;

private:
    QString agent_socket_;
    resolve_fn resolve_;
};
