#pragma once
// The scroll-back beyond the screen ring: lines that the ring's rotation is about to reuse are kept here, compact,
// for as long as the history limit allows. A line keeps its cell words up to the last cell that is not a plain
// default blank, and its colours only when it has a colour or further attribute, as runs of cells that share fg,
// bg and extra (coloured output changes colour a few times a line, not every cell). Lines go into blocks of a
// fixed size, so that appending allocates once a block and dropping the oldest lines frees whole blocks.
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <vector>

// One line whichever store holds it. Cells beyond `length` are plain blanks (0x20, default colours). Colours are
// a ring line's arrays (fg, bg, extra), an archived line's runs, or neither for a line whose colours are all
// default.
struct line_view {
    uint32_t attr = 0;
    int length = 0;
    const uint32_t* cells = nullptr;
    const uint32_t* fg = nullptr;
    const uint32_t* bg = nullptr;
    const uint16_t* extra = nullptr;
    // run_count runs of three words: first cell (0-based) << 16 | extra, fg, bg; each reaches to the next one's
    // first cell, the last to length.
    const uint32_t* runs = nullptr;
    int run_count = 0;

    static constexpr uint32_t blank = 0x20;
    bool coloured() const { return fg != nullptr || run_count > 0; }
    uint32_t cell(int column) const { return column <= length ? cells[column - 1] : blank; }
    uint32_t fg_at(int column) const { return fg ? at(fg, column) : run_word(column, 1); }
    uint32_t bg_at(int column) const { return bg ? at(bg, column) : run_word(column, 2); }
    uint16_t extra_at(int column) const {
        return extra ? uint16_t(column <= length ? extra[column - 1] : 0) : uint16_t(run_word(column, 0) & 0xFFFF);
    }
    // Colours of cells 1..n into the three arrays, default ones beyond length.
    void colours_into(uint32_t* to_fg, uint32_t* to_bg, uint16_t* to_extra, int n) const;

private:
    uint32_t at(const uint32_t* a, int column) const { return column <= length ? a[column - 1] : 0; }
    uint32_t run_word(int column, int k) const {
        if (column > length) return 0;
        int i = run_count - 1;
        while (i > 0 && int(runs[3 * i] >> 16) > column - 1) --i;
        return i >= 0 ? runs[3 * i + k] : 0;
    }
};

class history_archive {
public:
    history_archive() = default;
    // A copied screen copies its history (the spare block stays behind).
    history_archive(const history_archive& o) : blocks_(o.blocks_), front_(o.front_), end_(o.end_) {}
    history_archive& operator=(const history_archive& o) { return *this = history_archive(o); }
    history_archive(history_archive&&) = default;
    history_archive& operator=(history_archive&&) = default;

    // Appends a line of `width` cells; fg, bg and extra are read only when `coloured`.
    void push(uint32_t attr, const uint32_t* cells, const uint32_t* fg, const uint32_t* bg, const uint16_t* extra,
              int width, bool coloured);
    size_t size() const { return end_ - front_; }
    bool empty() const { return end_ == front_; }
    // Line i, 0 the oldest. The view holds until the line is dropped.
    line_view line(size_t i) const;
    void drop_oldest(size_t n);
    void drop_newest();
    void clear();
    // Bytes the store has allocated.
    size_t bytes() const;

    // Calls f with the extra word of every run of every coloured line.
    template <class F>
    void for_each_extra(F f) const {
        for (size_t i = 0; i < size(); ++i) {
            const line_view v = line(i);
            for (int r = 0; r < v.run_count; ++r) f(uint16_t(v.runs[3 * r] & 0xFFFF));
        }
    }

    static constexpr uint32_t block_words = 1u << 16;  // 256 KiB of cells and colours a block
    static constexpr size_t block_lines = 4096;        // blank lines take no words: the headers are bounded too

private:
    struct header {
        uint32_t offset;
        uint16_t length;
        uint8_t coloured;
        uint8_t attr;
    };
    struct block {
        size_t first = 0;  // the number of its first line
        std::unique_ptr<uint32_t[]> words;
        uint32_t used = 0;
        std::vector<header> lines;
        block() = default;
        block(block&&) = default;
        block& operator=(block&&) = default;
        // A copied screen copies its history.
        block(const block& o);
        block& operator=(const block& o) { return *this = block(o); }
    };
    const block& block_of(size_t number) const;

    std::deque<block> blocks_;
    // The words of the block dropped last, for the next one: a full history then turns over without giving
    // memory back to the system and taking it again (fresh pages cost a fault each).
    std::unique_ptr<uint32_t[]> spare_;
    size_t front_ = 0;  // numbers of the oldest line kept and one past the newest: lines are numbered as they came
    size_t end_ = 0;
};
