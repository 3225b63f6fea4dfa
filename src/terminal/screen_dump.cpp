#include "terminal/screen_dump.h"

#include "terminal/charset.h"
#include "terminal/vt.h"

void append_cell_char(std::string& out, uint8_t c) { append_utf8(out, c); }

namespace {

// A cell's character as UTF-8 (a byte is its Latin-1 character); the right half of a wide character adds nothing.
void append_cell(std::string& out, uint32_t cell, uint32_t before) {
    if (!wide_tail(cell, before)) append_utf8(out, cell_code(cell));
}

void append_line_text(std::string& out, const ring_line& l, int columns) {
    for (int c = 1; c <= columns; ++c) append_cell(out, l.cell(c), c > 1 ? l.cell(c - 1) : 0);
}

// A JSON string of a line's characters.
void append_json_text(std::string& out, const ring_line& l, int columns) {
    static const char hex[] = "0123456789abcdef";
    out += '"';
    for (int c = 1; c <= columns; ++c) {
        const uint32_t cell = l.cell(c);
        const uint8_t ch = uint8_t(cell & cell_char_mask);
        if (cell & (cell_code_high_mask | cell_wide_right)) {
            append_cell(out, cell, c > 1 ? l.cell(c - 1) : 0);
        } else if (ch == '"' || ch == '\\') {
            out += '\\';
            out += char(ch);
        } else if (ch < 0x20 || ch == 0x7F) {
            out += "\\u00";
            out += hex[ch >> 4];
            out += hex[ch & 15];
        } else {
            append_cell_char(out, ch);
        }
    }
    out += '"';
}

// Bold 1, underline 2, blink 4, reverse 8, graphics 32, protected 64 (the cell word's bits), then the further
// attributes from 128 up: dim, italic, strike-through, invisible, double underline, overline.
unsigned dump_attrs(const ring_line& l, int c) {
    return ((l.cell(c) >> 8) & 0x6F) | unsigned(l.extra[c - 1] & ~extra_link_mask) << 7;
}

// A JSON string of UTF-8 text, or of Latin-1 bytes when not utf8; controls are escaped.
void append_json_string(std::string& out, std::string_view text, bool utf8) {
    static const char hex[] = "0123456789abcdef";
    out += '"';
    for (char ch : text) {
        const uint8_t b = uint8_t(ch);
        if (b == '"' || b == '\\') {
            out += '\\';
            out += ch;
        } else if (b < 0x20 || b == 0x7F) {
            out += "\\u00";
            out += hex[b >> 4];
            out += hex[b & 15];
        } else if (b >= 0x80 && !utf8) {
            append_cell_char(out, b);
        } else {
            out += ch;
        }
    }
    out += '"';
}

void append_colours(std::string& out, const uint32_t* colours, int columns) {
    for (int c = 0; c < columns; ++c) {
        if (c > 0) out += ',';
        out += std::to_string(dump_colour(colours[c]));
    }
}

void field(std::string& out, const char* name, long value, bool comma = true) {
    out += '"';
    out += name;
    out += "\":";
    out += std::to_string(value);
    if (comma) out += ',';
}

}  // namespace

std::string screen_dump_plain(const screen_ring& ring) {
    std::string out;
    out.reserve(size_t(ring.rows()) * size_t(ring.columns() + 1));
    for (int r = 1; r <= ring.rows(); ++r) {
        append_line_text(out, ring.line(r), ring.columns());
        out += '\n';
    }
    return out;
}

std::string screen_dump_json(const vt& term, const dump_extras& x) {
    const screen_ring& ring = term.ring();
    const int cols = ring.columns();
    std::string out;
    out.reserve(32768);
    out += '{';
    field(out, "rows", ring.rows());
    field(out, "cols", cols);
    out += "\"cursor\":{";
    field(out, "row", term.cursor_row());
    field(out, "col", term.cursor_column());
    out += "\"visible\":";
    out += term.cursor_visible() ? "true" : "false";
    out += "},\"modes\":{";
    field(out, "app_keys", term.app_keys());
    field(out, "vt52_mode", term.vt52_mode());
    field(out, "vt100_level", term.vt100_level());
    field(out, "c1_8bit", term.c1_8bit());
    field(out, "auto_repeat", term.auto_repeat());
    field(out, "new_line_mode", term.new_line_mode());
    field(out, "insert_mode", term.insert_mode());
    field(out, "origin_mode", term.origin_mode());
    field(out, "auto_wrap_mode", term.auto_wrap_mode());
    field(out, "pending_wrap", term.pending_wrap());
    field(out, "reverse_screen", x.reverse_screen ? 1 : 0);
    field(out, "printer_controller", term.printer_controller());
    field(out, "local_echo", x.local_echo ? 1 : 0);
    field(out, "top_margin", term.top_margin());
    field(out, "bottom_margin", term.bottom_margin(), false);
    out += "},\"lines\":[";
    for (int r = 1; r <= ring.rows(); ++r) {
        const ring_line& l = ring.line(r);
        if (r > 1) out += ',';
        out += "{\"text\":";
        append_json_text(out, l, cols);
        out += ",\"attrs\":[";
        for (int c = 1; c <= cols; ++c) {
            if (c > 1) out += ',';
            out += std::to_string(dump_attrs(l, c));
        }
        out += "],\"fg\":[";
        append_colours(out, l.fg, cols);
        out += "],\"bg\":[";
        append_colours(out, l.bg, cols);
        out += "],";
        field(out, "line_attr", l.attr & 7, false);
        out += '}';
    }
    out += "],";
    if (x.history) {
        out += "\"history\":[";
        for (int k = 1; k <= history_lines; ++k) {
            if (k > 1) out += ',';
            append_json_text(out, ring.history_line(k), cols);
        }
        out += "],";
    }
    out += "\"title\":";
    append_json_string(out, x.title, term.options().utf8);
    out += ",\"alt_screen\":";
    out += ring.alternate() ? "true," : "false,";
    out += "\"replies\":\"";
    static const char hex[] = "0123456789abcdef";
    for (unsigned char b : x.replies) {
        out += hex[b >> 4];
        out += hex[b & 15];
    }
    out += "\"}\n";
    return out;
}
