#include "terminal/history.h"

#include <algorithm>
#include <cstring>

namespace {
// Runs of equal fg, bg and extra among n cells.
int runs_of(const uint32_t* fg, const uint32_t* bg, const uint16_t* extra, int n) {
    int runs = n > 0 ? 1 : 0;
    for (int i = 1; i < n; ++i) runs += fg[i] != fg[i - 1] || bg[i] != bg[i - 1] || extra[i] != extra[i - 1];
    return runs;
}

// The cells up to the last one that is not a blank, four at a time while whole fours are blank (most of a line
// of output is its blank end).
int used_cells(const uint32_t* cells, int n) {
    constexpr uint32_t b = line_view::blank;
    while (n >= 4 && ((cells[n - 1] ^ b) | (cells[n - 2] ^ b) | (cells[n - 3] ^ b) | (cells[n - 4] ^ b)) == 0) n -= 4;
    while (n > 0 && cells[n - 1] == b) --n;
    return n;
}
}  // namespace

void history_archive::push(uint32_t attr, const uint32_t* cells, const uint32_t* fg, const uint32_t* bg,
                           const uint16_t* extra, int width, bool coloured) {
    int n = width;
    if (coloured) {
        while (n > 0 && cells[n - 1] == line_view::blank && (fg[n - 1] | bg[n - 1] | extra[n - 1]) == 0) --n;
        bool any = false;
        for (int i = 0; i < n && !any; ++i) any = (fg[i] | bg[i] | extra[i]) != 0;
        coloured = any;
    } else {
        n = used_cells(cells, n);
    }
    const int runs = coloured ? runs_of(fg, bg, extra, n) : 0;
    const uint32_t need = uint32_t(n) + (coloured ? 1u + 3u * uint32_t(runs) : 0u);  // cells, run count, runs
    if (blocks_.empty() || blocks_.back().used + need > block_words || blocks_.back().lines.size() >= block_lines) {
        block b;
        b.first = end_;
        blocks_.push_back(std::move(b));
    }
    block& b = blocks_.back();
    if (need && !b.words)
        b.words = spare_ ? std::move(spare_) : std::make_unique_for_overwrite<uint32_t[]>(block_words);
    b.lines.push_back({b.used, uint16_t(n), uint8_t(coloured), uint8_t(attr)});
    ++end_;
    if (n == 0) return;  // a blank line: its header alone (the block may have no words yet)
    uint32_t* w = b.words.get() + b.used;
    std::memcpy(w, cells, sizeof *w * size_t(n));
    if (coloured) {
        uint32_t* r = w + n;
        *r++ = uint32_t(runs);
        for (int i = 0; i < n; ++i) {
            if (i > 0 && fg[i] == fg[i - 1] && bg[i] == bg[i - 1] && extra[i] == extra[i - 1]) continue;
            *r++ = uint32_t(i) << 16 | extra[i];
            *r++ = fg[i];
            *r++ = bg[i];
        }
    }
    b.used += need;
}

void line_view::colours_into(uint32_t* to_fg, uint32_t* to_bg, uint16_t* to_extra, int n) const {
    const int m = std::min(n, coloured() ? length : 0);
    if (fg) {
        std::copy_n(fg, m, to_fg);
        std::copy_n(bg, m, to_bg);
        std::copy_n(extra, m, to_extra);
    } else {
        for (int r = 0; r < run_count; ++r) {
            const int first = int(runs[3 * r] >> 16);
            const int end = std::min(m, r + 1 < run_count ? int(runs[3 * (r + 1)] >> 16) : length);
            if (first >= end) break;
            std::fill(to_fg + first, to_fg + end, runs[3 * r + 1]);
            std::fill(to_bg + first, to_bg + end, runs[3 * r + 2]);
            std::fill(to_extra + first, to_extra + end, uint16_t(runs[3 * r] & 0xFFFF));
        }
    }
    std::fill(to_fg + m, to_fg + n, 0u);
    std::fill(to_bg + m, to_bg + n, 0u);
    std::fill(to_extra + m, to_extra + n, uint16_t(0));
}

history_archive::block::block(const block& o) : first(o.first), used(o.used), lines(o.lines) {
    if (!o.words) return;
    words = std::make_unique_for_overwrite<uint32_t[]>(block_words);
    std::copy_n(o.words.get(), used, words.get());
}

const history_archive::block& history_archive::block_of(size_t number) const {
    // The last block whose first line is at or before number.
    if (number >= blocks_.back().first) return blocks_.back();
    auto it =
        std::upper_bound(blocks_.begin(), blocks_.end(), number, [](size_t n, const block& b) { return n < b.first; });
    return *(it - 1);
}

line_view history_archive::line(size_t i) const {
    const size_t number = front_ + i;
    const block& b = block_of(number);
    const header& h = b.lines[number - b.first];
    line_view v;
    v.attr = h.attr;
    v.length = h.length;
    v.cells = b.words.get() + h.offset;
    if (h.coloured) {
        v.run_count = int(v.cells[h.length]);
        v.runs = v.cells + h.length + 1;
    }
    return v;
}

void history_archive::drop_oldest(size_t n) {
    front_ += std::min(n, size());
    while (!blocks_.empty() && blocks_.front().first + blocks_.front().lines.size() <= front_) {
        if (!spare_) spare_ = std::move(blocks_.front().words);
        blocks_.pop_front();
    }
    if (empty()) clear();
}

void history_archive::drop_newest() {
    if (empty()) return;
    block& b = blocks_.back();
    b.used = b.lines.back().offset;
    b.lines.pop_back();
    --end_;
    if (b.lines.empty()) blocks_.pop_back();
    if (empty()) clear();
}

void history_archive::clear() {
    blocks_.clear();
    spare_.reset();
    front_ = end_ = 0;
}

size_t history_archive::bytes() const {
    size_t n = spare_ ? block_words * sizeof(uint32_t) : 0;
    for (const block& b : blocks_)
        n += sizeof b + (b.words ? block_words * sizeof(uint32_t) : 0) + b.lines.capacity() * sizeof(header);
    return n;
}
