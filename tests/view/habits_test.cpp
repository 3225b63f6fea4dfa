// The view's keyboard habits and the find bar on the offscreen platform: Alt as Meta, the copy and paste keys,
// Shift+PageUp/PageDown over the scroll-back, and finding text in the history and the screen.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QImage>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <cstring>
#include <string>

#include "../support/qt_test_support.h"
#include "view_fixture.h"
#include "config/settings.h"
#include "fakes.h"
#include "terminal/screen.h"
#include "terminal/vt.h"
#include "view/document.h"
#include "view/find_bar.h"
#include "view/render.h"
#include "view/view.h"
#include "view/view_mouse.h"

namespace {
using qt_test_support::test_app;

struct habits_fixture : view_fixture {
    void SetUp() override {
        view_fixture::SetUp();
        QGuiApplication::clipboard()->clear();
    }
    void connect_xterm(bool xterm) {
        settings().termtype = xterm ? "xterm" : "vt220";
        ASSERT_TRUE(view->connect_to("127.0.0.1", 23));
        host("\x1b[m");
        sockets.sent.clear();
    }
    bool shortcut_taken(int k, Qt::KeyboardModifiers mods) {
        QKeyEvent e(QEvent::ShortcutOverride, k, mods);
        e.ignore();
        QApplication::sendEvent(view.get(), &e);
        return e.isAccepted();
    }
    // n numbered lines, "needle" on those divisible by `every`.
    void fill(int n, int every) {
        for (int i = 1; i <= n; ++i) feed("line " + std::to_string(i) + (i % every == 0 ? " needle" : "") + "\r\n");
    }
};

std::string printable(const std::string& s) {
    std::string out;
    for (char c : s) out += c == '\x1b' ? std::string("ESC") : c == '\x7f' ? std::string("DEL") : std::string(1, c);
    return out;
}

TEST_F(habits_fixture, AltSendsMetaOnlyWhenAsked) {
    connect_xterm(true);
    key(Qt::Key_B, Qt::AltModifier, QStringLiteral("b"));
    EXPECT_EQ(sockets.sent, "") << "Alt belongs to the menus by default";
    EXPECT_FALSE(shortcut_taken(Qt::Key_F, Qt::AltModifier));
    EXPECT_TRUE(shortcut_taken(Qt::Key_F, Qt::ControlModifier));

    settings().alt_meta = 1;

    view->settings_changed();
    EXPECT_TRUE(shortcut_taken(Qt::Key_F, Qt::AltModifier)) << "the menus give up Alt+letter";
    key(Qt::Key_B, Qt::AltModifier, QStringLiteral("b"));
    key(Qt::Key_F, Qt::AltModifier | Qt::ShiftModifier, QStringLiteral("F"));
    key(Qt::Key_Backspace, Qt::AltModifier, QStringLiteral("\b"));
    key(Qt::Key_Up, Qt::AltModifier);
    key(Qt::Key_Alt, Qt::AltModifier);
    EXPECT_EQ(printable(sockets.sent), "ESCbESCFESCDELESC[1;3A");
    sockets.sent.clear();
    settings().utf8 = 1;
    view->settings_changed();
    key(Qt::Key_E, Qt::AltModifier, QString::fromUtf8("\xc3\xa9"));
    EXPECT_EQ(sockets.sent, "\x1b\xc3\xa9") << "one ESC before the character's bytes";
}

// htop and mc are left with F10: it goes to the host in both emulations, whatever Alt does.
TEST_F(habits_fixture, F10GoesToTheHostWhateverAltDoes) {
    struct row {
        bool xterm;
        int meta;
        Qt::KeyboardModifiers mods;
        const char* sent;
    };
    // The shipped map's F10 in the classic VT220 mode; the xterm emulation's own code gives it its modifiers.
    const row rows[] = {
        {false, 0, Qt::NoModifier, "ESC[21~"},     {false, 1, Qt::NoModifier, "ESC[21~"},
        {false, 1, Qt::AltModifier, "ESCESC[21~"}, {true, 0, Qt::NoModifier, "ESC[21~"},
        {true, 1, Qt::NoModifier, "ESC[21~"},      {true, 1, Qt::AltModifier, "ESC[21;3~"},
        {true, 1, Qt::ShiftModifier, "ESC[21;2~"},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(std::string(r.xterm ? "xterm" : "vt220") + " meta " + std::to_string(r.meta) + " mods " +
                     std::to_string(r.mods.toInt()));
        if (!view->connected()) connect_xterm(r.xterm);
        settings().termtype = r.xterm ? "xterm" : "vt220";
        settings().alt_meta = r.meta;
        view->settings_changed();
        view->settings_changed();
        const std::string_view stock = stock_key_entry(key_slot::f1 + 9);
        key_sequence& f10 = key_table()[key_slot::f1 + 9];
        f10 = {};
        f10.length = int(stock.size());
        std::memcpy(f10.bytes, stock.data(), stock.size());
        sockets.sent.clear();
        key(Qt::Key_F10, r.mods);
        EXPECT_EQ(printable(sockets.sent), r.sent);
    }
    key_table()[key_slot::f1 + 9] = {};
}

TEST_F(habits_fixture, CopyAndPasteKeysUseTheClipboardAndTheBracketedPaste) {
    for (bool xterm : {false, true}) {
        SCOPED_TRACE(xterm ? "xterm" : "vt220");
        if (!view->connected()) connect_xterm(xterm);
        settings().termtype = xterm ? "xterm" : "vt220";
        view->settings_changed();
        host("\x1b[H\x1b[2Jhello");
        sockets.sent.clear();
        if (!xterm) {
            // The VT220 keeps its written keys: Ctrl+Shift+C is Ctrl+C.
            key(Qt::Key_C, Qt::ControlModifier | Qt::ShiftModifier, QStringLiteral("\x03"));
            EXPECT_EQ(sockets.sent, "\x03");
            sockets.sent.clear();
            continue;
        }
        view->mouse().select_all();
        key(Qt::Key_C, Qt::ControlModifier | Qt::ShiftModifier, QStringLiteral("\x03"));
        EXPECT_TRUE(QGuiApplication::clipboard()->text().startsWith(QStringLiteral("hello")));
        EXPECT_EQ(sockets.sent, "") << "Ctrl+Shift+C sends no Ctrl+C";
        EXPECT_FALSE(view->mouse().has_selection());

        QGuiApplication::clipboard()->setText(QStringLiteral("ls\n"));
        key(Qt::Key_V, Qt::ControlModifier | Qt::ShiftModifier, QStringLiteral("\x16"));
        EXPECT_EQ(sockets.sent, "ls\r");
        sockets.sent.clear();
        key(Qt::Key_Insert, Qt::ShiftModifier);
        EXPECT_EQ(sockets.sent, "ls\r");
        sockets.sent.clear();
        if (xterm) {
            host("\x1b[?2004h");
            key(Qt::Key_Insert, Qt::ShiftModifier);
            EXPECT_EQ(printable(sockets.sent), "ESC[200~ls\rESC[201~");
            host("\x1b[?2004l");
            sockets.sent.clear();
            key(Qt::Key_Insert);
            EXPECT_EQ(printable(sockets.sent), "ESC[2~") << "Insert itself still goes to the host";
            sockets.sent.clear();
        }
    }
}

TEST_F(habits_fixture, ShiftPageKeysPageTheScrollBackExceptOnTheAlternateScreen) {
    connect_xterm(true);
    host(std::string(100, '\n'));
    ASSERT_EQ(view->scroll_position(), scroll_live);
    key(Qt::Key_PageUp, Qt::ShiftModifier);
    EXPECT_EQ(view->scroll_position(), scroll_live - 23);
    key(Qt::Key_PageUp, Qt::ShiftModifier);
    EXPECT_EQ(view->scroll_position(), scroll_live - 46);
    key(Qt::Key_PageDown, Qt::ShiftModifier);
    EXPECT_EQ(view->scroll_position(), scroll_live - 23);
    for (int i = 0; i < 10; ++i) key(Qt::Key_PageUp, Qt::ShiftModifier);
    EXPECT_EQ(view->scroll_position(), 1);
    for (int i = 0; i < 10; ++i) key(Qt::Key_PageDown, Qt::ShiftModifier);
    EXPECT_EQ(view->scroll_position(), scroll_live);
    EXPECT_EQ(sockets.sent, "");
    key(Qt::Key_PageUp);
    EXPECT_EQ(printable(sockets.sent), "ESC[5~");
    EXPECT_EQ(view->scroll_position(), scroll_live);
    sockets.sent.clear();
    host("\x1b[?1049h");
    key(Qt::Key_PageUp, Qt::ShiftModifier);
    EXPECT_EQ(printable(sockets.sent), "ESC[5;2~") << "a full-screen program gets the key";
    EXPECT_EQ(view->scroll_position(), scroll_live);
}

TEST_F(habits_fixture, CtrlShiftFAsksForTheFindBar) {
    connect_xterm(true);
    QSignalSpy find(view.get(), &CVellumView::find_requested);
    key(Qt::Key_F, Qt::ControlModifier | Qt::ShiftModifier, QStringLiteral("\x06"));
    EXPECT_EQ(find.count(), 1);
    EXPECT_EQ(sockets.sent, "");
    key(Qt::Key_F, Qt::ControlModifier, QStringLiteral("\x06"));
    EXPECT_EQ(sockets.sent, "\x06") << "Ctrl+F stays the host's";
}

// Keys as the window system delivers them: each modifier its own press, then the key, then the releases.
struct stroke {
    int key;
    Qt::KeyboardModifiers mods;
    QString text;
};

void press_each(QWidget* w, std::initializer_list<stroke> strokes) {
    for (const stroke& s : strokes) {
        QKeyEvent e(QEvent::KeyPress, s.key, s.mods, s.text);
        QApplication::sendEvent(w, &e);
    }
    for (const stroke& s : strokes) {
        QKeyEvent e(QEvent::KeyRelease, s.key, s.mods, s.text);
        QApplication::sendEvent(w, &e);
    }
}

constexpr Qt::KeyboardModifiers ctrl_shift = Qt::ControlModifier | Qt::ShiftModifier;

TEST_F(habits_fixture, CopyAndPasteKeysPressedOneKeyAtATime) {
    connect_xterm(true);
    host("\x1b[H\x1b[2Jhello");
    struct order {
        const char* name;
        stroke first, second;
    };
    const order orders[] = {
        {"Shift then Ctrl", {Qt::Key_Shift, Qt::ShiftModifier, {}}, {Qt::Key_Control, ctrl_shift, {}}},
        {"Ctrl then Shift", {Qt::Key_Control, Qt::ControlModifier, {}}, {Qt::Key_Shift, ctrl_shift, {}}},
        // Some window systems report a modifier's own press before its state includes it.
        {"state after the press", {Qt::Key_Shift, Qt::NoModifier, {}}, {Qt::Key_Control, Qt::ShiftModifier, {}}},
    };
    for (const order& o : orders) {
        SCOPED_TRACE(o.name);
        QGuiApplication::clipboard()->clear();
        view->mouse().select_all();
        press_each(view.get(), {o.first, o.second, {Qt::Key_C, ctrl_shift, QStringLiteral("\x03")}});
        EXPECT_TRUE(QGuiApplication::clipboard()->text().startsWith(QStringLiteral("hello")));
        EXPECT_FALSE(view->mouse().has_selection()) << "the copy takes the selection";
        EXPECT_EQ(sockets.sent, "");

        QGuiApplication::clipboard()->setText(QStringLiteral("pwd"));
        press_each(view.get(), {o.first, o.second, {Qt::Key_V, ctrl_shift, QStringLiteral("\x16")}});
        EXPECT_EQ(sockets.sent, "pwd");
        sockets.sent.clear();
    }
}

TEST_F(habits_fixture, AModifierAloneKeepsTheSelectionAndSendsNothing) {
    const stroke modifiers[] = {
        {Qt::Key_Shift, Qt::ShiftModifier, {}},       {Qt::Key_Control, Qt::ControlModifier, {}},
        {Qt::Key_Meta, Qt::MetaModifier, {}},         {Qt::Key_Alt, Qt::AltModifier, {}},
        {Qt::Key_AltGr, Qt::GroupSwitchModifier, {}}, {Qt::Key_Super_L, Qt::NoModifier, {}},
        {Qt::Key_CapsLock, Qt::NoModifier, {}},       {Qt::Key_Hyper_R, Qt::NoModifier, {}}};
    for (bool xterm : {false, true}) {
        for (int meta : {0, 1}) {
            SCOPED_TRACE(std::string(xterm ? "xterm" : "vt220") + (meta ? " meta" : ""));
            if (!view->connected()) connect_xterm(xterm);
            settings().termtype = xterm ? "xterm" : "vt220";
            settings().alt_meta = meta;
            view->settings_changed();
            view->settings_changed();
            host("\x1b[H\x1b[2Jhello");
            sockets.sent.clear();
            view->mouse().select_all();
            for (const stroke& m : modifiers) press_each(view.get(), {m});
            EXPECT_TRUE(view->mouse().has_selection());
            EXPECT_EQ(sockets.sent, "");
            key(Qt::Key_A, Qt::NoModifier, QStringLiteral("a"));
            EXPECT_FALSE(view->mouse().has_selection()) << "a real key still removes it";
            EXPECT_EQ(sockets.sent, "a");
        }
    }
}

// Shift+Tab and Ctrl+Backspace, each modifier pressed on its own first, as full-screen programs see them.
TEST_F(habits_fixture, ShiftTabAndCtrlBackspaceAsXtermSendsThem) {
    struct row {
        bool xterm;
        stroke modifier, key;
        const char* sent;
    };
    const stroke shift{Qt::Key_Shift, Qt::ShiftModifier, {}}, ctrl{Qt::Key_Control, Qt::ControlModifier, {}};
    const row rows[] = {
        {true, shift, {Qt::Key_Backtab, Qt::ShiftModifier, {}}, "ESC[Z"},
        {true, ctrl, {Qt::Key_Backspace, Qt::ControlModifier, QStringLiteral("\b")}, "\b"},
        {true, shift, {Qt::Key_Backspace, Qt::ShiftModifier, QStringLiteral("\b")}, "DEL"},
        {false, shift, {Qt::Key_Backtab, Qt::ShiftModifier, {}}, "\t"},
        {false, ctrl, {Qt::Key_Backspace, Qt::ControlModifier, QStringLiteral("\b")}, "DEL"},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(std::string(r.xterm ? "xterm " : "vt220 ") + std::to_string(r.key.key));
        if (!view->connected()) connect_xterm(r.xterm);
        settings().termtype = r.xterm ? "xterm" : "vt220";
        view->settings_changed();
        sockets.sent.clear();
        press_each(view.get(), {r.modifier, r.key});
        EXPECT_EQ(printable(sockets.sent), r.sent);
    }
}

// ---------------------------------------------------------------------------------------------------------------
// Find bar

struct find_fixture : habits_fixture {
    std::unique_ptr<find_bar> bar;
    void SetUp() override {
        habits_fixture::SetUp();
        bar = std::make_unique<find_bar>(*view);
        bar->show();
    }
    void TearDown() override {
        bar.reset();
        habits_fixture::TearDown();
    }
    void type(const QString& text) {
        bar->pattern_edit()->clear();
        QTest::keyClicks(bar->pattern_edit(), text);
    }
    // Text of the screen row the current match is on, as the view shows it now.
    std::string current_row_text() {
        const int row = bar->current().line - view->scroll_position() + 2;
        EXPECT_GE(row, 1);
        EXPECT_LE(row, 24);
        if (row < 1 || row > 24) return {};
        std::string out;
        for (int c = 1; c <= 80; ++c) out += char(view->ring().line(row).cells[c - 1] & cell_char_mask);
        return out.substr(0, out.find_last_not_of(' ') + 1);
    }
    int found_cells() const {
        int n = 0;
        for (const auto& f : view->found()) n += f.last - f.first + 1;
        return n;
    }
};

TEST_F(find_fixture, FindsInHistoryAndScreenAndStepsBothWays) {
    fill(150, 10);  // needles on lines 10, 20 .. 150: 15 of them, some in the history
    type(QStringLiteral("needle"));
    EXPECT_EQ(bar->count_text(), "15 of 15") << "typing starts from the newest line";
    EXPECT_EQ(current_row_text(), "line 150 needle");
    EXPECT_EQ(view->scroll_position(), scroll_live);
    EXPECT_EQ(view->found().size(), 15u);
    EXPECT_EQ(found_cells(), 15 * 6);

    QTest::keyClick(bar->pattern_edit(), Qt::Key_Return);  // Enter: further back
    EXPECT_EQ(bar->count_text(), "14 of 15");
    EXPECT_EQ(current_row_text(), "line 140 needle");
    for (int i = 0; i < 12; ++i) bar->find_previous();
    EXPECT_EQ(bar->count_text(), "2 of 15");
    EXPECT_EQ(current_row_text(), "line 20 needle");
    EXPECT_LT(view->scroll_position(), scroll_live) << "scrolled back to show it";
    bar->previous_button()->click();
    bar->previous_button()->click();
    EXPECT_EQ(bar->count_text(), "15 of 15") << "wraps to the newest";
    EXPECT_EQ(current_row_text(), "line 150 needle");
    QTest::keyClick(bar->pattern_edit(), Qt::Key_Return, Qt::ShiftModifier);  // Shift+Enter: on
    EXPECT_EQ(bar->count_text(), "1 of 15");
    EXPECT_EQ(current_row_text(), "line 10 needle");
    bar->next_button()->click();
    EXPECT_EQ(current_row_text(), "line 20 needle");

    int current = 0;
    for (const auto& f : view->found()) current += f.current;
    EXPECT_EQ(current, 1) << "one match is the current one";
}

TEST_F(find_fixture, OptionsAndBadPatterns) {
    fill(30, 10);
    feed("Needle NEEDLE\r\n");
    type(QStringLiteral("needle"));
    EXPECT_EQ(bar->count_text(), "5 of 5");
    bar->case_box()->setChecked(true);
    EXPECT_EQ(bar->count_text(), "3 of 3");
    bar->case_box()->setChecked(false);
    type(QStringLiteral("line [12]0 n"));
    EXPECT_EQ(bar->count_text(), "No matches") << "brackets are plain text without the regex switch";
    bar->regex_box()->setChecked(true);
    EXPECT_EQ(bar->count_text(), "2 of 2");
    type(QStringLiteral("line (2"));
    EXPECT_EQ(bar->count_text(), "Bad expression");
    EXPECT_TRUE(view->found().empty());
    type(QString());
    EXPECT_EQ(bar->count_text(), "");
    EXPECT_TRUE(view->found().empty());
}

TEST_F(find_fixture, MatchesShowReversedAndGoAwayWithHostDataAndEsc) {
    connect_xterm(false);
    host("\x1b[H\x1b[2J\x1b[3;5Hfind me here");
    type(QStringLiteral("me"));
    ASSERT_EQ(bar->count_text(), "1 of 1");
    ASSERT_EQ(view->found().size(), 1u);
    EXPECT_EQ(view->found()[0].line, 199 + 2) << "screen row 3";
    EXPECT_EQ(view->found()[0].first, 10);
    EXPECT_EQ(view->found()[0].last, 11);
    const QImage img = view->render_image();
    auto paper_is = [&](int row, int col, int bgr) {
        const QRect r = view->cell_rect(row, col);
        return img.pixel(r.left() + 1, r.top() + 1) == color_from_bgr(bgr).rgb() ||
               img.pixel(r.right() - 1, r.top() + 2) == color_from_bgr(bgr).rgb();
    };
    EXPECT_TRUE(paper_is(3, 10, FG)) << "found text shows reversed";
    EXPECT_TRUE(paper_is(3, 11, FG));
    EXPECT_TRUE(paper_is(3, 9, BG));
    EXPECT_TRUE(paper_is(3, 12, BG));

    host("x");
    EXPECT_TRUE(view->found().empty()) << "host data moves the lines: the marks go";
    bar->find_previous();
    EXPECT_EQ(view->found().size(), 1u);
    QTest::keyClick(bar->pattern_edit(), Qt::Key_Escape);
    EXPECT_FALSE(bar->isVisible());
    EXPECT_TRUE(view->found().empty());
}

TEST_F(find_fixture, WideCharactersAndTheColumnsOfA132ColumnScreen) {
    settings().utf8 = 1;
    view->settings_changed();
    connect_xterm(false);
    host("\x1b[?3h");  // 132 columns
    host("\x1b[H\x1b[2J\x1b[1;120H\xe4\xb8\xad\xe6\x96\x87 end");
    bar->pattern_edit()->setText(QString::fromUtf8("\xe4\xb8\xad\xe6\x96\x87"));  // keyClicks knows ASCII only
    ASSERT_EQ(view->found().size(), 1u);
    EXPECT_EQ(view->found()[0].first, 120);
    EXPECT_EQ(view->found()[0].last, 123) << "both halves of both wide characters";
    type(QStringLiteral("end"));
    ASSERT_EQ(view->found().size(), 1u);
    EXPECT_EQ(view->found()[0].first, 125);
}
}  // namespace
