// How control strings (DCS, OSC, SOS, PM, APC) end, in both emulations, byte by byte and in one write: nothing
// inside them is shown, and no string outlives CAN, SUB or an escape sequence. And sequences meant for other
// terminals, or with markers no handler takes, change nothing and send nothing.
#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "term_fixture.h"
#include "terminal/screen_dump.h"

namespace {

const std::string E = "\x1b";
const std::string C = "\x1b[";

struct introducer {
    const char* name;
    std::string bytes;
    bool osc;        // BEL ends it
    bool eight_bit;  // a C1 byte: only byte mode acts on it
};

const std::vector<introducer> introducers = {
    {"dcs", E + "P", false, false},  {"dcs_8bit", "\x90", false, true}, {"dcs_decrqss", E + "P$q", false, false},
    {"osc", E + "]0;", true, false}, {"sos", E + "X", false, false},    {"pm", E + "^", false, false},
    {"apc", E + "_", false, false},
};

enum class after { ended, ignored, reset, next_line };

struct ending {
    const char* name;
    std::string bytes;
    after bytes_mode;  // what it does in byte mode
    after utf8_mode;
};

const std::vector<ending> endings = {
    {"can", "\x18", after::ended, after::ended},
    {"sub", "\x1a", after::ended, after::ended},
    {"st", E + "\\", after::ended, after::ended},
    // In UTF-8, 0x9C is a continuation byte of the string's own text.
    {"st_8bit", "\x9c", after::ended, after::ignored},
    {"bel", "\x07", after::ignored, after::ignored},  // OSC only: see the test
    {"esc_c_resets", E + "c", after::reset, after::reset},
    {"esc_e_moves", E + "E", after::next_line, after::next_line},
};

using ending_param = std::tuple<introducer, ending, bool /*xterm*/, bool /*utf8*/, bool /*one_write*/>;

std::string ending_name(const ending_param& p) {
    return std::string(std::get<0>(p).name) + "_" + std::get<1>(p).name + (std::get<2>(p) ? "_xterm" : "_vt220") +
           (std::get<3>(p) ? "_utf8" : "_bytes") + (std::get<4>(p) ? "_one_write" : "_bytewise");
}

// Every introducer, ending, emulation, mode and way of feeding, but 0x90 with UTF-8 on: it is no introducer there.
std::vector<ending_param> ending_params() {
    std::vector<ending_param> all;
    for (const introducer& i : introducers)
        for (const ending& e : endings)
            for (const bool xterm : {false, true})
                for (const bool utf8 : {false, true})
                    for (const bool one_write : {false, true})
                        if (!(i.eight_bit && utf8)) all.emplace_back(i, e, xterm, utf8, one_write);
    return all;
}

void PrintTo(const ending_param& p, std::ostream* os) { *os << ending_name(p); }

class VtStringEnding : public ::testing::TestWithParam<ending_param> {};

TEST_P(VtStringEnding, TextAfterTheEndShowsAndNothingInsideDoes) {
    const auto& [intro, end, xterm, utf8, one_write] = GetParam();
    term_fixture t;
    t.term.set_emulation(xterm ? emulation::xterm : emulation::vt220);
    t.term.options().utf8 = utf8;
    // What follows the string: X, then CAN (which ends a string still open) and Y.
    t.feed("ab" + intro.bytes + "in\rside" + end.bytes + "X\x18Y", one_write);
    after a = utf8 ? end.utf8_mode : end.bytes_mode;
    if (end.bytes == "\x07" && intro.osc) a = after::ended;
    switch (a) {
    case after::ended: EXPECT_EQ(t.text(1), "abXY"); break;
    case after::ignored: EXPECT_EQ(t.text(1), "abY"); break;
    case after::reset: EXPECT_EQ(t.text(1), "XY"); break;
    case after::next_line:
        EXPECT_EQ(t.text(1), "ab");
        EXPECT_EQ(t.text(2), "XY");
        break;
    }
    EXPECT_EQ(t.term.parser_state(), 0);
    // An xterm DECRQSS properly ended is answered (this request, "in\rside", as unknown); aborted, never.
    const bool answered =
        xterm && intro.bytes == E + "P$q" && a == after::ended && end.bytes != "\x18" && end.bytes != "\x1a";
    EXPECT_EQ(t.replies, answered ? E + "P0$r" + E + "\\" : "");
    EXPECT_EQ(t.host.bells, 0);
}

INSTANTIATE_TEST_SUITE_P(All, VtStringEnding, ::testing::ValuesIn(ending_params()),
                         [](const auto& info) { return ending_name(info.param); });

// A C1 byte inside a control string in byte mode, as xterm and VT500-style parsers take it: the string is aborted
// (a DECRQSS is not answered) and the byte acts as in the ground state, so IND, RI, CSI and DCS take effect and
// the C1 bytes the ground state prints are dropped with the string; 0x9C ends it properly. With UTF-8 on the byte
// is the string's own text and the string goes on to the CAN. The cursor starts on row 2 after "ab".
struct c1_case {
    const char* name;
    char byte;
    std::string after;              // fed after the C1 byte, then CAN and Y
    std::vector<std::string> rows;  // rows 1..3 in byte mode
};

const std::vector<c1_case> c1_cases = {
    {"ind", '\x84', "X", {"", "ab", "  XY"}},         {"ri", '\x8d', "X", {"  XY", "ab", ""}},
    {"ss3_dropped", '\x8f', "X", {"", "abXY", ""}},   {"dcs_opens_another", '\x90', "X", {"", "abY", ""}},
    {"csi", '\x9b', "CX", {"", "ab XY", ""}},         {"nel_dropped", '\x85', "X", {"", "abXY", ""}},
    {"hts_dropped", '\x88', "X", {"", "abXY", ""}},   {"first_c1_dropped", '\x80', "X", {"", "abXY", ""}},
    {"decid_dropped", '\x9a', "X", {"", "abXY", ""}}, {"osc_dropped", '\x9d', "X", {"", "abXY", ""}},
    {"apc_dropped", '\x9f', "X", {"", "abXY", ""}},   {"st_ends", '\x9c', "X", {"", "abXY", ""}},
};

using c1_param = std::tuple<c1_case, introducer, bool /*xterm*/, bool /*utf8*/, bool /*one_write*/>;

std::vector<c1_param> c1_params() {
    std::vector<c1_param> all;
    for (const c1_case& c : c1_cases)
        for (const introducer& i : introducers)
            for (const bool xterm : {false, true})
                for (const bool utf8 : {false, true})
                    for (const bool one_write : {false, true})
                        if (!(i.eight_bit && utf8)) all.emplace_back(c, i, xterm, utf8, one_write);
    return all;
}

class VtStringC1 : public ::testing::TestWithParam<c1_param> {};

TEST_P(VtStringC1, AbortsTheStringAndActsInByteMode) {
    const auto& [c, intro, xterm, utf8, one_write] = GetParam();
    term_fixture t;
    t.term.set_emulation(xterm ? emulation::xterm : emulation::vt220);
    t.term.options().utf8 = utf8;
    t.feed("\r\nab" + intro.bytes + "in" + c.byte + c.after + "\x18Y", one_write);
    const std::vector<std::string> rows = utf8 ? std::vector<std::string>{"", "abY", ""} : c.rows;
    for (int r = 1; r <= 3; ++r) EXPECT_EQ(t.text(r), rows[size_t(r - 1)]) << "row " << r;
    EXPECT_EQ(t.term.parser_state(), 0);
    const bool answered = xterm && !utf8 && c.byte == '\x9c' && intro.bytes == E + "P$q";
    EXPECT_EQ(t.replies, answered ? "\x1bP0$r\x1b\\" : "");
}

std::string c1_name(const c1_param& p) {
    return std::string(std::get<0>(p).name) + "_" + std::get<1>(p).name + (std::get<2>(p) ? "_xterm" : "_vt220") +
           (std::get<3>(p) ? "_utf8" : "_bytes") + (std::get<4>(p) ? "_one_write" : "_bytewise");
}

INSTANTIATE_TEST_SUITE_P(Cases, VtStringC1, ::testing::ValuesIn(c1_params()),
                         [](const auto& info) { return c1_name(info.param); });

// Text that holds byte 0x90 in the classic defaults (VT220, byte mode) opens a DCS, but the next escape sequence
// ends it: a shell's prompt, or reset, brings the screen back. With UTF-8 on, 0x90 inside a character is never C1.
struct text_case {
    const char* name;
    bool utf8;
    std::string input;
    std::vector<std::string> rows;
};

const std::vector<text_case> text_cases = {
    // 0x8D right after the 0x90 aborts the string and reverse-indexes (as in xterm): the first row scrolls down.
    {"snake_then_prompt", false, "\xF0\x9F\x90\x8D lost\r\n" + C + "Kprompt$ ", {"   lost", "prompt$"}},
    {"dcs_then_prompt", false, "\xD0\x90 lost\r\n" + C + "Kprompt$ ", {"\xD0prompt$"}},
    {"cyrillic_then_reset", false, "\xD0\x90\xD0\x91" + E + "cX", {"X"}},
    {"dcs_then_reset_sequence", false, E + "P" + E + "c" + E + "[!p" + E + "[?3;4l" + E + "[4lX", {"X"}},
    {"utf8_snake",
     true,
     "\xF0\x9F\x90\x8D"
     "X",
     {"\x0D X"}},
    {"utf8_cyrillic",
     true,
     "\xD0\x90\xD0\x91"
     "X",
     {"\x10\x11X"}},
};

class VtStrayIntroducer : public ::testing::TestWithParam<std::tuple<text_case, bool>> {};

TEST_P(VtStrayIntroducer, LaterOutputShows) {
    const auto& [c, one_write] = GetParam();
    term_fixture t;
    t.term.options().utf8 = c.utf8;
    t.feed(c.input, one_write);
    for (size_t r = 0; r < c.rows.size(); ++r) EXPECT_EQ(t.text(int(r) + 1), c.rows[r]) << "row " << r + 1;
    EXPECT_EQ(t.term.parser_state(), 0);
}

INSTANTIATE_TEST_SUITE_P(Cases, VtStrayIntroducer,
                         ::testing::Combine(::testing::ValuesIn(text_cases), ::testing::Bool()), [](const auto& info) {
                             return std::string(std::get<0>(info.param).name) +
                                    (std::get<1>(info.param) ? "_one_write" : "_bytewise");
                         });

// ---------------------------------------------------------------------------------------------------------------
// Each sequence, fed between the same setup and the same text, leaves the screen, cursor, modes and replies exactly
// as the setup and text alone do.

enum class where { both, xterm_only };

struct silent_case {
    const char* name;
    std::string seq;
    where in = where::both;
};

const std::vector<silent_case> silent_cases = {
    {"xtrestore_is_not_decstbm", C + "?1001r"},
    {"xtrestore_nothing_saved", C + "?25;7r"},
    {"xtsave", C + "?1001s"},
    {"xtsave_empty", C + "?s"},
    {"decstbm_with_greater", C + ">2;5r"},
    {"xtsmpointer", C + ">1p"},
    {"xtsmpointer_default", C + ">p"},
    {"csi_p_in_xterm_is_no_split", C + "2p", where::xterm_only},
    {"csi_s_with_greater", C + ">1s"},
    {"kitty_query", C + "?u"},
    {"kitty_query_less", C + "<u"},
    {"kitty_push", C + ">1u"},
    {"kitty_pop", C + "<1u"},
    {"kitty_set", C + "=1;1u"},
    {"da3", C + "=c"},
    {"da_with_less", C + "<c"},
    {"da_response_from_a_terminal", C + "?62;1;6c"},
    {"decll", C + "1q"},
    {"q_with_less", C + "<q"},
    {"q_with_equals", C + "=5q"},
    {"sgr_mouse_press_bytes", C + "<0;10;5M"},
    {"sgr_mouse_release_bytes", C + "<0;10;5m"},
    {"xtsmgraphics_is_no_scroll", C + "?1;1;0S"},
    {"decsace_intermediate", C + "2*x"},
    {"xtpushcolors_intermediate", C + "#P"},
    {"equals_then_erase", C + "=2J"},
    {"esc_percent_g", E + "%G"},
    {"esc_percent_at", E + "%@"},
    {"sos_string", E + "Xsome text" + E + "\\"},
};

struct silent_param {
    silent_case c;
    bool xterm, one_write;
};

std::vector<silent_param> silent_params() {
    std::vector<silent_param> all;
    for (const silent_case& c : silent_cases)
        for (const bool xterm : {false, true})
            for (const bool one_write : {false, true})
                if (xterm || c.in == where::both) all.push_back({c, xterm, one_write});
    return all;
}

// Text on every row, a scrolling region, bold, the cursor mid-screen: what a stray DECSTBM, scroll, erase or
// reset would visibly change.
std::string silent_setup() {
    std::string s = C + "1m";
    for (int r = 1; r <= screen_rows; ++r) s += C + std::to_string(r) + ";1Hrow " + std::to_string(r);
    return s + C + "3;20r" + C + "7;9H";
}

std::string state_after(const silent_param& p, const std::string& seq) {
    term_fixture t;
    t.term.set_emulation(p.xterm ? emulation::xterm : emulation::vt220);
    t.feed(silent_setup() + seq + "X\nY", p.one_write);
    dump_extras extras;
    extras.replies = t.replies;
    std::string s = screen_dump_json(t.term, extras);
    for (const int v : {t.term.top_margin(), t.term.bottom_margin(), t.term.left_margin(), t.term.right_margin(),
                        t.term.parser_state(), t.reply_count})
        s += " " + std::to_string(v);
    return s;
}

class VtSilentSequence : public ::testing::TestWithParam<silent_param> {};

TEST_P(VtSilentSequence, ChangesNothingAndSendsNothing) {
    const silent_param& p = GetParam();
    EXPECT_EQ(state_after(p, p.c.seq), state_after(p, ""));
}

INSTANTIATE_TEST_SUITE_P(Cases, VtSilentSequence, ::testing::ValuesIn(silent_params()), [](const auto& info) {
    return std::string(info.param.c.name) + (info.param.xterm ? "_xterm" : "_vt220") +
           (info.param.one_write ? "_one_write" : "_bytewise");
});

}  // namespace

namespace {

// XTSAVE and XTRESTORE (xterm): a saved private mode comes back whatever it was set to in between; one never saved
// stays as it is.
TEST(VtSavedModes, RestoreBringsBackTheSavedValue) {
    struct row {
        int mode;
        bool (*get)(const vt&);
    };
    const row rows[] = {
        {7, [](const vt& v) { return v.auto_wrap_mode() != 0; }},
        {25, [](const vt& v) { return v.cursor_visible() != 0; }},
        {2004, [](const vt& v) { return v.bracketed_paste(); }},
        {1004, [](const vt& v) { return v.focus_events(); }},
        {69, [](const vt& v) { return v.left_right_mode(); }},
    };
    for (const row& r : rows)
        for (const bool saved : {false, true}) {
            term_fixture t;
            t.term.set_emulation(emulation::xterm);
            const std::string m = std::to_string(r.mode);
            t.feed(C + "?" + m + (saved ? "h" : "l") + C + "?" + m + "s" + C + "?" + m + (saved ? "l" : "h"));
            EXPECT_NE(r.get(t.term), saved) << r.mode;
            t.feed(C + "?" + m + "r");
            EXPECT_EQ(r.get(t.term), saved) << r.mode;
            t.feed(C + "?" + m + (saved ? "l" : "h") + C + "?1001r");
            EXPECT_NE(r.get(t.term), saved) << r.mode << " restored by another mode's number";
        }
}

}  // namespace
