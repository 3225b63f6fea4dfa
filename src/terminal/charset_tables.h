#pragma once
// Generated data (tools/charset/gen_charset_tables.py): code pages, character widths, composition pairs.
// Sources: the system's iconv, Perl's Encode for the Symbol font, Debian's unicode-data (EastAsianWidth.txt,
// UnicodeData.txt). Checked in; the build never runs the generator.
#include <cstdint>

constexpr int code_page_count = 12;

struct code_range {
    uint32_t first, last;
};
struct compose_entry {
    uint32_t base, mark, composed;
};

// Unicode of every byte; 0xFFFD where the code page leaves the byte undefined.
extern const uint16_t code_page_tables[code_page_count][256];
// Sorted, disjoint.
extern const code_range wide_ranges[];
extern const int wide_range_count;
extern const code_range zero_width_ranges[];
extern const int zero_width_range_count;
// Sorted by base, then mark.
extern const compose_entry compose_pairs[];
extern const int compose_pair_count;
