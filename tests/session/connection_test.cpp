// Connecting and closing with their causes, proxy log-in texts, SOCKS 4 and 5, auto-login and the settings escape
// rule.
#include <gtest/gtest.h>

#include "fakes.h"
#include "config/escape.h"
#include "session/proxy.h"

namespace {

using cr = session_socket::connect_result;

// ---------------------------------------------------------------------------------------------------------------
TEST(Escape, DecodesOctalAndOddCases) {
    EXPECT_EQ(decode_escapes("\\015\\012"), "\r\n");
    EXPECT_EQ(decode_escapes("a\\33[b"), "a\033[b");
    EXPECT_EQ(decode_escapes("\\n"), std::string("\0n", 2));
    EXPECT_EQ(decode_escapes("\\0155"), "\r5") << "at most three digits";
    EXPECT_EQ(decode_escapes("\\\\x"), std::string("\0\0x", 3)) << "a second backslash ends the first escape";
    EXPECT_EQ(decode_escapes("x\\"), std::string("x\0", 2));
    EXPECT_EQ(decode_escapes("\\777"), "\xff") << "only the low 8 bits";

    std::uint8_t out[4];
    bool lit[4];
    escape_result r = decode_escapes("a\\141b", out, 4, lit);
    ASSERT_EQ(r.count, 3u);
    EXPECT_FALSE(r.overflow);
    EXPECT_TRUE(lit[0]);
    EXPECT_FALSE(lit[1]);
    EXPECT_TRUE(lit[2]);
    r = decode_escapes("abcdefgh", out, 4, lit);
    EXPECT_EQ(r.count, 4u);
    EXPECT_TRUE(r.overflow);
}

// ---------------------------------------------------------------------------------------------------------------
TEST(ProxyText, Substitution) {
    std::uint8_t out[80];
    auto text = [&](std::string_view syntax, std::string_view host, int port) {
        const proxy_text_result r = build_proxy_text(syntax, host, port, out, sizeof out);
        return r.too_long ? std::string("<too long>") : std::string(reinterpret_cast<char*>(out), r.count);
    };
    EXPECT_EQ(text("$1 $2\\n\\r", "unix1", 23), "unix1 23") << "\\n decodes to a zero byte that ends the text";
    EXPECT_EQ(text("\\015$1 $2\\015\\012", "h", 23), "\rh 23\r\n");
    EXPECT_EQ(text("$2:$1", "h", 2323), "2323:h");
    EXPECT_EQ(text("$1$1$3$", "ab", 1), "abab$3$");
    EXPECT_EQ(text("", "h", 1), "");
    EXPECT_EQ(text("\\0$1", "h", 1), "");
    EXPECT_EQ(text("connect $1 $2", std::string(100, 'x'), 23), "<too long>");
    EXPECT_EQ(text(std::string(100, 'y'), "h", 23), "<too long>");
    EXPECT_EQ(text(std::string(60, 'y') + "\\0" + std::string(60, 'z'), "h", 23), std::string(60, 'y'))
        << "only the text before the first zero byte counts";
}

TEST(ProxyText, DottedAddresses) {
    EXPECT_EQ(parse_dotted_ipv4("10.1.2.3"), 0x0A010203u);
    EXPECT_EQ(parse_dotted_ipv4("255.255.255.255"), 0xFFFFFFFFu);
    for (const char* bad : {"", "1.2.3", "1.2.3.4.5", "256.1.1.1", "1..2.3", "1.2.3.4 ", "9gag.com", "0001.1.1.1"})
        EXPECT_FALSE(parse_dotted_ipv4(bad)) << bad;
}

// ---------------------------------------------------------------------------------------------------------------
struct ProxyTest : ::testing::Test {
    session_rig rig;
    void SetUp() override {
        rig.settings.proxy_enable = 1;
        rig.settings.proxy_host = "proxy.local";
        rig.settings.proxy_port = 1080;
        rig.settings.host_name = "10.1.2.3";
        rig.settings.port = 23;
    }
};

TEST_F(ProxyTest, ProxyTextIsSentByTimerOne) {
    rig.settings.proxy_socks_enable = 0;
    rig.settings.proxy_syntax = "\\015$1 $2\\015\\012";
    rig.settings.host_name = "h";
    ASSERT_TRUE(rig.connect("h", 23));
    EXPECT_EQ(rig.sock().host, "proxy.local");
    EXPECT_EQ(rig.sock().port, 1080);
    EXPECT_TRUE(rig.timer.running);
    EXPECT_EQ(rig.timer.last_ms, 2000);
    EXPECT_TRUE(rig.sock().writes.empty());
    rig.s.on_proxy_timer();
    EXPECT_FALSE(rig.timer.running);
    ASSERT_EQ(rig.sock().writes.size(), 2u);
    EXPECT_EQ(rig.sock().writes[0], "\r");
    EXPECT_EQ(rig.sock().writes[1], "h 23\r\n");
    rig.s.on_proxy_timer();
    EXPECT_EQ(rig.sock().writes.size(), 2u) << "sent once";
}

TEST_F(ProxyTest, PrintableProxyTextGoesInOneWriteAndEmptyTextSendsNothing) {
    rig.settings.proxy_socks_enable = 0;
    rig.settings.host_name = "unix1";
    ASSERT_TRUE(rig.connect("unix1", 23));
    rig.s.on_proxy_timer();
    ASSERT_EQ(rig.sock().writes.size(), 1u);
    EXPECT_EQ(rig.sock().writes[0], "unix1 23");

    rig.s.disconnect(true);
    rig.settings.proxy_syntax = "\\0";
    ASSERT_TRUE(rig.connect("unix1", 23));
    rig.s.on_proxy_timer();
    EXPECT_TRUE(rig.sock().writes.empty());
    EXPECT_TRUE(rig.s.connected());
}

TEST_F(ProxyTest, OverlongProxyTextIsRefusedNotCut) {
    rig.settings.proxy_socks_enable = 0;
    rig.settings.host_name = std::string(200, 'n');
    ASSERT_TRUE(rig.connect(rig.settings.host_name, 23));
    rig.s.on_proxy_timer();
    EXPECT_TRUE(rig.sock().writes.empty());
    ASSERT_EQ(rig.ui.messages.size(), 1u);
    EXPECT_EQ(rig.ui.messages[0], session_msg::proxy_too_long);
    EXPECT_FALSE(rig.s.connected());
}

TEST_F(ProxyTest, LateConnectionNeverSendsItsLogIn) {
    rig.settings.proxy_socks_enable = 0;
    rig.sockets.result = cr::in_progress;
    ASSERT_TRUE(rig.connect());
    EXPECT_TRUE(rig.s.connecting());
    rig.s.on_proxy_timer();  // fires while still waiting
    rig.s.on_connect_complete(0);
    EXPECT_TRUE(rig.s.connected());
    EXPECT_FALSE(rig.timer.running) << "completion does not arm the log-in again";
    EXPECT_TRUE(rig.sock().writes.empty());
}

TEST_F(ProxyTest, SocksRequestAndGrantedReply) {
    rig.settings.proxy_syntax = "abc";
    ASSERT_TRUE(rig.connect("10.1.2.3", 23));
    rig.s.on_proxy_timer();
    ASSERT_EQ(rig.sock().writes.size(), 1u);
    EXPECT_EQ(rig.sock().writes[0], bytes({4, 1, 0, 23, 10, 1, 2, 3, 97, 98, 99, 0}));
    EXPECT_TRUE(rig.s.socks_reply_pending());
    // Data from the target may arrive in the same read as the reply; it is kept.
    rig.receive(bytes({0, 90, 0, 0, 0, 0, 0, 0}) + "login: ");
    EXPECT_FALSE(rig.s.socks_reply_pending());
    EXPECT_EQ(rig.row(1), "login:");
    EXPECT_TRUE(rig.s.connected());
}

TEST_F(ProxyTest, SocksReplySplitAcrossReads) {
    rig.settings.proxy_syntax = "";
    ASSERT_TRUE(rig.connect());
    rig.s.on_proxy_timer();
    rig.receive("hello ");  // not a reply: ordinary data, still waiting
    EXPECT_TRUE(rig.s.socks_reply_pending());
    rig.receive(bytes({0}));
    EXPECT_TRUE(rig.s.socks_reply_pending());
    rig.receive(bytes({90, 1, 2}));
    rig.receive(bytes({3, 4, 5, 6}) + "ok");
    EXPECT_FALSE(rig.s.socks_reply_pending());
    EXPECT_EQ(rig.row(1), "hello ok");
}

TEST_F(ProxyTest, SocksRefusalEndsTheSessionLikeALostConnection) {
    ASSERT_TRUE(rig.connect());
    rig.s.on_proxy_timer();
    rig.receive(bytes({0, 91, 0, 0, 0, 0, 0, 0}) + "junk");
    EXPECT_FALSE(rig.s.connected());
    ASSERT_EQ(rig.ui.messages.size(), 1u);
    EXPECT_EQ(rig.ui.messages[0], "Connection to host has been lost\n"
                                  "The SOCKS 4 proxy refused the connection: code 91 (request rejected or failed).");
    EXPECT_EQ(rig.row(1), "");
    EXPECT_EQ(rig.view.exits, 0);

    rig.settings.exit = 1;
    ASSERT_TRUE(rig.connect());
    rig.s.on_proxy_timer();
    rig.receive(bytes({0, 92}));
    EXPECT_FALSE(rig.s.connected());
    EXPECT_EQ(rig.ui.messages.size(), 1u);
    EXPECT_EQ(rig.view.exits, 1);
}

TEST_F(ProxyTest, SocksNameLookupAndItsFailure) {
    rig.settings.host_name = "unix1";
    rig.sockets.names["unix1"] = 0xC0A80001;
    ASSERT_TRUE(rig.connect());
    rig.s.on_proxy_timer();
    ASSERT_EQ(rig.sock().writes.size(), 1u);
    EXPECT_EQ(rig.sock().writes[0].substr(4, 4), bytes({192, 168, 0, 1}));
    rig.s.disconnect(true);

    // Names that start with a digit or a non-ASCII letter are names too.
    for (const std::string host : {"1und1.example", "\xc3\xb1u.example"}) {
        rig.settings.host_name = host;
        rig.sockets.names[host] = 0x0A000002;
        ASSERT_TRUE(rig.connect());
        rig.s.on_proxy_timer();
        ASSERT_EQ(rig.sock().writes.size(), 1u) << host;
        EXPECT_EQ(rig.sock().writes[0].substr(4, 4), bytes({10, 0, 0, 2})) << host;
        rig.s.disconnect(true);
    }
    EXPECT_TRUE(rig.ui.messages.empty());

    rig.settings.exit = 1;
    for (const std::string& host :
         std::vector<std::string>{"nowhere", "0.0.0.0", "255.255.255.255", "9gag.example", "", std::string(80, 'a')}) {
        rig.ui.messages.clear();
        rig.settings.host_name = host;
        if (host.size() == 80) rig.sockets.names[host] = 0x01020304;
        ASSERT_TRUE(rig.connect());
        rig.s.on_proxy_timer();
        EXPECT_TRUE(rig.sock().writes.empty()) << host;
        ASSERT_EQ(rig.ui.messages.size(), 1u) << host;
        EXPECT_EQ(rig.ui.messages[0],
                  "Cannot make a DNS lookup for the host. Check tcp/ip configuration or use a raw ip address.");
        EXPECT_FALSE(rig.s.connected());
    }
    EXPECT_EQ(rig.view.exits, 0) << "the program stays even with exit on";
}

TEST_F(ProxyTest, Socks4RefusalCodesAreNamed) {
    const std::pair<int, const char*> rows[] = {
        {91, "code 91 (request rejected or failed)"},
        {92, "code 92 (the proxy cannot reach this computer's identd)"},
        {93, "code 93 (identd reports a different user id)"},
        {7, "code 7 (unknown code)"},
    };
    for (const auto& [code, words] : rows) {
        rig.ui.messages.clear();
        ASSERT_TRUE(rig.connect());
        rig.s.on_proxy_timer();
        rig.receive(bytes({0, code, 0, 0, 0, 0, 0, 0}));
        EXPECT_FALSE(rig.s.connected()) << code;
        EXPECT_EQ(rig.ui.messages, std::vector<std::string>{"Connection to host has been lost\nThe SOCKS 4 proxy "
                                                            "refused the connection: " +
                                                            std::string(words) + "."});
    }
}

// ---------------------------------------------------------------------------------------------------------------
// SOCKS 5 (proxy_socks_enable 5): greeting, method choice, CONNECT, reply.
struct Socks5Test : ProxyTest {
    void SetUp() override {
        ProxyTest::SetUp();
        rig.settings.proxy_socks_enable = 5;
        rig.settings.host_name = "unix1.example";
    }
    // Connects, lets timer 1 send the greeting and answers it with "no authentication".
    void greet() {
        ASSERT_TRUE(rig.connect());
        rig.s.on_proxy_timer();
        ASSERT_EQ(rig.sock().all_written(), bytes({5, 1, 0}));
        EXPECT_TRUE(rig.s.socks_reply_pending());
        rig.receive(bytes({5, 0}));
    }
};

TEST_F(Socks5Test, RequestsByNameOrAddressAndTakesEveryReplyForm) {
    struct row {
        const char* host;
        std::string request;  // after 5, 1, 0
        std::string reply;    // a grant, bound address included
    };
    const row rows[] = {
        {"unix1.example", bytes({3, 13}) + "unix1.example" + bytes({0, 23}), bytes({5, 0, 0, 1, 10, 0, 0, 9, 4, 1})},
        {"10.1.2.3", bytes({1, 10, 1, 2, 3, 0, 23}), bytes({5, 0, 0, 3, 4}) + "prox" + bytes({4, 1})},
        {"10.1.2.3", bytes({1, 10, 1, 2, 3, 0, 23}), bytes({5, 0, 0, 4}) + std::string(16, '\1') + bytes({4, 1})},
    };
    for (const row& r : rows) {
        for (std::size_t chunk : {std::size_t{1}, std::size_t{100}}) {
            rig.settings.host_name = r.host;
            greet();
            ASSERT_EQ(rig.sock().all_written(), bytes({5, 1, 0, 5, 1, 0}) + r.request) << r.host;
            rig.receive_split(r.reply + "login:", chunk);
            EXPECT_FALSE(rig.s.socks_reply_pending()) << r.host;
            EXPECT_FALSE(rig.s.setting_up()) << r.host;
            EXPECT_TRUE(rig.s.connected()) << r.host;
            EXPECT_EQ(rig.row(1), "login:") << r.host << " in pieces of " << chunk;
            EXPECT_TRUE(rig.ui.messages.empty()) << rig.ui.messages[0];
            rig.s.disconnect(true);
            rig.term.feed(reinterpret_cast<const std::uint8_t*>("\033[H\033[2J"), 7);
        }
    }
}

TEST_F(Socks5Test, RefusalsAndOddRepliesEndTheAttemptWithTheirCause) {
    const std::string lost = "Connection to host has been lost\n";
    const std::string refused = lost + "The SOCKS 5 proxy refused the connection: ";
    const struct {
        std::string method_reply;  // answer to the greeting
        std::string reply;         // answer to the CONNECT
        std::string message;
    } rows[] = {
        {bytes({5, 0}), bytes({5, 1, 0, 1}), refused + "code 1 (general SOCKS server failure)."},
        {bytes({5, 0}), bytes({5, 2}), refused + "code 2 (connection not allowed by ruleset)."},
        {bytes({5, 0}), bytes({5, 3}), refused + "code 3 (network unreachable)."},
        {bytes({5, 0}), bytes({5, 4}), refused + "code 4 (host unreachable)."},
        {bytes({5, 0}), bytes({5, 5, 0, 1, 0, 0, 0, 0, 0, 0}), refused + "code 5 (connection refused)."},
        {bytes({5, 0}), bytes({5, 6}), refused + "code 6 (TTL expired)."},
        {bytes({5, 0}), bytes({5, 7}), refused + "code 7 (command not supported)."},
        {bytes({5, 0}), bytes({5, 8}), refused + "code 8 (address type not supported)."},
        {bytes({5, 0}), bytes({5, 9}), refused + "code 9 (unknown code)."},
        {bytes({5, 0xFF}), "",
         lost + "The SOCKS 5 proxy asks for an authentication method this program does not offer."},
        {bytes({5, 2}), "", lost + "The proxy's answer is not a SOCKS 5 reply."},
        {bytes({0, 90}), "", lost + "The proxy's answer is not a SOCKS 5 reply."},
        {bytes({5, 0}), bytes({4, 0}), lost + "The proxy's answer is not a SOCKS 5 reply."},
        {bytes({5, 0}), bytes({5, 0, 0, 7, 1}), lost + "The proxy's answer is not a SOCKS 5 reply."},
    };
    for (const auto& r : rows) {
        rig.ui.messages.clear();
        ASSERT_TRUE(rig.connect());
        rig.s.on_proxy_timer();
        rig.receive(r.method_reply);
        if (!r.reply.empty()) rig.receive(r.reply + "junk");
        EXPECT_FALSE(rig.s.connected()) << r.message;
        EXPECT_EQ(rig.ui.messages, std::vector<std::string>{r.message});
        EXPECT_EQ(rig.row(1), "") << "nothing of the proxy's reply is shown";
    }
}

TEST_F(Socks5Test, NamesThatCannotBeSentAreRefusedBeforeTheConnect) {
    for (const std::string& host : {std::string(), std::string(256, 'n')}) {
        rig.ui.messages.clear();
        rig.settings.host_name = host;
        greet();
        EXPECT_EQ(rig.sock().all_written(), bytes({5, 1, 0})) << "no CONNECT";
        ASSERT_EQ(rig.ui.messages.size(), 1u);
        EXPECT_EQ(rig.ui.messages[0], host.empty() ? session_msg::dns : session_msg::proxy_too_long);
        EXPECT_FALSE(rig.s.connected());
    }
}

// ---------------------------------------------------------------------------------------------------------------
// What the socket says went wrong becomes the message's second line.
TEST(ConnectionCauses, AFailedConnectNamesItsCause) {
    const std::string first = "Sorry, cannot create a connection to the selected host.";
    const struct {
        socket_cause cause;
        const char* text;
        std::string second;  // empty: the first line alone
    } rows[] = {
        {socket_cause::resolve_failed, "Host not found",
         "The name could not be resolved: far.example (Host not found)"},
        {socket_cause::resolve_failed, "", "The name could not be resolved: far.example"},
        {socket_cause::refused, "Connection refused", "Cannot connect to far.example:23: the connection was refused."},
        {socket_cause::timed_out, "", "No answer from far.example:23: timed out."},
        {socket_cause::unreachable, "", "Cannot connect to far.example:23: the network is unreachable."},
        {socket_cause::unreachable, "Host unreachable",
         "Cannot connect to far.example:23: the network is unreachable (Host unreachable)."},
        {socket_cause::reset, "", "Cannot connect to far.example:23: the connection was reset."},
        {socket_cause::other, "Permission denied", "Cannot connect to far.example:23: permission denied."},
        {socket_cause::other, "TLS refused", "Cannot connect to far.example:23: TLS refused."},
        {socket_cause::other, "", ""},
        {socket_cause::none, "", ""},
    };
    for (const auto& r : rows) {
        const std::string want = r.second.empty() ? first : first + "\n" + r.second;
        for (const cr way : {cr::failed, cr::in_progress}) {
            session_rig rig;
            rig.sockets.why = {r.cause, r.text};
            rig.sockets.result = way;
            const bool started = rig.connect("far.example", 23);
            if (way == cr::in_progress) {
                ASSERT_TRUE(started);
                rig.s.on_connect_complete(1);
            }
            EXPECT_FALSE(rig.s.busy());
            EXPECT_EQ(rig.ui.messages, std::vector<std::string>{want}) << (way == cr::failed ? "at once" : "later");
        }
    }

    // Through a proxy it is the proxy's name that did not resolve.
    session_rig rig;
    rig.settings.proxy_enable = 1;
    rig.settings.proxy_host = "socks.example";
    rig.sockets.why = {socket_cause::resolve_failed, "Host not found"};
    rig.sockets.result = cr::failed;
    EXPECT_FALSE(rig.connect("far.example", 23));
    EXPECT_EQ(rig.ui.messages,
              std::vector<std::string>{first + "\nThe name could not be resolved: socks.example (Host not found)"});
}

// The second line says whom the attempt or the session was with: the user only for SSH and only when known, an
// IPv6 address in brackets, the proxy when the socket never reached past it.
TEST(ConnectionCauses, TheCauseNamesTheTarget) {
    struct target {
        int ssh;  // 0 Telnet, 1 SSH-1, 2 SSH-2
        const char* user;
        const char* host;
        int port;
        bool proxy;
    };
    struct row {
        target to;
        socket_failure why;
        std::string second;
    };
    const row at_connect[] = {
        {{2, "sshtest", "127.0.0.1", 22202, false},
         {socket_cause::refused, ""},
         "Cannot connect to sshtest@127.0.0.1:22202: the connection was refused."},
        {{1, "sshtest", "127.0.0.1", 22, false},
         {socket_cause::timed_out, ""},
         "No answer from sshtest@127.0.0.1:22: timed out."},
        {{2, "", "127.0.0.1", 22202, false},
         {socket_cause::refused, ""},
         "Cannot connect to 127.0.0.1:22202: the connection was refused."},
        {{0, "sshtest", "127.0.0.1", 2323, false},
         {socket_cause::refused, ""},
         "Cannot connect to 127.0.0.1:2323: the connection was refused."},
        {{2, "u", "::1", 2222, false},
         {socket_cause::unreachable, ""},
         "Cannot connect to u@[::1]:2222: the network is unreachable."},
        {{2, "u", "h2", 22, true},
         {socket_cause::refused, ""},
         "Cannot connect to the proxy socks.example:1080: the connection was refused."},
        {{2, "u", "h2", 22, false}, {socket_cause::resolve_failed, ""}, "The name could not be resolved: h2"},
    };
    const row on_a_session[] = {
        {{2, "sshtest", "127.0.0.1", 22202, false},
         {socket_cause::reset, ""},
         "The connection to sshtest@127.0.0.1:22202 was reset."},
        {{0, "", "::1", 23, false}, {socket_cause::timed_out, ""}, "No answer from [::1]:23: timed out."},
        {{0, "", "127.0.0.1", 2323, false},
         {socket_cause::other, "Network dropped"},
         "The connection to 127.0.0.1:2323 failed: network dropped."},
        {{0, "sshtest", "127.0.0.1", 2323, false}, {}, "The host 127.0.0.1:2323 closed the connection."},
    };
    const auto check = [](const row& r, bool established) {
        SCOPED_TRACE(r.second);
        session_rig rig;
        fake_ssh engine;
        engine.handshake_done = true;
        rig.s.set_ssh_engine(&engine);
        rig.settings.ssh = r.to.ssh != 0 ? 1 : 0;
        rig.settings.ssh_type_1_2 = r.to.ssh == 2 ? 1 : 0;
        rig.settings.ssh_user = r.to.user;
        rig.settings.proxy_enable = r.to.proxy ? 1 : 0;
        rig.settings.proxy_host = "socks.example";
        rig.settings.proxy_port = 1080;
        if (!established) {
            rig.sockets.why = r.why;
            rig.sockets.result = cr::in_progress;
        }
        ASSERT_TRUE(rig.connect(r.to.host, r.to.port));
        if (established) {
            rig.sock().why = r.why;
            rig.s.on_close();
        } else {
            rig.s.on_connect_complete(1);
        }
        EXPECT_FALSE(rig.s.busy());
        const std::string first(established ? session_msg::lost : session_msg::cannot_connect);
        EXPECT_EQ(rig.ui.messages, std::vector<std::string>{first + "\n" + r.second});
    };
    for (const row& r : at_connect) check(r, false);
    for (const row& r : on_a_session) check(r, true);
}

TEST(ConnectionCauses, OnlyATelnetHostsOrderlyCloseIsNamedSo) {
    const std::string lost = "Connection to host has been lost";
    const struct {
        const char* name;
        bool ssh;
        bool proxy_pending;  // a SOCKS proxy that closes before its grant
        socket_failure why;
        std::string message;
    } rows[] = {
        {"telnet, orderly", false, false, {}, lost + "\nThe host h:23 closed the connection."},
        {"telnet, reset", false, false, {socket_cause::reset, ""}, lost + "\nThe connection to h:23 was reset."},
        {"telnet, other error",
         false,
         false,
         {socket_cause::other, "Network dropped"},
         lost + "\nThe connection to h:23 failed: network dropped."},
        {"telnet, proxy closes first", false, true, {}, lost},
        {"ssh, orderly", true, false, {}, lost},
        {"ssh, reset", true, false, {socket_cause::reset, ""}, lost + "\nThe connection to h:23 was reset."},
    };
    for (const auto& r : rows) {
        session_rig rig;
        fake_ssh engine;
        engine.handshake_done = true;
        rig.s.set_ssh_engine(&engine);
        rig.settings.ssh = r.ssh ? 1 : 0;
        rig.settings.proxy_enable = r.proxy_pending ? 1 : 0;
        ASSERT_TRUE(rig.connect()) << r.name;
        rig.sock().why = r.why;
        rig.s.on_close();
        EXPECT_FALSE(rig.s.connected()) << r.name;
        EXPECT_EQ(rig.ui.messages, std::vector<std::string>{r.message}) << r.name;

        // With `exit` on the program closes instead, whatever the cause.
        rig.ui.messages.clear();
        rig.settings.exit = 1;
        ASSERT_TRUE(rig.connect()) << r.name;
        rig.sock().why = r.why;
        rig.s.on_close();
        EXPECT_TRUE(rig.ui.messages.empty()) << r.name;
        EXPECT_EQ(rig.view.exits, 1) << r.name;
    }
}

// ---------------------------------------------------------------------------------------------------------------
TEST(Connection, FailuresShowTheirMessagesAndLeaveNoSession) {
    session_rig rig;
    rig.sockets.fail_create = true;
    EXPECT_FALSE(rig.connect());
    rig.sockets.fail_create = false;
    rig.sockets.result = cr::failed;
    EXPECT_FALSE(rig.connect());
    EXPECT_TRUE(rig.sock().closed);
    rig.sockets.result = cr::in_progress;
    ASSERT_TRUE(rig.connect("slow", 23));
    EXPECT_EQ(rig.view.title, "slow");
    EXPECT_TRUE(rig.s.busy());
    EXPECT_TRUE(rig.s.abort_connect_by_click());
    EXPECT_FALSE(rig.s.busy());
    EXPECT_EQ(rig.view.title, "");
    ASSERT_TRUE(rig.connect("late", 23));
    rig.s.on_connect_complete(111);
    EXPECT_FALSE(rig.s.busy());
    const std::vector<std::string> expected = {
        "Cannot access the socket interface. Check the tcp/ip protocol stack.",
        "Sorry, cannot create a connection to the selected host.",
        "Connection has been aborted. (Left mouse key pressed)",
        "Sorry, cannot create a connection to the selected host.",
    };
    EXPECT_EQ(rig.ui.messages, expected);
}

TEST(Connection, ClicksDoNotAbortAnEstablishedConnection) {
    session_rig rig;
    rig.sockets.result = cr::in_progress;
    ASSERT_TRUE(rig.connect());
    rig.s.on_connect_complete(0);
    EXPECT_TRUE(rig.s.connected());
    EXPECT_FALSE(rig.s.connecting());
    EXPECT_FALSE(rig.s.abort_connect_by_click());
    EXPECT_TRUE(rig.s.connected());
    EXPECT_FALSE(rig.connect()) << "never two sessions at once";
    EXPECT_EQ(rig.sockets.created, 1);
}

TEST(Connection, HostCloseShowsWhatWasSentThenEnds) {
    session_rig rig;
    ASSERT_TRUE(rig.connect());
    rig.sock().incoming = {"bye"};
    rig.s.on_close();
    EXPECT_EQ(rig.row(1), "bye");
    EXPECT_FALSE(rig.s.connected());
    EXPECT_EQ(rig.ui.messages,
              std::vector<std::string>{"Connection to host has been lost\nThe host h:23 closed the connection."});
    EXPECT_EQ(rig.view.exits, 0);
    EXPECT_TRUE(rig.sock().closed);
}

// The SSH engine hears when the host itself is reached (not a proxy, which speaks first) and when the user ends a
// session whose host is still there (not after the host closed it). However the connection ends, the engine is
// reset then, so its file transfers and tunnels hear of it at once.
TEST(Connection, SshEngineIsToldOfTheHostReachedOfTheUsersGoodbyeAndOfEveryEnd) {
    enum class end { user, host_closes, reset };
    const struct {
        const char* name;
        bool proxy;
        end how;
        int connects, goodbyes;
    } rows[] = {
        {"direct, the user disconnects", false, end::user, 1, 1},
        {"direct, the host closes", false, end::host_closes, 1, 0},
        {"direct, the connection is reset", false, end::reset, 1, 0},
        {"through a proxy, the user disconnects", true, end::user, 0, 1},
    };
    for (const auto& r : rows) {
        session_rig rig;
        fake_ssh engine;
        rig.s.set_ssh_engine(&engine);
        rig.settings.ssh = 1;
        rig.settings.proxy_enable = r.proxy ? 1 : 0;
        rig.settings.proxy_host = "127.0.0.1";
        rig.settings.proxy_port = 1080;
        ASSERT_TRUE(rig.connect()) << r.name;
        EXPECT_EQ(engine.connects, r.connects) << r.name;
        const int resets = engine.resets;
        switch (r.how) {
        case end::user: rig.s.disconnect(true); break;
        case end::reset: rig.sock().why.cause = socket_cause::reset; [[fallthrough]];
        case end::host_closes: rig.s.on_close(); break;
        }
        EXPECT_FALSE(rig.s.connected()) << r.name;
        EXPECT_EQ(engine.goodbyes, r.goodbyes) << r.name;
        EXPECT_GT(engine.resets, resets) << r.name;
    }
}

// A control string the last host left open must not swallow the next host's output.
TEST(Connection, NewConnectionStartsTheEmulatorInGround) {
    session_rig rig;
    ASSERT_TRUE(rig.connect());
    rig.receive("ab\033Pjunk");
    rig.s.disconnect(true);
    ASSERT_TRUE(rig.connect());
    rig.receive("ok");
    EXPECT_EQ(rig.row(1), "abok");
}

TEST(Connection, CloseDuringAPassIsHandledAfterIt) {
    session_rig rig;
    ASSERT_TRUE(rig.connect());
    rig.sock().incoming = {"first", "second"};
    rig.view.during_pump = [&] { rig.s.on_close(); };
    rig.s.on_read(0);
    EXPECT_EQ(rig.row(1), "firstsecond");
    EXPECT_FALSE(rig.s.connected());
    EXPECT_EQ(rig.ui.messages.size(), 1u);
}

TEST(Connection, ExitSettingEndsTheProgramOnlyWhenTheHostCloses) {
    session_rig rig;
    rig.settings.exit = 1;
    ASSERT_TRUE(rig.connect());
    rig.s.disconnect(true);  // the Disconnect command
    EXPECT_EQ(rig.view.exits, 0);
    ASSERT_TRUE(rig.connect());
    rig.s.on_close();
    EXPECT_EQ(rig.view.exits, 1);
    EXPECT_TRUE(rig.ui.messages.empty());
}

TEST(Connection, AMessageRaisedInAPassWaitsForThePassAndMayEndTheSession) {
    session_rig rig;
    ASSERT_TRUE(rig.connect());
    rig.sock().write_limit = -1;
    const std::string fill(1995, 'f');
    rig.s.send_to_host(reinterpret_cast<const std::uint8_t*>(fill.data()), fill.size());
    // The emulator's reply overflows the queue. Its message comes once the whole read is shown, outside the
    // pass; the user disconnects while it is up.
    std::string shown_before_box;
    rig.ui.during_message = [&] {
        shown_before_box = rig.row(1);
        EXPECT_EQ(rig.s.receive_guard(), 1) << "no read while the box is up";
        rig.s.disconnect(true);
    };
    rig.receive("A\033[cB");
    EXPECT_EQ(shown_before_box, "AB");
    EXPECT_EQ(rig.ui.messages.size(), 1u);
    EXPECT_FALSE(rig.s.connected());
    EXPECT_EQ(rig.s.last_ending().cause, "Disconnected.");
}

// An engine's messages and questions wait until its step has returned, come in the order raised, and run while
// the socket is not read; an answer is applied only to the session that asked.
TEST(Connection, EngineQuestionsComeAfterTheStepAndOnlyTheAskingSessionHearsTheAnswer) {
    const struct {
        const char* name;
        bool disconnect_in_dialog;  // the user ends the session while the question is up
        bool end_in_step;           // the step that asked also failed
    } rows[] = {
        {"answered", false, false},
        {"user disconnects during the dialog", true, false},
        {"the asking step failed after asking", false, true},
    };
    for (const auto& r : rows) {
        session_rig rig;
        fake_ssh engine;
        rig.s.set_ssh_engine(&engine);
        rig.settings.ssh = 1;
        ASSERT_TRUE(rig.connect()) << r.name;
        std::vector<std::string> order;
        rig.ui.during_message = [&] { order.push_back("box"); };
        engine.during_receive = [&] {
            rig.s.messages().message_box("host key note");
            rig.s.session_ask([&] {
                order.push_back("put");
                EXPECT_EQ(rig.s.receive_guard(), 1) << r.name;
                if (r.disconnect_in_dialog) rig.s.disconnect(true);
                return std::function<void()>([&] { order.push_back("answer applied"); });
            });
            if (r.end_in_step) rig.s.session_fail("refused");
            order.push_back("step returned");
        };
        rig.sock().incoming = {"x"};
        rig.s.on_read(0);
        const std::vector<std::string> want =
            r.disconnect_in_dialog ? std::vector<std::string>{"step returned", "box", "put"}
            : r.end_in_step        ? std::vector<std::string>{"step returned", "box", "box"}
                                   : std::vector<std::string>{"step returned", "box", "put", "answer applied"};
        EXPECT_EQ(order, want) << r.name;
        EXPECT_EQ(rig.s.connected(), !r.disconnect_in_dialog && !r.end_in_step) << r.name;
        if (r.end_in_step) {
            EXPECT_EQ(rig.ui.messages, (std::vector<std::string>{"host key note", "refused"})) << r.name;
            ASSERT_FALSE(rig.endings.empty()) << r.name;
            EXPECT_EQ(rig.endings.back().end.cause, "refused") << r.name;
        }
    }
}

// ---------------------------------------------------------------------------------------------------------------
struct AutoLogin : ::testing::Test {
    session_rig rig;
};

TEST_F(AutoLogin, AnswersEachPromptOncePerConnection) {
    rig.settings.auto_search1 = "login:";
    rig.settings.auto_response1 = "guest\\015";
    rig.settings.auto_search2 = "Password:";
    rig.settings.auto_response2 = "secret\\015";
    ASSERT_TRUE(rig.connect());
    rig.receive("welcome\r\nlogin: ");
    ASSERT_EQ(rig.sock().writes.size(), 1u);
    EXPECT_EQ(rig.sock().writes[0], "guest\r");
    rig.receive("login: ");
    EXPECT_EQ(rig.sock().writes.size(), 1u);
    rig.receive("Password:");
    ASSERT_EQ(rig.sock().writes.size(), 2u);
    EXPECT_EQ(rig.sock().writes[1], "secret\r");

    rig.s.disconnect(true);
    ASSERT_TRUE(rig.connect());
    rig.receive("login: Password:");  // both pairs on one read, armed again by the new connection
    EXPECT_EQ(rig.sock().all_written(), "guest\rsecret\r");
}

TEST_F(AutoLogin, SplitPromptOrPromptAfterAZeroByteIsNotRecognised) {
    rig.settings.auto_search1 = "login:";
    rig.settings.auto_response1 = "guest";
    ASSERT_TRUE(rig.connect());
    rig.receive("log");
    rig.receive("in:");
    rig.receive(std::string("a\0login:", 8));
    EXPECT_TRUE(rig.sock().writes.empty());
    EXPECT_TRUE(rig.s.auto_login_pending(1));
}

TEST_F(AutoLogin, EmptyTextsAndTranslation) {
    rig.settings.auto_search1 = "";
    rig.settings.auto_response1 = "never";
    rig.settings.auto_search2 = "user";
    rig.settings.auto_response2 = "";
    ASSERT_TRUE(rig.connect());
    EXPECT_FALSE(rig.s.auto_login_pending(1));
    rig.receive("user");
    EXPECT_TRUE(rig.sock().writes.empty());
    EXPECT_FALSE(rig.s.auto_login_pending(2));

    rig.s.disconnect(true);
    rig.pctonet['a'] = 'b';
    rig.settings.auto_search1 = "?";
    rig.settings.auto_response1 = "a\\141\\n";
    ASSERT_TRUE(rig.connect());
    rig.receive("?");
    ASSERT_EQ(rig.sock().writes.size(), 1u);
    EXPECT_EQ(rig.sock().writes[0], std::string("ba\0n", 4));
}

TEST_F(AutoLogin, OverlongResponseIsRefused) {
    rig.settings.auto_search1 = "login:";
    rig.settings.auto_response1 = std::string(201, 'r');
    ASSERT_TRUE(rig.connect());
    rig.receive("login:");
    EXPECT_TRUE(rig.sock().writes.empty());
    EXPECT_EQ(rig.ui.messages, std::vector<std::string>{std::string(session_msg::response_too_long)});
    rig.s.disconnect(true);
    rig.settings.auto_response1 = std::string(200, 'r');
    ASSERT_TRUE(rig.connect());
    rig.receive("login:");
    EXPECT_EQ(rig.sock().all_written(), std::string(200, 'r'));
}

TEST_F(AutoLogin, SshSessionsNeverAnswer) {
    fake_ssh engine;
    rig.s.set_ssh_engine(&engine);
    rig.settings.ssh = 1;
    rig.settings.auto_search1 = "login:";
    rig.settings.auto_response1 = "guest";
    ASSERT_TRUE(rig.connect());
    const std::string prompt = "login: ";
    rig.s.session_deliver(reinterpret_cast<const std::uint8_t*>(prompt.data()), prompt.size());
    EXPECT_EQ(rig.row(1), "login:");
    EXPECT_TRUE(engine.user_data.empty());
    EXPECT_TRUE(rig.sock().writes.empty());
}

}  // namespace
