// Left and right margins (DECLRMM and DECSLRM, xterm emulation): what scrolls, shifts, erases and moves inside
// them and what does not, on a screen whose every cell is distinct. Expected screens follow xterm's documented
// behaviour: ECH and EL ignore the margins; IL, DL, ICH and DCH do nothing from a cursor outside them.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "term_fixture.h"

namespace {

const std::string C = "\x1b[";

// Rows 1..5 hold distinct characters; the scrolling region is rows 2..4, columns 3..6; the cursor is home.
const std::string setup =
    "0123456789\r\nABCDEFGHIJ\r\nKLMNOPQRST\r\nUVWXYZabcd\r\nefghijklmn" + C + "2;4r" + C + "?69h" + C + "3;6s";
const std::vector<std::string> untouched = {"0123456789", "ABCDEFGHIJ", "KLMNOPQRST", "UVWXYZabcd", "efghijklmn"};

struct margin_case {
    const char* name;
    std::string input;              // after setup
    std::vector<std::string> rows;  // rows 1..5
    int row, col;                   // the cursor afterwards
    std::string replies = {};
};

const std::vector<margin_case> margin_cases = {
    {"setup_homes", "", untouched, 1, 1},
    {"su_moves_the_rectangle", C + "S", {"0123456789", "ABMNOPGHIJ", "KLWXYZQRST", "UV    abcd", "efghijklmn"}, 1, 1},
    {"sd_moves_the_rectangle", C + "T", {"0123456789", "AB    GHIJ", "KLCDEFQRST", "UVMNOPabcd", "efghijklmn"}, 1, 1},
    {"su_past_the_height_blanks_it",
     C + "9S",
     {"0123456789", "AB    GHIJ", "KL    QRST", "UV    abcd", "efghijklmn"},
     1,
     1},
    {"lf_at_the_bottom_inside",
     C + "4;4H\n",
     {"0123456789", "ABMNOPGHIJ", "KLWXYZQRST", "UV    abcd", "efghijklmn"},
     4,
     4},
    {"lf_at_the_bottom_outside_stays", C + "4;8H\n", untouched, 4, 8},
    {"ri_at_the_top_inside",
     C + "2;3H\x1bM",
     {"0123456789", "AB    GHIJ", "KLCDEFQRST", "UVMNOPabcd", "efghijklmn"},
     2,
     3},
    {"ri_at_the_top_outside_stays", C + "2;1H\x1bM", untouched, 2, 1},
    {"il_inside", C + "3;4H" + C + "L", {"0123456789", "ABCDEFGHIJ", "KL    QRST", "UVMNOPabcd", "efghijklmn"}, 3, 3},
    {"il_left_of_the_margin", C + "3;2H" + C + "L", untouched, 3, 2},
    {"il_below_the_region", C + "5;4H" + C + "L", untouched, 5, 4},
    {"dl_inside", C + "3;4H" + C + "M", {"0123456789", "ABCDEFGHIJ", "KLWXYZQRST", "UV    abcd", "efghijklmn"}, 3, 3},
    {"dl_right_of_the_margin", C + "3;7H" + C + "M", untouched, 3, 7},
    {"ich_inside", C + "1;4H" + C + "1@", {"012 346789", "ABCDEFGHIJ", "KLMNOPQRST", "UVWXYZabcd", "efghijklmn"}, 1, 4},
    {"ich_past_the_margin",
     C + "1;4H" + C + "9@",
     {"012   6789", "ABCDEFGHIJ", "KLMNOPQRST", "UVWXYZabcd", "efghijklmn"},
     1,
     4},
    {"ich_outside", C + "1;8H" + C + "1@", untouched, 1, 8},
    {"dch_inside", C + "1;4H" + C + "P", {"01245 6789", "ABCDEFGHIJ", "KLMNOPQRST", "UVWXYZabcd", "efghijklmn"}, 1, 4},
    {"dch_outside", C + "1;2H" + C + "P", untouched, 1, 2},
    {"ech_ignores_the_margins",
     C + "1;5H" + C + "4X",
     {"0123    89", "ABCDEFGHIJ", "KLMNOPQRST", "UVWXYZabcd", "efghijklmn"},
     1,
     5},
    {"el_ignores_the_margins",
     C + "1;5H" + C + "K",
     {"0123", "ABCDEFGHIJ", "KLMNOPQRST", "UVWXYZabcd", "efghijklmn"},
     1,
     5},
    {"text_wraps_at_the_right_margin",
     C + "2;5Hxyz",
     {"0123456789", "ABCDxyGHIJ", "KLzNOPQRST", "UVWXYZabcd", "efghijklmn"},
     3,
     4},
    {"wrap_at_the_bottom_scrolls_the_rectangle",
     C + "4;6Hxy",
     {"0123456789", "ABMNOPGHIJ", "KLWXYxQRST", "UVy   abcd", "efghijklmn"},
     4,
     4},
    {"cr_goes_to_the_left_margin",
     C + "3;5H\rq",
     {"0123456789", "ABCDEFGHIJ", "KLqNOPQRST", "UVWXYZabcd", "efghijklmn"},
     3,
     4},
    {"cr_left_of_the_margin_goes_to_column_1",
     C + "3;2H\rq",
     {"0123456789", "ABCDEFGHIJ", "qLMNOPQRST", "UVWXYZabcd", "efghijklmn"},
     3,
     2},
    {"cuf_stops_at_the_right_margin",
     C + "2;4H" + C + "10Cq",
     {"0123456789", "ABCDEqGHIJ", "KLMNOPQRST", "UVWXYZabcd", "efghijklmn"},
     2,
     6},
    {"cub_stops_at_the_left_margin",
     C + "2;5H" + C + "10Dq",
     {"0123456789", "ABqDEFGHIJ", "KLMNOPQRST", "UVWXYZabcd", "efghijklmn"},
     2,
     4},
    {"origin_mode_homes_to_the_corner",
     C + "?6hq",
     {"0123456789", "ABqDEFGHIJ", "KLMNOPQRST", "UVWXYZabcd", "efghijklmn"},
     2,
     4},
    {"origin_mode_cup_is_clamped_to_the_margins", C + "?6h" + C + "9;9H", untouched, 4, 6},
    {"origin_mode_cha_is_relative", C + "?6h" + C + "2G", untouched, 2, 4},
    {"decslrm_in_origin_mode_homes", C + "?6h" + C + "4;8s", untouched, 2, 4},
    {"bad_margins_are_ignored",
     C + "6;3s" + C + "S",
     {"0123456789", "ABMNOPGHIJ", "KLWXYZQRST", "UV    abcd", "efghijklmn"},
     1,
     1},
    {"declrmm_off_drops_the_margins",
     C + "?69l" + C + "S",
     {"0123456789", "KLMNOPQRST", "UVWXYZabcd", "", "efghijklmn"},
     1,
     1},
    {"declrmm_off_makes_csi_s_save",
     C + "?69l" + C + "3;3H" + C + "4;8s" + C +
         "H\x1b"
         "8q",
     {"0123456789", "ABCDEFGHIJ", "KLqNOPQRST", "UVWXYZabcd", "efghijklmn"},
     3,
     4},
    {"decrqm_reports_it", C + "?69$p" + C + "?69l" + C + "?69$p", untouched, 1, 1, C + "?69;1$y" + C + "?69;2$y"},
};

void PrintTo(const margin_case& c, std::ostream* os) { *os << c.name; }

class VtMargins : public ::testing::TestWithParam<std::tuple<margin_case, bool>> {};

TEST_P(VtMargins, Screen) {
    const auto& [c, one_write] = GetParam();
    term_fixture t;
    t.term.set_emulation(emulation::xterm);
    t.feed(setup + c.input, one_write);
    for (size_t r = 0; r < c.rows.size(); ++r) EXPECT_EQ(t.text(int(r) + 1), c.rows[r]) << "row " << r + 1;
    EXPECT_EQ(t.term.cursor_row(), c.row);
    EXPECT_EQ(t.term.cursor_column(), c.col);
    EXPECT_EQ(t.replies, c.replies);
}

INSTANTIATE_TEST_SUITE_P(Cases, VtMargins, ::testing::Combine(::testing::ValuesIn(margin_cases), ::testing::Bool()),
                         [](const auto& info) {
                             return std::string(std::get<0>(info.param).name) +
                                    (std::get<1>(info.param) ? "_one_write" : "_bytewise");
                         });

// The VT220 has no left and right margins: the same bytes leave its whole-width region scrolling whole lines.
TEST(VtMargins, Vt220IgnoresThem) {
    term_fixture t;
    t.feed(setup + "\x1b[4;4H\n");
    EXPECT_FALSE(t.term.left_right_mode());
    EXPECT_EQ(t.text(2), "KLMNOPQRST");
    EXPECT_EQ(t.text(4), "");
}

// A resize or a reset returns the margins to the screen's edges.
TEST(VtMargins, ResizeAndResetDropThem) {
    for (const bool reset : {false, true}) {
        term_fixture t;
        t.term.set_emulation(emulation::xterm);
        t.feed(setup);
        if (reset)
            t.feed("\x1b"
                   "c");
        else
            t.term.resize(24, 100);
        EXPECT_EQ(t.term.left_margin(), 1);
        EXPECT_EQ(t.term.right_margin(), t.ring->columns());
    }
}

// Long text in a narrow column (what a tmux pane does): every line stays inside the margins and the rest of the
// screen is never written.
TEST(VtMargins, TextInAColumnStaysInIt) {
    for (const bool one_write : {false, true}) {
        term_fixture t;
        t.term.set_emulation(emulation::xterm);
        t.term.options().utf8 = true;
        t.feed(C + "?69h" + C + "41;60s" + C + "1;41H", one_write);
        std::string text;
        for (int i = 0; i < 300; ++i) text += char('a' + i % 26);
        text += "\xE4\xB8\xAD\xE4\xB8\xAD";
        t.feed(text + "\r\n" + text, one_write);
        for (int r = 1; r <= screen_rows; ++r)
            for (int c = 1; c <= t.ring->columns(); ++c)
                if (c < 41 || c > 60) {
                    EXPECT_EQ(t.cell(r, c) & 0xFF, uint32_t(' ')) << r << "," << c;
                }
        EXPECT_GE(t.term.cursor_column(), 41);
        EXPECT_LE(t.term.cursor_column(), 60);
    }
}

// Random streams of margin settings, scrolls, shifts, moves and text (long ASCII runs, wide characters, insert
// mode): fed byte by byte and in one write they leave the same cells, cursor and wrap state, the cursor stays on the
// screen and no wide character loses a half.
TEST(VtMargins, RandomStreamsAgreeWholeAndBytewise) {
    const std::vector<std::string> pieces = {C + "?69h",
                                             C + "?69l",
                                             C + "5;30s",
                                             C + "20;79s",
                                             C + "2;3s",
                                             C + "3;20r",
                                             C + "r",
                                             C + "?6h",
                                             C + "?6l",
                                             C + "S",
                                             C + "3T",
                                             C + "2L",
                                             C + "M",
                                             C + "4@",
                                             C + "2P",
                                             C + "5X",
                                             C + "K",
                                             C + "1K",
                                             C + "10C",
                                             C + "10D",
                                             C + "9;25H",
                                             C + "24;80H",
                                             C + "4h",
                                             C + "4l",
                                             "\r",
                                             "\n",
                                             "\x1bM",
                                             "\x1b"
                                             "E",
                                             "\b",
                                             "\t",
                                             "the quick brown fox jumps over the lazy dog ",
                                             std::string(70, 'x'),
                                             "\xE4\xB8\xAD\xE6\x96\x87",
                                             "\xC3\xA9",
                                             C + "7m",
                                             C + "44m",
                                             C + "m",
                                             C + "3b"};
    std::mt19937 rng(20261209);
    for (int round = 0; round < 200; ++round) {
        std::string s;
        for (int i = 0; i < 120; ++i) s += pieces[rng() % pieces.size()];
        term_fixture a, b;
        for (term_fixture* f : {&a, &b}) {
            f->term.set_emulation(emulation::xterm);
            f->term.options().utf8 = round % 2 == 0;
        }
        a.feed(s, false);
        b.feed(s, true);
        ASSERT_EQ(a.term.cursor_row(), b.term.cursor_row()) << round;
        ASSERT_EQ(a.term.cursor_column(), b.term.cursor_column()) << round;
        ASSERT_EQ(a.term.pending_wrap(), b.term.pending_wrap()) << round;
        ASSERT_GE(a.term.cursor_column(), 1);
        ASSERT_LE(a.term.cursor_column(), a.ring->columns());
        ASSERT_GE(a.term.cursor_row(), 1);
        ASSERT_LE(a.term.cursor_row(), a.ring->rows());
        for (int r = 1; r <= screen_rows; ++r)
            for (int c = 1; c <= a.ring->columns(); ++c) {
                ASSERT_EQ(a.cell(r, c), b.cell(r, c)) << round << " at " << r << "," << c;
                ASSERT_EQ(a.ring->line(r).colours(c), b.ring->line(r).colours(c)) << round << " at " << r << "," << c;
                if (a.cell(r, c) & cell_wide) {
                    ASSERT_LT(c, a.ring->columns()) << round << " row " << r;
                    ASSERT_TRUE(a.cell(r, c + 1) & cell_wide_right) << round << " at " << r << "," << c;
                }
            }
    }
}

}  // namespace
