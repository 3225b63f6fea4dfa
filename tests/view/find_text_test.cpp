// Find over the scroll-back text: plain and regular-expression patterns, case, steps between matches, and the
// columns a line's characters come from.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "terminal/charset.h"
#include "terminal/screen.h"
#include "view/find_text.h"

namespace {
using find_text::match;

struct find_case {
    const char32_t* pattern;
    bool regex, match_case;
    std::vector<match> want;
    bool bad = false;
};

const std::vector<std::u32string> lines = {
    U"make: *** [all] Error 1", U"error: x.c:12: expected ';'", U"",
    U"ERROR ERROR error",       U"Grüße aus Köln, GRÜSSE",      U"aaaa",
    U"Ärger mit ÄRGER",
};

const find_case find_cases[] = {
    {U"error", false, false, {{0, 16, 21}, {1, 0, 5}, {3, 0, 5}, {3, 6, 11}, {3, 12, 17}}},
    {U"error", false, true, {{1, 0, 5}, {3, 12, 17}}},
    {U"ERROR", false, true, {{3, 0, 5}, {3, 6, 11}}},
    {U"[all]", false, false, {{0, 10, 15}}},  // plain text: brackets are brackets
    {U"***", false, false, {{0, 6, 9}}},
    {U"';'", false, false, {{1, 24, 27}}},
    {U"aa", false, false, {{5, 0, 2}, {5, 2, 4}}},  // no overlaps
    {U"ärger", false, false, {{6, 0, 5}, {6, 10, 15}}},
    {U"ärger", false, true, {}},
    {U"köln", false, false, {{4, 10, 14}}},
    {U"grüße", false, false, {{4, 0, 5}}},
    {U"", false, false, {}},
    {U"nothing here", false, false, {}},
    {U"[0-9]+", true, false, {{0, 22, 23}, {1, 11, 13}}},
    {U"^error", true, false, {{1, 0, 5}, {3, 0, 5}}},
    {U"error$", true, true, {{3, 12, 17}}},
    {U"E\\w+ \\d", true, true, {{0, 16, 23}}},
    {U"a*", true, false, {{0, 1, 2}, {0, 11, 12}, {4, 6, 7}, {5, 0, 4}}},  // empty matches are skipped
    {U"x?", true, false, {{1, 7, 8}, {1, 16, 17}}},
    {U"(a*)*b", true, false, {}},  // must not hang
    {U"(aa)\\1", true, false, {{5, 0, 4}}},
    {U"[unclosed", true, false, {}, true},
    {U"(", true, false, {}, true},
    {U"*", true, false, {}, true},
};

TEST(FindText, PatternsOverLines) {
    for (const find_case& c : find_cases) {
        find_text::options o;
        o.regex = c.regex;
        o.match_case = c.match_case;
        const find_text::result r = find_text::find_all(lines, c.pattern, o);
        EXPECT_EQ(r.matches, c.want) << "pattern #" << (&c - find_cases) << " regex " << c.regex << " case "
                                     << c.match_case;
        EXPECT_EQ(r.bad_pattern, c.bad) << "pattern #" << (&c - find_cases);
    }
}

struct step_case {
    int line, first;
    bool backward;
    int want;
};

TEST(FindText, StepsWrapAroundFromAnyPosition) {
    const std::vector<match> ms = {{2, 0, 1}, {2, 5, 6}, {7, 3, 4}};
    const step_case cases[] = {
        {-1, 0, false, 0}, {1000, 0, true, 2},                    // from past either end
        {2, 0, false, 1},  {2, 5, false, 2},   {7, 3, false, 0},  // wraps to the first
        {2, 5, true, 0},   {2, 0, true, 2},                       // wraps to the last
        {2, 3, false, 1},  {2, 3, true, 0},    {5, 0, false, 2}, {5, 0, true, 1}, {1000, 0, false, 0}, {-1, 0, true, 2},
    };
    for (const step_case& c : cases)
        EXPECT_EQ(find_text::step_from(ms, c.line, c.first, c.backward), c.want)
            << "from " << c.line << ":" << c.first << (c.backward ? " back" : " on");
    EXPECT_EQ(find_text::step_from({}, 0, 0, false), -1);
    EXPECT_EQ(find_text::step_from({}, 0, 0, true), -1);
}

TEST(FindText, LineTextKeepsEachCharactersColumn) {
    screen_ring ring;
    ring_line& l = ring.line(1);
    auto put = [&](int col, std::uint32_t cell) { l.cells[col - 1] = cell; };
    for (int c = 1; c <= line_cells; ++c) put(c, cell_blank);
    put(1, 'a');
    put(2, cell_of_code(0x4E2D) | cell_wide);  // a wide character: one character for two columns
    put(3, cell_wide_right | cell_blank);
    put(4, 'b');
    put(6, 'c');
    put(100, 'z');  // beyond 80 columns: not part of the line
    const find_text::line_text t = find_text::text_of(l, 80, true, 0);
    EXPECT_EQ(t.text, U"a\u4E2Db c");
    EXPECT_EQ(t.columns, (std::vector<int>{1, 2, 4, 5, 6, 7})) << "trailing blanks dropped, the wide tail skipped";

    put(6, cell_blank);
    EXPECT_EQ(find_text::text_of(l, 132, true, 0).text, U"a\u4E2Db" + std::u32string(95, U' ') + U"z");
    put(79, cell_of_code(0x4E2D) | cell_wide);
    put(80, cell_wide_right | cell_blank);
    EXPECT_EQ(find_text::text_of(l, 80, true, 0).columns.back(), 81) << "after a wide character at the edge";
    for (int c = 1; c <= line_cells; ++c) put(c, cell_blank);
    EXPECT_EQ(find_text::text_of(l, 80, false, 0).text, U"");
    EXPECT_EQ(find_text::text_of(l, 80, false, 0).columns, std::vector<int>{1});
}
}  // namespace
