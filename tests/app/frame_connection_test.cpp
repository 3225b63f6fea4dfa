// The main window and the view's connection: endings reach the reconnect schedule when they happen (no tick in
// between), Reconnect leaves the settings as the user set them, and the Terminal type's changes reach a session
// that is already running.
#include <gtest/gtest.h>

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
    EXPECT_EQ(frame->view().link().last_options()->user, "ann");
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
