#pragma once
// Bytes and characters: the script number (font_charset / font_pcharset) chooses a single-byte code page, and the
// UTF-8 rules the utf8 setting switches on. Qt-free, so the emulator, printer and keyboard share one mapping.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "terminal/screen.h"

constexpr uint32_t replacement_char = 0xFFFD;

// Code page index of a script number; unknown and multi-byte East Asian scripts give Windows-1252.
int code_page_of_script(int script);
// True for the East Asian scripts that fall back to Windows-1252 (the Font dialog notes it).
bool script_falls_back(int script);
// iconv's name for a code page index ("SYMBOL" for the Symbol font's own mapping, which iconv lacks).
const char* code_page_name(int page);

// Unicode of a byte; U+FFFD where the code page leaves it undefined.
uint32_t byte_to_unicode(int page, uint8_t b);
// The byte of a character in a code page, or -1 when the code page has none.
int unicode_to_byte(int page, uint32_t cp);

// Display cells of a character: 0 (combining, format), 2 (East Asian wide or full-width) or 1.
int char_width(uint32_t cp);
// The precomposed character of base + combining mark, or 0 when Unicode has none.
uint32_t compose(uint32_t base, uint32_t mark);

// Combining marks that have no precomposed form with their base: the base and its marks become one cluster, a
// number beyond Unicode that a cell holds in place of a code point. The table is shared by every screen and only
// grows (the same cluster always gets the same number); once cluster_limit are known, or a base carries
// cluster_marks marks, further marks are dropped.
constexpr uint32_t cluster_first = 0x110000;
constexpr size_t cluster_limit = 16384;
constexpr size_t cluster_marks = 8;
constexpr bool is_cluster(uint32_t cp) { return cp >= cluster_first; }
// The cluster of base (a code point or a cluster) with mark added; 0 when it cannot be kept.
uint32_t cluster_with(uint32_t base, uint32_t mark);
// A cluster's code points, base first; empty for anything else.
std::u32string_view cluster_text(uint32_t cp);
// Appends a code point, or a cluster's code points.
void append_code(std::u32string& out, uint32_t cp);

// cp as UTF-8 in out (surrogates and values above U+10FFFF as U+FFFD); returns how many bytes.
int encode_utf8(uint32_t cp, char out[4]);
// Appends cp as encode_utf8 writes it; a cluster as its code points.
void append_utf8(std::string& out, uint32_t cp);

// The character a cell shows: with utf8 its code point, else its byte in the code page.
inline uint32_t cell_char(uint32_t cell, bool utf8, int page) {
    return utf8 ? cell_code(cell) : byte_to_unicode(page, uint8_t(cell & cell_char_mask));
}
// Characters of cells first..last of a line as the view shows them; the right half of a wide character adds
// nothing (one left alone by a shift or an erase counts as its blank).
void append_cells_text(std::u32string& out, const ring_line& l, int first, int last, bool utf8, int page);

// Bytes a typed character goes to the host as (its code page byte, or UTF-8); returns how many, 0 when the code
// page has no byte for it.
int encode_char(uint32_t cp, bool utf8, int page, char out[4]);
// A pasted text's bytes: characters the code page lacks go as '?'.
std::string encode_text(std::u32string_view text, bool utf8, int page);
// Received bytes as UTF-8 text (printing): each byte's character in the code page, or with utf8 the decoded text
// (malformed parts as U+FFFD). Appends to out.
void append_bytes_as_utf8(std::string& out, const char* bytes, size_t n, bool utf8, int page);

// Incremental UTF-8 decoder. Malformed input gives one U+FFFD per maximal ill-formed subpart and never swallows
// a byte that could start something valid.
class utf8_decoder {
public:
    enum result : int {
        more = 0,  // nothing complete yet
        done = 1,  // code point ready
        redo = 2,  // U+FFFD ready, and the byte must be fed again
    };
    result step(uint8_t b, uint32_t& out);
    bool pending() const { return need_ != 0; }
    void reset() { need_ = 0; }

private:
    uint32_t cp_ = 0;
    int need_ = 0;
    uint8_t lo_ = 0x80, hi_ = 0xBF;  // allowed range of the next continuation byte
};

// Decodes a whole text (a paste, a file) to code points, calling f(cp) for each.
template <class F>
void decode_utf8(const char* data, size_t n, F&& f) {
    utf8_decoder d;
    uint32_t cp = 0;
    for (size_t i = 0; i < n;) {
        const auto r = d.step(uint8_t(data[i]), cp);
        if (r != utf8_decoder::redo) ++i;
        if (r != utf8_decoder::more) f(cp);
    }
    if (d.pending()) f(replacement_char);
}
