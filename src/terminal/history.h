#pragma once
// The scroll-back beyond the screen ring: lines that the ring's rotation is about to reuse are kept here, compact,
// for as long as the history limit allows. A line keeps its cells up to the last one that is not a plain default
// blank, a byte a cell when they share everything but their low byte (most output), else a word a cell; and its
// colours only when it has a colour or further attribute, as runs of cells that share fg, bg and extra (coloured
// output changes colour a few times a line, not every cell). Lines go into blocks, text from one end and headers
// from the other, so that appending allocates once a block and dropping the oldest lines frees whole blocks.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <memory>
#include <vector>

// One line whichever store holds it. Cells beyond `length` are plain blanks (0x20, default colours). Cells are
// words, or bytes under one shared high part; colours are a ring line's arrays (fg, bg, extra), an archived line's
// runs, or neither for a line whose colours are all default.
struct line_view {
    uint32_t attr = 0;
    int length = 0;
    const uint32_t* cells = nullptr;
    const uint8_t* bytes = nullptr;  // instead of cells: cell c is high | bytes[c - 1]
    uint32_t high = 0;
    const uint32_t* fg = nullptr;
    const uint32_t* bg = nullptr;
    const uint16_t* extra = nullptr;
    // run_count runs of three words: first cell (0-based) << 16 | extra, fg, bg; each reaches to the next one's
    // first cell, the last to length.
    const uint32_t* runs = nullptr;
    int run_count = 0;

    static constexpr uint32_t blank = 0x20;
    bool coloured() const { return fg != nullptr || run_count > 0; }
    uint32_t cell(int column) const {
        return column > length ? blank : bytes ? high | bytes[column - 1] : cells[column - 1];
    }
    // Cells 1..n into to, blanks beyond length.
    void cells_into(uint32_t* to, int n) const;
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
    history_archive(const history_archive& o) : blocks_(o.blocks_), keep_(o.keep_), front_(o.front_), end_(o.end_) {}
    history_archive& operator=(const history_archive& o) { return *this = history_archive(o); }
    history_archive(history_archive&&) = default;
    history_archive& operator=(history_archive&&) = default;

    // Appends a line whose cells from index `used` (at most 65535) on are plain blanks; fg, bg and extra are read
    // only when `coloured`. Cells are read in sixteens, up to `used` rounded up to 16: the memory must be there
    // (a ring line's colours follow its cells, zero when it has none).
    void push(uint32_t attr, const uint32_t* cells, const uint32_t* fg, const uint32_t* bg, const uint16_t* extra,
              int used, bool coloured);
    // The same for a line of default colours that is then reused: its cells up to `used` are left blank (0x20).
    // Cells are read in sixteens and thirty-twos, up to `used` or as far as recent lines reached (blanks there),
    // and written up to `width`: the memory must be there (a ring line's colours follow its cells).
    void push_blanking(uint32_t attr, uint32_t* cells, int used, int width) {
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
        if (has_avx2 && push_plain(attr, cells, used, width)) return;
#endif
        push_blanking_sse2(attr, cells, used, width);
    }
    // The archive holds at most n lines: a push beyond drops the oldest. Those go from view at once and from
    // memory when the next block is taken, so that a push costs no dropping of its own.
    void keep(size_t n) {
        keep_ = n;
        drop_oldest(0);
    }
    size_t size() const { return std::min(end_ - front_, keep_); }
    bool empty() const { return size() == 0; }
    // Line i, 0 the oldest. The view holds until the line is dropped.
    line_view line(size_t i) const;
    void drop_oldest(size_t n) {
        front_ = end_ - size() + std::min(n, size());
        if (!blocks_.empty() && front_ >= blocks_.front().first + blocks_.front().count) drop_blocks();
    }
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

    // The first block is small, so that a short history costs little; the others are large, and where the
    // system offers huge pages they take one each: first touching a block's pages one at a time cost more than
    // everything else in filling a long history.
    static constexpr uint32_t first_block_words = 1u << 14;  // 64 KiB
    static constexpr uint32_t block_words = 1u << 19;        // 2 MiB

    struct header {
        uint32_t offset;  // the line's first word in its block
        uint16_t length;
        uint8_t flags;
        uint8_t attr;
    };
    struct memory_free {
        uint32_t words;
        void operator()(uint32_t* p) const;
    };
    using memory = std::unique_ptr<uint32_t[], memory_free>;

private:
    static constexpr uint8_t flag_coloured = 1;
    static constexpr uint8_t flag_bytes = 2;  // a byte a cell
    static constexpr uint8_t flag_high = 4;   // with a word of shared high bits before them (else they are 0)
    // Words from the start hold the lines' cells and runs; headers fill it from the end, line 0's last.
    struct block {
        size_t first = 0;  // the number of its first line
        memory words;
        uint32_t used = 0;   // words from the start
        uint32_t count = 0;  // lines
        block() = default;
        block(block&&) = default;
        block& operator=(block&&) = default;
        // A copied screen copies its history.
        block(const block& o);
        block& operator=(const block& o) { return *this = block(o); }
        uint32_t capacity() const { return words.get_deleter().words; }
        header* headers() const { return reinterpret_cast<header*>(words.get() + capacity()); }
        const header& line(size_t k) const { return headers()[-1 - std::ptrdiff_t(k)]; }
        // Words left between the text and the headers.
        uint32_t room() const { return capacity() - used - 2 * count; }
    };
    const block& block_of(size_t number) const;
    // The newest block if it has `words` free between its text and headers, else a new one.
    block& room_for(uint32_t words) {
        return !blocks_.empty() && blocks_.back().room() >= words ? blocks_.back() : add_block();
    }
    // The line whose words start at k.used and end before `end` joins k.
    void add_line(block& k, const uint32_t* end, int length, uint8_t flags, uint32_t attr) {
        k.headers()[-1 - std::ptrdiff_t(k.count)] = {k.used, uint16_t(length), flags, uint8_t(attr)};
        k.used = uint32_t(end - k.words.get());
        ++k.count;
        ++end_;
    }
    // Cells before n less the blanks at their end (`used` is a bound: output may end in blanks below it).
    static int text_end(const uint32_t* cells, int n) {
        while (n > 0 && cells[n - 1] == line_view::blank) --n;
        return n;
    }
    // push_blanking for any line, sixteen cells at a time where SSE2 is.
    void push_blanking_sse2(uint32_t attr, uint32_t* cells, int used, int width);
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
    // push_blanking on AVX2 for a line of cells without high bits (most output); false, having done nothing, for
    // one with some. Inline, so that a line costs one call: to the pass that packs and blanks.
    bool push_plain(uint32_t attr, uint32_t* cells, int used, int width) {
        // The pass runs as far as the longest line of the 256 before, or further: the same length line after
        // line, so that its end is predicted (line by line it was not, and cost more than the blanks it now reads
        // again).
        widest_ = std::max(widest_, used);
        if ((end_ & 255) == 255) {
            reach_ = (widest_ + 15) & ~15;
            widest_ = 0;
        }
        const int reach = std::min(std::max(used, reach_), width);
        block& k = room_for(uint32_t(reach) + 12);
        uint32_t* w = k.words.get() + k.used;
        const int n = text_end(cells, used);
        if (!pack_blanking_avx2(reinterpret_cast<uint8_t*>(w), cells, reach, width)) return false;
        add_line(k, w + (n + 3) / 4, n, flag_bytes, attr);
        return true;
    }
    // The low bytes of cells 0..reach - 1 into to, in thirty-twos and a last sixteen, reading cells and writing
    // bytes as far; then, if none of those cells has high bits, the cells are blanked (0x20) up to reach rounded
    // up to 16, or the width if that is less. False, with the cells as they were, when some have high bits.
    [[gnu::target("avx2")]] static bool pack_blanking_avx2(uint8_t* to, uint32_t* cells, int reach, int width);
    static const bool has_avx2;
#endif
    [[gnu::noinline]] block& add_block();
    // push_blanking's words for a line whose cells turned out not to share their high bits after `done` of them.
    [[gnu::noinline, gnu::cold]] static void as_words(uint32_t* w, uint32_t* cells, int n, int done, uint32_t high);
    // The oldest blocks that no longer hold a line.
    void drop_blocks();
    static memory allocate(uint32_t words);

    std::vector<block> blocks_;  // dropping the oldest moves the rest: once every 2 MiB of history
    // The words of the large block dropped last, for the next one: a full history then turns over without giving
    // memory back to the system and taking it again (fresh pages cost a fault each).
    memory spare_;
    // How far push_plain reads: the longest `used` of the last full 256 lines, rounded up to 16; the longest
    // of the current 256 so far.
    int reach_ = 0, widest_ = 0;
    size_t keep_ = std::numeric_limits<size_t>::max();
    // Numbers of the oldest line stored (keep_ may hide it and some after it) and one past the newest: lines are
    // numbered as they came.
    size_t front_ = 0;
    size_t end_ = 0;
};
