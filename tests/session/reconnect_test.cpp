// What Reconnect and the status bar learn from the session: how the latest connection ended (cause, the user's
// own doing, or a failure worth retrying), where it went, the quiet attempts of the automatic reconnect, and the
// liveness watch that says "No answer for N s".
#include <gtest/gtest.h>

#include "fakes.h"
#include "session/liveness.h"

namespace {

using cr = session_socket::connect_result;
const std::string lost = "Connection to host has been lost";

// A session up and showing output, ended in each way the session knows.
TEST(SessionEnding, EachWayOfEndingNamesItsCauseAndWhetherToRetry) {
    const struct {
        const char* name;
        bool ssh;
        bool output;  // the host's data was shown before the ending
        std::function<void(session_rig&, fake_ssh&)> end;
        std::string cause;
        bool by_user, unexpected;
    } rows[] = {
        {"user's Disconnect", false, true, [](session_rig& r, fake_ssh&) { r.s.disconnect(true); }, "Disconnected.",
         true, false},
        {"telnet reset", false, true,
         [](session_rig& r, fake_ssh&) {
             r.sock().why = {socket_cause::reset, ""};
             r.s.on_close();
         },
         lost + "\nThe connection to h:23 was reset.", false, true},
        {"telnet reset before any output", false, false,
         [](session_rig& r, fake_ssh&) {
             r.sock().why = {socket_cause::reset, ""};
             r.s.on_close();
         },
         lost + "\nThe connection to h:23 was reset.", false, false},
        {"telnet orderly close (logout)", false, true, [](session_rig& r, fake_ssh&) { r.s.on_close(); },
         lost + "\nThe host h:23 closed the connection.", false, false},
        {"ssh engine failure", true, true,
         [](session_rig& r, fake_ssh&) { r.s.session_fail(lost + "\nNo answer from the host after 3 keep-alives."); },
         lost + "\nNo answer from the host after 3 keep-alives.", false, true},
        {"ssh refusal during sign-on", true, false,
         [](session_rig& r, fake_ssh&) { r.s.session_fail("The host accepts none of this program's ways to sign on"); },
         "The host accepts none of this program's ways to sign on", false, false},
        {"ssh shell exit", true, true, [](session_rig& r, fake_ssh&) { r.s.session_disconnect(); },
         "The session has ended.", false, false},
        {"ssh host goes away", true, true, [](session_rig& r, fake_ssh&) { r.s.on_close(); }, lost, false, true},
    };
    for (const auto& row : rows) {
        session_rig rig;
        fake_ssh engine;
        engine.handshake_done = true;
        rig.s.set_ssh_engine(&engine);
        rig.settings.ssh = row.ssh ? 1 : 0;
        ASSERT_TRUE(rig.connect()) << row.name;
        if (row.output) {
            if (row.ssh)
                rig.s.session_deliver(reinterpret_cast<const std::uint8_t*>("$ "), 2);
            else
                rig.receive("login: ");
        }
        const std::size_t before = rig.endings.size();
        row.end(rig, engine);
        ASSERT_EQ(rig.endings.size(), before + 1) << row.name << ": each ending is told once";
        EXPECT_FALSE(rig.endings.back().busy) << row.name << ": told after the session let go";
        EXPECT_EQ(rig.endings.back().end.cause, row.cause) << row.name;
        EXPECT_EQ(rig.endings.back().end.by_user, row.by_user) << row.name;
        EXPECT_FALSE(rig.s.busy()) << row.name;
        EXPECT_EQ(rig.s.last_ending().cause, row.cause) << row.name;
        EXPECT_EQ(rig.s.last_ending().by_user, row.by_user) << row.name;
        EXPECT_EQ(rig.s.last_ending().unexpected, row.unexpected) << row.name;

        // A cause the engine named belongs to its own ending only, never to a later one.
        ASSERT_TRUE(rig.connect()) << row.name;
        if (row.ssh) {
            rig.s.session_deliver(reinterpret_cast<const std::uint8_t*>("$ "), 2);
            rig.s.session_disconnect();
            EXPECT_EQ(rig.s.last_ending().cause, "The session has ended.") << row.name;
        } else {
            rig.s.disconnect(true);
            EXPECT_EQ(rig.s.last_ending().cause, "Disconnected.") << row.name;
        }
    }
}

TEST(SessionEnding, FailedAttemptsAndTheirQuietForm) {
    const std::string refused =
        "Sorry, cannot create a connection to the selected host.\nCannot connect to h:23: the connection was refused.";
    session_rig rig;
    EXPECT_TRUE(rig.s.last_ending().cause.empty());
    rig.sockets.why = {socket_cause::refused, "Connection refused"};
    rig.s.disconnect(true);
    EXPECT_TRUE(rig.endings.empty()) << "a Disconnect with nothing to end ends nothing";
    for (const cr way : {cr::failed, cr::in_progress}) {
        const std::size_t before = rig.endings.size();
        rig.ui.messages.clear();
        rig.sockets.result = way;
        rig.s.quiet_next_attempt();
        if (rig.connect()) rig.s.on_connect_complete(1);
        EXPECT_TRUE(rig.ui.messages.empty()) << "a quiet attempt counts down in the status bar instead";
        EXPECT_EQ(rig.s.last_ending().cause, refused);
        EXPECT_FALSE(rig.s.last_ending().unexpected);

        // The next attempt is not quiet unless asked again.
        if (rig.connect()) rig.s.on_connect_complete(1);
        EXPECT_EQ(rig.ui.messages, std::vector<std::string>{refused});
        ASSERT_EQ(rig.endings.size(), before + 2);
        for (std::size_t i = before; i < rig.endings.size(); ++i) {
            EXPECT_EQ(rig.endings[i].end.cause, refused);
            EXPECT_FALSE(rig.endings[i].busy);
        }
    }

    // The set-up limit running out is a failed attempt too.
    rig.sockets.result = cr::in_progress;
    rig.settings.connect_timeout = 5;
    rig.ui.messages.clear();
    rig.s.quiet_next_attempt();
    ASSERT_TRUE(rig.connect());
    rig.s.on_proxy_timer();
    EXPECT_FALSE(rig.s.busy());
    EXPECT_TRUE(rig.ui.messages.empty());
    EXPECT_EQ(rig.s.last_ending().cause,
              "Sorry, cannot create a connection to the selected host.\nNo answer from h:23: timed out after 5 s.");

    // A quiet request does not outlive a successful attempt: the later lost connection still says so.
    rig.sockets.result = cr::connected;
    rig.s.quiet_next_attempt();
    ASSERT_TRUE(rig.connect());
    rig.sock().why = {socket_cause::reset, ""};
    rig.s.on_close();
    EXPECT_EQ(rig.ui.messages, std::vector<std::string>{lost + "\nThe connection to h:23 was reset."});
}

TEST(SessionEnding, ReceivedBytesAndTheAnswerOwed) {
    session_rig rig;
    ASSERT_TRUE(rig.connect());
    EXPECT_FALSE(rig.s.answer_owed());
    rig.receive("hello");
    rig.receive(std::string("\xff\xfb\x01", 3));  // a Telnet command is traffic too
    EXPECT_EQ(rig.s.bytes_received(), 8u);
    rig.s.send_to_host(reinterpret_cast<const std::uint8_t*>("ls\r"), 3);
    EXPECT_TRUE(rig.s.answer_owed());
    rig.receive("ls");
    EXPECT_FALSE(rig.s.answer_owed()) << "the echo answers it";
    rig.s.send_to_host(reinterpret_cast<const std::uint8_t*>("x"), 1);
    rig.s.disconnect(true);
    ASSERT_TRUE(rig.connect());
    EXPECT_FALSE(rig.s.answer_owed()) << "a new connection owes nothing";
    rig.s.disconnect(true);
    rig.s.send_to_host(reinterpret_cast<const std::uint8_t*>("x"), 1);
    EXPECT_FALSE(rig.s.answer_owed()) << "nothing goes out while disconnected";
}

TEST(SessionEnding, TcpKeepAliveOnlyForTelnetWhenAsked) {
    const struct {
        int ssh, telnet_keepalive;
        bool want;
    } rows[] = {{0, 1, true}, {0, 0, false}, {1, 1, false}};
    for (const auto& r : rows) {
        session_rig rig;
        fake_ssh engine;
        rig.s.set_ssh_engine(&engine);
        rig.settings.ssh = r.ssh;
        rig.settings.telnet_keepalive = r.telnet_keepalive;
        ASSERT_TRUE(rig.connect());
        EXPECT_EQ(rig.sock().keep_alive, r.want) << r.ssh << r.telnet_keepalive;
    }
}

// ---------------------------------------------------------------------------------------------------------------
// The one-second watch: each row is a run of ticks, one character a second.
//   '.' nothing happened   'r' data arrived   's' the user sent something   'd' disconnected
// and the silence expected after each tick.
TEST(SilenceWatch, CountsOnlyWhatTheHostOwes) {
    const struct {
        const char* name;
        bool ssh;
        int interval;
        const char* ticks;
        std::vector<int> shown;
    } rows[] = {
        {"ssh quiet past the interval", true, 2, "....", {0, 0, 3, 4}},
        {"ssh data clears it", true, 2, "...r..", {0, 0, 3, 0, 0, 0}},
        {"ssh without an interval", true, 0, ".....", {0, 0, 0, 0, 0}},
        {"telnet idle is no silence", false, 2, ".....", {0, 0, 0, 0, 0}},
        {"telnet counts from the first unanswered send", false, 2, "..s...r", {0, 0, 0, 0, 3, 4, 0}},
        {"telnet more sends do not restart it", false, 1, "s.s.", {0, 2, 3, 4}},
        {"telnet answered then idle", false, 1, "s.r...", {0, 2, 0, 0, 0, 0}},
        {"a new connection starts afresh", true, 1, "...d..", {0, 2, 3, 0, 0, 0}},
    };
    for (const auto& row : rows) {
        silence_watch w;
        std::uint64_t received = 100;
        bool owed = false;                                    // as the session keeps it: set by a send, cleared by data
        w.tick(true, row.ssh, received, owed, row.interval);  // the connection comes up
        std::vector<int> got;
        bool connected = true;
        for (const char* c = row.ticks; *c; ++c) {
            if (*c == 'r') {
                received += 10;
                owed = false;
            }
            if (*c == 's') owed = true;
            if (*c == 'd') connected = false;
            w.tick(connected, row.ssh, received, owed, row.interval);
            if (*c == 'd') connected = true;  // and the next tick sees a new connection
            got.push_back(w.silent_for());
        }
        EXPECT_EQ(got, row.shown) << row.name;
    }
}

TEST(SilenceWatch, ReconnectWaitsDoubleUpToAMinute) {
    std::vector<int> waits;
    for (int attempt = 1; attempt <= 8; ++attempt) waits.push_back(reconnect_delay(attempt));
    EXPECT_EQ(waits, (std::vector<int>{2, 4, 8, 16, 32, 60, 60, 60}));
}

}  // namespace
