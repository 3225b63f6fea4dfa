// OSC 7: the folder a shell reports, in both emulations, byte by byte and in one write.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "term_fixture.h"

namespace {

const std::string E = "\x1b";
const std::string ST = "\x1b\\";

struct folder_case {
    const char* name;
    std::string input;
    std::string folder;  // expected afterwards
    std::string host = {};
    std::string row1 = {};  // what the screen's first row shows
    bool xterm = false;
    bool utf8 = false;
};

const std::vector<folder_case> cases = {
    {.name = "bel_ends_it", .input = E + "]7;file://box/home/u\a", .folder = "/home/u", .host = "box"},
    {.name = "st_ends_it", .input = E + "]7;file://box/tmp" + ST, .folder = "/tmp", .host = "box"},
    {.name = "xterm_too", .input = E + "]7;file://h/srv" + ST, .folder = "/srv", .host = "h", .xterm = true},
    {.name = "empty_host", .input = E + "]7;file:///var/log\a", .folder = "/var/log"},
    {.name = "scheme_any_case", .input = E + "]7;FILE://h/x\a", .folder = "/x", .host = "h"},
    {.name = "percent_decoded", .input = E + "]7;file://h/a%20b/%41%2f\a", .folder = "/a b/A/", .host = "h"},
    {.name = "utf8_bytes",
     .input = E + "]7;file://h/%E2%82%AC/\xc3\xa9\a",
     .folder = "/\xe2\x82\xac/\xc3\xa9",
     .host = "h",
     .utf8 = true},
    {.name = "lone_percent_kept", .input = E + "]7;file://h/100%/x%4\a", .folder = "/100%/x%4", .host = "h"},
    {.name = "later_report_wins",
     .input = E + "]7;file://h/one\a" + E + "]7;file://h/two\a",
     .folder = "/two",
     .host = "h"},
    {.name = "text_after_shows", .input = E + "]7;file://h/d\aok", .folder = "/d", .host = "h", .row1 = "ok"},
    // Refused reports leave the folder as the first report set it.
    {.name = "other_scheme_ignored",
     .input = E + "]7;file://h/keep\a" + E + "]7;http://h/web\a",
     .folder = "/keep",
     .host = "h"},
    {.name = "no_path_ignored",
     .input = E + "]7;file://h/keep\a" + E + "]7;file://other\a",
     .folder = "/keep",
     .host = "h"},
    {.name = "encoded_nul_ignored",
     .input = E + "]7;file://h/keep\a" + E + "]7;file://h/a%00b\a",
     .folder = "/keep",
     .host = "h"},
    {.name = "cut_report_ignored",
     .input = E + "]7;file://h/keep\a" + E + "]7;file://h/" + std::string(vt_osc_limit, 'a') + "\a",
     .folder = "/keep",
     .host = "h"},
    {.name = "longest_report_taken",
     .input = E + "]7;file://h/" + std::string(vt_osc_limit - 11, 'a') + "\a",
     .folder = "/" + std::string(vt_osc_limit - 11, 'a'),
     .host = "h"},
    {.name = "can_aborts", .input = E + "]7;file://h/x\x18y", .folder = "", .row1 = "y"},
    {.name = "other_osc_not_a_folder", .input = E + "]70;file://h/x\a" + E + "]2;file://h/t\a", .folder = ""},
    {.name = "vt220_other_osc_stays_silent", .input = E + "]0;title\az", .folder = "", .row1 = "z"},
    {.name = "code_needs_its_semicolon", .input = E + "]7file://h/x\a", .folder = ""},
};

class osc7 : public ::testing::TestWithParam<std::pair<folder_case, bool>> {};

TEST_P(osc7, folder_after_the_stream) {
    const auto& [c, one_write] = GetParam();
    term_fixture t;
    if (c.xterm) t.term.set_emulation(emulation::xterm);
    t.term.options().utf8 = c.utf8;
    t.feed(c.input, one_write);
    EXPECT_EQ(t.term.current_folder(), c.folder);
    EXPECT_EQ(t.term.current_folder_host(), c.host);
    EXPECT_EQ(t.text(1), c.row1);
    EXPECT_TRUE(t.host.titles.empty());
    EXPECT_TRUE(t.replies.empty());
}

std::vector<std::pair<folder_case, bool>> all_cases() {
    std::vector<std::pair<folder_case, bool>> out;
    for (const auto& c : cases)
        for (bool one : {false, true}) out.emplace_back(c, one);
    return out;
}

INSTANTIATE_TEST_SUITE_P(streams, osc7, ::testing::ValuesIn(all_cases()), [](const auto& info) {
    return std::string(info.param.first.name) + (info.param.second ? "_one_write" : "_bytewise");
});

// A new connection (reset_parser) forgets the last host's folder.
TEST(osc7_reset, new_connection_forgets_the_folder) {
    term_fixture t;
    t.feed(E + "]7;file://h/home/u\a");
    ASSERT_EQ(t.term.current_folder(), "/home/u");
    t.term.reset_parser();
    EXPECT_EQ(t.term.current_folder(), "");
    EXPECT_EQ(t.term.current_folder_host(), "");
}

}  // namespace
