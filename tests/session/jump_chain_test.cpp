// The jump chain over in-memory sockets: how a first hop that cannot be reached or does not speak SSH-2 ends the
// attempt (the hop named, the cause in the socket's words), and a reader that drops the socket from inside the
// notification, as the session does.
#include <gtest/gtest.h>

#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "config/ui_services.h"
#include "fakes.h"
#include "session/jump.h"
#include "ssh/services.h"

namespace {

// The real socket below the first hop: the test plays the network through the events it was made with.
struct scripted_socket final : session_socket {
    connect_result result = connect_result::in_progress;
    socket_failure why;
    std::string host, written;
    std::uint16_t port = 0;
    std::deque<std::string> incoming;
    bool closed = false;

    connect_result connect(std::string_view h, std::uint16_t p) override {
        host = std::string(h);
        port = p;
        return result;
    }
    long read(std::uint8_t* buf, std::size_t n) override {
        if (incoming.empty()) return 0;
        const std::size_t k = std::min(n, incoming.front().size());
        incoming.front().copy(reinterpret_cast<char*>(buf), k);
        incoming.front().erase(0, k);
        if (incoming.front().empty()) incoming.pop_front();
        return static_cast<long>(k);
    }
    long write(const std::uint8_t* buf, std::size_t n) override {
        written.append(reinterpret_cast<const char*>(buf), n);
        return static_cast<long>(n);
    }
    void close() override { closed = true; }
    socket_failure failure() const override { return why; }
};

struct scripted_factory final : socket_factory {
    session_socket::connect_result result = session_socket::connect_result::in_progress;
    socket_failure why;
    socket_events* events = nullptr;
    scripted_socket* last = nullptr;
    std::vector<std::unique_ptr<scripted_socket>> kept;

    // A handle, so the test still sees the socket after the chain let go of it.
    struct handle final : session_socket {
        scripted_socket& s;
        explicit handle(scripted_socket& sock) : s(sock) {}
        connect_result connect(std::string_view h, std::uint16_t p) override { return s.connect(h, p); }
        long read(std::uint8_t* b, std::size_t n) override { return s.read(b, n); }
        long write(const std::uint8_t* b, std::size_t n) override { return s.write(b, n); }
        void close() override { s.close(); }
        socket_failure failure() const override { return s.failure(); }
    };
    std::unique_ptr<session_socket> create(socket_events& ev) override {
        events = &ev;
        kept.push_back(std::make_unique<scripted_socket>());
        last = kept.back().get();
        last->result = result;
        last->why = why;
        return std::make_unique<handle>(*last);
    }
    std::optional<std::uint32_t> lookup_ipv4(std::string_view) override { return std::nullopt; }
};

struct quiet_ui final : ui_services {
    std::vector<std::string> messages;
    void message_box(std::string_view text) override { messages.emplace_back(text); }
    bool ask_yes_no(std::string_view) override { return false; }
};

struct refusing_prompts final : ssh::ssh_prompts {
    int host_keys = 0;
    bool sign_on(ssh_profile&) override { return false; }
    ssh::host_key_answer confirm_host_key(std::string_view, int, std::string_view, std::string_view) override {
        ++host_keys;
        return ssh::host_key_answer::cancel;
    }
};

// What the session would hear; with drop_on_end it lets go of the socket inside the notification, as the session
// does on a failed attempt.
struct upper_events final : socket_events {
    std::unique_ptr<session_socket>* owner = nullptr;
    std::vector<int> completions;
    int reads = 0, closes = 0;
    bool drop_on_end = false;
    std::string failure_text;
    void on_read(int) override { ++reads; }
    void on_connect_complete(int error) override {
        completions.push_back(error);
        if (error != 0 && owner && *owner) {
            failure_text = (*owner)->failure().text;
            if (drop_on_end) {
                (*owner)->close();
                owner->reset();
            }
        }
    }
    void on_close() override { ++closes; }
};

struct JumpHops : ::testing::Test {
    scripted_factory real;
    quiet_ui ui;
    refusing_prompts prompts;
    jump_socket_factory jumps{real, ui};
    upper_events up;
    std::unique_ptr<session_socket> sock;

    void SetUp() override { jumps.set_prompts(&prompts); }
    void make(const std::string& chain) {
        auto hops = parse_jump_chain(chain);
        ASSERT_TRUE(hops);
        connection_profile p;
        p.protocol = TransportKind::Ssh2;
        p.ssh.ssh_password = "the target's";
        jumps.set_chain(*hops, p);
        sock = jumps.create(up);
        up.owner = &sock;
        ASSERT_TRUE(sock);
    }
};

TEST_F(JumpHops, AFirstHopThatCannotBeReachedIsNamedWithTheCause) {
    struct row {
        socket_cause cause;
        std::string text;
        std::string says;
    };
    const row rows[] = {
        {socket_cause::refused, "", "Jump host sshtest@127.0.0.1:22202: the connection was refused."},
        {socket_cause::timed_out, "", "Jump host sshtest@127.0.0.1:22202: no answer: timed out."},
        {socket_cause::unreachable, "", "Jump host sshtest@127.0.0.1:22202: the network is unreachable."},
        {socket_cause::resolve_failed, "",
         "Jump host sshtest@127.0.0.1:22202: the name could not be resolved: 127.0.0.1"},
        {socket_cause::other, "SSL glitch", "Jump host sshtest@127.0.0.1:22202: SSL glitch."},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.says);
        // At once, as a connect the system refuses outright ...
        real.result = session_socket::connect_result::failed;
        real.why = {r.cause, r.text};
        make("sshtest@127.0.0.1:22202");
        EXPECT_EQ(sock->connect("target", 22), session_socket::connect_result::failed);
        EXPECT_EQ(real.last->host, "127.0.0.1");
        EXPECT_EQ(real.last->port, 22202);
        EXPECT_EQ(sock->failure().cause, socket_cause::other);
        EXPECT_EQ(sock->failure().text, r.says);
        EXPECT_TRUE(up.completions.empty()) << "the return value says it";
        sock.reset();
        // ... and later, from the connect's completion.
        real.result = session_socket::connect_result::in_progress;
        make("sshtest@127.0.0.1:22202");
        EXPECT_EQ(sock->connect("target", 22), session_socket::connect_result::in_progress);
        real.events->on_connect_complete(111);
        ASSERT_EQ(up.completions, std::vector<int>{-1});
        EXPECT_EQ(up.failure_text, r.says);
        up.completions.clear();
        sock.reset();
    }
}

TEST_F(JumpHops, AHopThatDoesNotSpeakSshTwoEndsTheAttemptAndMayBeDroppedInsideTheNews) {
    struct row {
        const char* host_says;
        bool drop_on_end;
        const char* says;
    };
    const row rows[] = {
        {"SSH-1.5-old\r\n", false, "Jump host gw:2222: The host speaks only SSH protocol 1."},
        {"SSH-1.5-old\r\n", true, "Jump host gw:2222: The host speaks only SSH protocol 1."},
        {"", true, "Jump host gw:2222: the connection was closed."},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.host_says);
        up = upper_events{};
        up.drop_on_end = r.drop_on_end;
        make("gw:2222");
        EXPECT_EQ(sock->connect("target.example", 22), session_socket::connect_result::in_progress);
        real.events->on_connect_complete(0);
        // Negotiated mode speaks first; nothing of the target's reaches the hop.
        EXPECT_EQ(real.last->written.rfind("SSH-2.0-", 0), 0u);
        scripted_socket& below = *real.last;
        if (*r.host_says) {
            below.incoming.emplace_back(r.host_says);
            real.events->on_read(0);
        } else {
            real.events->on_close();
        }
        ASSERT_EQ(up.completions, std::vector<int>{-1});
        EXPECT_EQ(up.failure_text.rfind(r.says, 0), 0u) << up.failure_text;
        EXPECT_TRUE(below.closed);
        EXPECT_EQ(up.reads + up.closes, 0);
        EXPECT_EQ(sock == nullptr, r.drop_on_end);
        sock.reset();
    }
    EXPECT_EQ(prompts.host_keys, 0);
}

TEST_F(JumpHops, AnEmptyChainIsTheRealSocket) {
    connection_profile p;
    jumps.set_chain({}, p);
    sock = jumps.create(up);
    ASSERT_TRUE(sock);
    EXPECT_EQ(sock->connect("direct", 23), session_socket::connect_result::in_progress);
    EXPECT_EQ(real.last->host, "direct");
    EXPECT_EQ(real.events, &up) << "the session hears its socket directly";
}

// A hop's host-key or sign-on question comes from the socket's own events, outside the session's read pass: the
// set-up limit must wait for the user there too, then run a whole limit again.
TEST(JumpQuestionTime, TheSetupLimitWaitsWhileAHopAsksTheUser) {
    session_rig rig;
    rig.settings.connect_timeout = 2;
    rig.settings.exit = 1;
    rig.sockets.result = session_socket::connect_result::in_progress;
    ASSERT_TRUE(rig.connect());
    ASSERT_TRUE(rig.timer.running);
    rig.s.user_question_open(true);
    rig.s.on_proxy_timer();
    EXPECT_TRUE(rig.s.setting_up()) << "the user's time is not the host's";
    EXPECT_TRUE(rig.ui.messages.empty());
    EXPECT_TRUE(rig.timer.running);
    rig.s.user_question_open(false);
    rig.s.on_proxy_timer();
    EXPECT_FALSE(rig.s.busy());
    ASSERT_EQ(rig.ui.messages.size(), 1u);
    EXPECT_NE(rig.ui.messages[0].find("timed out after 2 s."), std::string::npos) << rig.ui.messages[0];
}

}  // namespace
