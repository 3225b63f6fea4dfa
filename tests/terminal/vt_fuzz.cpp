// libFuzzer target: any byte stream, fed both byte by byte and in one write, must keep the emulator's state in
// range and both paths must agree.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "terminal/screen_dump.h"
#include "terminal/vt.h"

namespace {

void check(const vt& t) {
    const screen_ring& r = t.ring();
    const int cols = r.columns();
    if (t.sized_by_window() ? cols < min_columns || cols > max_columns : cols != 80 && cols != 132) std::abort();
    if (cols > r.width() || r.rows() < min_rows || r.rows() > max_rows) std::abort();
    if (t.cursor_row() < 1 || t.cursor_row() > r.rows()) std::abort();
    if (t.cursor_column() < 1 || t.cursor_column() > cols) std::abort();
    if (r.is_double_width(t.cursor_row()) && t.cursor_column() > cols / 2) std::abort();
    if (t.top_margin() < 1 || t.bottom_margin() > r.rows() || t.top_margin() > t.bottom_margin()) std::abort();
    if (r.origin() < 0 || r.origin() >= r.ring_size()) std::abort();
    if (t.parser_state() < 0 || t.parser_state() > 8) std::abort();
}

// Every ring line, history and screen: the cells from its `used` on are plain blanks (the archive keeps none of
// them).
void check_used(const screen_ring& r) {
    for (int n = 1 - ring_spare; n <= r.rows(); ++n) {
        const ring_line& l = r.line_at(n);
        if (l.used < 0 || l.used > r.width()) std::abort();
        for (int i = l.used; i < r.width(); ++i)
            if (l.cells[i] != cell_blank || (l.coloured && (l.fg[i] | l.bg[i] | l.extra[i]))) std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Building a ring fills its cells one by one, which dominated each run under coverage instrumentation: the
    // rings are made once and reset by copying a pristine one (a plain memory copy).
    static const auto* const pristine = new screen_ring;
    static auto* const ra = new screen_ring;
    static auto* const rb = new screen_ring;
    *ra = *pristine;
    *rb = *pristine;
    vt a(*ra), b(*rb);
    // The first byte picks the starting width, the utf8 option and the emulation (bit 2: xterm) so every
    // combination gets explored.
    if (size > 0 && (data[0] & 4)) {
        a.set_emulation(emulation::xterm);
        b.set_emulation(emulation::xterm);
    }
    if (size > 0 && (data[0] & 1)) {
        a.set_columns(132);
        b.set_columns(132);
    }
    a.options().utf8 = b.options().utf8 = size > 0 && (data[0] & 2);
    // Bit 4: a history a little longer than the ring, so that lines leaving it are archived, dropped past the limit
    // and brought back by reverse scrolls.
    const bool archived = size > 0 && (data[0] & 16);
    ra->set_history_limit(archived ? ring_spare + 40 : history_lines);
    rb->set_history_limit(archived ? ring_spare + 40 : history_lines);
    // Bit 3: a window-sized screen, its size from the next two bytes (which are fed as well).
    if (size > 2 && (data[0] & 8)) {
        a.resize(min_rows + data[1] % 70, min_columns + data[2] * 2);
        b.resize(min_rows + data[1] % 70, min_columns + data[2] * 2);
    }
    static std::string replies_a, replies_b;
    replies_a.clear();
    replies_b.clear();
    for (size_t i = 0; i < size; ++i) {
        if (a.feed_byte(data[i]))
            if (const char* r = a.take_reply()) replies_a += r;
        check(a);
    }
    size_t done = 0;
    while (done < size) {
        done += b.feed(data + done, size - done);
        if (const char* r = b.take_reply()) replies_b += r;
    }
    check(b);
    check_used(*ra);
    check_used(*rb);
    if (replies_a != replies_b) std::abort();
    if (a.cursor_row() != b.cursor_row() || a.cursor_column() != b.cursor_column()) std::abort();
    const auto w = size_t(ra->width());
    for (int row = 1; row <= ra->rows(); ++row) {
        const ring_line &x = ra->line(row), &y = rb->line(row);
        if (x.attr != y.attr || x.coloured != y.coloured || std::memcmp(x.cells, y.cells, 4 * w) != 0 ||
            std::memcmp(x.fg, y.fg, 4 * w) != 0 || std::memcmp(x.bg, y.bg, 4 * w) != 0 ||
            std::memcmp(x.extra, y.extra, 2 * w) != 0)
            std::abort();
    }
    if (ra->history_count() != rb->history_count() || ra->history_count() > ra->history_limit()) std::abort();
    for (int k = 1; archived && k <= ra->history_count() - ring_spare; ++k) {
        const line_view x = ra->history_view(k), y = rb->history_view(k);
        if (x.attr != y.attr || x.length != y.length) std::abort();
        for (int c = 1; c <= x.length; ++c)
            if (x.cell(c) != y.cell(c) || x.fg_at(c) != y.fg_at(c) || x.bg_at(c) != y.bg_at(c) ||
                x.extra_at(c) != y.extra_at(c))
                std::abort();
    }
    // The dump must cope with whatever the stream left behind; it is slow, so only some inputs take it.
    if (size % 8 == 0) {
        dump_extras x;
        x.history = size % 32 == 0;
        if (screen_dump_json(a, x).empty()) std::abort();
    }
    return 0;
}
