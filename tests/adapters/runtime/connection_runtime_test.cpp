// The runtime around a connection: the keep-alive schedule, the set-up limit reaching the session through its
// timer, and jump hosts from ~/.ssh/config that cannot be used stopping the connection, in the window's helper
// and in vtsession alike.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <filesystem>
#include <fstream>

#include "../../support/peer_process.h"
#include "../../support/qt_test_support.h"
#include "../../support/scoped_home.h"
#include "adapters/connection_runtime.h"
#include "config/settings.h"
#include "session/connection.h"
#include "session/session.h"

namespace fs = std::filesystem;

namespace {

// Seconds (1-based) at which keep-alives go out.
std::vector<int> fired(const std::vector<std::pair<bool, int>>& seconds) {
    keepalive_schedule k;
    std::vector<int> out;
    for (std::size_t i = 0; i < seconds.size(); ++i)
        if (k.tick(seconds[i].first, seconds[i].second)) out.push_back(int(i) + 1);
    return out;
}

std::vector<std::pair<bool, int>> connected_for(int n, int every) { return {std::size_t(n), {true, every}}; }

template <class... V>
std::vector<std::pair<bool, int>> then(std::vector<std::pair<bool, int>> a, const V&... more) {
    (a.insert(a.end(), more.begin(), more.end()), ...);
    return a;
}

}  // namespace

TEST(KeepAliveSchedule, CountsConnectedSecondsAndReadsTheSettingEachSecond) {
    struct row {
        const char* what;
        std::vector<std::pair<bool, int>> seconds;  // (connected, ssh_keepalive) each second
        std::vector<int> expected;
    };
    const std::vector<row> rows = {
        {"every 3 s", connected_for(10, 3), {3, 6, 9}},
        {"off", connected_for(5, 0), {}},
        {"not connected", {5, {false, 1}}, {}},
        {"a drop starts the count again",
         then(connected_for(2, 3), std::vector<std::pair<bool, int>>{{false, 3}}, connected_for(3, 3)),
         {6}},
        {"a shorter setting counts the seconds gone by", then(connected_for(2, 10), connected_for(4, 2)), {3, 5}},
        {"switched off and on", then(connected_for(2, 3), connected_for(1, 0), connected_for(3, 3)), {6}},
    };
    for (const row& r : rows) EXPECT_EQ(fired(r.seconds), r.expected) << r.what;
}

TEST(ConnectionRuntime, UnusableJumpHostsRefuseOnlyAnSsh2Connection) {
    const fs::path home = fs::temp_directory_path() / ("runtime_home_" + std::to_string(::getpid()));
    fs::create_directories(home);
    test_support::scoped_home h(home.string());
    struct row {
        TransportKind protocol;
        std::string jump;
        bool refused;
    };
    const std::string nine = "h1,h2,h3,h4,h5,h6,h7,h8,h9";
    for (const row& r : std::vector<row>{{TransportKind::Ssh2, nine, true},
                                         {TransportKind::Ssh2, "hop:99999", true},
                                         {TransportKind::Ssh2, "me@hop:2222", false},
                                         {TransportKind::Ssh2, "", false},
                                         {TransportKind::Telnet, nine, false}}) {
        connection_profile p;
        p.host = "target";
        p.port = 22;
        p.protocol = r.protocol;
        p.ssh.proxy_jump = r.jump;
        const auto out = connection_runtime::take_ssh_config(p);
        EXPECT_TRUE(out.notes.empty());
        EXPECT_EQ(!out.refusal.empty(), r.refused) << r.jump << ": " << out.refusal;
        if (r.refused) {
            EXPECT_NE(out.refusal.find("its jump hosts \"" + r.jump + "\" cannot be used"), std::string::npos);
        }
    }
    fs::remove_all(home);
}

namespace {

struct silent_socket final : session_socket {
    connect_result connect(std::string_view, std::uint16_t) override { return connect_result::in_progress; }
    long read(std::uint8_t*, std::size_t) override { return 0; }
    long write(const std::uint8_t*, std::size_t n) override { return long(n); }
    void close() override {}
};
struct silent_sockets final : socket_factory {
    std::unique_ptr<session_socket> create(socket_events&) override { return std::make_unique<silent_socket>(); }
    std::optional<std::uint32_t> lookup_ipv4(std::string_view) override { return 0x7f000001u; }
};
struct quiet_view final : session_view {};

}  // namespace

// A host that never answers the connect: only the set-up timer, which the runtime gives the connection, ends it.
TEST(ConnectionRuntime, TheSetUpLimitEndsAnAttemptThroughItsTimer) {
    qt_test_support::test_app();
    silent_sockets sockets;
    qt_test_support::recording_ui ui;
    quiet_view view;
    connection_runtime rt;
    connection link(connection_parts{sockets, rt.setup_timer(), ui, view, system_session_clock(), nullptr,
                                     nettopc_table(), pctonet_table()});
    rt.attach(link);
    int endings = 0;
    link.set_ending_listener([&](const session_ending&) { ++endings; });
    connection_profile p = connection_profile::from(settings(), "127.0.0.1", 23);
    p.protocol = TransportKind::Telnet;
    p.connect_timeout = 1;
    ASSERT_TRUE(link.connect(p));
    EXPECT_TRUE(link.net().busy());
    ASSERT_TRUE(qt_test_support::pump_until([&] { return endings > 0; }, 15000));
    EXPECT_FALSE(link.net().busy());
    EXPECT_FALSE(link.net().last_ending().cause.empty());
}

// vtsession went straight to a host whose ~/.ssh/config names jump hosts it cannot use; it now stops as the
// window does, and the host hears nothing.
TEST(ConnectionRuntime, VtsessionNeverGoesStraightToAHostMeantToBeReachedThroughOthers) {
    const fs::path home = fs::temp_directory_path() / ("runtime_vt_" + std::to_string(::getpid()));
    fs::create_directories(home / ".ssh");
    const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    ASSERT_EQ(::listen(listener, 4), 0);
    ASSERT_EQ(::getsockname(listener, reinterpret_cast<sockaddr*>(&a), &len), 0);
    const int port = ntohs(a.sin_port);
    std::ofstream(home / ".ssh" / "config")
        << "Host behind\n  HostName 127.0.0.1\n  ProxyJump h1,h2,h3,h4,h5,h6,h7,h8,h9\n";
    int status = -1;
    {
        test_support::scoped_home h(home.string());
        peer_test::child vt({VTSESSION_BIN, "--host", "behind", "--port", std::to_string(port), "--timeout", "5",
                             "--set", "ssh=1", "--set", "ssh_type_1_2=1", "--set", "ssh_user=me"},
                            home / "vt.out", home / "vt.err");
        status = vt.wait(std::chrono::seconds(20));
    }
    const std::string err = peer_test::slurp(home / "vt.err");
    EXPECT_EQ(status, 1) << err;
    EXPECT_NE(err.find("its jump hosts \"h1,h2,h3,h4,h5,h6,h7,h8,h9\" cannot be used"), std::string::npos) << err;
    EXPECT_LT(::accept(listener, nullptr, nullptr), 0);  // nobody knocked
    ::close(listener);
    fs::remove_all(home);
}
