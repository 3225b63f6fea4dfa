#pragma once
// The forwarder's local network on Qt sockets: listeners (QTcpServer) and the TCP connections of tunnels.
#include <QString>

#include "forward/tunnel_ports.h"

class qt_tunnel_network : public fwd::local_network {
public:
    // The agent's socket: $SSH_AUTH_SOCK unless set here (tests).
    void set_agent_socket(const QString& path) { agent_socket_ = path; }
    std::unique_ptr<fwd::port_listener> listen(std::string_view address, std::uint16_t port,
                                               fwd::listener_events& events, std::string& why) override;
    std::unique_ptr<fwd::tunnel_stream> connect(std::string_view host, std::uint16_t port,
                                                fwd::stream_events& events) override;
    std::unique_ptr<fwd::tunnel_stream> connect_agent(fwd::stream_events& events, std::string& why) override;

private:
    QString agent_socket_;
};
