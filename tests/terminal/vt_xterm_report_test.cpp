// The xterm emulation's modes and reports: mouse and focus modes with DECRQM, window reports, colour set and
// query, hyperlinks, clipboard writes; and the Qt-free encoders behind them (mouse reports, colour texts, base64).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "term_fixture.h"
#include "terminal/mouse.h"
#include "terminal/osc.h"

namespace {

const std::string E = "\x1b";
const std::string C = "\x1b[";
const std::string ST = "\x1b\\";

struct report_case {
    const char* name;
    std::string input;
    std::string replies;
    bool xterm = true;
    mouse_tracking tracking = mouse_tracking::off;
    mouse_encoding encoding = mouse_encoding::x10;
    bool focus = false;
};

const std::vector<report_case> report_cases = {
    {"tracking_1000", C + "?1000h", "", true, mouse_tracking::normal},
    {"tracking_last_wins", C + "?1000h" + C + "?1003h", "", true, mouse_tracking::any},
    {"reset_other_mode_keeps", C + "?1002h" + C + "?1000l", "", true, mouse_tracking::button},
    {"reset_same_mode_ends", C + "?1002h" + C + "?1002l", "", true, mouse_tracking::off},
    {"x10_mode", C + "?9h", "", true, mouse_tracking::x10},
    {"sgr_encoding", C + "?1000;1006h", "", true, mouse_tracking::normal, mouse_encoding::sgr},
    {"encoding_reset", C + "?1015h" + C + "?1015l", "", true, mouse_tracking::off, mouse_encoding::x10},
    {"focus_on", C + "?1004h", "", true, mouse_tracking::off, mouse_encoding::x10, true},
    {"ris_ends_modes", C + "?1003;1006;1004h" + E + "c", ""},
    {"vt220_ignores_mouse_and_focus", C + "?1000;1006;1004h", "", false},
    {"decrqm_set", C + "?1000h" + C + "?1000$p", "\x1b[?1000;1$y", true, mouse_tracking::normal},
    {"decrqm_reset", C + "?2004$p", "\x1b[?2004;2$y"},
    {"decrqm_unknown", C + "?1234$p", "\x1b[?1234;0$y"},
    {"decrqm_wrap_default_set", C + "?7$p", "\x1b[?7;1$y"},
    {"decrqm_ansi_insert", C + "4h" + C + "4$p", "\x1b[4;1$y"},
    {"decrqm_alternate", C + "?1049h" + C + "?1049$p" + C + "?1049l" + C + "?47$p", "\x1b[?1049;1$y\x1b[?47;2$y"},
    {"decrqm_not_in_vt220", C + "?7$p", "", false},
    {"window_state", C + "11t", "\x1b[1t"},
    {"window_position", C + "13t", "\x1b[3;0;0t"},
    {"text_area_pixels", C + "14t", "\x1b[4;384;640t"},
    {"cell_pixels", C + "16t", "\x1b[6;16;8t"},
    {"text_area_chars", C + "18t" + C + "19t", "\x1b[8;24;80t\x1b[9;24;80t"},
    {"no_move_resize_or_title_readback", C + "3;10;10t" + C + "8;50;100t" + C + "21t" + C + "20t" + C + "2t", ""},
    {"window_reports_not_in_vt220", C + "18t", "", false},
    {"palette_query_bel", E + "]4;1;?\x07", "\x1b]4;1;rgb:cdcd/0000/0000\x07"},
    {"palette_query_st", E + "]4;196;?" + ST, "\x1b]4;196;rgb:ffff/0000/0000\x1b\\"},
    {"palette_set_then_query_two", E + "]4;1;#102030;2;?\x07" + E + "]4;1;?\x07",
     "\x1b]4;2;rgb:0000/cdcd/0000\x07\x1b]4;1;rgb:1010/2020/3030\x07"},
    {"palette_reset_one", E + "]4;3;rgb:1/2/3\x07" + E + "]104;3\x07" + E + "]4;3;?\x07",
     "\x1b]4;3;rgb:cdcd/cdcd/0000\x07"},
    {"palette_bad_index_stops", E + "]4;256;?;1;?\x07", ""},
    {"foreground_query_gives_users", E + "]10;?\x07", "\x1b]10;rgb:0000/0000/0000\x07"},
    {"background_set_query_reset", E + "]11;rgb:ff/80/00\x07" + E + "]11;?\x07" + E + "]111\x07" + E + "]11;?\x07",
     "\x1b]11;rgb:ffff/8080/0000\x07\x1b]11;rgb:ffff/ffff/ffff\x07"},
    {"osc10_runs_on_to_11", E + "]10;#000000;?\x07", "\x1b]11;rgb:ffff/ffff/ffff\x07"},
    {"colour_query_not_in_vt220", E + "]4;1;?\x07", "", false},
};

void PrintTo(const report_case& c, std::ostream* os) { *os << c.name; }

class XtermReports : public ::testing::TestWithParam<std::tuple<report_case, bool>> {};

TEST_P(XtermReports, ModesAndAnswers) {
    const auto& [c, one_write] = GetParam();
    term_fixture t;
    if (c.xterm) t.term.set_emulation(emulation::xterm);
    t.feed(c.input, one_write);
    EXPECT_EQ(t.replies, c.replies);
    EXPECT_EQ(t.term.mouse_mode(), c.tracking);
    EXPECT_EQ(t.term.mouse_coding(), c.encoding);
    EXPECT_EQ(t.term.focus_events(), c.focus);
}

INSTANTIATE_TEST_SUITE_P(Stream, XtermReports, ::testing::Combine(::testing::ValuesIn(report_cases), ::testing::Bool()),
                         [](const auto& info) {
                             return std::string(std::get<0>(info.param).name) +
                                    (std::get<1>(info.param) ? "_one_write" : "_bytewise");
                         });

TEST(XtermColours, SetColoursAreSeenByTheDisplayAndResetByRis) {
    term_fixture t;
    t.term.set_emulation(emulation::xterm);
    t.feed(E + "]4;17;#abcdef\x07" + E + "]12;#00ff00\x07");
    EXPECT_EQ(t.term.palette()[17], 0xabcdefu);
    EXPECT_EQ(t.term.special(special_cursor), 0x00ff00u);
    EXPECT_EQ(t.term.special(special_fg), colour_unset);
    EXPECT_EQ(t.host.colour_changes, 2);
    t.feed(E + "]4;17;#abcdef\x07");  // no change, no repaint
    EXPECT_EQ(t.host.colour_changes, 2);
    t.feed(E + "c");
    EXPECT_EQ(t.term.palette()[17], xterm_colour(17));
    EXPECT_EQ(t.term.special(special_cursor), colour_unset);
    EXPECT_EQ(t.host.colour_changes, 3);
}

TEST(XtermLinks, TextBetweenOpenAndCloseCarriesTheUriAndSgrKeepsIt) {
    term_fixture t;
    t.term.set_emulation(emulation::xterm);
    t.feed("a" + E + "]8;;https://example.org/x\x07" + "bc" + C + "0m" + "d" + E + "]8;;" + ST + "e");
    auto uri = [&](int col) { return std::string(t.term.link_uri(t.ring->line(1).extra[col - 1])); };
    EXPECT_EQ(uri(1), "");
    EXPECT_EQ(uri(2), "https://example.org/x");
    EXPECT_EQ(uri(4), "https://example.org/x");
    EXPECT_EQ(uri(5), "");
    // The link number never shows as an attribute.
    EXPECT_EQ(t.ring->line(1).extra[1] & ~extra_link_mask, 0);
}

TEST(XtermLinks, NumbersAreReusedOnlyWhenNoCellHoldsThem) {
    term_fixture t;
    t.term.set_emulation(emulation::xterm);
    // The first link stays on screen; the next ones are overwritten in place so their numbers fall free.
    t.feed(E + "]8;;keep\x07K" + E + "]8;;\x07");
    for (int i = 0; i < vt_link_slots + 20; ++i)
        t.feed(C + "1;2H" + E + "]8;;u" + std::to_string(i) + "\x07" + "x" + E + "]8;;\x07");
    EXPECT_EQ(t.term.link_uri(t.ring->line(1).extra[0]), "keep");
    EXPECT_EQ(t.term.link_uri(t.ring->line(1).extra[1]), "u" + std::to_string(vt_link_slots + 19));
}

TEST(XtermLinks, Vt220HasNone) {
    term_fixture t;
    t.feed(E + "]8;;https://x\x07" + "ab");
    EXPECT_EQ(t.ring->line(1).extra[0], 0);
    EXPECT_EQ(t.text(1), "ab");
}

TEST(XtermClipboard, WrittenOnlyWhenAllowedAndNeverRead) {
    term_fixture t;
    t.term.set_emulation(emulation::xterm);
    t.feed(E + "]52;c;aGVsbG8=\x07");
    EXPECT_TRUE(t.host.clipboard.empty());
    t.term.options().clipboard_write = true;
    t.feed(E + "]52;c;aGVsbG8=\x07" + E + "]52;c;?\x07" + E + "]52;c;!!\x07");
    EXPECT_EQ(t.host.clipboard, std::vector<std::string>{"hello"});
    EXPECT_EQ(t.replies, "");
    // A long write (beyond the ordinary OSC limit) arrives whole.
    const std::string big(30000, 'A');
    t.feed(E + "]52;c;" + big + "\x07");
    ASSERT_EQ(t.host.clipboard.size(), 2u);
    EXPECT_EQ(t.host.clipboard[1].size(), 22500u);
}

struct mouse_case {
    const char* name;
    mouse_tracking tracking;
    mouse_encoding encoding;
    mouse_event ev;
    std::string bytes;
};

const mouse_event press_left{mouse_event::press, 0, 3, 5};
const mouse_event release_right{mouse_event::release, 2, 3, 5};
const mouse_event drag_left{mouse_event::motion, 0, 4, 6};
const mouse_event hover{mouse_event::motion, 3, 4, 6};
const mouse_event wheel_down{mouse_event::wheel_down, 0, 1, 1};
const mouse_event ctrl_shift_press{mouse_event::press, 1, 2, 2, true, false, true};
const mouse_event far{mouse_event::press, 0, 10, 300};

const std::vector<mouse_case> mouse_cases = {
    {"off", mouse_tracking::off, mouse_encoding::sgr, press_left, ""},
    {"x10_press", mouse_tracking::x10, mouse_encoding::x10, press_left, "\x1b[M %#"},
    {"x10_no_release", mouse_tracking::x10, mouse_encoding::x10, release_right, ""},
    {"x10_no_modifiers", mouse_tracking::x10, mouse_encoding::x10, ctrl_shift_press, "\x1b[M!\"\""},
    {"normal_release_is_3", mouse_tracking::normal, mouse_encoding::x10, release_right, "\x1b[M#%#"},
    {"normal_no_motion", mouse_tracking::normal, mouse_encoding::x10, drag_left, ""},
    {"button_drag", mouse_tracking::button, mouse_encoding::x10, drag_left, "\x1b[M@&$"},
    {"button_no_hover", mouse_tracking::button, mouse_encoding::sgr, hover, ""},
    {"any_hover", mouse_tracking::any, mouse_encoding::sgr, hover, "\x1b[<35;6;4M"},
    {"modifiers", mouse_tracking::normal, mouse_encoding::sgr, ctrl_shift_press, "\x1b[<21;2;2M"},
    {"sgr_release_names_button", mouse_tracking::normal, mouse_encoding::sgr, release_right, "\x1b[<2;5;3m"},
    {"wheel", mouse_tracking::normal, mouse_encoding::sgr, wheel_down, "\x1b[<65;1;1M"},
    {"x10_no_wheel", mouse_tracking::x10, mouse_encoding::x10, wheel_down, ""},
    {"urxvt", mouse_tracking::normal, mouse_encoding::urxvt, press_left, "\x1b[32;5;3M"},
    {"default_too_far", mouse_tracking::normal, mouse_encoding::x10, far, ""},
    {"utf8_far", mouse_tracking::normal, mouse_encoding::utf8, far, "\x1b[M \xc5\x8c*"},
    {"sgr_far", mouse_tracking::normal, mouse_encoding::sgr, far, "\x1b[<0;300;10M"},
};

TEST(MouseEncoding, Table) {
    for (const auto& c : mouse_cases) {
        char out[mouse_report_capacity];
        const size_t n = encode_mouse(c.tracking, c.encoding, c.ev, out);
        EXPECT_EQ(std::string(out, n), c.bytes) << c.name;
    }
}

TEST(OscPieces, ColourSpecs) {
    const std::pair<const char*, long long> table[] = {
        {"rgb:ff/80/00", 0xff8000},
        {"rgb:f/8/0", 0xff8800},
        {"rgb:ffff/0000/8080", 0xff0080},
        {"rgb:1/2", -1},
        {"rgb:1/2/3/4", -1},
        {"rgb:12345/0/0", -1},
        {"rgb:g/0/0", -1},
        {"#fff", 0xf0f0f0},
        {"#102030", 0x102030},
        {"#123456789", 0x124578},
        {"#1234", -1},
        {"red", -1},
        {"", -1},
        {"rgb://", -1},
    };
    for (const auto& [text, want] : table) {
        const auto got = parse_colour_text(text);
        EXPECT_EQ(got ? (long long)*got : -1, want) << text;
    }
    EXPECT_EQ(colour_answer(0x01ff80), "rgb:0101/ffff/8080");
}

TEST(OscPieces, Base64) {
    EXPECT_EQ(base64_decode("aGVsbG8=", 100), "hello");
    EXPECT_EQ(base64_decode("aGVsbG8", 100), "hello");
    EXPECT_EQ(base64_decode("", 100), "");
    EXPECT_EQ(base64_decode("/+8=", 100), "\xff\xef");
    EXPECT_FALSE(base64_decode("aGV*bG8=", 100));
    EXPECT_FALSE(base64_decode("a", 100));
    EXPECT_FALSE(base64_decode("aGVsbG8=", 4));
}

}  // namespace
