// Options of the system socket behind qt_socket, read with getsockopt once a loopback connection stands.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTcpServer>
#include <QTcpSocket>
#include <string>

#include "../qt_socket_support.h"
#include "adapters/qt_socket.h"

namespace {

using qt_socket_support::app;
using qt_socket_support::counting_events;
using qt_socket_support::spin;

int tcp_option(qintptr fd, int option) {
    int value = -1;
    socklen_t len = sizeof value;
    if (::getsockopt(static_cast<int>(fd), IPPROTO_TCP, option, &value, &len) != 0) return -1;
    return value;
}

struct target {
    const char* host;
    QHostAddress listen_on;
};

void PrintTo(const target& t, std::ostream* os) { *os << t.host; }

class qt_socket_options : public ::testing::TestWithParam<target> {};

// Without TCP_NODELAY every small write after the first waits for the peer's delayed acknowledgement (about
// 40 ms): typed keys lag and each SSH exchange takes that long.
TEST_P(qt_socket_options, NagleIsOffOnceConnected) {
    app();
    QTcpServer server;
    if (!server.listen(GetParam().listen_on, 0)) GTEST_SKIP() << "no " << GetParam().host << " here";
    counting_events events;
    qt_socket sock(events);
    const auto r = sock.connect(GetParam().host, server.serverPort());
    ASSERT_NE(r, session_socket::connect_result::failed);
    ASSERT_TRUE(spin([&] {
        return (r == session_socket::connect_result::connected || events.connects == 1) &&
               server.hasPendingConnections();
    }));
    EXPECT_EQ(events.errors, 0);
    const qintptr fd = sock.descriptor();
    ASSERT_GE(fd, 0);
    EXPECT_NE(tcp_option(fd, TCP_NODELAY), 0) << "TCP_NODELAY is off on " << GetParam().host;

    // Still on after data went both ways.
    QTcpSocket* peer = server.nextPendingConnection();
    const std::uint8_t key[] = {'x'};
    ASSERT_EQ(sock.write(key, 1), 1);
    ASSERT_TRUE(spin([&] { return peer->bytesAvailable() == 1; }));
    EXPECT_NE(tcp_option(sock.descriptor(), TCP_NODELAY), 0);
}

// `telnet_keepalive`: SO_KEEPALIVE, asked before the connect (when Qt has no descriptor yet) and set on the
// connected socket; a socket not asked stays without it.
TEST_P(qt_socket_options, KeepAliveWhenAskedOnceConnected) {
    app();
    QTcpServer server;
    if (!server.listen(GetParam().listen_on, 0)) GTEST_SKIP() << "no " << GetParam().host << " here";
    for (const bool on : {true, false}) {
        counting_events events;
        qt_socket sock(events);
        sock.set_keep_alive(on);
        const auto r = sock.connect(GetParam().host, server.serverPort());
        ASSERT_NE(r, session_socket::connect_result::failed);
        ASSERT_TRUE(spin([&] { return r == session_socket::connect_result::connected || events.connects == 1; }));
        int value = -1;
        socklen_t len = sizeof value;
        ASSERT_EQ(::getsockopt(static_cast<int>(sock.descriptor()), SOL_SOCKET, SO_KEEPALIVE, &value, &len), 0);
        EXPECT_EQ(value != 0, on) << GetParam().host;
    }
}

INSTANTIATE_TEST_SUITE_P(Loopback, qt_socket_options,
                         ::testing::Values(target{"127.0.0.1", QHostAddress(QHostAddress::LocalHost)},
                                           target{"localhost", QHostAddress(QHostAddress::LocalHost)},
                                           target{"::1", QHostAddress(QHostAddress::LocalHostIPv6)}),
                         [](const ::testing::TestParamInfo<target>& i) {
                             const std::string h = i.param.host;
                             return h == "::1" ? std::string("ipv6") : h == "localhost" ? h : std::string("ipv4");
                         });

}  // namespace
