// How control strings (DCS, OSC, SOS, PM, APC) end, in both emulations, byte by byte and in one write: nothing
// inside them is shown, and no string outlives CAN, SUB or an escape sequence.
#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "term_fixture.h"

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
    EXPECT_TRUE(t.replies.empty()) << t.replies;
    EXPECT_EQ(t.host.bells, 0);
}

INSTANTIATE_TEST_SUITE_P(All, VtStringEnding, ::testing::ValuesIn(ending_params()),
                         [](const auto& info) { return ending_name(info.param); });

// Text that holds byte 0x90 in the classic defaults (VT220, byte mode) opens a DCS, but the next escape sequence
// ends it: a shell's prompt, or reset, brings the screen back. With UTF-8 on, 0x90 inside a character is never C1.
struct text_case {
    const char* name;
    bool utf8;
    std::string input;
    std::vector<std::string> rows;
};

const std::vector<text_case> text_cases = {
    // The line feed is inside the string; the prompt's first sequence ends it.
    {"snake_then_prompt", false, "\xF0\x9F\x90\x8D lost\r\n" + C + "Kprompt$ ", {"\xF0\x9Fprompt$"}},
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

}  // namespace
