// Stream cases at the parser's and the grid's edges: OSC/PM/APC strings, SGR colour parameters, getting the parser
// back to ground, and erasing or shifting across half of a wide character. Every case runs byte by byte through
// feed_byte and as one write through feed(), in byte mode or with utf8 on as the case says.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "term_fixture.h"
#include "terminal/screen_dump.h"

namespace {

const std::string E = "\x1b";
const std::string C = "\x1b[";
const std::string ST = "\x1b\\";
// Two-cell characters and their UTF-8.
const std::string zhong = "\xE4\xB8\xAD";  // U+4E2D
const std::string wen = "\xE6\x96\x87";    // U+6587
const std::string replacement = "\xEF\xBF\xBD";

constexpr uint32_t any = 0xFFFFFFFF;

enum class mode { bytes, utf8 };

struct stream_case {
    const char* name;
    mode m;
    std::string input;
    std::vector<std::pair<int, std::string>> rows;  // row -> text as the dump gives it, trailing blanks removed
    int row = 0, col = 0;                           // cursor afterwards; 0 = not checked
    uint32_t attr = any;                            // the current attribute afterwards; any = not checked
    std::vector<std::tuple<int, int, uint32_t>> cells = {};
    std::string replies = {};
};

void PrintTo(const stream_case& c, std::ostream* os) { *os << c.name; }

std::string row_text(const term_fixture& t, int r) {
    std::istringstream in(screen_dump_plain(*t.ring));
    std::string line;
    for (int i = 0; i < r; ++i) std::getline(in, line);
    line.erase(line.find_last_not_of(' ') + 1);
    return line;
}

// A left half always has its right half next to it, inside the margin: nothing draws half a glyph.
void expect_whole_wide_characters(const term_fixture& t) {
    const int cols = t.ring->columns();
    for (int r = 1; r <= screen_rows; ++r)
        for (int c = 1; c <= cols; ++c)
            if (t.cell(r, c) & cell_wide) {
                EXPECT_LT(c, cols) << "row " << r << ": a left half at the margin";
                if (c < cols) {
                    EXPECT_TRUE(t.cell(r, c + 1) & cell_wide_right) << "row " << r << " column " << c;
                }
            }
}

void run(const stream_case& c, bool one_write) {
    term_fixture t;
    t.term.options().utf8 = c.m == mode::utf8;
    t.feed(c.input, one_write);
    for (const auto& [row, text] : c.rows) EXPECT_EQ(row_text(t, row), text) << "row " << row;
    if (c.row) {
        EXPECT_EQ(t.term.cursor_row(), c.row);
        EXPECT_EQ(t.term.cursor_column(), c.col);
    }
    if (c.attr != any) {
        EXPECT_EQ(t.ring->attr(), c.attr);
    }
    for (const auto& [row, col, value] : c.cells) EXPECT_EQ(t.cell(row, col), value) << row << "," << col;
    EXPECT_EQ(t.replies, c.replies);
    EXPECT_EQ(t.host.bells, 0);  // no case rings: a BEL inside a string is never the bell
    expect_whole_wide_characters(t);
}

std::string cases_name(const char* name, bool one_write) {
    return std::string(name) + (one_write ? "_one_write" : "_bytewise");
}

// ---------------------------------------------------------------------------------------------------------------
// OSC, PM and APC strings are consumed, never printed nor acted on.

const std::vector<stream_case> string_cases = {
    {"osc_title_ended_by_bel", mode::bytes, "a" + E + "]0;a title\x07" + "b", {{1, "ab"}}, 1, 3},
    {"osc_ended_by_st", mode::bytes, E + "]2;title" + ST + "ok", {{1, "ok"}}, 1, 3},
    {"osc_ended_by_8bit_st", mode::bytes, E + "]0;title\x9c" + "ok", {{1, "ok"}}, 1, 3},
    {"pm_and_apc", mode::bytes, E + "^private" + ST + E + "_application\x9c" + "x", {{1, "x"}}, 1, 2},
    {"bel_does_not_end_pm_or_apc",
     mode::bytes,
     E + "^a\x07" + "b" + ST + E + "_c\x07" + "d" + ST + "e",
     {{1, "e"}},
     1,
     2},
    {"can_aborts", mode::bytes, E + "]0;title\x18" + "ok", {{1, "ok"}}, 1, 3},
    {"sub_aborts", mode::bytes, E + "_apc\x1a" + "ok", {{1, "ok"}}, 1, 3},
    {"controls_inside_are_not_acted_on",
     mode::bytes,
     "ab" + E + "]0;\x05\r\n\t\b\x0e\x07" + "c",
     {{1, "abc"}, {2, ""}},
     1,
     4},
    {"esc_leaves_the_string_and_acts", mode::bytes, E + "]0;title" + C + "2;3Hx", {{1, ""}, {2, "  x"}}, 2, 4},
    {"long_string", mode::bytes, E + "]0;" + std::string(5000, 'z') + "\x07" + "ok", {{1, "ok"}, {2, ""}}, 1, 3},
    {"attributes_inside_not_taken", mode::bytes, E + "]1m" + ST + "x", {{1, "x"}}, 1, 2, 0},
    // Byte mode prints 0x9D..0x9F like the other C1 bytes it does not act on (code-page text).
    {"8bit_introducers_print_in_byte_mode",
     mode::bytes,
     "\x9d"
     "A\x9e"
     "B",
     {{1, "\xC2\x9D"
          "A\xC2\x9E"
          "B"}},
     1,
     5},
    {"vt52_mode_has_no_strings", mode::bytes, C + "?2l" + E + "]x" + E + "^y" + E + "_z", {{1, "xyz"}}, 1, 4},

    {"utf8_osc_ended_by_bel", mode::utf8, E + "]0;" + zhong + "\x07" + "ok", {{1, "ok"}}, 1, 3},
    {"utf8_apc_ended_by_st", mode::utf8, E + "_" + zhong + ST + "ok", {{1, "ok"}}, 1, 3},
    // U+015C is C5 9C: its second byte is text, not ST.
    {"utf8_0x9c_inside_text_does_not_end", mode::utf8, E + "]0;\xC5\x9C" + "x\x07" + "ok", {{1, "ok"}}, 1, 3},
    {"utf8_raw_8bit_introducer_is_malformed",
     mode::utf8,
     "\x9d"
     "ok",
     {{1, replacement + "ok"}},
     1,
     4},
    {"utf8_encoded_c1_is_not_an_introducer",
     mode::utf8,
     "\xC2\x9D"
     "ok\xC2\x9F"
     "!",
     {{1, "ok!"}},
     1,
     4},
    {"utf8_sequence_cut_by_the_string",
     mode::utf8,
     "\xE4\xB8" + E + "]0;t\x07" + "ok",
     {{1, replacement + "ok"}},
     1,
     4},
    {"utf8_can_aborts", mode::utf8, E + "^pm\x18" + zhong, {{1, zhong}}, 1, 3},
};

class VtStrings : public ::testing::TestWithParam<std::tuple<stream_case, bool>> {};
TEST_P(VtStrings, Stream) { run(std::get<0>(GetParam()), std::get<1>(GetParam())); }
INSTANTIATE_TEST_SUITE_P(Cases, VtStrings, ::testing::Combine(::testing::ValuesIn(string_cases), ::testing::Bool()),
                         [](const auto& info) {
                             return cases_name(std::get<0>(info.param).name, std::get<1>(info.param));
                         });

TEST(VtStrings, ShiftOutInsideIsNotActedOn) {
    term_fixture t;
    t.feed(E + ")0" + E + "]0;\x0e\x07");
    EXPECT_EQ(t.term.active_set(), 0);
    EXPECT_EQ(t.term.parser_state(), 0);
}

// ---------------------------------------------------------------------------------------------------------------
// SGR 38 and 48 take their colour parameters with them.

const std::vector<stream_case> sgr_cases = {
    {"indexed_fg_is_not_blink", mode::bytes, C + "38;5;46mx", {{1, "x"}}, 1, 2, 0, {{1, 1, 'x'}}},
    {"indexed_bg_is_not_reverse", mode::bytes, C + "48;5;7m", {}, 0, 0, 0},
    {"direct_fg_values_are_not_attributes", mode::bytes, C + "38;2;7;4;1m", {}, 0, 0, 0},
    {"direct_bg_values_are_not_attributes", mode::bytes, C + "48;2;5;7;4m", {}, 0, 0, 0},
    {"attributes_around_indexed", mode::bytes, C + "1;38;5;46;4m", {}, 0, 0, cell_bold | cell_underline},
    {"attribute_after_direct", mode::bytes, C + "38;2;1;2;3;5m", {}, 0, 0, cell_blink},
    {"fg_and_bg_then_reverse", mode::bytes, C + "38;5;1;48;5;4;7m", {}, 0, 0, cell_reverse},
    {"cut_short_at_the_end", mode::bytes, C + "1;38;5m" + C + "4;48m", {}, 0, 0, cell_bold | cell_underline},
    {"colon_indexed", mode::bytes, "x" + C + "38:5:46my", {{1, "xy"}}, 1, 3, 0},
    {"colon_direct_with_colour_space", mode::bytes, C + "38:2::255:0:7;4m", {}, 0, 0, cell_underline},
    {"colon_direct", mode::bytes, C + "48:2:1:5:7mx", {{1, "x"}}, 1, 2, 0},
    {"colon_then_semicolon_parameters", mode::bytes, C + "1;48:5:4;5m", {}, 0, 0, cell_bold | cell_blink},
    {"colon_in_utf8_mode", mode::utf8, C + "38:5:5;7m" + zhong, {{1, zhong}}, 1, 3, cell_reverse},
    // Elsewhere a colon ends the sequence as before and what follows is text.
    {"colon_elsewhere_ends_the_sequence", mode::bytes, C + "5;5H" + C + "2:3Hx", {{5, "    3Hx"}}, 5, 8},
    {"colon_after_other_sgr_values", mode::bytes, C + "4:3m", {{1, "3m"}}, 1, 3, 0},
    {"colour_colon_in_another_final_is_dropped", mode::bytes, C + "38:5Hx", {{1, "x"}}, 1, 2},
};

class VtSgrColour : public ::testing::TestWithParam<std::tuple<stream_case, bool>> {};
TEST_P(VtSgrColour, Stream) { run(std::get<0>(GetParam()), std::get<1>(GetParam())); }
INSTANTIATE_TEST_SUITE_P(Cases, VtSgrColour, ::testing::Combine(::testing::ValuesIn(sgr_cases), ::testing::Bool()),
                         [](const auto& info) {
                             return cases_name(std::get<0>(info.param).name, std::get<1>(info.param));
                         });

// ---------------------------------------------------------------------------------------------------------------
// Whatever the last bytes left half-received, a new connection (reset_parser) and the Reset Terminal command
// (reset_parser, then reset_terminal) start from the ground state.

struct stray_case {
    const char* name;
    mode m;
    std::string stray;
};

const std::vector<stray_case> stray_cases = {
    {"dcs_8bit_in_box_drawing", mode::bytes, "\xE2\x94\x90"},
    {"dcs_8bit_in_cyrillic", mode::bytes, "\xD0\x90"},
    {"dcs_7bit", mode::bytes, E + "Pjunk"},
    {"dcs_after_esc", mode::bytes, "\x90junk\x1b"},
    {"osc", mode::bytes, E + "]0;title"},
    {"apc", mode::bytes, E + "_app"},
    {"csi_parameters", mode::bytes, C + "5"},
    {"csi_colour_colon", mode::bytes, C + "38:5:"},
    {"csi_flags", mode::bytes, C + "?"},
    {"escape", mode::bytes, E},
    {"esc_hash", mode::bytes, E + "#"},
    {"designation", mode::bytes, E + "("},
    {"vt52_address", mode::bytes, C + "?2l" + E + "Y!"},
    {"utf8_dcs", mode::utf8, E + "Pjunk"},
    {"utf8_osc", mode::utf8, E + "]0;" + zhong},
    {"utf8_csi", mode::utf8, C + "12;"},
    {"utf8_character", mode::utf8, "\xE4\xB8"},
};

void PrintTo(const stray_case& c, std::ostream* os) { *os << c.name; }

class VtParserReset : public ::testing::TestWithParam<std::tuple<stray_case, bool>> {};

TEST_P(VtParserReset, NewConnectionKeepsTheScreenAndStartsInGround) {
    const auto& [c, one_write] = GetParam();
    term_fixture t;
    t.term.options().utf8 = c.m == mode::utf8;
    t.feed("ab" + c.stray, one_write);
    t.term.reset_parser();
    EXPECT_EQ(t.term.parser_state(), 0);
    const int col = t.term.cursor_column();
    t.feed("ok" + C + "6n", one_write);
    EXPECT_EQ(t.cell(1, col), uint32_t('o'));
    EXPECT_EQ(t.cell(1, col + 1), uint32_t('k'));
    EXPECT_EQ(t.replies, "\x1b[1;" + std::to_string(col + 2) + "R");
}

TEST_P(VtParserReset, ResetTerminalCommandStartsInGround) {
    const auto& [c, one_write] = GetParam();
    term_fixture t;
    t.term.options().utf8 = c.m == mode::utf8;
    t.feed("ab" + c.stray, one_write);
    t.term.reset_parser();
    t.term.reset_terminal(false);
    t.feed("ok", one_write);
    EXPECT_EQ(row_text(t, 1), "ok");
    EXPECT_EQ(t.term.cursor_column(), 3);
}

INSTANTIATE_TEST_SUITE_P(Stray, VtParserReset, ::testing::Combine(::testing::ValuesIn(stray_cases), ::testing::Bool()),
                         [](const auto& info) {
                             return cases_name(std::get<0>(info.param).name, std::get<1>(info.param));
                         });

TEST(VtParserResetState, HalfSeenStringTerminatorIsForgotten) {
    term_fixture t;
    t.feed("\x90\x1b");
    t.term.reset_parser();
    // A new DCS starts clean: its first backslash is data, not the end of an ESC \ begun before the reset.
    t.feed("\x90\\hidden" + ST + "yes");
    EXPECT_EQ(t.text(1), "yes");
}

TEST(VtParserResetState, PrinterControllerModeAndScreenStay) {
    term_fixture t;
    t.feed(C + "1;4mab" + C + "5i" + C + "2");
    t.term.reset_parser();
    EXPECT_EQ(t.term.printer_controller(), 1);
    EXPECT_EQ(t.text(1), "ab");
    EXPECT_EQ(t.ring->attr(), cell_bold | cell_underline);
    EXPECT_EQ(t.term.cursor_column(), 3);
}

// ---------------------------------------------------------------------------------------------------------------
// Erasing, inserting and deleting across half of a wide character take the whole character.

const std::string two = zhong + wen;  // columns 1-2 and 3-4

const std::vector<stream_case> wide_cases = {
    {"el_from_right_half", mode::utf8, two + C + "1;2H" + C + "K", {{1, ""}}, 1, 2},
    {"el_from_right_half_takes_the_erase_attribute",
     mode::utf8,
     C + "7m" + two + C + "m" + C + "1;2H" + C + "K",
     {{1, ""}},
     1,
     2,
     0,
     {{1, 1, cell_blank}}},
    {"el_left_ending_on_left_half",
     mode::utf8,
     two + "x" + C + "1;3H" + C + "1K",
     {{1, "    x"}},
     1,
     3,
     any,
     {{1, 4, cell_blank}}},
    {"selective_el_from_right_half", mode::utf8, two + C + "1;4H" + C + "?K", {{1, zhong}}, 1, 4},
    {"ed_from_right_half", mode::utf8, two + C + "1;4H" + C + "J", {{1, zhong}}, 1, 4},
    {"ed_above_ending_on_left_half",
     mode::utf8,
     two + "x" + C + "1;1H" + C + "1J",
     {{1, "  " + wen + "x"}},
     1,
     1,
     any,
     {{1, 2, cell_blank}}},
    {"ech_from_right_half", mode::utf8, two + C + "1;2H" + C + "1X", {{1, "  " + wen}}, 1, 2},
    {"ech_ending_on_left_half", mode::utf8, two + C + "1;2H" + C + "2X", {{1, ""}}, 1, 2, any, {{1, 4, cell_blank}}},
    {"vt52_erase_from_right_half", mode::utf8, two + C + "1;2H" + C + "?2l" + E + "K", {{1, ""}}, 1, 2},
    {"dch_from_right_half", mode::utf8, two + "b" + C + "1;2H" + C + "P", {{1, " " + wen + "b"}}, 1, 2},
    {"dch_across_two_wide_characters", mode::utf8, two + "b" + C + "1;2H" + C + "2P", {{1, "  b"}}, 1, 2},
    {"dch_ending_on_left_half",
     mode::utf8,
     "a" + two + C + "1;1H" + C + "2P",
     {{1, " " + wen}},
     1,
     1,
     any,
     {{1, 1, cell_blank}}},
    {"ich_at_right_half", mode::utf8, two + C + "1;2H" + C + "1@", {{1, "   " + wen}}, 1, 2},
    {"ich_pushes_a_pair_past_the_margin", mode::utf8, C + "1;79H" + zhong + C + "1;1H" + C + "1@", {{1, ""}}, 1, 1},
    {"ich_keeps_a_pair_that_fits",
     mode::utf8,
     C + "1;77H" + zhong + C + "1;1H" + C + "1@",
     {{1, std::string(77, ' ') + zhong}},
     1,
     1},
    {"irm_narrow_pushes_a_pair_past_the_margin",
     mode::utf8,
     C + "1;79H" + zhong + C + "1;1H" + C + "4hx",
     {{1, "x"}},
     1,
     2},
    {"irm_wide_pushes_a_pair_past_the_margin",
     mode::utf8,
     C + "1;78H" + zhong + C + "1;1H" + C + "4h" + wen,
     {{1, wen}},
     1,
     3},
    {"overwrite_right_half_with_a_run", mode::utf8, two + C + "1;4Hxyz", {{1, zhong + " xyz"}}, 1, 7},
};

class VtWideEdges : public ::testing::TestWithParam<std::tuple<stream_case, bool>> {};
TEST_P(VtWideEdges, Stream) { run(std::get<0>(GetParam()), std::get<1>(GetParam())); }
INSTANTIATE_TEST_SUITE_P(Cases, VtWideEdges, ::testing::Combine(::testing::ValuesIn(wide_cases), ::testing::Bool()),
                         [](const auto& info) {
                             return cases_name(std::get<0>(info.param).name, std::get<1>(info.param));
                         });

// utf8 switched off with wide characters on the screen: byte printing takes both halves as well.
TEST(VtWideEdgesBytes, PrintingOverLeftoverWideCharacters) {
    for (bool one_write : {false, true}) {
        term_fixture t;
        t.term.options().utf8 = true;
        t.feed(two + two + "\r\n" + two, one_write);
        t.term.options().utf8 = false;
        t.feed(C + "1;2Hx" + C + "1;6Hy" + C + "2;2H" + C + "4hq", one_write);
        SCOPED_TRACE(one_write ? "one write" : "bytewise");
        EXPECT_EQ(row_text(t, 1), " x" + wen + " y" + wen);
        EXPECT_EQ(t.cell(1, 1), cell_blank);
        EXPECT_EQ(row_text(t, 2), " q " + wen);
        expect_whole_wide_characters(t);
    }
}

// A pair left across column 80 by the width toggle (which keeps the screen) never comes in half.
TEST(VtWideEdgesBytes, DeleteAfterNarrowingTheWidth) {
    term_fixture t;
    t.term.options().utf8 = true;
    t.term.set_columns(132);
    t.feed(C + "1;80H" + zhong);
    t.term.set_columns(80);
    t.feed(C + "1;1H" + C + "P");
    expect_whole_wide_characters(t);
    EXPECT_EQ(row_text(t, 1), "");
}

}  // namespace
