#include "view/view_mouse.h"

#include <gtest/gtest.h>

#include <QClipboard>
#include <QContextMenuEvent>
#include <QMenu>
#include <QMimeData>
#include <QMouseEvent>
#include <QWheelEvent>
#include <algorithm>
#include <string>
#include <vector>

#include "../support/qt_test_support.h"
#include "config/settings.h"
#include "terminal/charset.h"
#include "terminal/screen.h"

using qt_test_support::test_app;

namespace {

constexpr int cw = 10, ch = 20;

struct fake_host : mouse_host {
    screen_ring ring_;
    int cols = 80;
    bool focus = true;
    bool wheel_on = true;
    bool utf8_on = false;
    int script = 0;
    int pos = 200;
    int all_updates = 0, changed_updates = 0;
    std::string sent;

    screen_ring& ring() override { return ring_; }
    int columns() const override { return cols; }
    QPoint cell_at(QPoint p) const override {
        return {std::clamp(p.x() / cw + 1, 1, cols), std::clamp(p.y() / ch + 1, 1, 24)};
    }
    QRect client_rect() const override { return QRect(100, 100, cols * cw, 24 * ch); }
    bool has_focus() const override { return focus; }
    int scroll_position() const override { return pos; }
    int live_position() const override { return ring_.live_position(); }
    void set_scroll_position(int p) override {
        pos = p;
        ++all_updates;
    }
    void send_to_host(const std::uint8_t* d, std::size_t n) override {
        sent.append(reinterpret_cast<const char*>(d), n);
    }
    void update_all() override { ++all_updates; }
    void update_changed() override { ++changed_updates; }
    bool wheel_enabled() const override { return wheel_on; }
    bool utf8() const override { return utf8_on; }
    int text_script() const override { return script; }
    int lines = 1;
    int wheel_lines() const override { return lines; }
    mouse_tracking track = mouse_tracking::off;
    mouse_encoding coding = mouse_encoding::sgr;
    std::vector<QPoint> links_opened;
    QPoint link_cell{-1, -1};
    mouse_tracking tracking() const override { return track; }
    mouse_encoding encoding() const override { return coding; }
    bool open_link(QPoint cell) override {
        if (cell != link_cell) return false;
        links_opened.push_back(cell);
        return true;
    }

    void write(int row, int col, const std::string& text) {
        for (std::size_t i = 0; i < text.size(); ++i)
            ring_.put_char(static_cast<std::uint8_t>(text[i]), row, col + static_cast<int>(i));
    }
};

QPointF at(int col, int row) { return QPointF((col - 1) * cw + 3, (row - 1) * ch + 5); }

struct MouseTest : ::testing::Test {
    fake_host* host = nullptr;
    std::unique_ptr<view_mouse> m;
    std::int64_t now = 1000;

    void SetUp() override {
        test_app();
        auto h = std::make_unique<fake_host>();
        host = h.get();
        m = std::make_unique<view_mouse>(std::move(h));
        m->set_clock([this] { return now; });
        m->focus_in();
        now += 5;
        QGuiApplication::clipboard()->clear();
    }
    void press(int col, int row, Qt::KeyboardModifiers mods = Qt::NoModifier, Qt::MouseButton b = Qt::LeftButton) {
        QMouseEvent e(QEvent::MouseButtonPress, at(col, row), at(col, row), b, b, mods);
        m->mouse_press(&e);
    }
    void move(int col, int row, Qt::MouseButtons held = Qt::LeftButton, Qt::KeyboardModifiers mods = Qt::NoModifier) {
        QMouseEvent e(QEvent::MouseMove, at(col, row), at(col, row), Qt::NoButton, held, mods);
        m->mouse_move(&e);
    }
    void release(int col, int row, Qt::KeyboardModifiers mods = Qt::NoModifier, Qt::MouseButton b = Qt::LeftButton) {
        QMouseEvent e(QEvent::MouseButtonRelease, at(col, row), at(col, row), b, Qt::NoButton, mods);
        m->mouse_release(&e);
    }
    void drag(int c0, int r0, int c1, int r1) {
        press(c0, r0);
        move(c1, r1);
        release(c1, r1);
    }
    void double_click(int col, int row) {
        QMouseEvent e(QEvent::MouseButtonDblClick, at(col, row), at(col, row), Qt::LeftButton, Qt::LeftButton,
                      Qt::NoModifier);
        m->mouse_double_click(&e);
    }
    bool wheel(int dy) {
        QWheelEvent e(QPointF(5, 5), QPointF(105, 105), QPoint(), QPoint(0, dy), Qt::NoButton, Qt::NoModifier,
                      Qt::NoScrollPhase, false);
        e.setAccepted(false);
        m->wheel(&e);
        return e.isAccepted();
    }
    std::string clip() const { return QGuiApplication::clipboard()->text().toLatin1().toStdString(); }
};

}  // namespace

TEST_F(MouseTest, DragCopiesTheBlockWithLfAndClearsTheSelection) {
    host->write(3, 10, "line three!");
    host->write(4, 10, "LINE FOUR  ");
    host->write(5, 10, "line five..");
    drag(10, 3, 20, 5);
    ASSERT_TRUE(m->has_selection());
    EXPECT_TRUE(m->highlighted(4, 15));  // shown without waiting for the view's own update
    EXPECT_GT(host->changed_updates, 0);
    m->copy();
    EXPECT_FALSE(m->highlighted(4, 15));
    EXPECT_EQ(clip(), "line three!\nLINE FOUR  \nline five..");
    EXPECT_FALSE(m->has_selection());
    // Nothing shown: Copy leaves the clipboard alone.
    QGuiApplication::clipboard()->setText("keep");
    m->copy();
    EXPECT_EQ(clip(), "keep");
}

TEST_F(MouseTest, AppendAddsToTheClipboardText) {
    host->write(1, 1, "xy");
    QGuiApplication::clipboard()->setText("abc");
    drag(1, 1, 2, 1);
    m->append();
    EXPECT_EQ(clip(), "abc\nxy");
    // An empty clipboard still gets the line break first.
    QGuiApplication::clipboard()->clear();
    drag(1, 1, 2, 1);
    m->append();
    EXPECT_EQ(clip(), "\nxy");
    // Text from elsewhere survives whole, whatever its characters.
    const QString foreign = QString::fromUtf8("\xe2\x82\xac 5 \xce\xb1\xce\xb2");
    QGuiApplication::clipboard()->setText(foreign);
    drag(1, 1, 2, 1);
    m->append();
    EXPECT_EQ(QGuiApplication::clipboard()->text(), foreign + "\nxy");
}

TEST_F(MouseTest, HighBytesReachTheClipboardAsLatin1) {
    host->write(2, 1, "\xe9t\xe9");
    drag(1, 2, 3, 2);
    m->copy();
    EXPECT_EQ(QGuiApplication::clipboard()->text(), QString::fromUtf8("\xc3\xa9t\xc3\xa9"));
}

TEST_F(MouseTest, PressSoonAfterFocusStartsNothingButMovesStillTrack) {
    m->focus_in();  // focus gained at `now`
    now += 1;
    drag(5, 5, 9, 5);
    EXPECT_FALSE(m->has_selection());
    EXPECT_EQ(m->state().end_col, 9);
    now += 1;
    drag(5, 5, 9, 6);
    EXPECT_TRUE(m->has_selection());
    EXPECT_EQ(m->state().start_col, 5);
    host->focus = false;
    m->remove_selection();
    drag(1, 1, 4, 1);
    EXPECT_FALSE(m->has_selection());
}

TEST_F(MouseTest, AClickWithoutAMoveReplacesTheEarlierBlock) {
    host->write(9, 1, "abcdefghij");
    drag(2, 9, 6, 9);
    ASSERT_TRUE(m->highlighted(9, 4));
    press(9, 9);
    release(9, 9);
    EXPECT_FALSE(m->highlighted(9, 4));
    EXPECT_TRUE(m->highlighted(9, 9));
    m->copy();
    EXPECT_EQ(clip(), "i");
}

TEST_F(MouseTest, MovesWithoutTheButtonAreIgnored) {
    drag(2, 2, 4, 2);
    move(30, 10, Qt::NoButton);
    EXPECT_EQ(m->state().end_col, 4);
    EXPECT_EQ(m->state().end_row, 2);
    move(200, 200);  // beyond the grid: clamped
    EXPECT_EQ(m->state().end_col, 80);
    EXPECT_EQ(m->state().end_row, 24);
}

TEST_F(MouseTest, DoubleClickSelectsTheWordToTheLastColumn) {
    host->write(7, 1, "cat /etc/passwd");
    host->write(7, 75, "the end");  // "end" ends at column 81 -> cut at the screen edge
    double_click(6, 7);
    EXPECT_EQ(m->state().start_col, 5);
    EXPECT_EQ(m->state().end_col, 15);
    m->copy();
    EXPECT_EQ(clip(), "/etc/passwd");
    double_click(79, 7);
    m->copy();
    EXPECT_EQ(clip(), "en");
}

TEST_F(MouseTest, SelectAllCoversTheWholeScreenWidth) {
    host->cols = 132;
    host->write(24, 131, "Z!");
    m->select_all();
    m->copy();
    const std::string t = clip();
    EXPECT_EQ(t.size(), 24u * 132u + 23u);
    EXPECT_EQ(t.substr(t.size() - 2), "Z!");
}

TEST_F(MouseTest, PasteSendsEachLineEndingAsCr) {
    QGuiApplication::clipboard()->setText("echo hi\r\nls\n");
    m->paste();
    EXPECT_EQ(host->sent, "echo hi\rls\r");
    host->sent.clear();
    QGuiApplication::clipboard()->clear();
    m->paste();
    EXPECT_EQ(host->sent, "");
}

namespace {
// Clipboard contents that count how often their text is fetched.
class counting_mime : public QMimeData {
public:
    explicit counting_mime(int* fetches) : fetches_(fetches) {}
    QStringList formats() const override { return {QStringLiteral("text/plain")}; }
    bool hasFormat(const QString& f) const override { return f == QStringLiteral("text/plain"); }

protected:
    QVariant retrieveData(const QString& f, QMetaType) const override {
        if (f != QStringLiteral("text/plain")) return {};
        ++*fetches_;
        return QByteArray("big\r\ntext");
    }

private:
    int* fetches_;
};
}  // namespace

TEST_F(MouseTest, PasteStateAsksForTheFormatWithoutFetchingTheText) {
    int fetches = 0;
    QGuiApplication::clipboard()->setMimeData(new counting_mime(&fetches));
    for (int i = 0; i < 5; ++i) EXPECT_TRUE(view_mouse::clipboard_has_text());
    EXPECT_TRUE(m->make_context_menu()->actions()[2]->isEnabled());
    EXPECT_EQ(fetches, 0);
    m->paste();
    EXPECT_GT(fetches, 0);
    EXPECT_EQ(host->sent, "big\rtext");
}

TEST_F(MouseTest, WheelMovesOneLineWithinLimits) {
    EXPECT_TRUE(wheel(-120));
    EXPECT_EQ(host->pos, 200);
    EXPECT_TRUE(wheel(120));
    EXPECT_EQ(host->pos, 199);
    EXPECT_TRUE(wheel(480));
    EXPECT_EQ(host->pos, 198);
    EXPECT_TRUE(wheel(-15));
    EXPECT_EQ(host->pos, 199);
    host->pos = 1;
    wheel(120);
    EXPECT_EQ(host->pos, 1);
    drag(1, 1, 5, 1);
    wheel(-120);
    EXPECT_EQ(host->pos, 2);
    EXPECT_FALSE(m->has_selection());
    EXPECT_FALSE(m->highlighted(1, 3));
    // At the live screen turning toward the user moves nothing and keeps the selection.
    host->pos = 200;
    drag(1, 1, 5, 1);
    wheel(-120);
    EXPECT_EQ(host->pos, 200);
    EXPECT_TRUE(m->has_selection());
    EXPECT_TRUE(m->highlighted(1, 3));
    host->wheel_on = false;
    EXPECT_FALSE(wheel(120));
    EXPECT_EQ(host->pos, 200);
}

// wheel_lines above 1: that many lines a notch of 120 units, fine-grained events adding up to them.
TEST_F(MouseTest, WheelLinesSetTheStepOfANotch) {
    struct step {
        int delta, want;
    };
    struct wheel_case {
        int lines, start;
        std::vector<step> steps;
    };
    const wheel_case cases[] = {
        {3, 200, {{120, 197}, {120, 194}, {-120, 197}, {-120, 200}, {-120, 200}}},
        {3, 200, {{240, 194}, {-360, 200}}},                                // several notches in one event
        {3, 200, {{40, 199}, {40, 198}, {40, 197}, {20, 197}, {20, 196}}},  // a fine-grained wheel
        {3, 200, {{30, 200}, {-10, 200}, {30, 200}, {10, 199}}},            // turning back drops the rest
        {3, 2, {{120, 1}, {120, 1}, {-120, 4}}},                            // limited to the oldest line
        {5, 200, {{120, 195}, {-60, 197}, {-60, 200}}},
        {1, 200, {{480, 199}, {15, 198}, {-15, 199}}},  // as before: a line a message
        {0, 200, {{480, 199}}},
    };
    for (const wheel_case& c : cases) {
        host->lines = c.lines;
        host->pos = c.start;
        for (const step& s : c.steps) {
            EXPECT_TRUE(wheel(s.delta));
            EXPECT_EQ(host->pos, s.want) << "lines " << c.lines << " from " << c.start << " delta " << s.delta;
        }
    }
}

// A history longer than the ring: the selection holds lines of the whole text, so that it reads archived and ring
// lines alike, follows its text when the view scrolls, and a drag past the top edge scrolls back.
TEST_F(MouseTest, SelectionSpansTheRingAndTheArchive) {
    screen_ring& r = host->ring_;
    r.set_history_limit(1000);
    const int total = 800;
    for (int i = 1; i <= total; ++i) {
        host->write(24, 1, "H" + std::to_string(i));
        r.scroll_up(1, 1, 24);
    }
    const int live = r.live_position();
    ASSERT_EQ(live, 1001);
    // Line l (0 just above the screen) holds H(total - 23 + l); the ring's oldest is 1 - ring_spare.
    auto text_of_line = [&](int l) { return "H" + std::to_string(total - 23 + l); };
    const int depth = ring_spare + 5;  // rows 1..5 show archived lines, rows 6.. ring lines
    host->pos = live - depth;
    drag(1, 2, 6, 10);
    EXPECT_EQ(m->state().start_row, 2 - depth);
    EXPECT_EQ(m->state().end_row, 10 - depth);
    EXPECT_TRUE(m->highlighted(2, 1));
    EXPECT_TRUE(m->highlighted(10, 6));
    EXPECT_FALSE(m->highlighted(11, 1));

    // Scrolled three lines further back, the highlight moves down with its text.
    host->pos -= 3;
    m->update_highlight();
    EXPECT_FALSE(m->highlighted(2, 1));
    EXPECT_TRUE(m->highlighted(5, 1));
    EXPECT_TRUE(m->highlighted(13, 6));

    m->copy();
    std::string want;
    for (int row = 2; row <= 10; ++row) {
        std::string t = text_of_line(row - depth);
        t.resize(6, ' ');
        want += t + (row < 10 ? "\n" : "");
    }
    EXPECT_EQ(clip(), want);

    // A double click on an archived word, and a drag past the top edge, which scrolls a line back a move.
    host->pos = live - depth;
    double_click(2, 3);
    m->copy();
    EXPECT_EQ(clip(), text_of_line(3 - depth));
    press(6, 3);
    for (int i = 0; i < 4; ++i) {
        const QPointF above(3, -5);  // column 1, over the top edge
        QMouseEvent e(QEvent::MouseMove, above, above, Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
        m->mouse_move(&e);
    }
    EXPECT_EQ(host->pos, live - depth - 4);
    EXPECT_EQ(m->state().start_row, 3 - depth);
    EXPECT_EQ(m->state().end_row, 1 - depth - 4);
    EXPECT_EQ(m->state().end_col, 1);
    m->copy();
    want.clear();
    for (int l = 1 - depth - 4; l <= 3 - depth; ++l) {
        std::string t = text_of_line(l);
        t.resize(6, ' ');
        want += t + (l < 3 - depth ? "\n" : "");
    }
    EXPECT_EQ(clip(), want);
}

// The wheel's range is the history's: the live position moves with it.
TEST_F(MouseTest, WheelReachesTheWholeHistory) {
    screen_ring& r = host->ring_;
    r.set_history_limit(5000);
    for (int i = 0; i < 3000; ++i) r.scroll_up(1, 1, 24);
    const int live = r.live_position();
    ASSERT_EQ(live, 3257);
    host->pos = live;
    EXPECT_TRUE(wheel(-120));
    EXPECT_EQ(host->pos, live);
    EXPECT_TRUE(wheel(120));
    EXPECT_EQ(host->pos, live - 1);
    host->lines = 3;
    EXPECT_TRUE(wheel(-240));
    EXPECT_EQ(host->pos, live);
    host->pos = 250;
    EXPECT_TRUE(wheel(-120));
    EXPECT_EQ(host->pos, 253) << "past the default live position";
}

TEST_F(MouseTest, KeysAndHostDataRemoveTheSelectionButCtrlKeepsIt) {
    drag(1, 1, 5, 1);
    m->key_pressed(true);
    EXPECT_TRUE(m->has_selection());
    m->key_pressed(false);
    EXPECT_FALSE(m->has_selection());
    drag(1, 1, 5, 1);
    m->data_arrived();
    EXPECT_FALSE(m->has_selection());
}

TEST_F(MouseTest, HighlightMarksOnlyChangedCells) {
    auto& ring = host->ring_;
    ring.clear_marks();
    drag(10, 3, 20, 5);
    m->update_highlight();
    EXPECT_TRUE(m->highlighted(4, 10));
    EXPECT_TRUE(m->highlighted(5, 20));
    EXPECT_FALSE(m->highlighted(4, 21));
    EXPECT_FALSE(m->highlighted(2, 15));
    EXPECT_TRUE(ring.row_marked(3));
    EXPECT_FALSE(ring.row_marked(6));
    EXPECT_TRUE(ring.cell_mark(4, 15) & mark_selected);
    EXPECT_FALSE(ring.cell_mark(4, 21) & mark_selected);
    // What the painter does: row marks and repaint bits go, the selected bit stays.
    for (int r = 1; r <= 24; ++r) {
        ring.clear_row_mark(r);
        for (int c = 1; c <= 132; ++c) ring.cell_mark(r, c) &= mark_selected;
    }
    m->update_highlight();  // nothing changed, nothing marked
    for (int r = 1; r <= 24; ++r) EXPECT_FALSE(ring.row_marked(r)) << r;
    m->remove_selection();
    m->update_highlight();
    EXPECT_FALSE(m->highlighted(4, 15));
    EXPECT_TRUE(ring.row_marked(4));
    EXPECT_EQ(ring.cell_mark(4, 15), mark_repaint);
    // A row marked whole loses the bit; the next update puts it back.
    drag(10, 3, 20, 5);
    m->update_highlight();
    ring.mark_row(4);
    EXPECT_FALSE(m->highlighted(4, 15));
    m->update_highlight();
    EXPECT_TRUE(m->highlighted(4, 15));
    m->remove_selection();
    m->update_highlight();
    // The down-and-left block lights nothing.
    drag(20, 3, 10, 5);
    m->update_highlight();
    for (int c = 1; c <= 80; ++c) EXPECT_FALSE(m->highlighted(4, c));
}

TEST_F(MouseTest, ContextMenuHasFourItemsAndPasteNeedsText) {
    auto menu = m->make_context_menu();
    auto acts = menu->actions();
    ASSERT_EQ(acts.size(), 4);
    EXPECT_EQ(acts[0]->text(), "Select All");
    EXPECT_EQ(acts[1]->text(), "Copy");
    EXPECT_EQ(acts[2]->text(), "Paste");
    EXPECT_EQ(acts[3]->text(), "Append");
    EXPECT_FALSE(acts[2]->isEnabled());
    // Copy and Append need a selection, as in the Edit menu.
    EXPECT_FALSE(acts[1]->isEnabled());
    EXPECT_FALSE(acts[3]->isEnabled());
    QGuiApplication::clipboard()->setText("x");
    EXPECT_TRUE(m->make_context_menu()->actions()[2]->isEnabled());
    acts[0]->trigger();
    EXPECT_TRUE(m->has_selection());
    auto with_selection = m->make_context_menu();
    EXPECT_TRUE(with_selection->actions()[1]->isEnabled());
    EXPECT_TRUE(with_selection->actions()[3]->isEnabled());
    // Outside the client area the event is left to the default handling.
    QContextMenuEvent outside(QContextMenuEvent::Mouse, QPoint(-50, -50), QPoint(10, 10));
    m->context_menu(&outside);
    EXPECT_FALSE(outside.isAccepted());
}

TEST_F(MouseTest, SelectionsSetPrimaryAndTheMiddleButtonPastesIt) {
    std::vector<QString> offered;
    QString primary;
    m->set_primary({[&](const QString& t) { offered.push_back(t); }, [&] { return primary; }});
    host->write(2, 1, "alpha beta");
    host->write(3, 1, "gamma");
    press(3, 2);
    release(3, 2);
    EXPECT_TRUE(offered.empty()) << "a click with no move";
    drag(1, 2, 5, 3);
    double_click(2, 3);
    m->select_all();
    ASSERT_EQ(offered.size(), 3u);
    EXPECT_EQ(offered[0], "alpha\ngamma");
    EXPECT_EQ(offered[1], "gamma");
    EXPECT_EQ(offered[2].mid(80, 11), "\nalpha beta");
    EXPECT_TRUE(m->has_selection()) << "PRIMARY does not take the highlight away";

    QGuiApplication::clipboard()->setText("clipboard");
    primary = QStringLiteral("ls\npwd\r\nid");
    QMouseEvent middle(QEvent::MouseButtonPress, at(5, 5), at(5, 5), Qt::MiddleButton, Qt::MiddleButton,
                       Qt::NoModifier);
    m->mouse_press(&middle);
    EXPECT_EQ(host->sent, "ls\rpwd\rid");
    EXPECT_EQ(clip(), "clipboard");
}

namespace {
struct ScriptTest : MouseTest {
    void TearDown() override { reset_settings(); }
};
}  // namespace

// Every defined high byte of each script's code page copies as its character and pastes back as the same byte.
TEST_F(ScriptTest, ClipboardRoundTripForEachScript) {
    host->cols = 132;
    for (int script : {0, 238, 204, 161, 162, 177, 178, 186, 163, 222, 255, 2}) {
        host->script = script;
        const int page = code_page_of_script(script);
        std::string bytes;
        for (int b = 0x80; b < 0x100; ++b)
            if (byte_to_unicode(page, uint8_t(b)) != replacement_char) bytes += char(b);
        bytes += "az";
        host->write(1, 1, std::string(132, ' '));
        host->write(1, 1, bytes);
        drag(1, 1, int(bytes.size()), 1);
        m->copy();
        const QString text = QGuiApplication::clipboard()->text();
        EXPECT_EQ(text.toUcs4().at(0), byte_to_unicode(page, uint8_t(bytes[0]))) << script;
        host->sent.clear();
        m->paste();
        EXPECT_EQ(host->sent, bytes) << "script " << script;
    }
}

TEST_F(ScriptTest, Utf8CellsCopyAsTheirCharactersAndPasteAsUtf8) {
    host->utf8_on = true;
    screen_ring& r = host->ring_;
    r.put_cell(cell_wide | cell_of_code(0x4E2D), 1, 1);
    r.put_cell(cell_wide_right | cell_blank, 1, 2);
    r.put_cell(cell_of_code(0x416), 1, 3);
    r.put_cell(cell_of_code(0xE9), 1, 4);
    drag(1, 1, 4, 1);
    m->copy();
    EXPECT_EQ(QGuiApplication::clipboard()->text(), QString::fromUtf8("\xe4\xb8\xad\xd0\x96\xc3\xa9"));
    m->paste();
    EXPECT_EQ(host->sent, "\xe4\xb8\xad\xd0\x96\xc3\xa9");
    // In a code page, characters it lacks go as '?'.
    host->utf8_on = false;
    host->script = 204;
    host->sent.clear();
    m->paste();
    EXPECT_EQ(host->sent, "?\xc6?");
}

TEST_F(ScriptTest, DoubleClickTakesAWordOfWideCharacters) {
    host->utf8_on = true;
    screen_ring& r = host->ring_;
    const uint32_t cps[] = {0x4E2D, 0x4E20};  // the second one's low byte is a blank's
    for (int i = 0; i < 2; ++i) {
        r.put_cell(cell_wide | cell_of_code(cps[i]), 1, 1 + 2 * i);
        r.put_cell(cell_wide_right | cell_blank, 1, 2 + 2 * i);
    }
    double_click(2, 1);
    m->copy();
    EXPECT_EQ(QGuiApplication::clipboard()->text(), QString::fromUtf8("\xe4\xb8\xad\xe4\xb8\xa0"));
}

namespace {

// The host asked for the mouse: clicks, drags and the wheel go to it as reports and make no selection; Shift
// keeps the local selection; viewing history keeps it local too.
TEST_F(MouseTest, ReportsGoToTheHostInsteadOfSelecting) {
    host->track = mouse_tracking::button;
    press(3, 2);
    move(3, 2);  // same cell: no report
    move(5, 4);
    release(5, 4, Qt::NoModifier);
    press(7, 1, Qt::NoModifier, Qt::RightButton);
    release(7, 1, Qt::NoModifier, Qt::RightButton);
    EXPECT_EQ(host->sent, "\x1b[<0;3;2M\x1b[<32;5;4M\x1b[<0;5;4m\x1b[<2;7;1M\x1b[<2;7;1m");
    EXPECT_FALSE(m->has_selection());
    host->sent.clear();
    EXPECT_TRUE(wheel(-240));
    EXPECT_EQ(host->sent, "\x1b[<65;1;1M\x1b[<65;1;1M");
    EXPECT_EQ(host->pos, 200);
}

TEST_F(MouseTest, ShiftOrHistoryKeepsTheSelectionLocal) {
    host->track = mouse_tracking::any;
    host->write(1, 1, "hello");
    press(1, 1, Qt::ShiftModifier);
    move(5, 1, Qt::LeftButton, Qt::ShiftModifier);
    release(5, 1, Qt::ShiftModifier);
    EXPECT_EQ(host->sent, "");
    EXPECT_TRUE(m->has_selection());
    m->remove_selection();
    host->pos = 150;
    press(2, 2);
    EXPECT_EQ(host->sent, "");
    EXPECT_TRUE(m->has_selection());
}

TEST_F(MouseTest, ContextMenuWaitsWhileTheHostHasTheMouse) {
    host->track = mouse_tracking::normal;
    QContextMenuEvent e(QContextMenuEvent::Mouse, QPoint(5, 5), QPoint(105, 105), Qt::NoModifier);
    e.setAccepted(false);
    m->context_menu(&e);  // would block in exec() if a menu were shown
    EXPECT_TRUE(e.isAccepted());
}

TEST_F(MouseTest, CtrlClickOpensALinkAndNothingElse) {
    host->track = mouse_tracking::normal;
    host->link_cell = QPoint(4, 2);
    press(4, 2, Qt::ControlModifier);
    EXPECT_EQ(host->links_opened.size(), 1u);
    EXPECT_EQ(host->sent, "");
    press(6, 2, Qt::ControlModifier);  // no link there: reported with Ctrl
    EXPECT_EQ(host->links_opened.size(), 1u);
    EXPECT_EQ(host->sent, "\x1b[<16;6;2M");
    press(4, 2);  // a plain click on the link is the host's
    EXPECT_EQ(host->links_opened.size(), 1u);
}

}  // namespace
