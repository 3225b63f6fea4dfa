// qt_socket and the desktop's proxy: a stand-in HTTP proxy on 127.0.0.1, named by the environment as libproxy
// reads it, must never see a session's connection.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTcpServer>
#include <string>

#include "../qt_socket_support.h"
#include "adapters/qt_socket.h"

namespace {

using qt_socket_support::app;
using qt_socket_support::counting_events;
using qt_socket_support::spin;

// Qt never proxies loopback names, and a real name would need the network; a name that is no valid host name
// fails at once without a proxy (no resolver is asked) but is handed to an HTTP proxy as it stands.
TEST(QtSocketProxy, TheDesktopProxyIsNotUsed) {
    app();
    QTcpServer proxy;
    ASSERT_TRUE(proxy.listen(QHostAddress::LocalHost, 0));
    const QByteArray url = "http://127.0.0.1:" + QByteArray::number(proxy.serverPort());
    for (const char* var : {"http_proxy", "HTTP_PROXY", "all_proxy"}) qputenv(var, url);

    counting_events events;
    qt_socket sock(events);
    const auto result = sock.connect("no such host", 23);
    const bool ended =
        result == session_socket::connect_result::failed ||
        spin([&] { return events.errors > 0 || events.connects > 0 || proxy.hasPendingConnections(); }, 5000);
    // A connection to the proxy would come a moment after the attempt was handed over.
    spin([&] { return proxy.hasPendingConnections(); }, 300);
    EXPECT_FALSE(proxy.hasPendingConnections()) << "the session went to the desktop's proxy";
    EXPECT_TRUE(ended);
    EXPECT_EQ(events.connects, 0);
    for (const char* var : {"http_proxy", "HTTP_PROXY", "all_proxy"}) qunsetenv(var);
}

}  // namespace
