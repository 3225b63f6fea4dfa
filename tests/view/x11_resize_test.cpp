// On a real X server (ctest runs it under xvfb-run): the view's window is resized from outside with xdotool, as a
// window manager does for a user's drag, and with screen_size 1 the grid follows; what leaves the top goes into
// the history.
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QProcess>
#include <QStandardPaths>
#include <QTest>

#include "view_fixture.h"

namespace {

struct x11_grid : view_fixture {
    void SetUp() override {
        if (QStandardPaths::findExecutable(QStringLiteral("xdotool")).isEmpty()) GTEST_SKIP() << "no xdotool";
        view_fixture::SetUp();
        if (QGuiApplication::platformName() != QStringLiteral("xcb")) GTEST_SKIP() << "not on an X server";
        settings().screen_size = 1;
        view->settings_changed();
        settings().fontsize = 16;
        view->refit();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(view.get()));
    }
    // Asks the X server for the new size and waits until the window has it.
    bool resize_from_outside(int w, int h) {
        const int rc = QProcess::execute(
            QStringLiteral("xdotool"),
            {QStringLiteral("windowsize"), QString::number(view->winId()), QString::number(w), QString::number(h)});
        if (rc != 0) return false;
        QElapsedTimer t;
        t.start();
        while (view->size() != QSize(w, h) && t.elapsed() < 5000) QTest::qWait(20);
        QTest::qWait(50);  // the resize event's refit
        return view->size() == QSize(w, h);
    }
    std::string text_of(const line_view& v) const {
        std::string s;
        for (int c = 1; c <= view->columns(); ++c) s += char(v.cell(c) & 0xFF);
        return s.substr(0, s.find_last_not_of(' ') + 1);
    }
};

TEST_F(x11_grid, XdotoolResizesTheWindowAndTheGridFollows) {
    struct step {
        int w, h;
    };
    const step steps[] = {{900, 600}, {500, 300}, {1100, 700}, {640, 200}};
    for (const step& s : steps) {
        SCOPED_TRACE(std::to_string(s.w) + "x" + std::to_string(s.h));
        ASSERT_TRUE(resize_from_outside(s.w, s.h));
        EXPECT_EQ(view->rows(), s.h / view->cell_height());
        EXPECT_EQ(view->columns(), (s.w - view->scroll_bar_width()) / view->cell_width());
        EXPECT_EQ(view->ring().rows(), view->rows());
    }
}

TEST_F(x11_grid, LinesLeavingTheTopGoToTheHistory) {
    ASSERT_TRUE(resize_from_outside(800, 600));
    const int rows = view->rows();
    for (int r = 1; r <= rows; ++r) feed("r" + std::to_string(r) + (r < rows ? "\r\n" : ""));
    ASSERT_TRUE(resize_from_outside(800, 300));
    const int now = view->rows();
    ASSERT_LT(now, rows);
    // The cursor's line stays on the screen, at the bottom: the rows above the new top are history now.
    const screen_ring& ring = view->ring();
    EXPECT_EQ(text_of(ring.view_at(now)), "r" + std::to_string(rows));
    EXPECT_EQ(text_of(ring.view_at(1)), "r" + std::to_string(rows - now + 1));
    EXPECT_EQ(text_of(ring.history_view(ring.history_count())), "r" + std::to_string(rows - now));
}

}  // namespace
