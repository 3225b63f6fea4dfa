// screen_size 1: the grid follows the view's size at the user's font size; zoom keys; the classic 24x80 screen
// otherwise.
#include <QSignalSpy>

#include "view_fixture.h"

namespace {

struct window_grid : view_fixture {
    void SetUp() override {
        view_fixture::SetUp();
        settings().screen_size = 1;
        view->settings_changed();
        settings().fontsize = 16;
        view->refit();
    }
    // What fits: the cell size comes from the font alone, not from the view's size.
    int fitting_rows() const { return view->height() / view->cell_height(); }
    int fitting_columns() const { return view->width() / view->cell_width(); }
    std::string row_text(int r) const {
        std::string t;
        for (int c = 1; c <= doc->ring().columns(); ++c) t += char(doc->ring().line(r).cell(c) & 0xFF);
        return t;
    }
};

TEST_F(window_grid, RowsAndColumnsAreWhatFitsAndTheHostHearsOfEachChange) {
    QSignalSpy grid(view.get(), &CVellumView::grid_changed);
    EXPECT_EQ(view->rows(), fitting_rows());
    EXPECT_EQ(view->columns(), fitting_columns());
    EXPECT_NE(view->rows(), 24);
    const int cell_h = view->cell_height();
    feed("top\r\n\x1b[" + std::to_string(view->rows()) + ";1Hbottom");
    view->resize(1200, 900);
    QApplication::processEvents();
    EXPECT_EQ(view->cell_height(), cell_h);  // the font keeps its size
    EXPECT_EQ(view->rows(), fitting_rows());
    EXPECT_EQ(view->columns(), fitting_columns());
    EXPECT_GE(grid.count(), 1);
    EXPECT_EQ(row_text(1).substr(0, 3), "top");
    // Narrower and lower: the cursor's line stays on the screen, the top goes into the history.
    view->resize(400, 5 * cell_h + 3);
    QApplication::processEvents();
    EXPECT_EQ(view->rows(), 5);
    EXPECT_EQ(view->terminal().cursor_row(), 5);
    EXPECT_EQ(row_text(5).substr(0, 6), "bottom");
    // The last row and column are painted.
    feed("\x1b[5;" + std::to_string(view->columns()) + "H\x1b[7m \x1b[m\x1b[1;1H");  // the cursor away from it
    const QImage img = shot();
    const QRect last = cell(5, view->columns());
    EXPECT_GT(count(img, last, FG), area(last) / 2);
}

TEST_F(window_grid, ZoomKeysChangeTheFontAndTheGridNotTheWindow) {
    const int rows = view->rows(), cell_h = view->cell_height();
    key(Qt::Key_Plus, Qt::ControlModifier);
    key(Qt::Key_Plus, Qt::ControlModifier);
    EXPECT_GT(view->cell_height(), cell_h);
    EXPECT_LT(view->rows(), rows);
    key(Qt::Key_Minus, Qt::ControlModifier);
    key(Qt::Key_Minus, Qt::ControlModifier);
    key(Qt::Key_Minus, Qt::ControlModifier);
    EXPECT_LT(view->cell_height(), cell_h);
    key(Qt::Key_0, Qt::ControlModifier);
    EXPECT_EQ(view->cell_height(), cell_h);
    EXPECT_EQ(view->rows(), rows);
    EXPECT_EQ(settings().fontsize, 16);  // zoom is for this run; the chosen size stays
}

TEST_F(window_grid, TheWrittenScreenStaysTwentyFourRowsAndFitsItsFont) {
    settings().screen_size = 0;
    view->settings_changed();
    view->resize(1200, 900);
    QApplication::processEvents();
    EXPECT_EQ(view->rows(), 24);
    EXPECT_EQ(view->columns(), 80);
    const int cell_h = view->cell_height();
    key(Qt::Key_Plus, Qt::ControlModifier);  // no zoom here: the key goes to the host as before
    EXPECT_EQ(view->cell_height(), cell_h);
}

}  // namespace
