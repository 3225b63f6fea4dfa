#pragma once
// Find over the scroll-back: the history and the screen as the text a copy would give, searched a line at a time.
// Qt-free so that it can be tested on its own; the find bar and the view use it.
#include <string>
#include <string_view>
#include <vector>

struct ring_line;

namespace find_text {

// A line's text and the 1-based column each character comes from (a cluster's marks share their base's column;
// the right half of a wide character adds nothing), and one more entry: the column after the text.
struct line_text {
    std::u32string text;
    std::vector<int> columns;  // text.size() + 1 entries
};
// Columns 1..columns of a line, trailing blanks dropped so that a search for blanks does not light up every line.
line_text text_of(const ring_line& l, int columns, bool utf8, int page);

struct options {
    bool regex = false;  // ECMAScript syntax; else the pattern is plain text
    bool match_case = false;
};

// Characters [first, end) of line `line`.
struct match {
    int line = 0;
    int first = 0;
    int end = 0;
    bool operator==(const match&) const = default;
};

struct result {
    std::vector<match> matches;  // in reading order, none empty, none overlapping within a line
    bool bad_pattern = false;    // the regular expression does not compile
};

// Every match of pattern in every line; an empty pattern finds nothing.
result find_all(const std::vector<std::u32string>& lines, std::u32string_view pattern, const options& o);

// Index of the match to go to from position (line, first): the first one after it in reading order, or with
// `backward` the last one before it; past either end the search wraps. -1 when there are none.
int step_from(const std::vector<match>& ms, int line, int first, bool backward);

}  // namespace find_text
