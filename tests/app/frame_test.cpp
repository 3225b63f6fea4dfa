// The main window on the offscreen platform: close confirmation, toolbar layout through the settings store,
// menu command states, status panes.
#include <gtest/gtest.h>

#include <map>
#include <regex>

#include <QAction>
#include <QApplication>
#include <QFontInfo>
#include <QListWidget>
#include <QDir>
#include <QImage>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QDropEvent>
#include <QUrl>
#include <QStatusBar>
#include <QTest>
#include <QToolBar>
#include <QToolButton>

#include "../support/qt_test_support.h"
#include "../view/fakes.h"
#include "app/commands.h"
#include "app/customize_dialog.h"
#include "adapters/launch.h"
#include "adapters/print_settings.h"
#include "adapters/qt_line_printer.h"
#include "app/mainframe.h"
#include "config/maps.h"
#include "config/memory_backend.h"
#include "config/mycli.h"
#include "config/settings.h"
#include "dialogs/file_transfer_window.h"
#include "dialogs/font_dialogs.h"
#include "session/profile.h"
#include "ssh/ssh1.h"
#include "ssh/ssh_client.h"
#include "terminal/screen.h"
#include "terminal/vt.h"
#include "view/document.h"
#include "view/font_face.h"
#include "view/find_bar.h"
#include "view/help.h"
#include "view/render.h"
#include "view/view.h"

namespace {
using qt_test_support::test_app;

const char* const question =
    "There is an active session with the Unix Host. Do you really want to close this program ?";

struct frame_fixture : ::testing::Test {
    memory_backend store;
    recording_sockets sockets;
    recording_ui ui;
    StartupValues start;
    std::unique_ptr<CVellumDoc> doc;
    std::unique_ptr<CMainFrame> frame;

    void SetUp() override {
        test_app();
        // A stored configuration, so that no first-start import runs.
        store.write_int(config_section("1"), "color_bg", 0xFFFFFF);
        open();
    }
    void open() {
        frame.reset();
        doc.reset();
        reset_settings();
        doc = std::make_unique<CVellumDoc>();
        frame = std::make_unique<CMainFrame>(*doc, start, ui, store, sockets);
    }
    std::vector<QString> toolbar_texts() const {
        std::vector<QString> out;
        for (QAction* a : frame->toolbar()->actions()) out.push_back(a->text());
        return out;
    }
    int stored(const std::string& key) { return store.read_int(config_section("1"), key, -99); }
};

TEST_F(frame_fixture, CloseAsksOnlyWhenConnectedAndConfirmSet) {
    settings().confirm = 1;
    EXPECT_TRUE(frame->may_close());
    EXPECT_TRUE(ui.questions.empty()) << "not connected: no question";

    ASSERT_TRUE(frame->view().connect_to("127.0.0.1", 23));
    ui.answer = false;
    EXPECT_FALSE(frame->close());
    ASSERT_EQ(ui.questions.size(), 1u);
    EXPECT_EQ(ui.questions[0], question);
    EXPECT_TRUE(frame->isVisible());
    EXPECT_FALSE(store.has(config_section("1"), "newtoolbarused_0")) << "nothing saved on Cancel";

    settings().confirm = 0;
    EXPECT_TRUE(frame->may_close());
    EXPECT_EQ(ui.questions.size(), 1u) << "confirm off: never asks";

    settings().confirm = 1;
    ui.answer = true;
    EXPECT_TRUE(frame->close());
    EXPECT_EQ(ui.questions.size(), 2u);
    EXPECT_EQ(stored("newtoolbarused_0"), 1) << "settings saved at close";
}

// confirm_disconnect: Disconnect, and closing while connected, ask first and name the host; off, nothing asks.
TEST_F(frame_fixture, DisconnectQuestionOnlyWithTheSetting) {
    settings().confirm = 0;
    ui.answer = false;
    ASSERT_TRUE(frame->view().connect_to("127.0.0.1", 23));
    EXPECT_TRUE(frame->run_command(cmd::disconnect));
    EXPECT_TRUE(ui.questions.empty()) << "off: nothing asks";
    EXPECT_FALSE(frame->connected());

    settings().confirm_disconnect = 1;
    ASSERT_TRUE(frame->view().connect_to("127.0.0.1", 23));
    EXPECT_TRUE(frame->run_command(cmd::disconnect));
    ASSERT_EQ(ui.questions.size(), 1u);
    EXPECT_EQ(ui.questions[0], "Disconnect from 127.0.0.1?");
    EXPECT_TRUE(frame->connected()) << "No keeps the session";
    ui.answer = true;
    EXPECT_TRUE(frame->run_command(cmd::disconnect));
    EXPECT_EQ(ui.questions.size(), 2u);
    EXPECT_FALSE(frame->connected());

    // An attempt still being set up is given up without a question.
    sockets.result = session_socket::connect_result::in_progress;
    ASSERT_TRUE(frame->view().connect_to("slow.example", 23));
    EXPECT_TRUE(frame->run_command(cmd::disconnect));
    EXPECT_EQ(ui.questions.size(), 2u);
    sockets.result = session_socket::connect_result::connected;
}

TEST_F(frame_fixture, CloseQuestionNamesTheHostWithConfirmDisconnect) {
    settings().confirm_disconnect = 1;
    settings().confirm = 1;
    EXPECT_TRUE(frame->may_close());
    EXPECT_TRUE(ui.questions.empty()) << "not connected: no question";
    ASSERT_TRUE(frame->view().connect_to("127.0.0.1", 23));
    ui.answer = false;
    EXPECT_FALSE(frame->close());
    ASSERT_EQ(ui.questions.size(), 1u) << "one question, not two";
    EXPECT_EQ(ui.questions[0], "Close the window and disconnect from 127.0.0.1?");
    EXPECT_TRUE(frame->connected());
    settings().confirm = 0;
    EXPECT_FALSE(frame->may_close());
    EXPECT_EQ(ui.questions.size(), 2u) << "asked whatever `confirm` says";
    settings().confirm_disconnect = 0;
    EXPECT_TRUE(frame->may_close());
    EXPECT_EQ(ui.questions.size(), 2u) << "both off: nothing asks";
}

TEST_F(frame_fixture, FindOpensTheBarUnderTheTerminal) {
    frame->resize(900, 600);
    QApplication::processEvents();
    QAction* find = frame->action(cmd::find);
    ASSERT_NE(find, nullptr);
    EXPECT_EQ(find->text(), "&Find...");
    EXPECT_EQ(find->shortcut(), QKeySequence(QStringLiteral("Ctrl+Shift+F")));
    EXPECT_FALSE(frame->finder().isVisible());
    const int view_height = frame->view().height();
    QKeyEvent press(QEvent::KeyPress, Qt::Key_F, Qt::ControlModifier | Qt::ShiftModifier, QStringLiteral("\x06"));
    // The VT220 keeps Ctrl+Shift+F a control character; the xterm emulation takes it for the find bar.
    QApplication::sendEvent(&frame->view(), &press);
    QApplication::processEvents();
    EXPECT_FALSE(frame->finder().isVisible());
    frame->terminal().set_emulation(emulation::xterm);
    QApplication::sendEvent(&frame->view(), &press);
    QApplication::processEvents();
    ASSERT_TRUE(frame->finder().isVisible());
    EXPECT_GE(frame->finder().geometry().top(), frame->view().geometry().bottom()) << "under the terminal";
    EXPECT_LT(frame->view().height(), view_height);
    frame->terminal().feed_text("\x1b[5;1Hsome words");
    QTest::keyClicks(frame->finder().pattern_edit(), QStringLiteral("words"));
    EXPECT_EQ(frame->finder().count_text(), "1 of 1");
    QTest::keyClick(frame->finder().pattern_edit(), Qt::Key_Escape);
    QApplication::processEvents();
    EXPECT_FALSE(frame->finder().isVisible());
    EXPECT_EQ(frame->view().height(), view_height);
    EXPECT_TRUE(frame->view().found().empty());
}

// F10 is the host's (htop, mc) whatever Alt does; the menus stay on Alt+letter while Alt is not Meta.
TEST_F(frame_fixture, F10GoesToTheHostAndAltLetterOpensTheMenus) {
    frame->show();
    frame->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(frame.get()));
    settings().termtype = "xterm";
    ASSERT_TRUE(frame->view().connect_to("127.0.0.1", 23));
    frame->view().setFocus();
    for (int meta : {0, 1}) {
        SCOPED_TRACE(meta);
        settings().alt_meta = meta;
        sockets.sent.clear();
        QTest::keyClick(frame->windowHandle(), Qt::Key_F10);
        QCoreApplication::processEvents();
        EXPECT_EQ(frame->menuBar()->activeAction(), nullptr);
        EXPECT_EQ(QApplication::activePopupWidget(), nullptr);
        EXPECT_EQ(sockets.sent, "\x1b[21~");
    }
    settings().alt_meta = 0;
    QTest::keyClick(frame->windowHandle(), Qt::Key_F, Qt::AltModifier);
    ASSERT_TRUE(QTest::qWaitFor([] { return QApplication::activePopupWidget() != nullptr; }, 5000));
    EXPECT_EQ(frame->menuBar()->activeAction()->text(), "&File");
    // A menu opened from the keyboard gives the keyboard back on Escape as well.
    QTest::keyClick(frame->windowHandle(), Qt::Key_Escape);
    ASSERT_TRUE(QTest::qWaitFor([] { return QApplication::activePopupWidget() == nullptr; }, 5000));
    QApplication::setActiveWindow(frame.get());
    QCoreApplication::processEvents();
    sockets.sent.clear();
    QTest::keyClick(frame->windowHandle(), 'e');
    EXPECT_EQ(QApplication::activePopupWidget(), nullptr);
    EXPECT_EQ(sockets.sent, "e");
}

// A menu closed with Escape leaves the menu bar holding the keyboard unless the terminal takes it back: the next
// letters would pick menus and their items (Edit > Select All, Reset Terminal, Help > Contents).
TEST_F(frame_fixture, EscapeFromAMenuGivesTheKeyboardBackToTheTerminal) {
    frame->show();
    frame->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(frame.get()));
    ASSERT_TRUE(frame->view().connect_to("127.0.0.1", 23));
    QMenuBar* mb = frame->menuBar();
    for (QAction* title : mb->actions()) {
        SCOPED_TRACE(title->text().toStdString());
        ASSERT_NE(title->menu(), nullptr);
        frame->view().setFocus();
        sockets.sent.clear();
        mb->setActiveAction(title);
        ASSERT_TRUE(QTest::qWaitFor([&] { return QApplication::activePopupWidget() == title->menu(); }, 5000));
        // A submenu's Escape goes back to its menu only.
        QTest::keyClick(frame->windowHandle(), Qt::Key_Escape);
        ASSERT_TRUE(QTest::qWaitFor([] { return QApplication::activePopupWidget() == nullptr; }, 5000));
        // The offscreen platform leaves the closed popup active, where a window manager activates the frame.
        QApplication::setActiveWindow(frame.get());
        EXPECT_EQ(QApplication::focusWidget(), &frame->view());
        EXPECT_EQ(mb->activeAction(), nullptr) << "no title left highlighted";
        // Letters that are mnemonics of the menu bar and of its menus' items.
        for (char c : {'e', 'a'}) QTest::keyClick(frame->windowHandle(), c);
        QCoreApplication::processEvents();
        EXPECT_EQ(QApplication::activePopupWidget(), nullptr);
        EXPECT_EQ(sockets.sent, "ea");
    }
    // The find bar's pattern had the keyboard: it gets it back.
    ASSERT_TRUE(frame->run_command(cmd::find));
    ASSERT_TRUE(frame->finder().pattern_edit()->hasFocus());
    mb->setActiveAction(mb->actions().at(1));
    ASSERT_TRUE(QTest::qWaitFor([] { return QApplication::activePopupWidget() != nullptr; }, 5000));
    QTest::keyClick(frame->windowHandle(), Qt::Key_Escape);
    ASSERT_TRUE(QTest::qWaitFor([] { return QApplication::activePopupWidget() == nullptr; }, 5000));
    QApplication::setActiveWindow(frame.get());
    QCoreApplication::processEvents();
    EXPECT_EQ(QApplication::focusWidget(), frame->finder().pattern_edit());
}

TEST_F(frame_fixture, ToolbarLayoutSurvivesARestart) {
    EXPECT_EQ(toolbar_texts().size(), 16u);
    {
        customize_dialog d(frame->toolbar_rows(), frame.get());
        QObject::connect(&d, &customize_dialog::changed, frame.get(), [this] { frame->rebuild_toolbar(); });
        d.remove_row(0);   // Open
        d.add_row(29, 0);  // Toolbar first
        d.move(6, +1);     // About one place right
        d.add_row(26);     // F20 at the end
    }
    std::vector<QString> before = toolbar_texts();
    ASSERT_EQ(before.front(), "Toolbar");
    ASSERT_EQ(before.back(), "F20");
    ASSERT_TRUE(frame->close());
    EXPECT_EQ(stored("newtoolbarused_0"), 0);
    EXPECT_EQ(stored("newtoolbarpos_29"), 0);

    open();
    EXPECT_TRUE(ui.messages.empty());
    EXPECT_EQ(toolbar_texts(), before);
}

TEST_F(frame_fixture, EmptyToolbarIsKeptWithoutError) {
    {
        customize_dialog d(frame->toolbar_rows(), frame.get());
        for (int r : d.current_rows()) d.remove_row(r);
        EXPECT_TRUE(d.current_rows().empty());
        EXPECT_EQ(d.available_rows().size(), std::size_t(toolbar_rows_count));
    }
    frame->rebuild_toolbar();
    ASSERT_TRUE(frame->close());
    open();
    EXPECT_TRUE(toolbar_texts().empty());
    EXPECT_TRUE(ui.messages.empty());
}

// A layout stored before the File Transfer row existed (no keys for row 30) loads as it was stored; the new row
// waits off the toolbar, and once placed there it is saved and comes back.
TEST_F(frame_fixture, LayoutStoredBeforeTheTransferRowLoads) {
    ASSERT_TRUE(frame->close());
    const std::string sec = config_section("1");
    for (const char* key : {"newtoolbarused_30", "newtoolbarpos_30", "newtoolbartext_30"}) store.remove_key(sec, key);
    ASSERT_FALSE(store.has(sec, "newtoolbarpos_30"));
    store.write_int(sec, "newtoolbarpos_3", 3);  // Paste before Copy
    store.write_int(sec, "newtoolbarpos_4", 2);
    open();
    EXPECT_TRUE(ui.messages.empty());
    auto t = toolbar_texts();
    ASSERT_GE(t.size(), 4u);
    EXPECT_EQ(t[2], "Paste");
    EXPECT_EQ(t[3], "Copy");
    EXPECT_EQ(std::count(t.begin(), t.end(), QStringLiteral("Transfer")), 0);
    const int row = frame->toolbar_rows().row_of_command(cmd::file_transfer);
    ASSERT_EQ(row, 30);
    {
        customize_dialog d(frame->toolbar_rows(), frame.get());
        d.add_row(row);
    }
    frame->rebuild_toolbar();
    ASSERT_TRUE(frame->close());
    EXPECT_EQ(stored("newtoolbarused_30"), 1);
    open();
    EXPECT_TRUE(ui.messages.empty());
    EXPECT_EQ(toolbar_texts().back(), "Transfer");
}

// Without an SSH-2 connection File Transfer is disabled, and files dropped on the terminal are not sent anywhere:
// the status bar says so.
TEST_F(frame_fixture, FileTransferNeedsSsh2AndDropsOnlyLeaveANote) {
    frame->refresh_command_states();
    ASSERT_NE(frame->action(cmd::file_transfer), nullptr);
    EXPECT_EQ(frame->action(cmd::file_transfer)->text(), "File &Transfer...");
    EXPECT_FALSE(frame->command_enabled(cmd::file_transfer));
    ASSERT_TRUE(frame->view().connect_to("127.0.0.1", 23));  // Telnet
    frame->refresh_command_states();
    EXPECT_FALSE(frame->command_enabled(cmd::file_transfer));

    QMimeData mime;
    mime.setUrls({QUrl::fromLocalFile(QStringLiteral("/etc/hostname"))});
    QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&frame->view(), &enter);
    EXPECT_TRUE(enter.isAccepted());
    QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&frame->view(), &drop);
    EXPECT_TRUE(frame->statusBar()->currentMessage().contains("nothing was sent"))
        << frame->statusBar()->currentMessage().toStdString();
    EXPECT_TRUE(frame->findChildren<file_transfer_window*>().isEmpty());
    EXPECT_EQ(sockets.sent.find("hostname"), std::string::npos);

    // Text dropped on the terminal is refused: it never becomes keystrokes.
    QMimeData text;
    text.setText(QStringLiteral("rm -rf ~\r"));
    QDragEnterEvent text_enter(QPoint(5, 5), Qt::CopyAction, &text, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&frame->view(), &text_enter);
    EXPECT_FALSE(text_enter.isAccepted());
}

TEST_F(frame_fixture, BrokenStoredLayoutGivesDefaultToolbarAndMessage) {
    std::vector<QString> defaults = toolbar_texts();
    ASSERT_TRUE(frame->close());
    store.write_int(config_section("1"), "newtoolbarpos_3", 0);  // Copy on Open's place
    open();
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(ui.messages[0], "Registry error for the toolbar. Default toolbar will be used");
    EXPECT_EQ(toolbar_texts(), defaults);
}

TEST_F(frame_fixture, StoredCaptionsFromF9On) {
    ASSERT_TRUE(frame->close());
    store.write_int(config_section("1"), "newtoolbarused_20", 1);
    store.write_int(config_section("1"), "newtoolbarpos_20", 17);
    store.write_int(config_section("1"), "newtoolbarused_17", 0);
    store.write_int(config_section("1"), "newtoolbarpos_17", 20);
    store.write_text(config_section("1"), "newtoolbartext_20", "Logout");
    store.write_text(config_section("1"), "newtoolbartext_3", "Grab");
    open();
    auto t = toolbar_texts();
    EXPECT_EQ(t.back(), "Logout");
    EXPECT_EQ(t[2], "Copy");
}

TEST_F(frame_fixture, CustomizeResetRestoresDefaults) {
    customize_dialog d(frame->toolbar_rows(), frame.get());
    d.remove_row(3);
    d.add_row(27);
    d.reset();
    toolbar_table defaults;
    EXPECT_EQ(d.current_rows(), defaults.used_rows_in_order());
    // Adding a row twice or moving past the ends changes nothing.
    auto rows = d.current_rows();
    d.add_row(rows[0]);
    d.move(rows[0], -1);
    d.move(rows.back(), +1);
    EXPECT_EQ(d.current_rows(), rows);
}

TEST_F(frame_fixture, ToggleCommandsAndTheirCheckMarks) {
    int echo = settings().local_echo;
    ASSERT_TRUE(frame->run_command(cmd::local_echo));
    EXPECT_NE(settings().local_echo, echo);
    EXPECT_EQ(frame->action(cmd::local_echo)->isChecked(), settings().local_echo != 0);

    ASSERT_TRUE(frame->run_command(cmd::screen_132));
    EXPECT_EQ(frame->view().columns(), 132);
    EXPECT_TRUE(frame->action(cmd::screen_132)->isChecked());
    frame->run_command(cmd::screen_132);
    EXPECT_EQ(frame->view().columns(), 80);

    bool wrap = frame->terminal().auto_wrap_mode();
    frame->run_command(cmd::autowrap);
    EXPECT_NE(frame->terminal().auto_wrap_mode() != 0, wrap);
    EXPECT_EQ(settings().auto_wrap, frame->terminal().auto_wrap_mode());

    settings().blink_cursor = 0;
    frame->run_command(cmd::cursor_blink);
    EXPECT_EQ(settings().blink_cursor, -1);
    frame->run_command(cmd::cursor_blink);
    EXPECT_EQ(settings().blink_cursor, 0);

    frame->run_command(cmd::view_status_bar);
    EXPECT_EQ(settings().status_bar, 0);
    frame->run_command(cmd::view_toolbar);
    EXPECT_EQ(settings().knap_bar, 0);
    QApplication::processEvents();
    EXPECT_FALSE(frame->toolbar()->isVisible());
}

TEST_F(frame_fixture, VisualBellCommandSwitchesTheBellBetweenSoundAndFlash) {
    int sounds = 0;
    frame->view().bell_sound = [&sounds] { ++sounds; };
    ASSERT_TRUE(frame->view().connect_to("127.0.0.1", 23));
    for (bool visual : {true, false}) {
        SCOPED_TRACE(visual);
        ASSERT_TRUE(frame->run_command(cmd::visual_bell));
        EXPECT_EQ(frame->action(cmd::visual_bell)->isChecked(), visual);
        sounds = 0;
        frame->view().display_from_host(reinterpret_cast<const std::uint8_t*>("\a"), 1);
        EXPECT_EQ(frame->view().flashing(), visual);
        EXPECT_EQ(sounds, visual ? 0 : 1);
        ASSERT_TRUE(QTest::qWaitFor([&] { return !frame->view().flashing(); }, 5000));
    }
}

// The marks of Host Echo and Visual Bell show the running connection's values, and the commands switch those,
// whatever the stored record says meanwhile.
TEST_F(frame_fixture, EchoAndBellMarksFollowTheRunningConnection) {
    ASSERT_TRUE(frame->view().connect_to("127.0.0.1", 23));
    const struct {
        int command;
        int Settings::*stored;
        bool terminal_profile::*running;
    } rows[] = {
        {cmd::host_echo, &Settings::host_echo, &terminal_profile::host_echo},
        {cmd::visual_bell, &Settings::visual_bell, &terminal_profile::visual_bell},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.command);
        const bool was = frame->view().term().*r.running;
        settings().*r.stored = was ? 0 : 1;  // the record changed, not yet applied
        frame->refresh_command_states();
        EXPECT_EQ(frame->action(r.command)->isChecked(), was);
        ASSERT_TRUE(frame->run_command(r.command));
        EXPECT_EQ(frame->view().term().*r.running, !was);
        frame->refresh_command_states();
        EXPECT_EQ(frame->action(r.command)->isChecked(), !was);
        EXPECT_EQ(settings().*r.stored, was ? 0 : 1);
    }
}

TEST_F(frame_fixture, ConnectionDependentCommands) {
    frame->refresh_command_states();
    EXPECT_FALSE(frame->command_enabled(cmd::disconnect));
    EXPECT_TRUE(frame->command_enabled(cmd::connect));
    ASSERT_TRUE(frame->view().connect_to("127.0.0.1", 23));
    frame->refresh_command_states();
    EXPECT_TRUE(frame->command_enabled(cmd::disconnect));
    // The Connect dialog's handler keeps the frame's rule: one connection at a time.
    EXPECT_FALSE(frame->command_enabled(cmd::connect));
    EXPECT_FALSE(frame->action(cmd::connect)->isEnabled());
    // A toolbar function key sends its key-table entry.
    key_table()[key_slot::f1 + 2].length = 3;
    std::memcpy(key_table()[key_slot::f1 + 2].bytes, "\x1bOR", 3);
    sockets.sent.clear();
    EXPECT_TRUE(frame->run_command(cmd::fkey(3)));
    EXPECT_EQ(sockets.sent, "\x1bOR");
    key_table()[key_slot::f1 + 2].length = 0;
    frame->run_command(cmd::disconnect);
    EXPECT_FALSE(frame->view().connected());
}

// Connect is the interactive way in: from then on SSH-1 asks for the credentials at every sign-on.
TEST_F(frame_fixture, ConnectCommandMakesSsh1AskAgain) {
    start.direct_connect = "1";
    settings().host_name = "127.0.0.1";
    settings().port = 23;
    EXPECT_FALSE(frame->ssh().v1().ask_again());
    ASSERT_TRUE(frame->run_command(cmd::connect));
    EXPECT_TRUE(frame->view().connected());
    EXPECT_TRUE(frame->ssh().v1().ask_again());
    frame->run_command(cmd::disconnect);
}

TEST_F(frame_fixture, StatusBarTellsTheConnectionStateAndANewSessionStartsOnAFreshLine) {
    CVellumView& v = frame->view();
    frame->update_status_panes();
    EXPECT_EQ(frame->status_note()->text(), "File > Connect... opens a session. Help: today's hosts, zoom.");
    EXPECT_LT(frame->statusBar()->minimumSizeHint().width(), frame->status_note()->sizeHint().width())
        << "the long hint does not set the window's least width";
    ASSERT_TRUE(v.connect_to("127.0.0.1", 23));
    frame->update_status_panes();
    EXPECT_EQ(frame->status_note()->text(), "");
    v.terminal().feed_text("\x1b[5;1Hold$ ");
    frame->run_command(cmd::disconnect);
    frame->update_status_panes();
    EXPECT_EQ(frame->status_note()->text(), "Not connected");

    ASSERT_TRUE(v.connect_to("127.0.0.1", 23));
    EXPECT_EQ(v.terminal().cursor_row(), 6);
    EXPECT_EQ(v.terminal().cursor_column(), 1);
    EXPECT_EQ(v.ring().line(5).cell(1) & cell_char_mask, 'o') << "the screen stays";
    frame->run_command(cmd::disconnect);
    // At the start of a line already: no blank line in between.
    ASSERT_TRUE(v.connect_to("127.0.0.1", 23));
    EXPECT_EQ(v.terminal().cursor_row(), 6);
    frame->run_command(cmd::disconnect);
}

// Reconnect: offered only while disconnected after a connection of this run; it goes where that one went (not
// where the settings now point) and leaves a divider line after the kept screen, in box-drawing lines with UTF-8.
TEST_F(frame_fixture, ReconnectGoesToTheLastTargetAfterADivider) {
    CVellumView& v = frame->view();
    frame->refresh_command_states();
    frame->update_status_panes();
    EXPECT_FALSE(frame->command_enabled(cmd::reconnect));
    EXPECT_TRUE(frame->reconnect_button()->isHidden());
    ASSERT_TRUE(v.connect_to("first.example", 2323));
    frame->update_status_panes();
    EXPECT_FALSE(frame->command_enabled(cmd::reconnect));
    EXPECT_TRUE(frame->reconnect_button()->isHidden());
    v.terminal().feed_text("\x1b[5;1Hold$ ");
    frame->run_command(cmd::disconnect);
    frame->update_status_panes();
    EXPECT_TRUE(frame->command_enabled(cmd::reconnect));
    EXPECT_FALSE(frame->reconnect_button()->isHidden());
    EXPECT_EQ(frame->status_note()->text(), "Not connected") << "the user's own Disconnect needs no cause";

    settings().host_name = "elsewhere.example";
    settings().port = 99;
    const int created = sockets.created;
    ASSERT_TRUE(frame->run_command(cmd::reconnect));
    EXPECT_EQ(sockets.created, created + 1);
    EXPECT_TRUE(v.connected());
    EXPECT_EQ(v.attempted_host(), "first.example");
    EXPECT_EQ(settings().host_name, "elsewhere.example");
    EXPECT_EQ(v.ring().line(5).cell(1) & cell_char_mask, 'o') << "the screen stays";
    std::string divider;
    for (int c = 1; c <= 80; ++c) divider += static_cast<char>(v.ring().line(6).cell(c) & cell_char_mask);
    divider.erase(divider.find_last_not_of(' ') + 1);
    EXPECT_TRUE(std::regex_match(divider, std::regex(R"(---- reconnected \d{4}-\d\d-\d\d \d\d:\d\d ----)"))) << divider;
    EXPECT_EQ(v.terminal().cursor_row(), 7) << "the new session starts under it";
    EXPECT_EQ(v.terminal().cursor_column(), 1);
    frame->run_command(cmd::disconnect);

    settings().utf8 = 1;
    ASSERT_TRUE(frame->run_command(cmd::reconnect));
    EXPECT_EQ(cell_code(v.ring().line(7).cell(1)), 0x2500u);
    EXPECT_EQ(cell_code(v.ring().line(7).cell(5)), uint32_t(' '));
    frame->run_command(cmd::disconnect);
}

// A host that never completes the connection is given up from the menu; the message pane says how meanwhile.
TEST_F(frame_fixture, DisconnectGivesUpAnAttemptStillBeingSetUp) {
    sockets.result = session_socket::connect_result::in_progress;
    ASSERT_TRUE(frame->view().connect_to("slow.example", 23));
    frame->refresh_command_states();
    frame->update_status_panes();
    EXPECT_EQ(frame->status_note()->text(), "Connecting to slow.example... (Esc or File > Disconnect cancels)");
    EXPECT_TRUE(frame->command_enabled(cmd::disconnect));
    EXPECT_FALSE(frame->command_enabled(cmd::connect));
    const int closed = sockets.closed;
    frame->run_command(cmd::disconnect);
    EXPECT_EQ(sockets.closed, closed + 1);
    frame->refresh_command_states();
    frame->update_status_panes();
    EXPECT_EQ(frame->status_note()->text(), "Not connected");
    EXPECT_TRUE(frame->command_enabled(cmd::connect));
    EXPECT_FALSE(frame->command_enabled(cmd::disconnect));
}

TEST_F(frame_fixture, FontChoosersStartOnTheDrawnFaceAndStoreFamiliesOnly) {
    frame->resize(900, 600);
    QApplication::processEvents();
    auto family = [](const QFont& f) { return face_family(QFontInfo(f).family()); };
    // Stored names that are installed, missing, or carry a foundry tag from an older version.
    for (const char* stored : {"Courier New", "No Such Face", "Nimbus Mono PS [urw]", "DejaVu Sans Mono"}) {
        SCOPED_TRACE(stored);
        copy_fixed(settings().font_name, std::string(stored));
        frame->view().refit();
        const QString drawn = family(frame->view().screen_font());
        font_chooser screen(settings(), font_chooser::screen, frame.get());
        ASSERT_NE(screen.faces()->currentItem(), nullptr);
        EXPECT_EQ(screen.faces()->currentItem()->text(), drawn);
        // OK without touching anything keeps the terminal's font.
        screen.accept();
        frame->view().refit();
        EXPECT_EQ(family(frame->view().screen_font()), drawn);
        EXPECT_EQ(QString::fromUtf8(settings().font_name).contains('['), false) << settings().font_name;

        copy_fixed(settings().pfont_name, std::string(stored));
        const QString printed = family(make_printer_font(settings_print_font(), 300));
        font_chooser printer(settings(), font_chooser::printer, frame.get());
        ASSERT_NE(printer.faces()->currentItem(), nullptr);
        EXPECT_EQ(printer.faces()->currentItem()->text(), printed);
        // Another face chosen: its family only.
        for (int i = 0; i < printer.faces()->count(); ++i)
            EXPECT_FALSE(printer.faces()->item(i)->text().contains(" ["));
        printer.faces()->setCurrentRow(printer.faces()->count() - 1);
        printer.accept();
        EXPECT_EQ(QString::fromUtf8(settings().pfont_name),
                  printer.faces()->item(printer.faces()->count() - 1)->text());
    }
}

TEST_F(frame_fixture, HelpTopicsTellsWhenNothingCanShowTheDocument) {
    const QString path = help_file_path();
    ASSERT_FALSE(path.isEmpty());
    const QString opener = launch::opener();
    // As xdg-open ends when no browser or viewer is installed.
    launch::opener() = QStringLiteral("/bin/false");
    ASSERT_TRUE(frame->run_command(cmd::help_topics));
    EXPECT_TRUE(qt_test_support::pump_until([&] { return !ui.messages.empty(); }, 10000));
    launch::opener() = opener;
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_NE(ui.messages[0].find("could not be opened"), std::string::npos) << ui.messages[0];
    EXPECT_NE(ui.messages[0].find(path.toStdString()), std::string::npos) << ui.messages[0];
}

TEST_F(frame_fixture, SaveSwitchDisablesSettingsCommandsAndSaving) {
    EXPECT_TRUE(frame->command_enabled(cmd::reset_config));
    frame.reset();
    start.save_switch = "1";
    store.values.clear();
    store.write_int(config_section("1"), "color_bg", 0xFFFFFF);
    open();
    EXPECT_FALSE(frame->command_enabled(cmd::reset_config));
    ASSERT_TRUE(frame->close());
    EXPECT_FALSE(store.has(config_section("1"), "newtoolbarused_0"));
}

TEST_F(frame_fixture, InstalledHandlersReplaceBuiltIns) {
    int runs = 0;
    bool allowed = false;
    frame->set_command(
        cmd::proxy, [&] { ++runs; }, [&] { return allowed; });
    EXPECT_FALSE(frame->run_command(cmd::proxy));
    allowed = true;
    EXPECT_TRUE(frame->run_command(cmd::proxy));
    EXPECT_EQ(runs, 1);
    frame->refresh_command_states();
    EXPECT_TRUE(frame->action(cmd::proxy)->isEnabled());
    EXPECT_FALSE(frame->run_command(123456));
}

TEST_F(frame_fixture, StatusPanesAndMenuFlag) {
    frame->terminal().feed_text("\x1b[4;9H");
    frame->update_status_panes();
    EXPECT_EQ(frame->status_pane(1)->text(), "Ln 4, Col 9");
    EXPECT_EQ(frame->status_pane(0)->text(), QString(9, ' '));
    EXPECT_EQ(frame->status_pane(2)->text(), " ");
    EXPECT_EQ(frame->status_pane(3)->text(), " ");
    EXPECT_FALSE(frame->menuBar()->isHidden());
    frame.reset();
    start.no_menu = true;
    open();
    EXPECT_TRUE(frame->menuBar()->isHidden());
}

TEST_F(frame_fixture, HidingBarsRefitsTheFont) {
    frame->resize(900, 600);
    QApplication::processEvents();
    int h_before = frame->view().height();
    int cell_before = frame->view().cell_height();
    frame->run_command(cmd::view_toolbar);
    frame->run_command(cmd::view_status_bar);
    QApplication::processEvents();
    QApplication::processEvents();
    EXPECT_GT(frame->view().height(), h_before);
    EXPECT_GE(frame->view().cell_height(), cell_before);
    EXPECT_LE(24 * frame->view().cell_height(), frame->view().height());
    EXPECT_GT(24 * frame->view().cell_height(), frame->view().height() - 24) << "the taller view is filled";
}

TEST_F(frame_fixture, WindowPlacementRoundTrip) {
    frame->setGeometry(40, 50, 700, 500);
    ASSERT_TRUE(frame->close());
    EXPECT_EQ(stored("showCmd"), 1);
    EXPECT_EQ(stored("x1"), 40);
    EXPECT_EQ(stored("y2"), 550);
    store.write_int(config_section("1"), "x1", 60);
    store.write_int(config_section("1"), "x2", 860);
    open();
    EXPECT_EQ(frame->geometry(), QRect(60, 50, 800, 500));
}

TEST_F(frame_fixture, WholeWindowDraws) {
    frame->resize(900, 600);
    QApplication::processEvents();
    frame->terminal().feed_text("\x1b[2;3HHello, \x1b[1mworld\x1b[m \x1b(0lqqk\x1b(B");
    frame->view().update_all();
    QImage img = frame->grab().toImage();
    QString path = QDir::temp().filePath("qtelnet_frame_test.png");
    img.save(path);
    // The terminal area shows the text in the foreground and bold colours.
    QRect text = frame->view().cell_rect(2, 3).united(frame->view().cell_rect(2, 20));
    QImage v = frame->view().grab().toImage();
    int fg = 0, bold = 0;
    QRgb fgc = color_from_bgr(settings().color_fg).rgb(), boldc = color_from_bgr(settings().color_bold).rgb();
    for (int y = text.top(); y <= text.bottom(); ++y)
        for (int x = text.left(); x <= text.right(); ++x) {
            fg += v.pixel(x, y) == fgc;
            bold += v.pixel(x, y) == boldc;
        }
    EXPECT_GT(fg, 0);
    EXPECT_GT(bold, 0);
}
}  // namespace

namespace {
// Mnemonic letter of a menu text ('&&' is a literal ampersand), 0 when none.
QChar mnemonic(const QString& t) {
    for (qsizetype i = 0; i + 1 < t.size(); ++i) {
        if (t[i] != '&') continue;
        if (t[i + 1] == '&') {
            ++i;
            continue;
        }
        return t[i + 1].toLower();
    }
    return QChar();
}
}  // namespace

// Two items on one command number would run and check-mark each other.
TEST_F(frame_fixture, EachMenuItemHasACommandOfItsOwn) {
    std::map<int, QString> seen;
    for (QMenu* m : frame->menuBar()->findChildren<QMenu*>()) {
        for (QAction* a : m->actions()) {
            if (a->isSeparator() || a->menu()) continue;
            const int c = a->data().toInt();
            const auto [it, fresh] = seen.emplace(c, a->text());
            EXPECT_TRUE(fresh) << a->text().toStdString() << " and " << it->second.toStdString();
            EXPECT_EQ(frame->action(c), a) << a->text().toStdString();
        }
    }
    EXPECT_GE(seen.size(), 40u);
}

TEST_F(frame_fixture, MenuMnemonicsReachEachItem) {
    // A letter used twice in one menu only cycles between the items instead of choosing one: no two items of a
    // menu (the menu bar's titles included) share a letter.
    int menus = 0;
    auto check = [](const QString& name, const QList<QAction*>& actions) {
        std::map<QChar, QStringList> seen;
        for (QAction* a : actions)
            if (!a->isSeparator()) seen[mnemonic(a->text())].push_back(a->text());
        for (auto& [letter, texts] : seen) {
            if (letter.isNull()) continue;
            EXPECT_EQ(texts.size(), 1) << name.toStdString() << ": " << texts.join(", ").toStdString();
        }
    };
    check(QStringLiteral("menu bar"), frame->menuBar()->actions());
    for (QMenu* m : frame->menuBar()->findChildren<QMenu*>()) {
        ++menus;
        check(m->title(), m->actions());
    }
    EXPECT_GE(menus, 5);
}
