// A screen the window sizes: rows and columns come and go, the cursor's line stays, the history takes what leaves.
#include <gtest/gtest.h>

#include <string>

#include "term_fixture.h"

namespace {

// Lines "L1".."L24" down the 24-row screen, the cursor left after the last.
std::string numbered_lines() {
    std::string s;
    for (int i = 1; i <= 24; ++i) s += "L" + std::to_string(i) + (i < 24 ? "\r\n" : "");
    return s;
}

std::string history_text(const screen_ring& r, int k) {
    std::string s;
    for (int c = 1; c <= r.columns(); ++c) s += char(r.history_line(k).cell(c) & 0xFF);
    s.erase(s.find_last_not_of(' ') + 1);
    return s;
}

struct resize_case {
    const char* name;
    std::string before;  // fed after the numbered lines
    int rows, cols;
    int want_rows, want_cols;
    std::string row1, last_row;  // texts of rows 1 and want_rows afterwards
    int cursor_row;
    std::string newest_history;  // history line 199 afterwards
};

TEST(Resize, RowsComeAndGoAtTheBottomAndTheCursorStays) {
    const resize_case cases[] = {
        {"shrink with the cursor at the bottom: the top goes to the history", "", 10, 80, 10, 80, "L15", "L24", 10,
         "L14"},
        {"shrink with the cursor high: the bottom rows go", "\x1b[3;1H", 10, 80, 10, 80, "L1", "L10", 3, ""},
        {"shrink to the cursor's row exactly", "\x1b[12;1H", 12, 80, 12, 80, "L1", "L12", 12, ""},
        {"grow: blank rows at the bottom", "\x1b[5;1H", 30, 80, 30, 80, "L1", "", 5, ""},
        {"wider and narrower in one", "", 20, 200, 20, 200, "L5", "L24", 20, "L4"},
        {"clamped below", "", 1, 3, min_rows, min_columns, "L23", "L24", 2, "L22"},
        {"clamped above", "", 9999, 9999, max_rows, max_columns, "L1", "", 24, ""},
    };
    for (const auto& c : cases) {
        term_fixture t;
        t.feed(numbered_lines() + c.before);
        t.term.resize(c.rows, c.cols);
        EXPECT_EQ(t.ring->rows(), c.want_rows) << c.name;
        EXPECT_EQ(t.ring->columns(), c.want_cols) << c.name;
        EXPECT_GE(t.ring->width(), c.want_cols) << c.name;
        EXPECT_EQ(t.text(1), c.row1) << c.name;
        EXPECT_EQ(t.text(c.want_rows), c.last_row) << c.name;
        EXPECT_EQ(t.term.cursor_row(), c.cursor_row) << c.name;
        EXPECT_EQ(history_text(*t.ring, history_lines), c.newest_history) << c.name;
        EXPECT_EQ(t.term.top_margin(), 1) << c.name;
        EXPECT_EQ(t.term.bottom_margin(), c.want_rows) << c.name;
    }
}

// After a resize everything works on the new grid: wrapping, scrolling, margins, reports, erasing.
TEST(Resize, TheEmulatorUsesTheNewGrid) {
    term_fixture t;
    t.term.set_emulation(emulation::xterm);
    t.term.resize(40, 150);
    t.feed("\x1b[40;149Habc");  // wraps after column 150 onto a new line: the screen scrolls once
    EXPECT_EQ(t.term.cursor_row(), 40);
    EXPECT_EQ(t.text(39).substr(148), "ab");
    EXPECT_EQ(t.text(40), "c");
    t.feed("\x1b[18t");
    EXPECT_EQ(t.replies, "\x1b[8;40;150t");
    t.feed("\x1b[5;35r\x1b[35;1H\n");  // a region scroll inside the taller screen
    EXPECT_EQ(t.term.cursor_row(), 35);
    EXPECT_EQ(t.text(40), "c");
    t.feed("\x1b[r\x1b[2J\x1b[40;150HZ");
    EXPECT_EQ(t.text(40), std::string(149, ' ') + "Z");
    t.feed("\x1b[?3h");  // DECCOLM: the window decides the width now
    EXPECT_EQ(t.ring->columns(), 150);
    EXPECT_EQ(t.text(40), std::string(149, ' ') + "Z");
}

TEST(Resize, SavedCursorAndMarginsFollow) {
    term_fixture t;
    t.feed(numbered_lines() + "\x1b[20;7H\x1b"
                              "7\x1b[4;22r\x1b[24;1H");
    t.term.resize(12, 80);  // the cursor was on row 24: 12 rows leave the top
    t.feed("\x1b"
           "8");
    EXPECT_EQ(t.term.cursor_row(), 8);
    EXPECT_EQ(t.term.cursor_column(), 7);
    EXPECT_EQ(t.term.bottom_margin(), 12);
}

TEST(Resize, AWideCharacterCutByTheNewEdgeGoesBlank) {
    term_fixture t;
    t.term.options().utf8 = true;
    t.feed("\x1b[1;79H\xE4\xB8\xAD");  // columns 79 and 80
    ASSERT_TRUE(t.cell(1, 79) & cell_wide);
    t.term.resize(24, 79);
    EXPECT_EQ(t.cell(1, 79) & ~cell_attr_bits, cell_blank);
    t.term.resize(24, 81);  // it does not come back half
    EXPECT_EQ(t.cell(1, 80) & cell_wide_right, cell_wide_right);
    EXPECT_FALSE(t.cell(1, 79) & cell_wide);
}

TEST(Resize, TheAlternateScreenAddsNothingToTheHistory) {
    term_fixture t;
    t.term.set_emulation(emulation::xterm);
    t.feed("keep\r\n\x1b[?1049h" + numbered_lines());
    t.term.resize(10, 80);
    EXPECT_EQ(t.text(1), "L15");
    for (int k = 1; k <= history_lines; ++k) EXPECT_EQ(history_text(*t.ring, k), "") << k;
    t.feed("\x1b[?1049l");
    EXPECT_EQ(t.text(1), "keep");
    EXPECT_EQ(t.ring->rows(), 10);
}

TEST(Resize, TheRingCopiesWholeAndApart) {
    screen_ring a;
    a.resize(30, 120, 0);
    a.put_char('x', 30, 120);
    screen_ring b = a;
    a.put_char('y', 30, 120);
    EXPECT_EQ(b.line(30).cell(120) & 0xFF, uint32_t('x'));
    EXPECT_EQ(a.line(30).cell(120) & 0xFF, uint32_t('y'));
    b = a;
    EXPECT_EQ(b.line(30).cell(120) & 0xFF, uint32_t('y'));
    EXPECT_EQ(b.rows(), 30);
}

}  // namespace
