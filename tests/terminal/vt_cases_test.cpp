// Received byte streams and the screen, cursor and replies they must leave. Every case runs twice: one byte at a
// time through feed_byte, and as one write through feed().
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "term_fixture.h"

namespace {

const std::string E = "\x1b";
const std::string C = "\x1b[";

std::string rep(char c, int n) { return std::string(size_t(n), c); }
std::string at(int col, const std::string& s) { return rep(' ', col - 1) + s; }

struct vt_case {
    const char* name;
    std::string input;
    std::vector<std::pair<int, std::string>> rows;  // row -> its text without trailing spaces
    int row = 0, col = 0;                           // expected cursor; 0 = not checked
    std::string replies;

    vt_case(const char* n, std::string in, std::vector<std::pair<int, std::string>> r, int row_ = 0, int col_ = 0,
            std::string rep = {})
        : name(n), input(std::move(in)), rows(std::move(r)), row(row_), col(col_), replies(std::move(rep)) {}
};

// Rows 1..5 hold "r1".."r5" and the cursor is back at (1,1).
const std::string five_rows = "r1\r\nr2\r\nr3\r\nr4\r\nr5" + C + "H";
// The whole screen is filled with 'E' (DECALN).
const std::string all_e = E + "#8";

const std::vector<vt_case> cases = {
    // Ground state
    {"text_and_crlf", "ab\r\ncd", {{1, "ab"}, {2, "cd"}}, 2, 3},
    {"lf_implies_no_cr", "ab\ncd", {{2, "  cd"}}, 2, 5},
    {"high_bytes_are_printed", "\xe9\x85\x80\x9f\x7f", {{1, "\xe9\x85\x80\x9f\x7f"}}, 1, 6},
    {"ss3_introducer_is_dropped",
     "\x8f"
     "AB",
     {{1, "AB"}},
     1,
     3},
    {"c1_ind_and_ri", C + "5;1Hx\x84y\x8d\x8dz", {{4, "  z"}, {5, "x"}, {6, " y"}}, 4, 4},
    {"c1_csi",
     "\x9b"
     "3;4Hq",
     {{3, "   q"}},
     3,
     5},
    {"c1_dcs", "\x90junk" + E + "\\ok", {{1, "ok"}}, 1, 3},
    {"bs_stops_at_column_1", "\b\bA\bB", {{1, "B"}}, 1, 2},
    {"ht_default_stops", "\tA\tB", {{1, at(9, "A") + rep(' ', 7) + "B"}}, 1, 18},
    {"ht_from_73_ends_at_79", C + "1;73H\tX", {{1, at(79, "X")}}, 1, 80},
    {"ht_at_80_moves_left", C + "1;80H\tX", {{1, at(79, "X")}}, 1, 80},
    {"vt_and_ff_do_nothing",
     "A\x0b\x0c\x01\x1f"
     "B",
     {{1, "AB"}},
     1,
     3},
    {"lf_below_region_stays", C + "1;10rtop" + C + "24;1Ha\nb", {{1, "top"}, {24, "ab"}}, 24, 3},
    {"lf_at_region_bottom",
     C + "1;1Hx" + C + "5;1Hy" + C + "2;4ra\r\nb\r\nc\nd",
     {{1, "x"}, {2, "b"}, {3, "c"}, {4, " d"}, {5, "y"}},
     4,
     3},
    {"autowrap", rep('a', 80) + "b", {{1, rep('a', 80)}, {2, "b"}}, 2, 2},
    {"cr_cancels_the_wrap", rep('a', 80) + "\rb", {{1, "b" + rep('a', 79)}, {2, ""}}, 1, 2},
    {"no_autowrap_overwrites", C + "?7l" + rep('a', 80) + "bc", {{1, rep('a', 79) + "c"}, {2, ""}}, 1, 80},
    {"wrap_on_row_24_scrolls", C + "24;80Hab", {{23, at(80, "a")}, {24, "b"}}, 24, 2},
    {"double_width_limits_column", E + "#6" + rep('x', 50), {{1, rep('x', 40)}}, 1, 40},
    {"decdwl_clamps_cursor", C + "1;70H" + E + "#6", {}, 1, 40},
    {"bs_keeps_column_inside_double_width", C + "1;40H" + E + "#6\bz", {{1, at(39, "z")}}, 1, 40},

    // Escape state
    {"esc_esc_stays", E + E + "[2;2Hz", {{2, " z"}}, 2, 3},
    {"decsc_decrc", C + "5;10H" + E + "7" + C + "1;1H" + E + "8z", {{5, at(10, "z")}}, 5, 11},
    {"ind_nel_ri", C + "3;5H" + E + "Da" + E + "Eb" + E + "M" + E + "Mc", {{3, " c"}, {4, "    a"}, {5, "b"}}, 3, 3},
    {"ri_on_top_row_scrolls_down", "top" + C + "1;1H" + E + "Mnew", {{1, "new"}, {2, "top"}}, 1, 4},
    {"hts_sets_a_stop", C + "3g" + C + "1;5H" + E + "H\r\tX\tY", {{1, at(5, "X") + rep(' ', 73) + "Y"}}, 1, 80},
    {"unknown_escape_dropped", E + "QA" + E + "O" + "B", {{1, "AB"}}, 1, 3},
    {"vt52_ignores_normal_finals", C + "?2l" + E + "[5;5H" + E + "F" + E + "Gx", {{5, "    x"}}, 5, 6},
    {"decid", E + "Z", {}, 1, 1, "\x1b[?62;1;6c"},
    {"ris_clears_everything", "abc" + C + "3;5r" + E + "c", {{1, ""}}, 1, 1},

    // VT52 mode
    {"vt52_cursor_keys",
     C + "?2l" + E + "Y%%a" + E + "A" + E + "Cb" + E + "D" + E + "D" + E + "Bc" + E + "Hd",
     {{1, "d"}, {5, at(8, "b")}, {6, at(6, "ac")}},
     1,
     2},
    {"vt52_address_two_spaces_homes", C + "5;5H" + C + "?2l" + E + "Y  x", {{1, "x"}}, 1, 2},
    {"vt52_address_limited", C + "?2l" + E + "Y~~y", {{24, at(80, "y")}}, 24, 80},
    {"vt52_address_abandoned_by_esc", C + "?2l" + E + "Y!" + E + "Y\"\"q", {{3, "  q"}}, 3, 4},
    {"vt52_erase_to_end_of_line", "aaaa\r\nbbbb" + C + "?2l" + E + "Y!\"" + E + "K", {{1, "aaaa"}, {2, "bb"}}, 2, 3},
    {"vt52_erase_to_end_of_screen",
     "aaaa\r\nbbbb\r\ncc" + C + "?2l" + E + "H" + E + "C" + E + "J",
     {{1, "a"}, {2, ""}, {3, ""}},
     1,
     2},
    {"vt52_reverse_index", "top" + C + "?2l" + E + "H" + E + "Inew", {{1, "new"}, {2, "top"}}, 1, 4},
    {"vt52_identify", C + "?2l" + E + "Z", {}, 1, 1, "\x1b/Z"},
    {"vt52_c1_ind_moves_left_ri_moves_up", C + "?2l" + C + "3;5H\x84x\x8dy", {{2, "    y"}, {3, "   x"}}, 2, 6},
    {"vt52_left_by_esc_less", C + "?2l" + E + "<" + E + "Ax", {{1, "x"}}, 1, 2},

    // ESC #, designations, device control strings
    {"decaln_fills_and_keeps_cursor", C + "5;5H" + all_e, {{1, rep('E', 80)}, {24, rep('E', 80)}}, 5, 5},
    {"hash_then_esc_starts_escape", E + "#" + E + "[3;3Hz", {{3, "  z"}}, 3, 4},
    {"dcs_ends_at_can", E + "Phello\x18ok", {{1, "ok"}}, 1, 3},
    {"designate_unknown_set_ignored", E + "(K" + "q", {{1, "q"}}, 1, 2},

    // Control sequence parsing
    {"lf_inside_csi_is_dropped", C + "1;2\nH", {{1, "H"}, {2, ""}}, 1, 2},
    {"bs_edits_the_parameters", C + "10;1H" + C + "1\b5Ax", {{5, "x"}}, 5, 2},
    {"bs_on_empty_buffer_ends", C + "\bA", {{1, "A"}}, 1, 2},
    {"too_long_sequence_becomes_text", C + "1;2;3;4;5;6;7;8;9;1;H", {{1, "H"}}, 1, 2},
    {"leading_zeros_collapse", C + "10;1H" + C + rep('0', 24) + "5Ax", {{5, "x"}}, 5, 2},
    {"equals_marker_is_consumed_silently", C + "=c", {{1, ""}}, 1, 1},
    // A flag left over from an earlier sequence must not turn a bare CSI p into DECSCL or a soft reset.
    {"decsca_flag_does_not_reach_next_p", C + "1\"q" + C + "p" + C + "5n", {}, 1, 1, "\x1b[0n"},
    {"abandoned_bang_does_not_reset", "abc" + C + "!" + E + "[p", {{1, "abc"}}, 1, 4},
    {"unknown_final_dropped", C + "5zA", {{1, "A"}}, 1, 2},
    {"c0_inside_csi_not_executed", C + "5\rA" + C + "\x05" + "B", {{1, "AB"}}, 1, 3},

    // Finals
    {"ich", "abcdef" + C + "1;3H" + C + "2@", {{1, "ab  cdef"}}, 1, 3},
    {"ich_without_parameter_does_nothing", "abc" + C + "1;2H" + C + "@", {{1, "abc"}}, 1, 2},
    {"ich_huge_count", "abc" + C + "1;2H" + C + "4000000000@", {{1, "a"}}, 1, 2},
    {"cuu_stops_at_top_margin", C + "5;20r" + C + "10;1H" + C + "99A", {}, 5, 1},
    {"cuu_above_region_stops_at_1", C + "5;20r" + C + "3;1H" + C + "9A", {}, 1, 1},
    {"cud_stops_at_bottom_margin", C + "5;20r" + C + "10;1H" + C + "99B", {}, 20, 1},
    {"cud_below_region_stops_at_24", C + "5;20r" + C + "22;1H" + C + "99B", {}, 24, 1},
    {"cursor_moves_need_one_parameter", C + "10;10H" + C + "2;3A" + C + "1;1B" + C + "1;1C" + C + "1;1D", {}, 10, 10},
    {"cuf_cub_limits", C + "1;1H" + C + "999C" + C + "2D", {}, 1, 78},
    {"cub_limit", C + "1;5H" + C + "99999999999D", {}, 1, 1},
    {"cup_zero_and_limits", C + "9;9H" + C + "0;0H" + C + "99;999f", {}, 24, 80},
    {"cup_in_origin_mode", C + "5;20r" + C + "?6h" + C + "H" + C + "3;4H", {}, 7, 4},
    {"cup_origin_mode_not_limited_to_region", C + "5;20r" + C + "?6h" + C + "30;1H", {}, 24, 1},
    {"ed_below", all_e + C + "12;40H" + C + "J", {{11, rep('E', 80)}, {12, rep('E', 39)}, {13, ""}, {24, ""}}, 12, 40},
    {"ed_above",
     all_e + C + "12;40H" + C + "1J",
     {{1, ""}, {11, ""}, {12, rep(' ', 40) + rep('E', 40)}, {13, rep('E', 80)}},
     12,
     40},
    {"ed_all", all_e + C + "12;40H" + C + "2J", {{1, ""}, {12, ""}, {24, ""}}, 12, 40},
    {"ed_parameters_in_turn", all_e + C + "12;40H" + C + "1;0J", {{1, ""}, {12, ""}, {24, ""}}, 12, 40},
    {"ed_unknown_value", all_e + C + "3J", {{1, rep('E', 80)}}, 1, 1},
    {"el_right", all_e + C + "12;40H" + C + "K", {{11, rep('E', 80)}, {12, rep('E', 39)}}, 12, 40},
    {"el_left", all_e + C + "12;40H" + C + "1K", {{12, rep(' ', 40) + rep('E', 40)}}, 12, 40},
    {"el_all", all_e + C + "12;40H" + C + "2K", {{12, ""}, {13, rep('E', 80)}}, 12, 40},
    {"il_inside_region", five_rows + C + "2;1H" + C + "2L", {{1, "r1"}, {2, ""}, {3, ""}, {4, "r2"}, {7, "r5"}}, 2, 1},
    {"il_above_region", five_rows + C + "3;5r" + C + "2;4H" + C + "L", {{1, "r1"}, {2, ""}, {3, "r3"}}, 2, 1},
    {"il_below_region", five_rows + C + "1;2r" + C + "4;3H" + C + "L", {{3, ""}, {4, "r3"}, {5, "r5"}}, 4, 1},
    {"dl_inside_region",
     five_rows + C + "2;4r" + C + "2;1H" + C + "M",
     {{1, "r1"}, {2, "r3"}, {3, "r4"}, {4, ""}, {5, "r5"}},
     2,
     1},
    {"dl_huge_count_in_region",
     five_rows + C + "2;4r" + C + "2;1H" + C + "99999M",
     {{1, "r1"}, {2, ""}, {4, ""}, {5, "r5"}},
     2,
     1},
    {"dch", "abcdef" + C + "1;2H" + C + "P" + C + "2P", {{1, "aef"}}, 1, 2},
    {"dch_huge_count", "abcdef" + C + "1;2H" + C + "2147483647P", {{1, "a"}}, 1, 2},
    {"ech", "abcdef" + C + "1;2H" + C + "3X" + C + "X", {{1, "a   ef"}}, 1, 2},
    {"ech_stops_at_last_column", rep('x', 80) + C + "1;78H" + C + "99X", {{1, rep('x', 77)}}, 1, 78},
    {"tbc_one_stop", C + "1;9H" + C + "g\r\t", {}, 1, 17},
    {"tbc_all_stops", C + "3g\t", {}, 1, 79},
    {"irm_inserts", "abc" + C + "1;1H" + C + "4hX" + C + "4lY", {{1, "XYbc"}}, 1, 3},
    {"lnm_does_not_change_lf", "a" + C + "20h\nb", {{2, " b"}}, 2, 3},
    {"deccolm_clears_and_homes", "abc" + C + "5;5H" + C + "?3h", {{1, ""}}, 1, 1},
    {"decom_homes_on_reset", C + "5;20r" + C + "?6h" + C + "3;3H" + C + "?6l", {}, 1, 1},
    {"decom_set_moves_to_top_margin", C + "5;20r" + C + "10;7H" + C + "?6h", {}, 5, 7},
    {"decstbm_single_parameter_is_whole_screen", C + "5;20r" + C + "9;9H" + C + "5r", {}, 1, 1},
    {"decstbm_rejects_bad_pairs", C + "9;9H" + C + "10;5r" + C + "5;30r" + C + "7;7r" + C + "0;1r", {}, 9, 9},
    {"decstbm_zero_reads_as_one", C + "9;9H" + C + "0;5r", {}, 1, 1},
    {"dectst_fill_and_home", "abc" + C + "5;5H" + C + "2;2y", {{1, ""}}, 1, 1},
    {"dectst_other_tests_ignored", "abc" + C + "5;5H" + C + "3;1y", {{1, "abc"}}, 5, 5},

    // Replies
    {"enq_answerback", "\x05", {}, 1, 1, "QUILL_TELNET"},
    {"primary_da", C + "c" + C + "0c" + C + "7c", {}, 1, 1, "\x1b[?62;1;6c\x1b[?62;1;6c\x1b[?62;1;6c"},
    {"secondary_da", C + ">c" + C + ">0c", {}, 1, 1, "\x1b[>1;1;0c\x1b[>1;1;0c"},
    {"dsr_status", C + "5n", {}, 1, 1, "\x1b[0n"},
    {"cpr_absolute", C + "5;20r" + C + "?6h" + C + "2;7H" + C + "6n", {}, 6, 7, "\x1b[6;7R"},
    {"cpr_with_question_mark", C + "3;7H" + C + "?6n", {}, 3, 7, "\x1b[3;7R"},
    {"printer_status", C + "15n" + C + "?15n", {}, 1, 1, "\x1b[?10n\x1b[?10n"},
    {"udk_and_keyboard_status", C + "?25n" + C + "?26n", {}, 1, 1, "\x1b[?21n\x1b[?27;1;0;1n"},
    {"unknown_dsr_silent", C + "7n" + C + "0n", {}, 1, 1, ""},
    {"decreqtparm",
     C + "x" + C + "1x" + C + "2x",
     {},
     1,
     1,
     "\x1b[2;1;1;128;128;1;0x\x1b[3;1;1;128;128;1;0x\x1b[3;1;1;128;128;1;0x"},
    {"s8c1t_replies",
     E + " G" + C + "3;7H" + C + "6n" + C + "x",
     {},
     3,
     7,
     "\x9b"
     "3;7R\x9b"
     "2;1;1;128;128;1;0x"},
    {"s7c1t_back", E + " G" + E + " F" + C + "5n", {}, 1, 1, "\x1b[0n"},
    {"g_without_space_ignored", E + "G" + C + "5n", {}, 1, 1, "\x1b[0n"},
    {"esc_less_turns_8bit_off", E + " G" + E + "<" + C + "5n", {}, 1, 1, "\x1b[0n"},
    {"level_1_blocks_s8c1t", C + "61\"p" + E + " G" + C + "5n", {}, 1, 1, "\x1b[0n"},
    {"level_1_turns_8bit_replies_off", E + " G" + C + "61\"p" + C + "5n", {}, 1, 1, "\x1b[0n"},
    {"decscl_8bit",
     C + "62;0\"p" + C + "5n" + C + "62;1\"p" + C + "5n" + C + "62\"p" + C + "5n",
     {},
     1,
     1,
     "\x9b"
     "0n\x1b[0n\x9b"
     "0n"},
    {"reply_per_request", C + "5n" + "\x05" + C + "6n", {}, 1, 1, "\x1b[0nQUILL_TELNET\x1b[1;1R"},
};

void PrintTo(const vt_case& c, std::ostream* os) { *os << c.name; }

class VtCases : public ::testing::TestWithParam<std::tuple<vt_case, bool>> {};

TEST_P(VtCases, ScreenCursorAndReplies) {
    const auto& [c, one_write] = GetParam();
    term_fixture t;
    t.feed(c.input, one_write);
    for (const auto& [row, text] : c.rows) EXPECT_EQ(t.text(row), text) << "row " << row;
    if (c.row) {
        EXPECT_EQ(t.term.cursor_row(), c.row);
        EXPECT_EQ(t.term.cursor_column(), c.col);
    }
    EXPECT_EQ(t.replies, c.replies);
}

INSTANTIATE_TEST_SUITE_P(Stream, VtCases, ::testing::Combine(::testing::ValuesIn(cases), ::testing::Bool()),
                         [](const auto& info) {
                             return std::string(std::get<0>(info.param).name) +
                                    (std::get<1>(info.param) ? "_one_write" : "_bytewise");
                         });

}  // namespace
