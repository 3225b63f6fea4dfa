// The plain and JSON screen dumps the headless tools print (JSON syntax is checked by a real parser in
// vtreplay_cli_test.py).
#include <gtest/gtest.h>

#include <string>

#include "term_fixture.h"
#include "terminal/screen_dump.h"

namespace {

const std::string C = "\x1b[";

size_t count(const std::string& s, const std::string& what) {
    size_t n = 0;
    for (size_t p = s.find(what); p != std::string::npos; p = s.find(what, p + 1)) ++n;
    return n;
}

TEST(ScreenDump, PlainIs24FullWidthLinesInUtf8) {
    term_fixture t;
    t.feed("A\xe9\x85"
           "B\r\n\x7f");
    const std::string out = screen_dump_plain(*t.ring);
    EXPECT_EQ(count(out, "\n"), 24u);
    EXPECT_EQ(out.substr(0, 7), "A\xc3\xa9\xc2\x85"
                                "B ");
    // First line: 4 characters, two of them two bytes long, then 76 spaces.
    EXPECT_EQ(out.find('\n'), size_t(80 + 2));
    EXPECT_EQ(out.substr(83, 1), "\x7f");

    t.term.set_columns(132);
    const std::string wide = screen_dump_plain(*t.ring);
    EXPECT_EQ(wide.size(), size_t(24 * 133 + 2));
}

TEST(ScreenDump, JsonCarriesCursorModesLinesAndReplies) {
    term_fixture t;
    t.feed(C + "1;4;5;7mX" + C + "0m" + "\x0eq\x0f" + C + "1\"qP" + C + "0\"q" + C + "?25l" + C + "4h" + C + "12h" +
           "\x1b#6" + C + "3;7r" + C + "6n" + C + "?5h");
    dump_extras x;
    x.replies = t.replies;
    x.reverse_screen = t.host.reverse == 1;
    x.local_echo = t.host.local_echo == 1;
    const std::string out = screen_dump_json(t.term, x);
    EXPECT_EQ(out.rfind("{\"rows\":24,\"cols\":80,\"cursor\":{\"row\":3,\"col\":1,\"visible\":false},", 0), 0u);
    EXPECT_NE(out.find("\"modes\":{\"app_keys\":0,\"vt52_mode\":0,\"vt100_level\":0,\"c1_8bit\":0,\"auto_repeat\":1,"
                       "\"new_line_mode\":0,\"insert_mode\":1,\"origin_mode\":0,\"auto_wrap_mode\":1,"
                       "\"pending_wrap\":0,\"reverse_screen\":1,\"printer_controller\":0,\"local_echo\":0,"
                       "\"top_margin\":3,\"bottom_margin\":7}"),
              std::string::npos);
    EXPECT_NE(out.find("{\"text\":\"XqP" + std::string(77, ' ') + "\",\"attrs\":[15,32,64,0,"), std::string::npos);
    EXPECT_EQ(count(out, "\"line_attr\":"), 24u);
    EXPECT_EQ(count(out, "\"line_attr\":0"), 23u);
    EXPECT_NE(out.find("\"line_attr\":1}"), std::string::npos);
    EXPECT_EQ(out.find("\"history\""), std::string::npos);
    EXPECT_NE(out.find("\"replies\":\"1b5b333b3152\"}"), std::string::npos);
}

TEST(ScreenDump, JsonHasColoursAndFurtherAttributesPerCell) {
    term_fixture t;
    std::string out = screen_dump_json(t.term, {});
    const std::string plain80 = "-1" + [] {
        std::string s;
        for (int i = 1; i < 80; ++i) s += ",-1";
        return s;
    }();
    // The VT220 line: every cell default.
    EXPECT_NE(out.find("\"fg\":[" + plain80 + "],\"bg\":[" + plain80 + "],\"line_attr\":0}"), std::string::npos);
    t.term.options().sgr = sgr_profile::xterm;
    t.feed(C + "2;3;9;8;21;53m" + C + "38;5;200mA" + C + "0;48:2::1:2:3;1mB" + C + "0;97;4mC");
    out = screen_dump_json(t.term, {});
    EXPECT_NE(out.find("\"attrs\":[" + std::to_string(128 + 256 + 512 + 1024 + 2048 + 4096) + ",1,2,0,"),
              std::string::npos);
    EXPECT_NE(out.find("\"fg\":[200,-1,15,-1,"), std::string::npos);
    EXPECT_NE(out.find("\"bg\":[-1," + std::to_string(16777216 + 0x010203) + ",-1,-1,"), std::string::npos);
}

TEST(ScreenDump, JsonEscapesQuotesBackslashesAndDelete) {
    term_fixture t;
    t.feed("say \"a\\b\"\x7f\xff");
    const std::string out = screen_dump_json(t.term, {});
    EXPECT_NE(out.find("\"text\":\"say \\\"a\\\\b\\\"\\u007f\xc3\xbf "), std::string::npos);
}

TEST(ScreenDump, HistoryHolds199LinesOldestFirst) {
    term_fixture t;
    for (int i = 1; i <= 40; ++i) t.feed("line" + std::to_string(i) + "\r\n");
    dump_extras x;
    x.history = true;
    const std::string out = screen_dump_json(t.term, x);
    const size_t h = out.find("\"history\":[");
    ASSERT_NE(h, std::string::npos);
    const std::string hist = out.substr(h, out.find(']', h) - h);
    EXPECT_EQ(count(hist, "\""), 2u + 2 * 199);
    // Rows 1..23 show line18..line40: line17 is the newest history line, line1 the oldest written one.
    EXPECT_LT(hist.find("\"line1 "), hist.find("\"line17"));
    EXPECT_EQ(hist.substr(hist.size() - 82), "\"line17" + std::string(74, ' ') + "\"");
}

}  // namespace
