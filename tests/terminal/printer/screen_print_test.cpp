#include "terminal/printer/screen_print.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "recording_printer.h"

using namespace printing;
using namespace printing::testing;

namespace {

class ScreenPageTest : public ::testing::Test {
protected:
    event_log log;
    std::vector<text_line> lines;
    std::vector<segment> segs;
    // Line height 20, character width 10: cell (r, c) spans x (c-1)*10+xm .. +10, y r*20+ym .. +20.
    recording_device dev{log, lines, segs, 20, 1000, 10};
    fake_screen screen;

    void draw(page_margins m = {}) { draw_screen_page(screen, dev, m); }
    bool has(const segment& s) const { return std::find(segs.begin(), segs.end(), s) != segs.end(); }
};

TEST_F(ScreenPageTest, CharactersSitInTheirCellsBelowOneEmptyLine) {
    screen.cells[0][0] = 'A' | 0x100 | 0x800;  // attributes are not printed
    screen.cells[23][79] = 'z';
    draw({5, 7});
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].text, "A");
    EXPECT_EQ(lines[0].x, 5);
    EXPECT_EQ(lines[0].y, 20 + 7);
    EXPECT_EQ(lines[1].x, 79 * 10 + 5);
    EXPECT_EQ(lines[1].y, 24 * 20 + 7);
    EXPECT_TRUE(segs.empty());
}

TEST_F(ScreenPageTest, BoxCharactersDrawArmsFromTheCentre) {
    // Cell (2, 3) with margins 0: left 20, right 30, top 40, bottom 60, centre (25, 50).
    screen.cells[1][2] = 'l' | 0x2000;
    draw({0, 0});
    ASSERT_EQ(segs.size(), 2u);
    EXPECT_TRUE(has({25, 50, 25, 60, 4}));  // down
    EXPECT_TRUE(has({25, 50, 30, 50, 4}));  // right
    EXPECT_TRUE(lines.empty());

    segs.clear();
    screen.cells[1][2] = 'n' | 0x2000;
    draw({0, 0});
    EXPECT_EQ(segs.size(), 4u);
    EXPECT_TRUE(has({25, 50, 25, 40, 4}));
    EXPECT_TRUE(has({25, 50, 20, 50, 4}));

    segs.clear();
    screen.cells[1][2] = 'x' | 0x2000;
    draw({0, 0});
    EXPECT_EQ(segs, (std::vector<segment>{{25, 50, 25, 40, 4}, {25, 50, 25, 60, 4}}));
}

TEST_F(ScreenPageTest, ScanLinesAndOtherGraphics) {
    screen.cells[0][0] = 'o' | 0x2000;  // left 0, right 10, top 20, bottom 40
    screen.cells[0][1] = 'q' | 0x2000;  // left 10
    screen.cells[0][2] = 's' | 0x2000;  // left 20
    screen.cells[0][3] = 'a' | 0x2000;  // checkerboard: nothing
    screen.cells[0][4] = '~' | 0x2000;  // nothing
    screen.cells[0][5] = 'A' | 0x2000;  // below the graphics range: drawn as text
    draw({0, 0});
    EXPECT_EQ(segs, (std::vector<segment>{{0, 20, 10, 20, 4}, {10, 30, 20, 30, 4}, {20, 38, 30, 38, 4}}));
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].text, "A");
}

TEST_F(ScreenPageTest, WideScreenUsesAllColumns) {
    screen.cols = 132;
    screen.cells[0][131] = '#';
    draw({0, 0});
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].x, 131 * 10);
}

}  // namespace

TEST_F(ScreenPageTest, CellsPrintInTheScriptOrAsCodePoints) {
    screen.cells[0][0] = 0xC6;
    draw_screen_page(screen, dev, {}, 204, false);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].text, "\xd0\x96");  // Ж in Windows-1251
    lines.clear();
    screen.cells[0][0] = cell_wide | cell_of_code(0x4E20);
    screen.cells[0][1] = cell_wide_right | cell_blank;
    draw_screen_page(screen, dev, {}, 204, true);
    ASSERT_EQ(lines.size(), 1u) << "the right half prints nothing";
    EXPECT_EQ(lines[0].text, "\xe4\xb8\xa0");
}
