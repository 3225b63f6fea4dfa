#include "terminal/charset.h"

#include <algorithm>
#include <array>
#include <functional>
#include <unordered_map>
#include <vector>

#include "terminal/charset_tables.h"

namespace {

enum : int { cp1252, cp1250, cp1251, cp1253, cp1254, cp1255, cp1256, cp1257, cp1258, cp874, cp437, symbol };

// The reverse direction, built once: (character, byte) sorted by character.
struct reverse_table {
    std::array<std::pair<uint32_t, uint8_t>, 256> v;
    int n = 0;
};

const reverse_table& reverse_of(int page) {
    static const auto all = [] {
        std::array<reverse_table, code_page_count> t{};
        for (int p = 0; p < code_page_count; ++p) {
            for (int b = 0; b < 256; ++b)
                if (code_page_tables[p][b] != replacement_char)
                    t[p].v[size_t(t[p].n++)] = {code_page_tables[p][b], uint8_t(b)};
            std::sort(t[p].v.begin(), t[p].v.begin() + t[p].n);
        }
        return t;
    }();
    return all[size_t(page)];
}

bool in_ranges(const code_range* r, int n, uint32_t cp) {
    const code_range* end = r + n;
    const code_range* it = std::upper_bound(r, end, cp, [](uint32_t v, const code_range& e) { return v < e.first; });
    return it != r && cp <= (it - 1)->last;
}

}  // namespace

int code_page_of_script(int script) {
    switch (script) {
    case 238: return cp1250;
    case 204: return cp1251;
    case 161: return cp1253;
    case 162: return cp1254;
    case 177: return cp1255;
    case 178: return cp1256;
    case 186: return cp1257;
    case 163: return cp1258;
    case 222: return cp874;
    case 255: return cp437;
    case 2: return symbol;
    default: return cp1252;
    }
}

bool script_falls_back(int script) { return script == 128 || script == 129 || script == 134 || script == 136; }

const char* code_page_name(int page) {
    static const char* const names[code_page_count] = {"CP1252", "CP1250", "CP1251", "CP1253", "CP1254", "CP1255",
                                                       "CP1256", "CP1257", "CP1258", "CP874",  "CP437",  "SYMBOL"};
    return page >= 0 && page < code_page_count ? names[page] : names[0];
}

uint32_t byte_to_unicode(int page, uint8_t b) {
    return page >= 0 && page < code_page_count ? code_page_tables[page][b] : code_page_tables[0][b];
}

int unicode_to_byte(int page, uint32_t cp) {
    if (page < 0 || page >= code_page_count) page = 0;
    if (cp < 0x20 || cp == 0x7F) return int(cp);  // controls pass as they are in every code page
    if (cp == replacement_char) return -1;
    const reverse_table& r = reverse_of(page);
    const auto* end = r.v.begin() + r.n;
    const auto* it = std::lower_bound(r.v.begin(), end, std::pair<uint32_t, uint8_t>{cp, 0});
    return it != end && it->first == cp ? it->second : -1;
}

namespace {

int width_from_ranges(uint32_t cp) {
    if (cp < 0x300) return 1;
    if (in_ranges(zero_width_ranges, zero_width_range_count, cp)) return 0;
    if (cp >= 0x1100 && in_ranges(wide_ranges, wide_range_count, cp)) return 2;
    return 1;
}

// The Basic Multilingual Plane's widths, two bits a code point (16 KiB), made once from the range tables: box
// drawing and other text beyond Latin-1 then costs one look-up instead of two binary searches.
struct bmp_widths {
    uint8_t bits[0x10000 / 4] = {};
    bmp_widths() {
        for (uint32_t cp = 0; cp < 0x10000; ++cp)
            bits[cp >> 2] = uint8_t(bits[cp >> 2] | width_from_ranges(cp) << ((cp & 3) * 2));
    }
};

}  // namespace

int char_width(uint32_t cp) {
    if (cp < 0x300) return 1;
    if (cp < 0x10000) {
        static const bmp_widths table;
        return (table.bits[cp >> 2] >> ((cp & 3) * 2)) & 3;
    }
    return width_from_ranges(cp);
}

uint32_t compose(uint32_t base, uint32_t mark) {
    const compose_entry* end = compose_pairs + compose_pair_count;
    const compose_entry* it = std::lower_bound(compose_pairs, end, compose_entry{base, mark, 0},
                                               [](const compose_entry& a, const compose_entry& b) {
                                                   return a.base != b.base ? a.base < b.base : a.mark < b.mark;
                                               });
    return it != end && it->base == base && it->mark == mark ? it->composed : 0;
}

int encode_utf8(uint32_t cp, char out[4]) {
    if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) cp = replacement_char;
    if (cp < 0x80) {
        out[0] = char(cp);
        return 1;
    }
    if (cp < 0x800) {
        out[0] = char(0xC0 | (cp >> 6));
        out[1] = char(0x80 | (cp & 0x3F));
        return 2;
    }
    if (cp < 0x10000) {
        out[0] = char(0xE0 | (cp >> 12));
        out[1] = char(0x80 | ((cp >> 6) & 0x3F));
        out[2] = char(0x80 | (cp & 0x3F));
        return 3;
    }
    out[0] = char(0xF0 | (cp >> 18));
    out[1] = char(0x80 | ((cp >> 12) & 0x3F));
    out[2] = char(0x80 | ((cp >> 6) & 0x3F));
    out[3] = char(0x80 | (cp & 0x3F));
    return 4;
}

void append_utf8(std::string& out, uint32_t cp) {
    char bytes[4];
    if (!is_cluster(cp)) {
        out.append(bytes, size_t(encode_utf8(cp, bytes)));
        return;
    }
    const std::u32string_view text = cluster_text(cp);
    if (text.empty()) out.append(bytes, size_t(encode_utf8(replacement_char, bytes)));
    for (char32_t c : text) out.append(bytes, size_t(encode_utf8(c, bytes)));
}

namespace {

struct text_hash {
    using is_transparent = void;
    size_t operator()(std::u32string_view s) const { return std::hash<std::u32string_view>{}(s); }
};

struct cluster_table {
    std::vector<std::u32string> texts;
    std::unordered_map<std::u32string, uint32_t, text_hash, std::equal_to<>> ids;
};

cluster_table& clusters() {
    static cluster_table t;
    return t;
}

}  // namespace

uint32_t cluster_with(uint32_t base, uint32_t mark) {
    cluster_table& t = clusters();
    char32_t key[cluster_marks + 2];
    size_t n = 0;
    if (is_cluster(base)) {
        const std::u32string_view have = cluster_text(base);
        if (have.empty() || have.size() > cluster_marks) return 0;
        for (char32_t c : have) key[n++] = c;
    } else {
        key[n++] = char32_t(base);
    }
    key[n++] = char32_t(mark);
    const std::u32string_view text(key, n);
    if (const auto it = t.ids.find(text); it != t.ids.end()) return it->second;
    if (t.texts.size() >= cluster_limit) return 0;
    const auto id = uint32_t(cluster_first + t.texts.size());
    t.texts.emplace_back(text);
    t.ids.emplace(t.texts.back(), id);
    return id;
}

std::u32string_view cluster_text(uint32_t cp) {
    const cluster_table& t = clusters();
    if (!is_cluster(cp) || cp - cluster_first >= t.texts.size()) return {};
    return t.texts[cp - cluster_first];
}

void append_code(std::u32string& out, uint32_t cp) {
    if (is_cluster(cp))
        out += cluster_text(cp);
    else
        out += char32_t(cp);
}

utf8_decoder::result utf8_decoder::step(uint8_t b, uint32_t& out) {
    if (need_) {
        if (b < lo_ || b > hi_) {
            need_ = 0;
            out = replacement_char;
            return redo;
        }
        cp_ = (cp_ << 6) | (b & 0x3F);
        lo_ = 0x80;
        hi_ = 0xBF;
        if (--need_) return more;
        out = cp_;
        return done;
    }
    if (b < 0x80) {
        out = b;
        return done;
    }
    // The second byte's range rules out overlong forms, surrogates and values above U+10FFFF.
    lo_ = 0x80;
    hi_ = 0xBF;
    if (b >= 0xC2 && b <= 0xDF) {
        need_ = 1;
        cp_ = b & 0x1F;
    } else if (b >= 0xE0 && b <= 0xEF) {
        need_ = 2;
        cp_ = b & 0x0F;
        if (b == 0xE0) lo_ = 0xA0;
        if (b == 0xED) hi_ = 0x9F;
    } else if (b >= 0xF0 && b <= 0xF4) {
        need_ = 3;
        cp_ = b & 0x07;
        if (b == 0xF0) lo_ = 0x90;
        if (b == 0xF4) hi_ = 0x8F;
    } else {
        out = replacement_char;
        return done;
    }
    return more;
}

void append_cells_text(std::u32string& out, const ring_line& l, int first, int last, bool utf8, int page) {
    first = std::max(first, 1);
    last = std::min(last, max_columns);  // callers stay within their ring's columns
    for (int c = first; c <= last; ++c) {
        const uint32_t cell = l.cell(c);
        if (wide_tail(cell, c > 1 ? l.cell(c - 1) : 0)) continue;
        append_code(out, cell_char(cell, utf8, page));
    }
}

int encode_char(uint32_t cp, bool utf8, int page, char out[4]) {
    if (cp < 0x80) {  // ASCII keys send their own byte in every page (the Symbol font shows 'a' as alpha)
        out[0] = char(cp);
        return 1;
    }
    if (utf8) {
        if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
        return encode_utf8(cp, out);
    }
    const int b = unicode_to_byte(page, cp);
    if (b < 0) return 0;
    out[0] = char(b);
    return 1;
}

std::string encode_text(std::u32string_view text, bool utf8, int page) {
    std::string out;
    out.reserve(text.size());
    char buf[4];
    for (char32_t ch : text) {
        const int n = encode_char(uint32_t(ch), utf8, page, buf);
        if (n == 0)
            out += '?';
        else
            out.append(buf, size_t(n));
    }
    return out;
}

void append_bytes_as_utf8(std::string& out, const char* bytes, size_t n, bool utf8, int page) {
    if (utf8) {
        decode_utf8(bytes, n, [&](uint32_t cp) { append_utf8(out, cp); });
        return;
    }
    for (size_t i = 0; i < n; ++i) append_utf8(out, byte_to_unicode(page, uint8_t(bytes[i])));
}
