#pragma once
// The forwarder's local network on Qt sockets: listeners (QTcpServer) and the TCP connections of tunnels.
#include "forward/tunnel_ports.h"

class qt_tunnel_network : public fwd::local_network {
public:
    std::unique_ptr<fwd::port_listener> listen(std::string_view address, std::uint16_t port,
                                               fwd::listener_events& events, std::string& why) override;
    std::unique_ptr<fwd::tunnel_stream> connect(std::string_view host, std::uint16_t port,
                                                fwd::stream_events& events) override;
};
