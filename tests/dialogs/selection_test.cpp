#include "dialogs/selection.h"

#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

using selection::state;

namespace {

// A 24-row grid where every cell shows a letter derived from its position, so any wrong column or row shows in the
// copied text.
struct grid {
    int columns = 80;
    std::array<std::string, 25> rows;
    grid() {
        for (int r = 1; r <= 24; ++r) {
            rows[r].assign(132, ' ');
            for (int c = 1; c <= 132; ++c) rows[r][c - 1] = static_cast<char>('A' + (r * 7 + c) % 26);
        }
    }
    selection::char_at_fn reader() const {
        return [this](int r, int c) { return static_cast<std::uint8_t>(rows[r][c - 1]); };
    }
    std::string cells(int r, int c1, int c2) const { return rows[r].substr(c1 - 1, c2 - c1 + 1); }
};

state drag(int col0, int row0, int col1, int row1) {
    state s;
    s.shown = true;
    s.start_col = col0;
    s.start_row = row0;
    s.end_col = col1;
    s.end_row = row1;
    return s;
}

}  // namespace

TEST(SelectionBlock, DownRightAndUpLeftCopyTheSameBlock) {
    grid g;
    const std::string expect = g.cells(3, 10, 20) + "\r\n" + g.cells(4, 10, 20) + "\r\n" + g.cells(5, 10, 20);
    EXPECT_EQ(selection::block_text(drag(10, 3, 20, 5), g.reader(), "\r\n"), expect);
    EXPECT_EQ(selection::block_text(drag(20, 5, 10, 3), g.reader(), "\r\n"), expect);
}

TEST(SelectionBlock, RowsAreJoinedByThePlatformLineEnding) {
    grid g;
    EXPECT_EQ(selection::clipboard_line_end, "\n");
    EXPECT_EQ(selection::block_text(drag(10, 3, 12, 4), g.reader()), g.cells(3, 10, 12) + "\n" + g.cells(4, 10, 12));
}

TEST(SelectionBlock, DownLeftDragSelectsNoCellsButKeepsTheLines) {
    grid g;
    const state s = drag(20, 3, 10, 5);
    EXPECT_EQ(selection::block_text(s, g.reader(), "\r\n"), "\r\n\r\n");
    for (int r = 1; r <= 24; ++r)
        for (int c = 1; c <= 80; ++c) EXPECT_FALSE(selection::contains(s, r, c)) << r << "," << c;
    // Up and to the right is the same block seen from the other end.
    EXPECT_EQ(selection::block_text(drag(10, 5, 20, 3), g.reader(), "\r\n"), "\r\n\r\n");
}

TEST(SelectionBlock, OneRowBackwardsIsOrdered) {
    grid g;
    EXPECT_EQ(selection::block_text(drag(20, 7, 10, 7), g.reader()), g.cells(7, 10, 20));
    EXPECT_EQ(selection::block_text(drag(5, 7, 5, 7), g.reader()), g.cells(7, 5, 5));
}

TEST(SelectionBlock, TrailingBlanksAreKept) {
    grid g;
    g.rows[2].replace(3, 5, "ab   ");
    EXPECT_EQ(selection::block_text(drag(4, 2, 8, 2), g.reader()), "ab   ");
}

TEST(SelectionWord, StopsAtBlanksAndReachesTheEdges) {
    grid g;
    g.rows[1] = std::string(132, ' ');
    g.rows[1].replace(0, 5, "hello");
    g.rows[1].replace(10, 3, "foo");
    g.rows[1].replace(76, 4, "tail");  // columns 77..80
    int a = 0, b = 0;
    selection::word_span(g.reader(), 1, 12, 80, a, b);
    EXPECT_EQ(a, 11);
    EXPECT_EQ(b, 13);
    selection::word_span(g.reader(), 1, 3, 80, a, b);
    EXPECT_EQ(a, 1);
    EXPECT_EQ(b, 5);
    selection::word_span(g.reader(), 1, 78, 80, a, b);
    EXPECT_EQ(a, 77);
    EXPECT_EQ(b, 80);
    // Word end is the screen width, not the stored 132 cells.
    g.rows[1].replace(80, 3, "xyz");
    selection::word_span(g.reader(), 1, 80, 80, a, b);
    EXPECT_EQ(b, 80);
}

TEST(SelectionWord, ControlCodesAndBlankSeparateWordsAndABlankSelectsItself) {
    grid g;
    g.rows[4] = std::string(132, 'x');
    g.rows[4][9] = '\x1f';  // column 10
    g.rows[4][19] = ' ';    // column 20
    int a = 0, b = 0;
    selection::word_span(g.reader(), 4, 15, 80, a, b);
    EXPECT_EQ(a, 11);
    EXPECT_EQ(b, 19);
    selection::word_span(g.reader(), 4, 20, 80, a, b);
    EXPECT_EQ(a, 20);
    EXPECT_EQ(b, 20);
    g.rows[4][0] = ' ';
    selection::word_span(g.reader(), 4, 1, 80, a, b);
    EXPECT_EQ(a, 1);
    EXPECT_EQ(b, 1);
}

TEST(SelectionClipboard, PasteTurnsEveryLineEndingIntoCrAndStopsAtZero) {
    auto sent = [](std::string_view text) {
        std::string out;
        selection::for_each_paste_byte(text, [&](std::uint8_t b) { out += static_cast<char>(b); });
        return out;
    };
    EXPECT_EQ(sent("ls\r\npwd\r\n"), "ls\rpwd\r");
    EXPECT_EQ(sent(std::string_view("ab\0cd", 5)), "ab");
    EXPECT_EQ(sent("ls\npwd\n"), "ls\rpwd\r");
    EXPECT_EQ(sent("ls\rpwd\r"), "ls\rpwd\r");
    EXPECT_EQ(sent("a\n\n\nb"), "a\r\r\rb");
    EXPECT_EQ(sent("a\r\r\nb\n\rc"), "a\r\rb\r\rc");
    EXPECT_EQ(sent("end\r"), "end\r");
    EXPECT_EQ(sent("\xe9\xff\t"), "\xe9\xff\t");
}

TEST(SelectionClipboard, BracketedPasteWrapsTheTextAndDropsItsEscapes) {
    const struct {
        std::string_view text;
        std::string plain, bracketed;
    } table[] = {
        {"ls\n", "ls\r", "\x1b[200~ls\r\x1b[201~"},
        {"", "", "\x1b[200~\x1b[201~"},
        {"a\r\nb", "a\rb", "\x1b[200~a\rb\x1b[201~"},
        // The text's own end marker cannot end the paste; plain pastes keep ESC as before.
        {"x\x1b[201~rm -rf ~\n", "x\x1b[201~rm -rf ~\r", "\x1b[200~x[201~rm -rf ~\r\x1b[201~"},
        {std::string_view("ab\0cd", 5), "ab", "\x1b[200~ab\x1b[201~"},
    };
    for (const auto& row : table) {
        for (const bool bracketed : {false, true}) {
            std::string out;
            selection::for_each_paste_byte(
                row.text, [&](std::uint8_t b) { out += static_cast<char>(b); }, bracketed);
            EXPECT_EQ(out, bracketed ? row.bracketed : row.plain) << row.text << " bracketed " << bracketed;
        }
    }
}
