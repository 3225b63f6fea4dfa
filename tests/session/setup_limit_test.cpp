// The time limit on setting a connection up (connect, proxy log-in, SSH key exchange) and cancelling an attempt.
#include <gtest/gtest.h>

#include "fakes.h"

namespace {

using cr = session_socket::connect_result;

constexpr std::string_view first_line = "Sorry, cannot create a connection to the selected host.\n";

struct SetupLimit : ::testing::Test {
    session_rig rig;
    fake_ssh engine;
    void SetUp() override {
        rig.s.set_ssh_engine(&engine);
        rig.settings.connect_timeout = 30;
        rig.settings.exit = 1;  // a limit that runs out is a failed attempt: the program stays
    }
    void use_ssh2() {
        rig.settings.ssh = 1;
        rig.settings.ssh_type_1_2 = 1;
        rig.settings.ssh_user = "sshtest";
    }
    void use_proxy(bool socks) {
        rig.settings.proxy_enable = 1;
        rig.settings.proxy_socks_enable = socks ? 1 : 0;
        rig.settings.proxy_host = "proxy.local";
        rig.settings.proxy_port = 1080;
        rig.settings.host_name = "10.1.2.3";
        rig.settings.proxy_syntax = "$1 $2";
    }
    // What the session's timer does next: fires after last_ms.
    void fire() {
        ASSERT_TRUE(rig.timer.running);
        rig.s.on_proxy_timer();
    }
    void expect_ended_with(std::string_view cause) {
        EXPECT_FALSE(rig.s.busy());
        EXPECT_FALSE(rig.s.setting_up());
        EXPECT_FALSE(rig.timer.running);
        EXPECT_TRUE(rig.sock().closed);
        EXPECT_EQ(rig.view.title, "");
        EXPECT_EQ(rig.view.exits, 0);
        ASSERT_EQ(rig.ui.messages.size(), 1u);
        EXPECT_EQ(rig.ui.messages[0], std::string(first_line) + std::string(cause));
    }
};

// Each stage a host (or proxy) can stall in, with the timer's steps up to the limit and the cause named.
TEST_F(SetupLimit, ExpiryNamesTheStageAndEndsTheAttempt) {
    struct stage {
        const char* name;
        bool ssh;
        int proxy;  // 0 none, 1 text, 2 SOCKS
        cr result;
        std::vector<int> steps;  // the timer's durations until the limit
        std::string cause;
    };
    const std::string no_accept = "No answer from 10.1.2.3:22: timed out after 30 s.";
    const std::string ssh_no_accept = "No answer from sshtest@10.1.2.3:22: timed out after 30 s.";
    const std::string no_kex = "The host sshtest@10.1.2.3:22 did not complete the SSH key exchange within 30 s.";
    const std::string proxy_no_accept = "The proxy proxy.local:1080 did not accept the connection within 30 s.";
    const std::string proxy_incomplete = "The proxy did not complete the connection to 10.1.2.3:22 within 30 s.";
    const stage stages[] = {
        {"connect hangs", false, 0, cr::in_progress, {30000}, no_accept},
        {"ssh connect hangs", true, 0, cr::in_progress, {30000}, ssh_no_accept},
        {"silent ssh host", true, 0, cr::connected, {30000}, no_kex},
        {"proxy connect hangs", false, 1, cr::in_progress, {2000, 28000}, proxy_no_accept},
        {"socks grant never comes", false, 2, cr::connected, {2000, 28000}, proxy_incomplete},
        {"ssh through a text proxy", true, 1, cr::connected, {2000, 28000}, no_kex},
    };
    for (const stage& st : stages) {
        SCOPED_TRACE(st.name);
        session_rig& r = rig;
        r.ui.messages.clear();
        r.settings = Settings();
        SetUp();
        if (st.ssh) use_ssh2();
        if (st.proxy) use_proxy(st.proxy == 2);
        r.sockets.result = st.result;
        const int resets = engine.resets;
        ASSERT_TRUE(rig.connect("10.1.2.3", 22));
        EXPECT_TRUE(r.s.setting_up());
        for (int ms : st.steps) {
            EXPECT_TRUE(r.s.busy());
            ASSERT_TRUE(r.timer.running);
            EXPECT_EQ(r.timer.last_ms, ms);
            r.s.on_proxy_timer();
        }
        expect_ended_with(st.cause);
        if (st.ssh) {
            EXPECT_GT(engine.resets, resets + 1) << "the engine forgets the half-made connection";
        }
    }
}

TEST_F(SetupLimit, AnSshHostThatTalksButNeverFinishesTheKeyExchangeStillRunsOut) {
    use_ssh2();
    ASSERT_TRUE(rig.connect());
    rig.receive("SSH-2.0-slow\r\n");
    rig.receive(std::string(100, 'k'));
    EXPECT_TRUE(rig.s.setting_up());
    fire();
    expect_ended_with("The host sshtest@h:23 did not complete the SSH key exchange within 30 s.");
}

// Once set up, the timer is stopped and a late expiry (already queued) changes nothing.
TEST_F(SetupLimit, AnEstablishedSessionCancelsTheLimit) {
    struct way {
        const char* name;
        std::function<void(SetupLimit&)> setup;
    };
    const way ways[] = {
        {"telnet connected at once", [](SetupLimit&) {}},
        {"telnet connected later",
         [](SetupLimit& t) {
             t.rig.sockets.result = cr::in_progress;
             ASSERT_TRUE(t.rig.connect());
             EXPECT_TRUE(t.rig.s.setting_up());
             t.rig.s.on_connect_complete(0);
         }},
        {"ssh key exchange finished",
         [](SetupLimit& t) {
             t.use_ssh2();
             ASSERT_TRUE(t.rig.connect());
             t.rig.receive("SSH-2.0-x\r\n");
             EXPECT_TRUE(t.rig.s.setting_up());
             t.engine.handshake_done = true;
             t.rig.receive("newkeys");
         }},
        {"text proxy log-in sent",
         [](SetupLimit& t) {
             t.use_proxy(false);
             ASSERT_TRUE(t.rig.connect());
             t.fire();
             EXPECT_EQ(t.rig.sock().all_written(), "10.1.2.3 23");
         }},
        {"socks grant read",
         [](SetupLimit& t) {
             t.use_proxy(true);
             ASSERT_TRUE(t.rig.connect());
             t.fire();
             EXPECT_TRUE(t.rig.s.setting_up()) << "the grant is still to come";
             t.rig.receive(bytes({0, 90, 0, 0, 0, 0, 0, 0}));
         }},
    };
    for (const way& w : ways) {
        SCOPED_TRACE(w.name);
        rig.s.disconnect(true);
        rig.settings = Settings();
        rig.sockets.result = cr::connected;
        rig.ui.messages.clear();
        engine.handshake_done = false;
        SetUp();
        w.setup(*this);
        if (!rig.s.busy()) {
            ASSERT_TRUE(rig.connect());
        }
        EXPECT_TRUE(rig.s.connected());
        EXPECT_FALSE(rig.s.setting_up());
        EXPECT_FALSE(rig.timer.running);
        rig.s.on_proxy_timer();  // an expiry that was already on its way
        EXPECT_TRUE(rig.s.connected());
        EXPECT_FALSE(rig.sock().closed);
        EXPECT_TRUE(rig.ui.messages.empty());
    }
}

TEST_F(SetupLimit, CancellingWhileConnectingLeavesNothingBehind) {
    for (bool ssh : {false, true}) {
        SCOPED_TRACE(ssh ? "ssh key exchange" : "tcp connect");
        rig.settings = Settings();
        SetUp();
        if (ssh) use_ssh2();
        rig.sockets.result = ssh ? cr::connected : cr::in_progress;
        ASSERT_TRUE(rig.connect("slow", 23));
        ASSERT_TRUE(rig.s.setting_up());
        fake_socket& sock = rig.sock();
        rig.s.disconnect(true);  // Disconnect command or Esc
        EXPECT_FALSE(rig.s.busy());
        EXPECT_FALSE(rig.s.setting_up());
        EXPECT_FALSE(rig.timer.running);
        EXPECT_TRUE(sock.closed);
        EXPECT_EQ(rig.view.title, "");
        EXPECT_EQ(rig.view.exits, 0);
        // Late news of the abandoned attempt is ignored, and a new attempt gets its own full limit.
        rig.s.on_connect_complete(0);
        rig.s.on_proxy_timer();
        EXPECT_FALSE(rig.s.busy());
        EXPECT_TRUE(rig.ui.messages.empty());
        rig.sockets.result = cr::in_progress;
        ASSERT_TRUE(rig.connect("again", 23));
        EXPECT_EQ(rig.timer.last_ms, 30000);
        rig.s.disconnect(true);
    }
}

TEST_F(SetupLimit, SettingChoosesTheLimitAndZeroMeansNone) {
    rig.sockets.result = cr::in_progress;
    rig.settings.connect_timeout = 2;
    ASSERT_TRUE(rig.connect());
    EXPECT_EQ(rig.timer.last_ms, 2000);
    fire();
    EXPECT_EQ(rig.ui.messages.back(), std::string(first_line) + "No answer from h:23: timed out after 2 s.");

    rig.settings.connect_timeout = 0;
    ASSERT_TRUE(rig.connect());
    EXPECT_TRUE(rig.s.setting_up());
    EXPECT_FALSE(rig.timer.running) << "no limit";

    // Without a limit a proxy's log-in still has its timer; a limit shorter than it comes first.
    rig.s.disconnect(true);
    use_proxy(false);
    rig.sockets.result = cr::connected;
    ASSERT_TRUE(rig.connect());
    EXPECT_EQ(rig.timer.last_ms, 2000);
    fire();
    EXPECT_FALSE(rig.timer.running);
    EXPECT_TRUE(rig.s.connected());
    rig.s.disconnect(true);
    rig.settings.connect_timeout = 1;
    ASSERT_TRUE(rig.connect());
    EXPECT_EQ(rig.timer.last_ms, 1000);
    fire();
    EXPECT_EQ(rig.ui.messages.back(),
              std::string(first_line) + "The proxy did not complete the connection to h:23 within 1 s.");
    EXPECT_TRUE(rig.sock().writes.empty()) << "the log-in never went out";
}

// A question to the user inside the handling of the host's data (the host key) may take longer than the limit;
// the host is given its full time again after it.
TEST_F(SetupLimit, TimeSpentOnAQuestionToTheUserDoesNotCount) {
    use_ssh2();
    ASSERT_TRUE(rig.connect());
    engine.during_receive = [&] {
        rig.s.on_proxy_timer();  // the limit runs out while the question is open
        EXPECT_TRUE(rig.s.connected());
        EXPECT_TRUE(rig.timer.running);
        EXPECT_EQ(rig.timer.last_ms, 30000);
    };
    rig.receive("host key");
    engine.during_receive = nullptr;
    EXPECT_TRUE(rig.s.setting_up());
    EXPECT_TRUE(rig.ui.messages.empty());
    fire();
    expect_ended_with("The host sshtest@h:23 did not complete the SSH key exchange within 30 s.");

    // The question answered and the exchange finished within the same data: set up.
    rig.ui.messages.clear();
    engine.handshake_done = false;
    ASSERT_TRUE(rig.connect());
    engine.during_receive = [&] {
        rig.s.on_proxy_timer();
        engine.handshake_done = true;
    };
    rig.receive("host key");
    engine.during_receive = nullptr;
    EXPECT_FALSE(rig.s.setting_up());
    EXPECT_FALSE(rig.timer.running);
    EXPECT_TRUE(rig.s.connected());
}

// Events run by the read pass's own pump are not a user's answer: a host that keeps sending cannot push the
// limit back that way.
TEST_F(SetupLimit, ExpiryDuringThePumpStillEndsTheAttempt) {
    use_ssh2();
    ASSERT_TRUE(rig.connect());
    rig.view.during_pump = [&] { rig.s.on_proxy_timer(); };
    rig.receive("SSH-2.0-x\r\n");
    expect_ended_with("The host sshtest@h:23 did not complete the SSH key exchange within 30 s.");
    EXPECT_EQ(engine.received, "") << "nothing read after the end";
}

}  // namespace
