// The xterm emulation (termtype xterm*): received streams and the screen, cursor, replies, titles and modes they
// leave, each run byte by byte and in one write; the same streams in the VT220 where it must not change.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <utility>
#include <vector>

#include "term_fixture.h"

namespace {

const std::string E = "\x1b";
const std::string C = "\x1b[";
const std::string ST = "\x1b\\";

std::string rep(char c, int n) { return std::string(size_t(n), c); }

struct xterm_case {
    const char* name;
    std::string input;
    bool xterm = true;  // false: the same stream in the VT220
    bool utf8 = false;
    std::vector<std::pair<int, std::string>> rows = {};  // row -> its text without trailing spaces
    int row = 0, col = 0;                                // expected cursor; 0 = not checked
    std::string replies = {};
    std::vector<std::string> titles = {};
    int shape = 0;  // cursor_shape as int
    bool blink = true;
    bool paste = false;
    uint32_t fg_at_1_1 = 0;  // colour of cell (1,1)
    uint32_t bg_at_1_1 = 0;
    bool alternate = false;  // the alternate screen is shown at the end
};

const std::vector<xterm_case> cases = {
    // Selection: long parameter strings and background colour erase
    {.name = "two_direct_colours_fit",
     .input = C + "38;2;255;255;255;48;2;10;20;30mX",
     .rows = {{1, "X"}},
     .fg_at_1_1 = colour_rgb(255, 255, 255),
     .bg_at_1_1 = colour_rgb(10, 20, 30)},
    {.name = "vt220_abandons_the_long_string",
     .input = C + "38;2;255;255;255;48;2;10;20;30mX",
     .xterm = false,
     .rows = {{1, "2;10;20;30mX"}}},
    {.name = "longest_xterm_string_taken", .input = C + rep('1', csi_limit_xterm - 1) + "mX", .rows = {{1, "X"}}},
    {.name = "string_past_the_xterm_limit_is_text", .input = C + rep('1', csi_limit_xterm) + "mX", .rows = {{1, "mX"}}},
    {.name = "erase_takes_the_background", .input = C + "44m" + C + "2J", .bg_at_1_1 = colour_index(4)},
    {.name = "vt220_erase_stays_default", .input = C + "44m" + C + "2J", .xterm = false},

    // OSC titles
    {.name = "osc0_bel", .input = E + "]0;hello\x07" + "a", .rows = {{1, "a"}}, .titles = {"hello"}},
    {.name = "osc2_st", .input = E + "]2;a title" + ST + "b", .rows = {{1, "b"}}, .titles = {"a title"}},
    {.name = "osc2_c1_st", .input = E + "]2;t\x9c" + "b", .rows = {{1, "b"}}, .titles = {"t"}},
    {.name = "osc1_icon_only_ignored", .input = E + "]1;icon\x07", .titles = {}},
    {.name = "osc_other_codes_ignored", .input = E + "]52;c;aGk=\x07" + E + "]4;1;red" + ST, .titles = {}},
    {.name = "osc_empty_title", .input = E + "]2;\x07", .titles = {""}},
    {.name = "osc_controls_dropped",
     .input = E + "]2;a\tb\x01\x7f"
                  "c\x07",
     .titles = {"abc"}},
    {.name = "osc_can_aborts",
     .input = E + "]2;lost\x18"
                  "x",
     .rows = {{1, "x"}},
     .titles = {}},
    {.name = "osc_esc_other_aborts", .input = E + "]2;lost" + E + "[Hx", .rows = {{1, "x"}}, .titles = {}},
    {.name = "osc_title_bounded", .input = E + "]2;" + rep('t', 600) + "\x07", .titles = {rep('t', vt_title_limit)}},
    {.name = "osc_utf8_title",
     .input = E + "]2;caf\xc3\xa9 \xe2\x82\xac" + ST,
     .utf8 = true,
     .titles = {"caf\xc3\xa9 \xe2\x82\xac"}},
    {.name = "osc_utf8_cut_character_dropped",
     .input = E + "]2;" + rep('t', vt_title_limit - 1) + "\xc3\xa9\x07",
     .utf8 = true,
     .titles = {rep('t', vt_title_limit - 1)}},
    {.name = "two_titles", .input = E + "]0;one\x07" + E + "]2;two" + ST, .titles = {"one", "two"}},
    {.name = "vt220_keeps_osc_silent", .input = E + "]0;hello\x07" + "a", .xterm = false, .rows = {{1, "a"}}},

    // DECSCUSR
    {.name = "decscusr_steady_block", .input = C + "2 q", .shape = 0, .blink = false},
    {.name = "decscusr_blinking_underline", .input = C + "3 q", .shape = 1, .blink = true},
    {.name = "decscusr_steady_underline", .input = C + "4 q", .shape = 1, .blink = false},
    {.name = "decscusr_blinking_bar", .input = C + "5 q", .shape = 2, .blink = true},
    {.name = "decscusr_steady_bar", .input = C + "6 q", .shape = 2, .blink = false},
    {.name = "decscusr_default_back", .input = C + "6 q" + C + " q", .shape = 0, .blink = true},
    {.name = "decscusr_out_of_range_ignored", .input = C + "6 q" + C + "7 q", .shape = 2, .blink = false},
    {.name = "decscusr_then_text", .input = C + "4 qab", .rows = {{1, "ab"}}, .shape = 1, .blink = false},
    {.name = "decscusr_reset_by_ris", .input = C + "4 q" + E + "c", .shape = 0, .blink = true},
    {.name = "vt220_ends_the_sequence_at_space", .input = C + "4 q", .xterm = false, .rows = {{1, "q"}}},

    // Bracketed paste
    {.name = "bracketed_paste_on", .input = C + "?2004h", .paste = true},
    {.name = "bracketed_paste_off", .input = C + "?2004h" + C + "?2004l", .paste = false},
    {.name = "bracketed_paste_among_modes", .input = C + "?7;2004;25h", .paste = true},
    {.name = "vt220_has_no_bracketed_paste", .input = C + "?2004h", .xterm = false, .paste = false},

    // Reports
    {.name = "da1",
     .input = C + "c" + C + "0c" + E + "Z",
     .replies = "\x1b[?62;1;6;22c\x1b[?62;1;6;22c\x1b[?62;1;6;22c"},
    {.name = "da2", .input = C + ">c" + C + ">0c", .replies = "\x1b[>41;390;0c\x1b[>41;390;0c"},
    {.name = "xtversion",
     .input = C + ">q" + C + ">0q",
     .replies = "\x1bP>|qtelnet(1.0)\x1b\\\x1bP>|qtelnet(1.0)\x1b\\"},
    {.name = "xtversion_8bit", .input = E + " G" + C + ">q", .replies = "\x90>|qtelnet(1.0)\x9c"},
    {.name = "vt220_da_unchanged",
     .input = C + "c" + C + ">c" + C + ">q",
     .xterm = false,
     .replies = "\x1b[?62;1;6c\x1b[>1;1;0c"},

    // REP
    {.name = "rep_count", .input = "ab" + C + "3b", .rows = {{1, "abbbb"}}, .row = 1, .col = 6},
    {.name = "rep_default_one", .input = "x" + C + "b" + C + "0b", .rows = {{1, "xxx"}}},
    {.name = "rep_wraps",
     .input = C + "1;79Hz" + C + "3b",
     .rows = {{1, rep(' ', 78) + "zz"}, {2, "zz"}},
     .row = 2,
     .col = 3},
    {.name = "rep_after_control_repeats_nothing", .input = "q\r\n" + C + "2b", .rows = {{1, "q"}, {2, ""}}},
    {.name = "rep_nothing_printed", .input = C + "5b", .rows = {{1, ""}}, .row = 1, .col = 1},
    {.name = "rep_forgotten_by_ris", .input = "a" + E + "c" + C + "5b", .rows = {{1, ""}}},
    {.name = "rep_huge_count_bounded", .input = "w" + C + "999999999b", .row = 24, .col = 17},
    {.name = "rep_utf8_wide", .input = "\xe4\xb8\x80" + C + "2b", .utf8 = true, .row = 1, .col = 7},
    // Alternate screen
    {.name = "alt_1049_shows_a_cleared_screen",
     .input = "normal" + C + "?1049hX",
     .rows = {{1, rep(' ', 6) + "X"}},
     .row = 1,
     .col = 8,
     .alternate = true},
    {.name = "alt_1049_round_trip_restores_screen_and_cursor",
     .input = "normal" + C + "?1049h" + C + "5;5Hx" + C + "?1049l",
     .rows = {{1, "normal"}, {5, ""}},
     .row = 1,
     .col = 7},
    {.name = "alt_1049_clears_on_every_entry",
     .input = C + "?1049hold" + C + "?1049l" + C + "?1049h",
     .rows = {{1, ""}},
     .alternate = true},
    {.name = "alt_47_keeps_its_text",
     .input = C + "?47ha" + C + "?47l" + C + "?47h",
     .rows = {{1, "a"}},
     .alternate = true},
    {.name = "alt_47_keeps_the_cursor",
     .input = "ab" + C + "?47hc" + C + "?47l",
     .rows = {{1, "ab"}},
     .row = 1,
     .col = 4},
    {.name = "alt_1047_clears_on_leaving",
     .input = C + "?1047ha" + C + "?1047l" + C + "?47h",
     .rows = {{1, ""}},
     .alternate = true},
    {.name = "alt_set_twice_keeps_the_normal_screen",
     .input = "n" + C + "?1049h" + C + "?1049h" + C + "?1049l",
     .rows = {{1, "n"}}},
    {.name = "alt_left_by_ris", .input = "n" + C + "?1049ha" + E + "c", .rows = {{1, ""}}},
    {.name = "vt220_has_no_alternate_screen",
     .input = "normal" + C + "?1049h" + C + "Halt",
     .xterm = false,
     .rows = {{1, "altmal"}}},
    {.name = "vt220_ignores_rep", .input = "ab" + C + "3b", .xterm = false, .rows = {{1, "ab"}}, .row = 1, .col = 3},

    // Moves and scrolls beside the VT220's
    {.name = "vpa", .input = C + "5;7H" + C + "3dX", .rows = {{3, "      X"}}, .row = 3, .col = 8},
    {.name = "vpa_clamped", .input = C + "99d", .row = 24, .col = 1},
    {.name = "vpa_origin_mode", .input = C + "5;10r" + C + "?6h" + C + "2d", .row = 6, .col = 1},
    {.name = "cha_and_hpa",
     .input = C + "5GX" + C + "9`Y" + C + "200GZ",
     .rows = {{1, "    X   Y" + rep(' ', 70) + "Z"}}},
    {.name = "cha_ends_pending_wrap",
     .input = C + "80GA" + C + "1GB",
     .rows = {{1, "B" + rep(' ', 78) + "A"}},
     .row = 1,
     .col = 2},
    {.name = "cnl_cpl", .input = C + "3;5H" + C + "2Ea" + C + "4Fb", .rows = {{1, "b"}, {5, "a"}}, .row = 1, .col = 2},
    {.name = "su_scrolls_up", .input = "a\r\nb\r\nc" + C + "2S", .rows = {{1, "c"}, {2, ""}}},
    {.name = "sd_scrolls_down", .input = "a\r\nb" + C + "2T", .rows = {{1, ""}, {3, "a"}, {4, "b"}}},
    {.name = "su_inside_margins", .input = C + "2;3r" + C + "2;1Hx\r\ny" + C + "S", .rows = {{2, "y"}, {3, ""}}},
    {.name = "sd_title_mode_form_ignored", .input = "a" + C + ">2T", .rows = {{1, "a"}}},
    {.name = "cbt", .input = C + "20G" + C + "Zx" + C + "2Zy" + C + "9Zz", .rows = {{1, "z       y       x"}}},
    {.name = "sgr_with_private_marker_ignored", .input = C + "?4m" + C + ">4;2mX", .rows = {{1, "X"}}, .fg_at_1_1 = 0},
    {.name = "vt220_ignores_the_xterm_moves",
     .input = C + "3;5H" + C + "2dA" + C + "9GB" + C + "SC",
     .xterm = false,
     .rows = {{3, "    ABC"}}},
};

void PrintTo(const xterm_case& c, std::ostream* os) { *os << c.name; }

class XtermCases : public ::testing::TestWithParam<std::tuple<xterm_case, bool>> {};

TEST_P(XtermCases, ScreenRepliesTitlesAndModes) {
    const auto& [c, one_write] = GetParam();
    term_fixture t;
    if (c.xterm) t.term.set_emulation(emulation::xterm);
    t.term.options().utf8 = c.utf8;
    t.feed(c.input, one_write);
    for (const auto& [row, text] : c.rows) EXPECT_EQ(t.text(row), text) << "row " << row;
    if (c.row) {
        EXPECT_EQ(t.term.cursor_row(), c.row);
        EXPECT_EQ(t.term.cursor_column(), c.col);
    }
    EXPECT_EQ(t.replies, c.replies);
    EXPECT_EQ(t.host.titles, c.titles);
    EXPECT_EQ(int(t.term.cursor_style()), c.shape);
    EXPECT_EQ(t.term.cursor_blinking(), c.blink);
    EXPECT_EQ(t.term.bracketed_paste(), c.paste);
    EXPECT_EQ(t.ring->line(1).fg[0], c.fg_at_1_1);
    EXPECT_EQ(t.ring->line(1).bg[0], c.bg_at_1_1);
    EXPECT_EQ(t.ring->alternate(), c.alternate);
}

INSTANTIATE_TEST_SUITE_P(Stream, XtermCases, ::testing::Combine(::testing::ValuesIn(cases), ::testing::Bool()),
                         [](const auto& info) {
                             return std::string(std::get<0>(info.param).name) +
                                    (std::get<1>(info.param) ? "_one_write" : "_bytewise");
                         });

TEST(XtermSelection, TermtypePicksTheEmulation) {
    const std::pair<const char*, emulation> table[] = {
        {"vt220", emulation::vt220},      {"xterm", emulation::xterm}, {"xterm-256color", emulation::xterm},
        {"xter", emulation::vt220},       {"", emulation::vt220},      {"vt100", emulation::vt220},
        {"ansi-xterm", emulation::vt220},
    };
    for (const auto& [name, e] : table) EXPECT_EQ(emulation_for_termtype(name), e) << name;
}

TEST(XtermSelection, SwitchingSetsProfileAndEraseAndLeavingDropsModes) {
    term_fixture t;
    t.term.set_emulation(emulation::xterm);
    EXPECT_EQ(t.term.options().sgr, sgr_profile::xterm);
    t.feed(C + "?2004h" + C + "5 q");
    ASSERT_TRUE(t.term.bracketed_paste());
    t.term.set_emulation(emulation::vt220);
    EXPECT_EQ(t.term.options().sgr, sgr_profile::vt220);
    EXPECT_FALSE(t.term.bracketed_paste());
    EXPECT_EQ(t.term.cursor_style(), cursor_shape::block);
    t.feed(C + "44m" + C + "2J");
    EXPECT_EQ(t.ring->line(1).bg[0], 0u);
}

TEST(XtermAlternateScreen, ScrollingThereLeavesTheHistoryAloneAndSwitchingRepaintsAll) {
    term_fixture t;
    t.term.set_emulation(emulation::xterm);
    t.feed("old\r\n" + rep('\n', 30) + "normal");
    std::string history_before;
    for (int k = 1; k <= 199; ++k) history_before += char(t.ring->history_line(k).cells[0] & 0xFF);
    const int origin = t.ring->origin();
    t.ring->clear_marks();
    t.feed(C + "?1049h");
    for (int r = 1; r <= screen_rows; ++r) EXPECT_TRUE(t.ring->row_marked(r)) << r;
    t.feed("top" + C + "24;1H" + rep('\n', 40) + "last");
    EXPECT_EQ(t.text(24), "last");
    EXPECT_EQ(t.ring->origin(), origin);
    t.feed(C + "H" + E + "M");
    EXPECT_EQ(t.ring->origin(), origin);
    std::string history_after;
    for (int k = 1; k <= 199; ++k) history_after += char(t.ring->history_line(k).cells[0] & 0xFF);
    EXPECT_EQ(history_after, history_before);
    EXPECT_EQ(t.text(24), "");
    EXPECT_NE(history_before.find('o'), std::string::npos);
    t.ring->clear_marks();
    t.feed(C + "?1049l");
    for (int r = 1; r <= screen_rows; ++r) EXPECT_TRUE(t.ring->row_marked(r)) << r;
    EXPECT_EQ(t.text(screen_rows), "normal");
}

// The xterm emulation with utf8 on, as today's hosts drive it: random pieces (colours of every form, erases with
// the background colour, UTF-8 text wide and narrow, margins, the alternate screen, sequences a block cuts) fed one
// byte at a time and in blocks of random size must leave the same cells, colours, marks, cursor and replies. The
// blocks go through the ground loop's whole sequences and runs, the bytes through the byte path.
TEST(XtermStream, BlocksAndBytesAgree) {
    const std::string C = "\x1b[";
    const std::vector<std::string> pieces = {"text ",
                                             "\xe2\x94\x80\xe2\x94\x80\xe2\x94\x82",
                                             "\xe4\xb8\xad\xe6\x96\x87",
                                             "e\xcc\x81",
                                             "\r\n",
                                             "\n",
                                             "\r",
                                             C + "m",
                                             C + "0;1m",
                                             C + "37m",
                                             C + "44m",
                                             C + "38;5;81m",
                                             C + "48;2;1;2;3m",
                                             C + "38:2::9:8:7m",
                                             C + "4:3m",
                                             C + "1;38;5;46;4;49m",
                                             C + "K",
                                             C + "1K",
                                             C + "2K",
                                             C + "J",
                                             C + "5X",
                                             C + "3P",
                                             C + "2@",
                                             C + "2L",
                                             C + "M",
                                             C + "5;10H",
                                             C + "24;78H",
                                             C + "3C",
                                             C + "10G",
                                             C + "2d",
                                             C + "2S",
                                             C + "T",
                                             C + "?1049h",
                                             C + "?1049l",
                                             C + "?69h",
                                             C + "5;60s",
                                             C + "?69l",
                                             C + "4;20r",
                                             C + "r",
                                             C + "4h",
                                             C + "4l",
                                             C + "?7l",
                                             C + "?7h",
                                             "\x1b(0qqx\x1b(B",
                                             C + "99999999999999999999A",
                                             C + "1;2;3;4;5;6;7;8;9;10;11;12;13;14;15;16;17;18;19;20;21;22;"
                                                 "23;24;25;26;27;28;29;30;31;32;33;34m",
                                             C + "5n",
                                             C + "6n",
                                             "\x1b]0;title\x07",
                                             "\x1b"
                                             "7",
                                             "\x1b"
                                             "8",
                                             C + "b",
                                             "\x1b[",
                                             "\xe2\x94",
                                             "\x08",
                                             "\t"};
    std::mt19937 rng(2026);
    for (int round = 0; round < 40; ++round) {
        std::string s;
        for (int i = 0; i < 200; ++i) s += pieces[rng() % pieces.size()];
        term_fixture a, b;
        for (term_fixture* t : {&a, &b}) {
            t->term.set_emulation(emulation::xterm);
            t->term.options().utf8 = true;
        }
        a.feed(s, false);
        for (size_t at = 0; at < s.size();) {
            const size_t n = std::min<size_t>(s.size() - at, 1 + rng() % 300);
            b.feed(std::string_view(s).substr(at, n), true);
            at += n;
        }
        ASSERT_EQ(a.replies, b.replies) << round;
        ASSERT_EQ(a.term.cursor_row(), b.term.cursor_row()) << round;
        ASSERT_EQ(a.term.cursor_column(), b.term.cursor_column()) << round;
        ASSERT_EQ(a.ring->pen(), b.ring->pen()) << round;
        for (int r = 1; r <= screen_rows; ++r) {
            ASSERT_EQ(a.ring->row_marked(r), b.ring->row_marked(r)) << round << " row " << r;
            for (int c = 1; c <= line_cells; ++c) {
                ASSERT_EQ(a.ring->line(r).cell(c), b.ring->line(r).cell(c)) << round << " at " << r << "," << c;
                ASSERT_EQ(a.ring->line(r).colours(c), b.ring->line(r).colours(c)) << round << " at " << r << "," << c;
                ASSERT_EQ(a.ring->cell_mark(r, c), b.ring->cell_mark(r, c)) << round << " at " << r << "," << c;
            }
        }
    }
}

}  // namespace
