#pragma once
// Text dumps of the screen shared by the headless tools: plain (24 lines of exactly `columns` characters) and one
// JSON object with cursor, modes, lines, optional history and the collected replies.
// Each JSON line has one entry per cell in `attrs` (bold 1, underline 2, blink 4, reverse 8, graphics 32,
// protected 64, dim 128, italic 256, strike-through 512, invisible 1024, double underline 2048, overline 4096),
// `fg` and `bg` (-1 default, 0..255 palette index, 16777216 + 0xRRGGBB direct colour). The top level also has
// `title` (the window title the host set) and `alt_screen`.
#include <string>
#include <string_view>

#include "terminal/screen.h"

class vt;

// Appends the UTF-8 form of a cell byte (>= 0x80 becomes the code point of the same value).
void append_cell_char(std::string& out, uint8_t c);

// Values the emulator does not hold itself.
struct dump_extras {
    bool reverse_screen = false;  // DECSCNM, held by the view
    bool local_echo = false;      // the local_echo setting value as SRM last left it
    bool history = false;         // include the 199 scroll-back lines
    std::string_view replies;     // every reply byte, in order
    std::string_view title;       // the last window title the host set (xterm)
};

// 24 lines, each `columns` characters and a newline.
std::string screen_dump_plain(const screen_ring& ring);
// One JSON object and a newline.
std::string screen_dump_json(const vt& term, const dump_extras& extras);
