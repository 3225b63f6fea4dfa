// Why a qt_socket connect failed or its connection ended, against loopback peers: a closed port, a stub resolver
// (no query leaves the machine), and a peer that closes in order or resets.
#include <gtest/gtest.h>
#include <sys/socket.h>

#include <QHostInfo>
#include <QTcpServer>
#include <QTcpSocket>
#include <string>

#include "../qt_socket_support.h"
#include "adapters/qt_socket.h"

namespace {

using qt_socket_support::app;
using qt_socket_support::spin;

struct events_log : socket_events {
    int connects = 0, errors = 0, closes = 0;
    void on_read(int) override {}
    void on_connect_complete(int error) override { error == 0 ? ++connects : ++errors; }
    void on_close() override { ++closes; }
};

// A port nothing listens on: bound, then released.
quint16 closed_port() {
    QTcpServer s;
    if (!s.listen(QHostAddress::LocalHost, 0)) return 0;
    const quint16 port = s.serverPort();
    s.close();
    return port;
}

QHostInfo stub_lookup(const QString& name) {
    QHostInfo info;
    if (name == QLatin1String("peer.test")) {
        info.setAddresses({QHostAddress(QHostAddress::LocalHost)});
    } else {
        info.setError(QHostInfo::HostNotFound);
        info.setErrorString(QStringLiteral("stub: no such name"));
    }
    return info;
}

// Runs a connect to the end: the failure reported at once or through on_connect_complete.
socket_failure failed_connect(qt_socket& sock, events_log& ev, const char* host, quint16 port) {
    const auto r = sock.connect(host, port);
    if (r != session_socket::connect_result::failed) {
        EXPECT_TRUE(spin([&] { return ev.errors == 1; })) << host;
        EXPECT_EQ(ev.connects, 0) << host;
    }
    return sock.failure();
}

TEST(QtSocketCauses, ClosedPortIsRefused) {
    app();
    const quint16 port = closed_port();
    ASSERT_NE(port, 0);
    for (const char* host : {"127.0.0.1", "peer.test"}) {
        const qt_resolver stub = stub_lookup;
        events_log ev;
        qt_socket sock(ev, &stub);
        const socket_failure f = failed_connect(sock, ev, host, port);
        EXPECT_EQ(f.cause, socket_cause::refused) << host << ": " << f.text;
    }
}

TEST(QtSocketCauses, UnresolvedNameCarriesTheResolversWords) {
    app();
    const qt_resolver stub = stub_lookup;
    events_log ev;
    qt_socket sock(ev, &stub);
    EXPECT_EQ(sock.connect("nowhere.invalid", 23), session_socket::connect_result::failed);
    EXPECT_EQ(sock.failure().cause, socket_cause::resolve_failed);
    EXPECT_EQ(sock.failure().text, "stub: no such name");
    EXPECT_EQ(ev.errors, 0) << "a failure returned at once is not notified as well";

    // The system resolver's own words come through too; a name with an empty label is refused before any query.
    events_log ev2;
    qt_socket real(ev2);
    const socket_failure f = failed_connect(real, ev2, "bad..name", 23);
    EXPECT_EQ(f.cause, socket_cause::resolve_failed);
    EXPECT_EQ(f.text, "Invalid hostname");

    qt_socket_factory factory;
    factory.set_resolver(stub_lookup);
    EXPECT_EQ(factory.lookup_ipv4("peer.test"), 0x7F000001u);
    EXPECT_EQ(factory.lookup_ipv4("nowhere.invalid"), std::nullopt);
}

// The peer closes in order (FIN) or resets (SO_LINGER 0); Qt calls both RemoteHostClosedError.
TEST(QtSocketCauses, OrderlyCloseAndResetAreToldApart) {
    app();
    for (const bool reset : {false, true}) {
        QTcpServer server;
        ASSERT_TRUE(server.listen(QHostAddress::LocalHost, 0));
        const qt_resolver stub = stub_lookup;
        events_log ev;
        qt_socket sock(ev, &stub);
        const auto r = sock.connect("peer.test", server.serverPort());
        ASSERT_NE(r, session_socket::connect_result::failed);
        ASSERT_TRUE(spin([&] {
            return (r == session_socket::connect_result::connected || ev.connects == 1) &&
                   server.hasPendingConnections();
        }));
        QTcpSocket* peer = server.nextPendingConnection();
        if (reset) {
            const linger hard{1, 0};
            ASSERT_EQ(
                ::setsockopt(static_cast<int>(peer->socketDescriptor()), SOL_SOCKET, SO_LINGER, &hard, sizeof hard), 0);
            peer->abort();
        } else {
            peer->disconnectFromHost();
        }
        ASSERT_TRUE(spin([&] { return ev.closes == 1; })) << (reset ? "reset" : "orderly");
        EXPECT_EQ(sock.failure().cause, reset ? socket_cause::reset : socket_cause::none)
            << (reset ? "reset" : "orderly") << ": " << sock.failure().text;
    }
}

// Closing our end after the peer's FIN still sends ours: the duplicate kept for the state check is let go.
TEST(QtSocketCauses, OurCloseReachesThePeer) {
    app();
    QTcpServer server;
    ASSERT_TRUE(server.listen(QHostAddress::LocalHost, 0));
    events_log ev;
    qt_socket sock(ev);
    const auto r = sock.connect("127.0.0.1", server.serverPort());
    ASSERT_TRUE(spin([&] {
        return (r == session_socket::connect_result::connected || ev.connects == 1) && server.hasPendingConnections();
    }));
    QTcpSocket* peer = server.nextPendingConnection();
    bool peer_saw_close = false;
    QObject::connect(peer, &QTcpSocket::disconnected, [&] { peer_saw_close = true; });
    sock.close();
    EXPECT_TRUE(spin([&] { return peer_saw_close; }, 3000)) << "no FIN from the client";
}

TEST(QtSocketCauses, QtErrorsMapToCauses) {
    const struct {
        QAbstractSocket::SocketError error;
        const char* text;
        socket_cause cause;
        const char* kept;
    } rows[] = {
        {QAbstractSocket::HostNotFoundError, "Host not found", socket_cause::resolve_failed, "Host not found"},
        {QAbstractSocket::ConnectionRefusedError, "Connection refused", socket_cause::refused, "Connection refused"},
        {QAbstractSocket::SocketTimeoutError, "Socket operation timed out", socket_cause::timed_out,
         "Socket operation timed out"},
        {QAbstractSocket::NetworkError, "Network unreachable", socket_cause::unreachable, ""},
        {QAbstractSocket::NetworkError, "Host unreachable", socket_cause::unreachable, "Host unreachable"},
        {QAbstractSocket::NetworkError, "Connection timed out", socket_cause::timed_out, "Connection timed out"},
        {QAbstractSocket::NetworkError, "Network dropped", socket_cause::other, "Network dropped"},
        {QAbstractSocket::SocketAccessError, "Permission denied", socket_cause::other, "Permission denied"},
    };
    for (const auto& r : rows) {
        const socket_failure f = qt_socket_failure(r.error, QString::fromLatin1(r.text));
        EXPECT_EQ(f.cause, r.cause) << r.text;
        EXPECT_EQ(f.text, r.kept) << r.text;
    }
}

}  // namespace
