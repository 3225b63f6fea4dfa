#include "view/find_text.h"

#include <algorithm>
#include <regex>

#include "terminal/charset.h"
#include "terminal/screen.h"

namespace find_text {
namespace {

// std::regex has no char32_t traits; wchar_t is 32 bits where the client runs. A 16-bit wchar_t keeps the offsets
// by giving characters beyond the BMP as U+FFFD.
std::wstring wide(std::u32string_view s) {
    std::wstring out;
    out.reserve(s.size());
    for (char32_t c : s) out += sizeof(wchar_t) >= 4 || c <= 0xFFFF ? wchar_t(c) : wchar_t(0xFFFD);
    return out;
}

// Lower case for the scripts a terminal shows most; std::regex's icase folds only ASCII in the C locale. Length is
// kept, so offsets stay those of the text.
char32_t fold(char32_t c) {
    if (c < 0x80) return c;  // icase's
    if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return c + 0x20;
    if ((c >= 0x100 && c <= 0x137) || (c >= 0x14A && c <= 0x177)) return c | 1;
    if ((c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E)) return (c & 1) ? c + 1 : c;
    if (c >= 0x391 && c <= 0x3A9 && c != 0x3A2) return c + 0x20;
    if (c >= 0x410 && c <= 0x42F) return c + 0x20;
    if (c >= 0x400 && c <= 0x40F) return c + 0x50;
    return c;
}

std::u32string folded(std::u32string_view s) {
    std::u32string out(s);
    for (char32_t& c : out) c = fold(c);
    return out;
}

std::u32string escaped(std::u32string_view s) {
    static constexpr std::u32string_view special = U"\\^$.|?*+()[]{}/";
    std::u32string out;
    for (char32_t c : s) {
        if (special.find(c) != std::u32string_view::npos) out += U'\\';
        out += c;
    }
    return out;
}

void search(const std::vector<std::u32string>& lines, const std::wregex& re, bool fold_text, result& r) {
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const std::wstring w = wide(fold_text ? folded(lines[i]) : lines[i]);
        for (auto it = std::wsregex_iterator(w.begin(), w.end(), re); it != std::wsregex_iterator(); ++it) {
            if (it->length(0) == 0) continue;
            const int first = static_cast<int>(it->position(0));
            r.matches.push_back({static_cast<int>(i), first, first + static_cast<int>(it->length(0))});
        }
    }
}

}  // namespace

line_text text_of(const ring_line& l, int columns, bool utf8, int page) {
    line_text t;
    const int last = std::min(columns, max_columns);
    for (int c = 1; c <= last; ++c) {
        append_cells_text(t.text, l, c, c, utf8, page);
        t.columns.resize(t.text.size(), c);
    }
    std::size_t n = t.text.size();
    while (n > 0 && (t.text[n - 1] == U' ' || t.text[n - 1] == 0)) --n;
    const int after = n < t.text.size() ? t.columns[n] : last + 1;
    t.text.resize(n);
    t.columns.resize(n);
    t.columns.push_back(after);
    return t;
}

result find_all(const std::vector<std::u32string>& lines, std::u32string_view pattern, const options& o) {
    result r;
    if (pattern.empty()) return r;
    const bool fold_text = !o.match_case;
    const std::u32string source = o.regex ? std::u32string(pattern) : escaped(pattern);
    auto flags = std::regex_constants::ECMAScript;
    if (!o.match_case) flags |= std::regex_constants::icase;
    const std::wstring w = wide(fold_text ? folded(source) : source);
    try {
#ifdef __GLIBCXX__
        // Breadth-first matching: a pattern such as (a*)*b cannot hang the window. It refuses back-references,
        // which then take the ordinary engine (lines are at most 132 characters).
        try {
            search(lines, std::wregex(w, flags | std::regex_constants::__polynomial), fold_text, r);
            return r;
        } catch (const std::regex_error& e) {
            if (e.code() != std::regex_constants::error_complexity) throw;
            r.matches.clear();
        }
#endif
        search(lines, std::wregex(w, flags), fold_text, r);
    } catch (const std::regex_error&) {
        r.matches.clear();
        r.bad_pattern = true;
    }
    return r;
}

int step_from(const std::vector<match>& ms, int line, int first, bool backward) {
    if (ms.empty()) return -1;
    const int n = static_cast<int>(ms.size());
    auto before = [&](const match& m) { return m.line < line || (m.line == line && m.first < first); };
    auto after = [&](const match& m) { return m.line > line || (m.line == line && m.first > first); };
    if (backward) {
        for (int i = n - 1; i >= 0; --i)
            if (before(ms[static_cast<std::size_t>(i)])) return i;
        return n - 1;
    }
    for (int i = 0; i < n; ++i)
        if (after(ms[static_cast<std::size_t>(i)])) return i;
    return 0;
}

}  // namespace find_text
