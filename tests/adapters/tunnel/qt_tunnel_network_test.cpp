// The tunnels' local network on real loopback sockets: accepting, both directions, our end of file after the data,
// the close of the program and the causes of failures.
#include <gtest/gtest.h>

#include <QLocalServer>
#include <QLocalSocket>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTcpSocket>

#include "../qt_socket_support.h"
#include "adapters/qt_tunnel_network.h"

namespace {

using qt_socket_support::app;
using qt_socket_support::spin;

struct recorder : fwd::listener_events, fwd::stream_events {
    std::vector<std::unique_ptr<fwd::tunnel_stream>> streams;
    int readable = 0, writable = 0, connected = 0;
    std::vector<std::string> closed;
    std::string got;
    bool eof = false;
    void accepted(std::unique_ptr<fwd::tunnel_stream> s) override {
        s->set_events(this);
        streams.push_back(std::move(s));
    }
    void stream_connected() override { ++connected; }
    void stream_readable() override {
        ++readable;
        std::uint8_t buf[256];
        for (long n; !streams.empty() && (n = streams.back()->read(buf, sizeof buf)) != 0;) {
            if (n < 0) {
                eof = true;
                break;
            }
            got.append(reinterpret_cast<char*>(buf), std::size_t(n));
        }
    }
    void stream_writable() override { ++writable; }
    void stream_closed(std::string_view why) override { closed.emplace_back(why); }
};

TEST(QtTunnelNetwork, AcceptedStreamCarriesBothWaysAndHalfCloses) {
    app();
    qt_tunnel_network net;
    recorder r;
    std::string why;
    auto l = net.listen("127.0.0.1", 0, r, why);
    ASSERT_TRUE(l) << why;
    ASSERT_GT(l->port(), 0);

    QTcpSocket client;
    client.connectToHost(QHostAddress::LocalHost, l->port());
    ASSERT_TRUE(spin([&] { return !r.streams.empty(); }));
    fwd::tunnel_stream& s = *r.streams.back();
    EXPECT_EQ(s.peer(), "127.0.0.1");
    EXPECT_EQ(s.peer_port(), client.localPort());

    client.write("ping");
    ASSERT_TRUE(spin([&] { return r.got == "ping"; })) << r.got;
    const std::string pong = "pong";
    EXPECT_EQ(s.write({reinterpret_cast<const std::uint8_t*>(pong.data()), pong.size()}), 4u);
    bool finished = false;
    QObject::connect(&client, &QTcpSocket::readChannelFinished, [&] { finished = true; });
    s.shutdown_write();  // after what was written
    QByteArray back;
    ASSERT_TRUE(spin([&] {
        back += client.readAll();
        return finished;
    }));
    back += client.readAll();
    EXPECT_EQ(back, "pong");
    // A Qt program closes once it reads the end of file; the stream reads the program's end of file.
    ASSERT_TRUE(spin([&] { return r.eof; }));
    EXPECT_TRUE(r.closed.empty()) << r.closed.front();
}

TEST(QtTunnelNetwork, FailuresSayWhy) {
    app();
    qt_tunnel_network net;
    recorder r;
    std::string why;
    auto first = net.listen("127.0.0.1", 0, r, why);
    ASSERT_TRUE(first);
    EXPECT_FALSE(net.listen("127.0.0.1", first->port(), r, why));
    EXPECT_NE(why.find("in use"), std::string::npos) << why;

    // A port nobody listens on: take one and let it go.
    QTcpServer probe;
    ASSERT_TRUE(probe.listen(QHostAddress::LocalHost, 0));
    const quint16 free_port = probe.serverPort();
    probe.close();
    auto s = net.connect("127.0.0.1", free_port, r);
    ASSERT_TRUE(spin([&] { return !r.closed.empty(); }));
    EXPECT_NE(r.closed[0].find("refused"), std::string::npos) << r.closed[0];
    EXPECT_EQ(r.connected, 0);

    auto ok = net.connect("127.0.0.1", first->port(), r);
    ASSERT_TRUE(spin([&] { return r.connected == 1; }));
}

// The agent's socket: the one set, else $SSH_AUTH_SOCK, else a reason.
TEST(QtTunnelNetwork, AgentSocket) {
    app();
    QTemporaryDir dir;
    QLocalServer agent;
    const QString path = dir.filePath(QStringLiteral("agent.sock"));
    ASSERT_TRUE(agent.listen(path));
    qt_tunnel_network net;
    net.set_agent_socket(path);
    recorder r;
    std::string why;
    auto s = net.connect_agent(r, why);
    ASSERT_TRUE(s) << why;
    ASSERT_TRUE(spin([&] { return r.connected == 1 && agent.hasPendingConnections(); }));
    QLocalSocket* other = agent.nextPendingConnection();
    const std::uint8_t request[] = {0, 0, 0, 1, 11};
    EXPECT_EQ(s->write(request), 5u);
    ASSERT_TRUE(spin([&] { return other->bytesAvailable() == 5; }));
    EXPECT_EQ(s->peer(), "agent");

    qt_tunnel_network bare;
    const QByteArray saved = qgetenv("SSH_AUTH_SOCK");
    qunsetenv("SSH_AUTH_SOCK");
    EXPECT_FALSE(bare.connect_agent(r, why));
    EXPECT_EQ(why, "no SSH agent here (SSH_AUTH_SOCK is not set)");
    if (!saved.isEmpty()) qputenv("SSH_AUTH_SOCK", saved);
}

}  // namespace
