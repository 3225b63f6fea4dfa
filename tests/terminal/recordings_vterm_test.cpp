// Real programs' output (tests/terminal/recordings/*.vtrec, made by tools/vtrecord/record_programs.py) replayed
// through our xterm emulation and libvterm side by side. After every read of the recording the two screens must
// agree cell by cell on the character, the colours and bold/underline/reverse, and on the cursor position; the
// few places where libvterm is known to be wrong are in the allow table below.
#include <gtest/gtest.h>
#include <vterm.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "terminal/vt.h"

namespace {

const std::string recordings_dir = std::string(SOURCE_DIR) + "/tests/terminal/recordings/";

// One read from the pty; pause: the program waited for a key after it.
struct chunk {
    std::string bytes;
    bool pause = false;
};

std::vector<chunk> load_recording(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    const std::string data((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    std::vector<chunk> out;
    const std::string magic = "VTREC1\n";
    if (data.compare(0, magic.size(), magic) != 0) return out;
    size_t i = magic.size();
    while (i < data.size()) {
        const char type = data[i++];
        if (type == 'S') {
            if (!out.empty()) out.back().pause = true;
            continue;
        }
        if (type != 'D' || i + 4 > data.size()) return {};
        uint32_t n = 0;
        for (int k = 3; k >= 0; --k) n = n << 8 | uint8_t(data[i + size_t(k)]);
        i += 4;
        if (i + n > data.size()) return {};
        out.push_back({data.substr(i, n)});
        i += n;
    }
    return out;
}

// A cell in a form both sides map to. Colours: -1 default, 0..255 palette, 0x1000000 | RGB direct.
constexpr uint32_t wide_right_half = 0xFFFFFFFF;
struct cell_view {
    uint32_t ch = ' ';
    long fg = -1, bg = -1;
    bool bold = false, underline = false, reverse = false;
};

// The DEC special graphics set (0x60..0x7E) as the Unicode characters libvterm stores for it: a cell of ours keeps
// the byte and marks the set.
constexpr char32_t dec_graphics[] = {
    0x25C6, 0x2592, 0x2409, 0x240C, 0x240D, 0x240A, 0x00B0, 0x00B1, 0x2424, 0x240B, 0x2518,
    0x2510, 0x250C, 0x2514, 0x253C, 0x23BA, 0x23BB, 0x2500, 0x23BC, 0x23BD, 0x251C, 0x2524,
    0x2534, 0x252C, 0x2502, 0x2264, 0x2265, 0x03C0, 0x2260, 0x00A3, 0x00B7,
};
uint32_t drawn(uint32_t cell) {
    const uint32_t c = cell_code(cell);
    return (cell & cell_graphics) && c >= 0x60 && c <= 0x7E ? uint32_t(dec_graphics[c - 0x60]) : c;
}

struct ours_side {
    std::unique_ptr<screen_ring> ring = std::make_unique<screen_ring>();
    vt term{*ring};
    ours_side() {
        term.options().utf8 = true;
        term.set_emulation(emulation::xterm);
    }
    void feed(const std::string& s) {
        const auto* p = reinterpret_cast<const uint8_t*>(s.data());
        size_t done = 0;
        while (done < s.size()) {
            done += term.feed(p + done, s.size() - done);
            term.take_reply();
        }
    }
    cell_view cell(int row, int col) const {  // 0-based
        const ring_line& l = ring->line(row + 1);
        const uint32_t w = l.cells[col];
        cell_view v;
        v.ch = (w & cell_wide_right) ? wide_right_half : drawn(w);
        v.fg = dump_colour(l.fg[col]);
        v.bg = dump_colour(l.bg[col]);
        v.bold = w & cell_bold;
        v.underline = (w & cell_underline) || (l.extra[col] & extra_double_underline);
        v.reverse = w & cell_reverse;
        return v;
    }
    int cursor_row() const { return term.cursor_row() - 1; }
    int cursor_col() const { return term.cursor_column() - 1; }
};

void discard_output(const char*, size_t, void*) {}

struct vterm_side {
    VTerm* t = vterm_new(screen_rows, 80);
    VTermScreen* screen = nullptr;
    vterm_side() {
        vterm_set_utf8(t, 1);
        vterm_output_set_callback(t, discard_output, nullptr);
        screen = vterm_obtain_screen(t);
        vterm_screen_enable_altscreen(screen, 1);
        vterm_screen_reset(screen, 1);
    }
    ~vterm_side() { vterm_free(t); }
    vterm_side(const vterm_side&) = delete;
    vterm_side& operator=(const vterm_side&) = delete;
    void feed(const std::string& s) { vterm_input_write(t, s.data(), s.size()); }
    static long colour(const VTermColor& c, bool is_default) {
        if (is_default) return -1;
        if (VTERM_COLOR_IS_INDEXED(&c)) return c.indexed.idx;
        return 0x1000000L | long(c.rgb.red) << 16 | long(c.rgb.green) << 8 | long(c.rgb.blue);
    }
    cell_view cell(int row, int col) const {
        VTermScreenCell c;
        vterm_screen_get_cell(screen, VTermPos{row, col}, &c);
        cell_view v;
        v.ch = c.chars[0] == 0 ? ' ' : c.chars[0] == uint32_t(-1) ? wide_right_half : c.chars[0];
        v.fg = colour(c.fg, VTERM_COLOR_IS_DEFAULT_FG(&c.fg));
        v.bg = colour(c.bg, VTERM_COLOR_IS_DEFAULT_BG(&c.bg));
        v.bold = c.attrs.bold;
        v.underline = c.attrs.underline != 0;
        v.reverse = c.attrs.reverse;
        return v;
    }
    VTermPos cursor() const {
        VTermPos p;
        vterm_state_get_cursorpos(vterm_obtain_state(t), &p);
        return p;
    }
};

enum class field { text, fg, bg, bold, underline, reverse, cursor };
const char* const field_names[] = {"text", "fg", "bg", "bold", "underline", "reverse", "cursor"};

struct difference {
    int snapshot, row, col;  // 0-based; row/col of the cell, or of our cursor
    field what;
    long ours, theirs;
    cell_view x, y;  // the cell on both sides (cursor: unused)
};

bool blank(const cell_view& c) { return c.ch == ' '; }

// Deliberate differences and libvterm's own faults. Each entry: the recording ("" any), the field and why.
struct allowed {
    const char* program;
    field what;
    bool (*applies)(const difference&);
    const char* why;
};
const allowed allow_table[] = {
    // libvterm gives erased cells the pen's foreground as well as its background; ours keeps the default
    // foreground, as xterm's background colour erase does. A blank without underline or reverse shows no
    // foreground, so the two screens look the same.
    {"", field::fg, [](const difference& d) { return blank(d.x) && blank(d.y) && !d.x.underline && !d.x.reverse; },
     "foreground of an erased blank"},
    // Likewise libvterm erases (ED, EL, ECH) with the pen's bold; xterm's erased cells, and ours, take only the
    // background. Bold on a blank shows nothing.
    {"", field::bold, [](const difference& d) { return blank(d.x) && blank(d.y) && !d.x.underline && !d.x.reverse; },
     "bold of an erased blank"},
};

bool is_allowed(const std::string& program, const difference& d, int* hits) {
    for (size_t i = 0; i < std::size(allow_table); ++i) {
        const allowed& a = allow_table[i];
        if ((a.program[0] == 0 || program == a.program) && a.what == d.what && a.applies(d)) {
            ++hits[i];
            return true;
        }
    }
    return false;
}

struct totals {
    int snapshots = 0, pauses = 0;
    long cells = 0;
    std::vector<difference> diffs;
};

totals replay(const std::vector<chunk>& rec) {
    ours_side a;
    vterm_side b;
    totals t;
    for (const chunk& c : rec) {
        a.feed(c.bytes);
        b.feed(c.bytes);
        const int snap = t.snapshots++;
        t.pauses += c.pause;
        for (int row = 0; row < screen_rows; ++row)
            for (int col = 0; col < 80; ++col) {
                const cell_view x = a.cell(row, col), y = b.cell(row, col);
                auto add = [&](field f, long u, long v) {
                    if (u != v) t.diffs.push_back({snap, row, col, f, u, v, x, y});
                };
                ++t.cells;
                add(field::text, long(x.ch), long(y.ch));
                add(field::fg, x.fg, y.fg);
                add(field::bg, x.bg, y.bg);
                add(field::bold, x.bold, y.bold);
                add(field::underline, x.underline, y.underline);
                add(field::reverse, x.reverse, y.reverse);
            }
        const VTermPos p = b.cursor();
        const long here = a.cursor_row() * 1000L + a.cursor_col(), there = p.row * 1000L + p.col;
        if (here != there)
            t.diffs.push_back({snap, a.cursor_row(), a.cursor_col(), field::cursor, here, there, {}, {}});
    }
    return t;
}

class recording_test : public ::testing::TestWithParam<const char*> {};

TEST_P(recording_test, screens_match_libvterm) {
    const std::string name = GetParam();
    const std::vector<chunk> rec = load_recording(recordings_dir + name + ".vtrec");
    ASSERT_FALSE(rec.empty()) << "missing or malformed recording " << name;

    const totals t = replay(rec);
    int hits[std::size(allow_table)] = {};
    int unexplained = 0;
    int by_field[std::size(field_names)] = {};
    for (const difference& d : t.diffs) {
        if (is_allowed(name, d, hits)) continue;
        ++by_field[int(d.what)];
        if (++unexplained <= 20)
            ADD_FAILURE() << name << " read " << d.snapshot << " row " << d.row + 1 << " col " << d.col + 1 << ": "
                          << field_names[int(d.what)] << " ours " << d.ours << " libvterm " << d.theirs;
    }
    std::printf("%-5s %3d snapshots (%d pause points), %7ld cells, %zu differences (%d allowed)\n", name.c_str(),
                t.snapshots, t.pauses, t.cells, t.diffs.size(), int(t.diffs.size()) - unexplained);
    for (size_t f = 0; f < std::size(field_names); ++f)
        if (by_field[f]) std::printf("      %s: %d\n", field_names[f], by_field[f]);
    EXPECT_EQ(unexplained, 0) << name;
    EXPECT_GT(t.pauses, 0) << name;
}

INSTANTIATE_TEST_SUITE_P(programs, recording_test,
                         ::testing::Values("vim", "nvim", "w3m", "tig", "dialog", "tmux", "tmux_margins", "less", "ls",
                                           "git", "man", "htop", "mc"),
                         [](const auto& info) { return std::string(info.param); });

}  // namespace
