// The connection object end to end over fake sockets: a Telnet session and an SSH-2 session (the scripted server
// of the SSH tests) run on the options taken at connect, take the options the user changes later only through
// apply, push their endings, and Reconnect goes to the latest target without touching the settings.
#include <gtest/gtest.h>

#include "../ssh/ssh2_server.h"
#include "fakes.h"
#include "session/connection.h"

namespace {

constexpr char IAC = '\xff', SB = '\xfa', SE = '\xf0', WILL = '\xfb', DO = '\xfd', ECHO_OPT = '\x01', TTYPE = '\x18',
               NAWS = '\x1f';
const std::string ttype_send = {IAC, SB, TTYPE, '\x01', IAC, SE};
std::string ttype_is(const std::string& name) {
    return std::string{IAC, SB, TTYPE, '\0'} + name + std::string{IAC, SE};
}

struct echo_view : fake_view {
    std::vector<bool> echo;  // each local-echo switch the session asked for
    void set_local_echo(bool on) override { echo.push_back(on); }
};

// A factory whose sockets copy every write to a sink (the scripted SSH server reads the client from it).
struct wired_factory : fake_factory {
    std::function<void(const std::string&)> sink;
    std::unique_ptr<session_socket> create(socket_events& e) override {
        auto s = fake_factory::create(e);
        if (last && sink) last->on_write = sink;
        return s;
    }
};

struct link_rig {
    Settings settings;  // the user's record: the connection reads it only when asked to
    translation_table_t nettopc{}, pctonet{};
    wired_factory sockets;
    fake_timer timer;
    fake_ui ui;
    echo_view view;
    fixed_clock clock;
    struct heard {
        session_ending end;
        bool busy;
    };
    std::vector<heard> endings;
    connection link{connection_parts{sockets, timer, ui, view, clock, nullptr, nettopc, pctonet}};

    link_rig() {
        link.set_ending_listener([this](const session_ending& e) { endings.push_back({e, link.net().busy()}); });
    }
    bool connect(const std::string& host, int port) {
        return link.connect(connection_profile::from(settings, host, port));
    }
    fake_socket& sock() { return *sockets.last; }
    void receive(const std::string& data) {
        sock().incoming.push_back(data);
        link.net().on_read(0);
    }
    std::string row(int r) const {
        const std::string dump = screen_dump_plain(link.ring());
        std::size_t start = 0;
        for (int i = 1; i < r; ++i) start = dump.find('\n', start) + 1;
        std::string line = dump.substr(start, dump.find('\n', start) - start);
        while (!line.empty() && line.back() == ' ') line.pop_back();
        return line;
    }
    std::uint32_t code_at(int r, int c) { return cell_code(link.ring().line(r).cell(c)); }
};

bool wrote(const fake_socket& s, const std::string& what) { return s.all_written().find(what) != std::string::npos; }

TEST(Connection, TelnetRunsOnTheOptionsTakenAtConnect) {
    link_rig rig;
    Settings& s = rig.settings;
    s.termtype = "xterm";
    s.utf8 = 1;
    s.myid = "ANSWER-1";
    s.auto_search1 = "login:";
    s.auto_response1 = "ann\\015";
    s.host_echo = 1;
    ASSERT_TRUE(rig.connect("alpha.example", 2323));
    EXPECT_EQ(rig.sock().host, "alpha.example");
    EXPECT_EQ(rig.sock().port, 2323);

    // What the user changes afterwards belongs to the next connection.
    s.termtype = "vt100";
    s.utf8 = 0;
    s.myid = "OTHER";
    s.auto_response1 = "bob\\015";
    s.ssh = 1;
    s.ssh_type_1_2 = 1;

    rig.receive(ttype_send);
    EXPECT_TRUE(wrote(rig.sock(), ttype_is("xterm")));
    rig.receive("login: ");
    EXPECT_EQ(rig.row(1), "login:");
    EXPECT_TRUE(wrote(rig.sock(), "ann\r"));
    EXPECT_FALSE(wrote(rig.sock(), "bob"));
    rig.receive("\xd0\x96");
    EXPECT_EQ(rig.code_at(1, 8), 0x416u) << "UTF-8 as it was at connect";
    rig.receive("\x05");
    EXPECT_TRUE(wrote(rig.sock(), "ANSWER-1"));
    rig.receive(std::string{IAC, WILL, ECHO_OPT});
    EXPECT_EQ(rig.view.echo, std::vector<bool>{false}) << "the host echoes: the keyboard layer hears it";
    rig.sock().writes.clear();
    const std::uint8_t iac = 0xFF;
    rig.link.net().send_to_host(&iac, 1);
    EXPECT_EQ(rig.sock().all_written(), std::string(2, IAC)) << "still Telnet: the data byte 255 goes doubled";

    ASSERT_TRUE(rig.endings.empty());
    rig.link.net().on_close();
    ASSERT_EQ(rig.endings.size(), 1u);
    EXPECT_EQ(rig.endings[0].end.cause,
              "Connection to host has been lost\nThe host alpha.example:2323 closed the connection.");
    EXPECT_FALSE(rig.endings[0].busy);
    EXPECT_FALSE(rig.endings[0].end.by_user);
}

TEST(Connection, ApplyIsHowARunningSessionLearnsOfAChange) {
    const struct {
        const char* name;
        std::function<void(connection_profile&)> change;
        std::string host_data;
        std::function<void(link_rig&)> check;
    } rows[] = {
        {"utf8", [](connection_profile& o) { o.terminal.utf8 = true; }, "\xd0\x96",
         [](link_rig& r) { EXPECT_EQ(r.code_at(1, 1), 0x416u); }},
        {"terminal type", [](connection_profile& o) { o.terminal.termtype = "xterm-256color"; }, ttype_send,
         [](link_rig& r) { EXPECT_TRUE(wrote(r.sock(), ttype_is("xterm-256color"))); }},
        {"answerback", [](connection_profile& o) { o.terminal.myid = "SECOND"; }, "\x05",
         [](link_rig& r) { EXPECT_TRUE(wrote(r.sock(), "SECOND")); }},
        {"clipboard writes", [](connection_profile& o) { o.terminal.clipboard_write = true; }, "",
         [](link_rig& r) { EXPECT_TRUE(r.link.terminal().options().clipboard_write); }},
        {"xterm emulation", [](connection_profile& o) { o.terminal.termtype = "xterm"; }, "\x1b[?2004h",
         [](link_rig& r) { EXPECT_TRUE(r.link.terminal().bracketed_paste()); }},
        {"host echo control", [](connection_profile& o) { o.terminal.host_echo = true; },
         std::string{IAC, WILL, ECHO_OPT}, [](link_rig& r) { EXPECT_EQ(r.view.echo, std::vector<bool>{false}); }},
        {"grid follows the window", [](connection_profile& o) { o.terminal.screen_size = true; },
         std::string{IAC, DO, NAWS},
         [](link_rig& r) {
             r.link.set_grid(30, 100);
             EXPECT_TRUE(wrote(r.sock(), std::string{IAC, WILL, NAWS}));
             EXPECT_TRUE(wrote(r.sock(), std::string{IAC, SB, NAWS, 0, 100, 0, 30, IAC, SE}));
         }},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        link_rig rig;
        ASSERT_TRUE(rig.connect("h", 23));
        // The settings alone change nothing while connected.
        rig.settings.utf8 = 1;
        rig.settings.termtype = "xterm-256color";
        rig.settings.clipboard_write = 1;
        rig.settings.host_echo = 1;
        rig.settings.screen_size = 1;
        rig.receive("\x1b[?2004h\x1b[H");
        EXPECT_FALSE(rig.link.terminal().bracketed_paste());
        EXPECT_FALSE(rig.link.terminal().options().clipboard_write);

        connection_profile o = connection_profile::from(Settings(), "elsewhere", 99);
        row.change(o);
        rig.link.apply(o);
        if (!row.host_data.empty()) rig.receive(row.host_data);
        row.check(rig);
        EXPECT_EQ(rig.link.last_target()->host, "h") << "apply leaves the target";
        EXPECT_EQ(rig.sockets.created, 1);
    }
}

// The host switched local echo off (Telnet ECHO): a dialog's OK for other options keeps the host's choice, and only
// a new stored value takes over.
TEST(Connection, TheHostsLocalEchoOutlivesAnUnrelatedChange) {
    link_rig rig;
    rig.settings.host_echo = 1;
    rig.settings.local_echo = 1;
    ASSERT_TRUE(rig.connect("h", 23));
    rig.receive(std::string{IAC, WILL, ECHO_OPT});
    ASSERT_FALSE(rig.link.profile().terminal.local_echo);
    rig.settings.bell = 0;
    rig.link.apply(connection_profile::from(rig.settings, {}, 0));
    EXPECT_FALSE(rig.link.profile().terminal.local_echo) << "the host echoes: no second echo";
    rig.settings.local_echo = 0;
    rig.link.apply(connection_profile::from(rig.settings, {}, 0));
    rig.settings.local_echo = 1;
    rig.link.apply(connection_profile::from(rig.settings, {}, 0));
    EXPECT_TRUE(rig.link.profile().terminal.local_echo) << "the user's own choice";
}

TEST(Connection, ReconnectGoesToTheLatestTargetAndLeavesTheSettingsAlone) {
    link_rig rig;
    Settings& s = rig.settings;
    s.proxy_enable = 1;
    s.proxy_host = "proxy.example";
    s.proxy_port = 1080;
    s.proxy_socks_enable = 1;  // SOCKS 4
    s.ssh_user = "ann";
    rig.sockets.names["one.example"] = 0x0A000001;
    rig.sockets.names["two.example"] = 0x0A000002;
    EXPECT_FALSE(rig.link.reconnect(connection_profile::from(s, {}, 0))) << "nothing to go back to yet";

    const std::string socks_to_one = {4, 1, '\x08', '\xae', 10, 0, 0, 1};  // port 2222, 10.0.0.1
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round == 0 ? "connect" : "reconnect");
        if (round == 0)
            ASSERT_TRUE(rig.connect("one.example", 2222));
        else
            ASSERT_TRUE(rig.link.reconnect(connection_profile::from(s, {}, 0)));
        EXPECT_EQ(rig.sockets.created, round + 1);
        EXPECT_EQ(rig.sock().host, "proxy.example");
        EXPECT_FALSE(rig.link.reconnect(connection_profile::from(s, {}, 0))) << "not while a session is up";
        rig.link.net().on_proxy_timer();  // the proxy log-in's moment
        EXPECT_EQ(rig.sock().all_written().substr(0, 8), socks_to_one) << "the proxy is asked for the target";
        rig.link.disconnect();
        ASSERT_EQ(rig.endings.size(), std::size_t(round + 1));
        EXPECT_TRUE(rig.endings.back().end.by_user);
        EXPECT_FALSE(rig.endings.back().busy);

        // Before Reconnect the user points the settings elsewhere; the target stays, the settings stay as set.
        s.host_name = "two.example";
        s.port = 23;
        s.ssh_user = "bob";
    }
    EXPECT_EQ(s.host_name, "two.example");
    EXPECT_EQ(s.ssh_user, "bob");
    EXPECT_EQ(s.ssh, 0);
    EXPECT_EQ(rig.link.last_target()->ssh.ssh_user, "ann");
}

// ---------------------------------------------------------------------------------------------------------------
// SSH-2 through the object, against the scripted server of the engine tests.

struct ConnectionSsh : ::testing::Test {
    ssh_test::recorder wire;  // only its `wire`: what the client wrote, for the server to read
    ssh_test::prompt_recorder prompts;
    std::unique_ptr<ssh_test::test_server> srv;
    link_rig rig;  // last: a session still up says goodbye into `wire` as it goes

    void SetUp() override {
        Settings& s = rig.settings;
        s.ssh = 1;
        s.ssh_type_1_2 = 1;
        s.ssh_default = 1;
        s.ssh_user = "alice";
        s.ssh_password = "secret";
        s.ssh_algorithms = 0;      // the scripted server speaks the fixed suite
        s.ssh_check_host_key = 0;  // never the test runner's own known_hosts
        s.termtype = "xterm";
        rig.sockets.sink = [this](const std::string& b) { wire.wire.insert(wire.wire.end(), b.begin(), b.end()); };
        rig.link.enable_ssh(prompts);
        srv = std::make_unique<ssh_test::test_server>(wire);
    }
    void send(const ssh_test::bytes& payload) { feed(srv->packet(payload)); }
    void feed(const ssh_test::bytes& b) { rig.receive(std::string(b.begin(), b.end())); }
    ssh_test::bytes next(std::uint8_t type) {
        auto p = srv->client_packet();
        EXPECT_TRUE(p) << "no client packet, wanted type " << int(type);
        if (!p) return {};
        EXPECT_EQ((*p)[0], type);
        return *p;
    }
    static bool holds(const ssh_test::bytes& b, std::string_view what) {
        return std::string(b.begin(), b.end()).find(what) != std::string::npos;
    }
};

TEST_F(ConnectionSsh, SignsOnShowsTheShellAndTellsTheLoss) {
    ASSERT_TRUE(rig.connect("ssh.example", 22));
    EXPECT_TRUE(rig.link.net().setting_up());
    // Changed after connect: neither reaches this session.
    rig.settings.ssh_user = "mallory";
    rig.settings.termtype = "vt100";

    const std::string id = srv->ident + "\r\n";
    ssh_test::bytes first(id.begin(), id.end());
    const ssh_test::bytes k = srv->kexinit();
    first.insert(first.end(), k.begin(), k.end());
    feed(first);
    const std::string client_id = srv->client_ident().value_or("");
    EXPECT_EQ(client_id.rfind("SSH-2.0-", 0), 0u);
    const ssh_test::bytes client_kexinit = next(20);
    const ssh_test::bytes dh = next(30);
    feed(srv->kex_reply(client_id, client_kexinit, dh));
    next(21);
    srv->take_client_newkeys();
    next(5);
    EXPECT_FALSE(rig.link.net().setting_up()) << "set up once the keys are in use";

    send(ssh_test::msg(6));
    EXPECT_TRUE(holds(next(50), "alice"));
    send(ssh_test::msg(52));
    next(90);
    send(ssh_test::open_confirmation(7));
    EXPECT_TRUE(holds(next(98), "xterm"));
    send(ssh_test::bytes{99, 0, 0, 0, 27});  // CHANNEL_SUCCESS for our channel: the pty is granted
    next(98);
    send(ssh_test::channel_data("hello from ssh\r\n"));
    EXPECT_EQ(rig.row(1), "hello from ssh");

    const std::string typed = "ls\r";
    rig.link.net().send_to_host(reinterpret_cast<const std::uint8_t*>(typed.data()), typed.size());
    EXPECT_TRUE(holds(next(94), typed));
    EXPECT_EQ(prompts.calls, 0) << "the remembered credentials signed on";

    ASSERT_TRUE(rig.endings.empty());
    rig.link.net().on_close();
    ASSERT_EQ(rig.endings.size(), 1u);
    EXPECT_FALSE(rig.endings[0].busy);
    EXPECT_TRUE(rig.endings[0].end.unexpected) << "a session that showed output was lost: worth a retry";
    EXPECT_EQ(rig.endings[0].end.cause.rfind(session_msg::lost, 0), 0u);

    // Reconnect keeps the protocol of that connection although the settings say Telnet by now.
    rig.settings.ssh = 0;
    wire.wire.clear();
    ASSERT_TRUE(rig.link.reconnect(connection_profile::from(rig.settings, {}, 0)));
    EXPECT_EQ(rig.sockets.created, 2);
    rig.receive(srv->ident + "\r\n");
    EXPECT_EQ(rig.sock().all_written().rfind("SSH-2.0-", 0), 0u) << rig.sock().all_written();
    EXPECT_EQ(rig.link.net().transport(), TransportKind::Ssh2);
    EXPECT_EQ(rig.settings.ssh, 0);
    EXPECT_EQ(rig.settings.ssh_user, "mallory");
}

TEST_F(ConnectionSsh, WithoutAnSshClientTheAttemptIsRefused) {
    rig.link.disable_ssh();
    EXPECT_EQ(rig.link.ssh(), nullptr);
    EXPECT_FALSE(rig.connect("ssh.example", 22));
    EXPECT_EQ(rig.ui.messages, std::vector<std::string>{std::string(session_msg::no_ssh)});
    EXPECT_EQ(rig.sockets.created, 0);
    rig.link.enable_ssh(prompts);
    EXPECT_TRUE(rig.connect("ssh.example", 22));
}

}  // namespace
