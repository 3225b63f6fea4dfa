// The view over a history longer than the ring: the scroll bar's range, the page and wheel steps, archived lines
// painted with their colours, find far back with its highlight, and the setting followed when it changes.
#include <QCheckBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QScrollBar>
#include <QTest>
#include <QWheelEvent>
#include <string>

#include "view/find_bar.h"
#include "view_fixture.h"

namespace {

struct scrollback_fixture : view_fixture {
    void SetUp() override {
        view_fixture::SetUp();
        settings().termtype = "xterm";
        settings().scrollback_lines = 5000;
        view->settings_changed();
        settings().scroll_bar = 1;
        view->show_scroll_bar(true);
        ASSERT_TRUE(view->connect_to("127.0.0.1", 23));
    }
    // "row <n>" lines from..to, each ended by CR LF.
    void rows(int from, int to, const std::string& tail = {}) {
        std::string s;
        for (int i = from; i <= to; ++i) s += "row " + std::to_string(i) + tail + "\r\n";
        host(s);
        view->render_image();  // what the repaint timer does after host data
    }
    QScrollBar* bar() const { return view->findChild<QScrollBar*>(); }
    std::string shown_text(int row) const {
        std::string out;
        for (int c = 1; c <= view->columns(); ++c) out += char(view->ring().shown_line(row).cells[c - 1] & 0xFF);
        return out.substr(0, out.find_last_not_of(' ') + 1);
    }
    void wheel(int dy) {
        QWheelEvent e(QPointF(50, 50), view->mapToGlobal(QPointF(50, 50)), QPoint(), QPoint(0, dy), Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(view.get(), &e);
    }
};

TEST_F(scrollback_fixture, ScrollBarPageAndWheelReachTheWholeHistory) {
    rows(1, 3000);
    const screen_ring& r = view->ring();
    ASSERT_EQ(r.history_limit(), 5000);
    // 24 rows: the first 23 lines fill the screen, every further one scrolls a ring line out.
    ASSERT_EQ(r.history_count(), ring_spare + 3000 - 23);
    const int live = r.live_position();
    EXPECT_EQ(view->scroll_position(), live);
    EXPECT_EQ(bar()->maximum(), live);
    EXPECT_EQ(bar()->value(), live);

    key(Qt::Key_PageUp, Qt::ShiftModifier);
    EXPECT_EQ(view->scroll_position(), live - 23);
    EXPECT_EQ(bar()->value(), live - 23);
    settings().wheel_lines = 3;
    wheel(120);
    EXPECT_EQ(view->scroll_position(), live - 26);
    wheel(-240);
    EXPECT_EQ(view->scroll_position(), live - 20);

    // Row 1 at position p shows history line p: the ring's blank lines, then the output from its first line.
    bar()->setValue(ring_spare + 1);
    EXPECT_EQ(view->scroll_position(), ring_spare + 1);
    EXPECT_EQ(shown_text(1), "row 1");
    EXPECT_EQ(shown_text(24), "row 24");
    view->set_scroll_position(ring_spare);
    EXPECT_EQ(shown_text(1), "");
    EXPECT_EQ(shown_text(2), "row 1");
    for (int i = 0; i < 200; ++i) key(Qt::Key_PageDown, Qt::ShiftModifier);
    EXPECT_EQ(view->scroll_position(), live);
    EXPECT_EQ(shown_text(23), "row 3000");

    view->set_scroll_position(100);
    host("x");
    EXPECT_EQ(view->scroll_position(), view->ring().live_position()) << "host data returns to the live screen";
}

TEST_F(scrollback_fixture, ArchivedLinesArePaintedWithTheirColours) {
    host("\x1b[41m" + std::string(60, ' ') + "\x1b[m red paper\r\n");
    rows(1, 2000);
    const screen_ring& r = view->ring();
    int k = 0;  // the history line of the red one
    for (int i = 1; i <= r.history_count() && !k; ++i)
        if (r.history_view(i).cell(62) == 'r') k = i;
    ASSERT_GT(k, 0);
    ASSERT_LT(k, r.history_count() - ring_spare) << "archived";
    view->set_scroll_position(k);
    ASSERT_EQ(shown_text(1), std::string(60, ' ') + " red paper");
    const QImage img = shot();
    const QRect red = cell(1, 30), plain = cell(2, 30);
    EXPECT_EQ(count(img, red, BG), 0) << "the red paper is painted";
    EXPECT_EQ(count(img, plain, BG), area(plain));
    EXPECT_EQ(img.pixel(red.center()), img.pixel(cell(1, 1).center()));
}

TEST_F(scrollback_fixture, FindReachesNinetyThousandLinesBack) {
    settings().scrollback_lines = 100000;
    view->settings_changed();
    rows(1, 4999);
    rows(5000, 5000, " needle in the hay");
    rows(5001, 95000);
    const screen_ring& r = view->ring();
    ASSERT_EQ(r.history_count(), ring_spare + 95000 - 23);
    find_bar bar(*view);
    bar.show();
    QElapsedTimer t;
    t.start();
    QTest::keyClicks(bar.pattern_edit(), QStringLiteral("needle"));
    const qint64 typed_ms = t.elapsed();
    EXPECT_EQ(bar.count_text(), "1 of 1");
    // Line "row 5000" is 90,000 lines above the last one, which is on row 23.
    const int want_line = r.history_count() + 23 - 90000 - 1;
    EXPECT_EQ(bar.current().line, want_line);
    const int row = want_line - view->scroll_position() + 2;
    ASSERT_GE(row, 1);
    ASSERT_LE(row, 24);
    EXPECT_EQ(shown_text(row), "row 5000 needle in the hay");
    ASSERT_EQ(view->found().size(), 1u);
    EXPECT_EQ(view->found()[0].line, want_line);
    EXPECT_EQ(view->found()[0].first, 10);
    EXPECT_EQ(view->found()[0].last, 15);
    // Found cells show as selected ones, on the ink's colour.
    const QImage img = shot();
    EXPECT_GT(count(img, cell(row, 12), FG), area(cell(row, 12)) / 2);
    EXPECT_EQ(count(img, cell(row, 30), FG), 0);

    QTest::keyClicks(bar.pattern_edit(), QStringLiteral(" IN"));
    EXPECT_EQ(bar.count_text(), "1 of 1") << "case does not matter";
    bar.regex_box()->setChecked(true);
    bar.pattern_edit()->setText(QStringLiteral("^row 9\\d{4}$"));
    EXPECT_EQ(bar.count_text(), "5001 of 5001") << "row 90000 .. row 95000";
    std::printf("six searches over a 95,233-line history as the pattern is typed: %lld ms\n",
                static_cast<long long>(typed_ms));
    EXPECT_LT(typed_ms, 6000);
}

TEST_F(scrollback_fixture, TheSettingReachesTheRing) {
    rows(1, 3000);
    EXPECT_EQ(view->ring().history_count(), ring_spare + 3000 - 23);
    view->set_scroll_position(500);
    settings().scrollback_lines = 300;
    view->settings_changed();  // as the frame does after the dialog
    EXPECT_EQ(view->ring().history_count(), 300);
    EXPECT_EQ(view->scroll_position(), 301);
    EXPECT_EQ(bar()->maximum(), 301);
    view->set_scroll_position(1);
    EXPECT_EQ(shown_text(1), "row " + std::to_string(3000 - 23 - 299));
    settings().scrollback_lines = 199;
    view->settings_changed();
    EXPECT_EQ(view->scroll_position(), scroll_live);
    EXPECT_EQ(bar()->maximum(), scroll_live);
    EXPECT_EQ(view->ring().archive_bytes(), 0u);
}

}  // namespace

// Clear Scroll-back: the history goes (archive included), the screen stays, a selection back there is dropped.
TEST_F(scrollback_fixture, ClearScrollbackKeepsTheScreen) {
    rows(1, 3000);
    view->set_scroll_position(ring_spare + 1);
    ASSERT_EQ(shown_text(1), "row 1");
    view->ring().set_scroll_position(view->ring().live_position());
    view->clear_scrollback();
    EXPECT_EQ(view->ring().archive_bytes(), 0u);
    EXPECT_EQ(view->scroll_position(), view->ring().live_position());
    EXPECT_EQ(bar()->maximum(), view->ring().live_position());
    EXPECT_EQ(shown_text(23), "row 3000");
    for (int p = 1; p < view->ring().live_position(); p += 97) {
        view->set_scroll_position(p);
        EXPECT_EQ(shown_text(1), "") << "position " << p;
    }
}
