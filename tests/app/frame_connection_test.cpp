// The main window and the view's connection: endings reach the reconnect schedule when they happen (no tick in
// between), Reconnect leaves the settings as the user set them, and the Terminal type's changes reach a session
// that is already running.
#include <gtest/gtest.h>

#include <QLabel>
#include <cerrno>

#include "../support/qt_test_support.h"
#include "../view/fakes.h"
#include "app/commands.h"
#include "app/mainframe.h"
#include "config/memory_backend.h"
#include "config/mycli.h"
#include "config/settings.h"
#include "session/connection.h"
#include "session/session.h"
#include "terminal/vt.h"
#include "view/document.h"
#include "view/view.h"

namespace {

struct frame_link : ::testing::Test {
    memory_backend store;
    recording_sockets sockets;
    recording_ui ui;
    StartupValues start;
    std::unique_ptr<CVellumDoc> doc;
    std::unique_ptr<CMainFrame> frame;

    void SetUp() override {
        qt_test_support::test_app();
        store.write_int(config_section("1"), "color_bg", 0xFFFFFF);  // no first-start import
        reset_settings();
        doc = std::make_unique<CVellumDoc>();
        frame = std::make_unique<CMainFrame>(*doc, start, ui, store, sockets);
    }
    void TearDown() override {
        frame.reset();
        doc.reset();
    }
    void host(const std::string& text) {
        frame->view().display_from_host(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
    }
    // The engine's way of ending a session with a cause, as an SSH keep-alive timeout does.
    void lose_session() { frame->net().session_fail("Connection to host has been lost\nNo answer from the host."); }
};

TEST_F(frame_link, EndingsReachTheReconnectScheduleAtOnce) {
    const struct {
        const char* name;
        int auto_reconnect;
        bool output;                           // the host's data was shown: a session that stood
        std::function<void(frame_link&)> end;  // how it ends
        int countdown;                         // seconds to the next attempt right after, no tick between
    } rows[] = {
        {"lost after output", 1, true, [](frame_link& f) { f.lose_session(); }, 2},
        {"lost, no automatic reconnect", 0, true, [](frame_link& f) { f.lose_session(); }, 0},
        {"lost before any output", 1, false, [](frame_link& f) { f.lose_session(); }, 0},
        {"the user's Disconnect", 1, true, [](frame_link& f) { f.frame->run_command(cmd::disconnect); }, 0},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        settings().auto_reconnect = row.auto_reconnect;
        frame->cancel_auto_reconnect();
        ASSERT_TRUE(frame->view().connect_to("host.example", 23));
        if (row.output) host("$ ");
        row.end(*this);
        EXPECT_FALSE(frame->net().busy());
        EXPECT_EQ(frame->reconnect_countdown(), row.countdown);
    }

    // An automatic attempt that fails at once waits longer before the next; one that stands and is lost again
    // starts from the first wait.
    settings().auto_reconnect = 1;
    frame->cancel_auto_reconnect();
    ASSERT_TRUE(frame->view().connect_to("host.example", 23));
    host("$ ");
    lose_session();
    ASSERT_EQ(frame->reconnect_countdown(), 2);
    sockets.result = session_socket::connect_result::failed;
    ASSERT_FALSE(frame->reconnect(true));
    EXPECT_EQ(frame->reconnect_countdown(), 4);
    sockets.result = session_socket::connect_result::connected;
    ASSERT_TRUE(frame->reconnect(true));
    host("$ ");
    lose_session();
    EXPECT_EQ(frame->reconnect_countdown(), 2);
}

// Reconnect's divider tells of a session that stands: none for an attempt refused at once or one whose connection
// fails later; while the connection is still being made it waits, and it comes before the host's first data.
TEST_F(frame_link, TheReconnectDividerFollowsOnlyASessionThatStands) {
    using result = session_socket::connect_result;
    const auto screen = [this] {
        std::string out;
        CVellumView& v = frame->view();
        for (int r = 1; r <= v.ring().rows(); ++r) {
            for (int c = 1; c <= v.columns(); ++c) out += static_cast<char>(v.ring().line(r).cell(c) & cell_char_mask);
            out += '\n';
        }
        return out;
    };
    const auto dividers = [&] {
        const std::string s = screen();
        int n = 0;
        for (auto at = s.find("reconnected"); at != std::string::npos; at = s.find("reconnected", at + 1)) ++n;
        return n;
    };
    const struct {
        const char* name;
        result at_once;
        int completion;  // the socket's later outcome for an attempt in progress (an errno value, 0 for success)
        bool stands;
    } rows[] = {
        {"refused at once", result::failed, 0, false},
        {"refused once in progress", result::in_progress, ECONNREFUSED, false},
        {"accepted once in progress", result::in_progress, 0, true},
        {"accepted at once", result::connected, 0, true},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        frame->view().reset_terminal();
        sockets.result = result::connected;
        ASSERT_TRUE(frame->view().connect_to("host.example", 23));
        host("old$ ");
        frame->run_command(cmd::disconnect);

        sockets.result = row.at_once;
        frame->run_command(cmd::reconnect);
        if (row.at_once == result::in_progress) {
            frame->liveness_tick();
            EXPECT_EQ(dividers(), 0) << "not while connecting\n" << screen();
            frame->net().on_connect_complete(row.completion);
            frame->update_status_panes();
        }
        if (frame->net().connected()) host("new$ ");
        EXPECT_EQ(dividers(), row.stands ? 1 : 0) << screen();
        if (row.stands) {
            EXPECT_LT(screen().find("reconnected"), screen().find("new$")) << screen();
        }
        if (frame->net().busy()) frame->run_command(cmd::disconnect);
        frame->update_status_panes();
        EXPECT_EQ(dividers(), row.stands ? 1 : 0) << "a failed attempt leaves nothing behind\n" << screen();
    }
}

// With auto_reconnect a lost session is told in the message pane beside the countdown; a message box would hold
// the countdown back until someone read it. Without it the box tells the loss as before. (A reset, the other way
// of losing a session, is in client_integration_test against a real peer.)
TEST_F(frame_link, TheAutomaticReconnectCountsDownWithoutAMessageBox) {
    const struct {
        const char* name;
        int auto_reconnect;
        std::function<void(frame_link&)> end;
    } rows[] = {
        {"automatic reconnect", 1, [](frame_link& f) { f.lose_session(); }},
        {"no automatic reconnect", 0, [](frame_link& f) { f.lose_session(); }},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        settings().auto_reconnect = row.auto_reconnect;
        frame->cancel_auto_reconnect();
        ASSERT_TRUE(frame->view().connect_to("host.example", 23));
        host("$ ");
        ui.messages.clear();
        row.end(*this);
        ASSERT_FALSE(frame->net().busy());
        const std::string cause = frame->net().last_ending().cause;
        ASSERT_EQ(cause.rfind("Connection to host has been lost", 0), 0u) << cause;
        if (row.auto_reconnect) {
            EXPECT_TRUE(ui.messages.empty()) << ui.messages.front();
            EXPECT_GT(frame->reconnect_countdown(), 0);
            frame->update_status_panes();
            const std::string note = frame->status_note()->text().toStdString();
            EXPECT_EQ(note.rfind("Connection to host has been lost", 0), 0u) << note;
            EXPECT_NE(note.find("Reconnecting in"), std::string::npos) << note;
        } else {
            EXPECT_EQ(ui.messages, std::vector<std::string>{cause});
        }
    }
}

TEST_F(frame_link, ReconnectLeavesProtocolAndUserInTheSettings) {
    Settings& s = settings();
    s.ssh = 0;
    s.ssh_user = "ann";
    ASSERT_TRUE(frame->view().connect_to("first.example", 2323));
    frame->run_command(cmd::disconnect);

    s.ssh = 1;
    s.ssh_type_1_2 = 1;
    s.ssh_user = "bob";
    ASSERT_TRUE(frame->run_command(cmd::reconnect));
    EXPECT_EQ(frame->net().transport(), TransportKind::Telnet) << "the latest target's protocol";
    EXPECT_EQ(frame->view().link().last_target()->ssh.ssh_user, "ann");
    EXPECT_EQ(s.ssh, 1);
    EXPECT_EQ(s.ssh_type_1_2, 1);
    EXPECT_EQ(s.ssh_user, "bob");
}

TEST_F(frame_link, AChangedTerminalTypeReachesTheRunningSessionWhenPushed) {
    ASSERT_TRUE(frame->view().connect_to("host.example", 23));
    vt& term = frame->terminal();
    settings().termtype = "xterm";
    host("\x1b[?2004h");
    EXPECT_FALSE(term.bracketed_paste()) << "a setting alone is not read by a running session";
    frame->view().settings_changed();
    host("\x1b[?2004h");
    EXPECT_TRUE(term.bracketed_paste());
}

}  // namespace
