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

// fold and the ASCII letters that icase folds: plain text is compared with this on both sides.
char32_t fold_plain(char32_t c) { return c >= U'A' && c <= U'Z' ? c + 0x20 : fold(c); }

void search(const line_source& lines, const std::wregex& re, bool fold_text, result& r) {
    std::u32string text;
    std::wstring w;
    for (int i = 0; i < lines.count(); ++i) {
        lines.read(i, text);
        w.clear();
        for (char32_t c : text) {
            if (fold_text) c = fold(c);
            w += sizeof(wchar_t) >= 4 || c <= 0xFFFF ? wchar_t(c) : wchar_t(0xFFFD);
        }
        for (auto it = std::wsregex_iterator(w.begin(), w.end(), re); it != std::wsregex_iterator(); ++it) {
            if (it->length(0) == 0) continue;
            const int first = static_cast<int>(it->position(0));
            r.matches.push_back({i, first, first + static_cast<int>(it->length(0))});
        }
    }
}

// Plain text: a substring search on the line itself, folded in place when case does not matter.
void search_plain(const line_source& lines, std::u32string_view pattern, bool fold_text, result& r) {
    std::u32string p(pattern), text;
    if (fold_text)
        for (char32_t& c : p) c = fold_plain(c);
    for (int i = 0; i < lines.count(); ++i) {
        lines.read(i, text);
        if (text.size() < p.size()) continue;
        if (fold_text)
            for (char32_t& c : text) c = fold_plain(c);
        for (std::size_t at = text.find(p); at != std::u32string::npos; at = text.find(p, at + p.size()))
            r.matches.push_back({i, static_cast<int>(at), static_cast<int>(at + p.size())});
    }
}

class vector_source final : public line_source {
public:
    explicit vector_source(const std::vector<std::u32string>& lines) : lines_(lines) {}
    int count() const override { return static_cast<int>(lines_.size()); }
    void read(int line, std::u32string& out) const override { out = lines_[static_cast<std::size_t>(line)]; }

private:
    const std::vector<std::u32string>& lines_;
};

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

void read_line(const line_view& v, int columns, bool utf8, int page, std::u32string& out) {
    out.clear();
    // Cells beyond the view's length are blanks, which the text drops at its end anyway.
    const int last = std::min({columns, max_columns, v.length});
    uint32_t before = 0;
    for (int c = 1; c <= last; ++c) {
        const uint32_t cell = v.cell(c);
        if (!wide_tail(cell, before)) append_code(out, cell_char(cell, utf8, page));
        before = cell;
    }
    std::size_t n = out.size();
    while (n > 0 && (out[n - 1] == U' ' || out[n - 1] == 0)) --n;
    out.resize(n);
}

int ring_source::count() const { return ring_.history_count() + ring_.rows(); }

void ring_source::read(int line, std::u32string& out) const {
    read_line(ring_.view_at(line + 1 - ring_.history_count()), ring_.columns(), utf8_, page_, out);
}

line_text ring_source::text(int line) const {
    return text_of(ring_.line_at(line + 1 - ring_.history_count()), ring_.columns(), utf8_, page_);
}

result find_all(const std::vector<std::u32string>& lines, std::u32string_view pattern, const options& o) {
    return find_all(vector_source(lines), pattern, o);
}

result find_all(const line_source& lines, std::u32string_view pattern, const options& o) {
    result r;
    if (pattern.empty()) return r;
    const bool fold_text = !o.match_case;
    if (!o.regex) {
        search_plain(lines, pattern, fold_text, r);
        return r;
    }
    const std::u32string source(pattern);
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
