#include "terminal/history.h"

#include <algorithm>
#include <cstring>
#include <new>
#ifdef __SSE2__
#include <emmintrin.h>
#endif
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>
#define ARCHIVE_AVX2 1
#endif
#ifdef __linux__
#include <sys/mman.h>
#endif

namespace {

static_assert(sizeof(history_archive::header) == 2 * sizeof(uint32_t));

// Runs of equal fg, bg and extra among n cells.
int runs_of(const uint32_t* fg, const uint32_t* bg, const uint16_t* extra, int n) {
    int runs = n > 0 ? 1 : 0;
    for (int i = 1; i < n; ++i) runs += fg[i] != fg[i - 1] || bg[i] != bg[i - 1] || extra[i] != extra[i - 1];
    return runs;
}

// The low bytes of cells 0..n - 1 into to, sixteen at a time: cells are read and bytes written up to n rounded up
// to 16 (the beyond is never read back), with no branch on n but the loop's. True when every one of the n cells
// has `high` above its low byte.
bool pack_narrow(uint8_t* to, const uint32_t* cells, int n, uint32_t high) {
#ifdef __SSE2__
    const __m128i low = _mm_set1_epi32(0xFF), h = _mm_set1_epi32(int(high));
    const __m128i lanes[4] = {_mm_setr_epi32(0, 1, 2, 3), _mm_setr_epi32(4, 5, 6, 7), _mm_setr_epi32(8, 9, 10, 11),
                              _mm_setr_epi32(12, 13, 14, 15)};
    __m128i odd = _mm_setzero_si128();
    for (int i = 0; i < n; i += 16) {
        const __m128i left = _mm_set1_epi32(n - i);
        __m128i v[4];
        for (int k = 0; k < 4; ++k) {
            const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(cells + i + 4 * k));
            const __m128i inside = _mm_cmpgt_epi32(left, lanes[k]);
            odd = _mm_or_si128(odd, _mm_and_si128(inside, _mm_andnot_si128(low, _mm_xor_si128(x, h))));
            v[k] = _mm_and_si128(x, low);
        }
        _mm_storeu_si128(reinterpret_cast<__m128i*>(to + i),
                         _mm_packus_epi16(_mm_packs_epi32(v[0], v[1]), _mm_packs_epi32(v[2], v[3])));
    }
    return _mm_movemask_epi8(_mm_cmpeq_epi32(odd, _mm_setzero_si128())) == 0xFFFF;
#else
    uint32_t odd = 0;
    for (int i = 0; i < n; ++i) {
        odd |= cells[i] ^ high;
        to[i] = uint8_t(cells[i]);
    }
    return (odd & ~0xFFu) == 0;
#endif
}

// pack_narrow's bytes for a plain line that the ring reuses next, which is blanked (0x20) in the same pass, up to n
// rounded up to 16 or `limit` (a multiple of 4) if that is less; cells are read and bytes written as far. Returns
// the cells done: n when all of them share `high`, else the sixteens before the first one that does not (those are
// blank now, their words high | byte).
int pack_blanking(uint8_t* to, uint32_t* cells, int n, uint32_t high, int limit) {
    int i = 0;
#ifdef __SSE2__
    const __m128i low = _mm_set1_epi32(0xFF), blank = _mm_set1_epi32(0x20), zero = _mm_setzero_si128();
    auto blank_sixteen = [&] {
        if (i + 16 <= limit) {
            for (int k = 0; k < 4; ++k) _mm_storeu_si128(reinterpret_cast<__m128i*>(cells + i + 4 * k), blank);
        } else {
            for (int k = 0; k < 4 && i + 4 * k < limit; ++k)
                _mm_storeu_si128(reinterpret_cast<__m128i*>(cells + i + 4 * k), blank);
        }
    };
    if (high == 0) {
        // Most output. The cells past n up to the sixteen's end are blanks, or past the line's end its colours,
        // zero for a plain line: none of them has high bits either, so the sixteens need no mask, and cells
        // without high bits pack to bytes as they are.
        for (; i < n; i += 16) {
            __m128i x[4];
            for (int k = 0; k < 4; ++k) x[k] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(cells + i + 4 * k));
            const __m128i any = _mm_or_si128(_mm_or_si128(x[0], x[1]), _mm_or_si128(x[2], x[3]));
            if (_mm_movemask_epi8(_mm_cmpeq_epi32(_mm_andnot_si128(low, any), zero)) != 0xFFFF) return i;
            _mm_storeu_si128(reinterpret_cast<__m128i*>(to + i),
                             _mm_packus_epi16(_mm_packs_epi32(x[0], x[1]), _mm_packs_epi32(x[2], x[3])));
            blank_sixteen();
        }
        return n;
    }
    const __m128i h = _mm_set1_epi32(int(high));
    const __m128i lanes[4] = {_mm_setr_epi32(0, 1, 2, 3), _mm_setr_epi32(4, 5, 6, 7), _mm_setr_epi32(8, 9, 10, 11),
                              _mm_setr_epi32(12, 13, 14, 15)};
    for (; i < n; i += 16) {
        const __m128i left = _mm_set1_epi32(n - i);
        __m128i v[4], odd = zero;
        for (int k = 0; k < 4; ++k) {
            const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(cells + i + 4 * k));
            const __m128i inside = _mm_cmpgt_epi32(left, lanes[k]);
            odd = _mm_or_si128(odd, _mm_and_si128(inside, _mm_andnot_si128(low, _mm_xor_si128(x, h))));
            v[k] = _mm_and_si128(x, low);
        }
        if (_mm_movemask_epi8(_mm_cmpeq_epi32(odd, zero)) != 0xFFFF) return i;
        _mm_storeu_si128(reinterpret_cast<__m128i*>(to + i),
                         _mm_packus_epi16(_mm_packs_epi32(v[0], v[1]), _mm_packs_epi32(v[2], v[3])));
        blank_sixteen();
    }
    return n;
#else
    (void)limit;
    for (; i < n; ++i) {
        if ((cells[i] ^ high) & ~0xFFu) return i;
        to[i] = uint8_t(cells[i]);
        cells[i] = 0x20;
    }
    return n;
#endif
}

}  // namespace

void history_archive::memory_free::operator()(uint32_t* p) const {
#ifdef __linux__
    if (words == block_words) {
        munmap(p, sizeof *p * words);
        return;
    }
#endif
    ::operator delete(p);
}

history_archive::memory history_archive::allocate(uint32_t words) {
    const size_t size = sizeof(uint32_t) * words;
#ifdef __linux__
    if (words == block_words) {
        // Aligned to its size, so that the block can be one huge page.
        void* p = mmap(nullptr, 2 * size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (p == MAP_FAILED) throw std::bad_alloc();
        const auto at = reinterpret_cast<uintptr_t>(p);
        const uintptr_t start = (at + size - 1) & ~uintptr_t(size - 1);
        if (start > at) munmap(p, start - at);
        if (start + size < at + 2 * size) munmap(reinterpret_cast<void*>(start + size), at + size - start);
#ifdef MADV_HUGEPAGE
        madvise(reinterpret_cast<void*>(start), size, MADV_HUGEPAGE);
#endif
        return memory(reinterpret_cast<uint32_t*>(start), {words});
    }
#endif
    return memory(static_cast<uint32_t*>(::operator new(size)), {words});
}

#ifdef ARCHIVE_AVX2
const bool history_archive::has_avx2 = [] {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") != 0;
}();

bool history_archive::pack_blanking_avx2(uint8_t* to, uint32_t* cells, int reach, int width) {
    const __m256i order = _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7);  // the packs work within 128-bit halves
    __m256i any = _mm256_setzero_si256();
    int i = 0;
    // No branch on the cells read: one test of their high bits after the loop, and the blanks only then, so that a
    // line with some is left as it was for the SSE2 way.
    for (; i + 16 < reach; i += 32) {
        // Four named loads, not an array: GCC splits unaligned 256-bit loads and would put an array on the stack,
        // and reading it back whole stalls on the halves just stored.
        const __m256i x0 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(cells + i));
        const __m256i x1 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(cells + i + 8));
        const __m256i x2 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(cells + i + 16));
        const __m256i x3 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(cells + i + 24));
        any = _mm256_or_si256(any, _mm256_or_si256(_mm256_or_si256(x0, x1), _mm256_or_si256(x2, x3)));
        const __m256i b = _mm256_permutevar8x32_epi32(
            _mm256_packus_epi16(_mm256_packs_epi32(x0, x1), _mm256_packs_epi32(x2, x3)), order);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(to + i), b);
    }
    if (i < reach) {
        // A last sixteen (an 80-column line ends in one): the same on two loads.
        const __m256i x0 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(cells + i));
        const __m256i x1 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(cells + i + 8));
        any = _mm256_or_si256(any, _mm256_or_si256(x0, x1));
        const __m256i w16 = _mm256_permute4x64_epi64(_mm256_packs_epi32(x0, x1), 0xD8);  // cells in order
        _mm_storeu_si128(reinterpret_cast<__m128i*>(to + i),
                         _mm_packus_epi16(_mm256_castsi256_si128(w16), _mm256_extracti128_si256(w16, 1)));
    }
    if (!_mm256_testz_si256(any, _mm256_set1_epi32(int(~0xFFu)))) return false;
    const __m256i blank = _mm256_set1_epi32(0x20);
    const int end = std::min((reach + 15) & ~15, width);
    int c = 0;
    for (; c + 8 <= end; c += 8) _mm256_storeu_si256(reinterpret_cast<__m256i*>(cells + c), blank);
    if (c < end) _mm_storeu_si128(reinterpret_cast<__m128i*>(cells + c), _mm256_castsi256_si128(blank));
    return true;
}
#endif

void history_archive::push_blanking_sse2(uint32_t attr, uint32_t* cells, int used, int width) {
    const int n = text_end(cells, std::min(used, width));
    block& k = room_for(uint32_t(n) + 12);  // the bytes' thirty-twos after a high word, and the header
    uint32_t* w = k.words.get() + k.used;
    const uint32_t high = cells[0] & ~0xFFu;
    uint8_t flags = 0;
    if (n > 0) {
        uint32_t* text = w + (high ? 1 : 0);
        const int done = pack_blanking(reinterpret_cast<uint8_t*>(text), cells, n, high, width);
        if (done == n) [[likely]] {
            flags = flag_bytes;
            if (high) {
                flags |= flag_high;
                *w = high;
            }
            w = text + (n + 3) / 4;
        } else {
            as_words(w, cells, n, done, high);
            w += n;
        }
    }
    add_line(k, w, n, flags, attr);
}

void history_archive::as_words(uint32_t* w, uint32_t* cells, int n, int done, uint32_t high) {
    // Cells before `done` are blank already: their words come back from the bytes pack_blanking wrote at w (after
    // a word when high is not 0), last first, as the words cover the bytes they come from.
    const uint8_t* bytes = reinterpret_cast<const uint8_t*>(w + (high ? 1 : 0));
    std::memcpy(w + done, cells + done, sizeof *w * size_t(n - done));
    std::fill(cells + done, cells + n, line_view::blank);
    if (done == 0) return;
    const uint8_t first = bytes[0];  // under word 1 when a high word comes first
    for (int i = done - 1; i >= 1; --i) w[i] = high | bytes[i];
    w[0] = high | first;
}

void history_archive::push(uint32_t attr, const uint32_t* cells, const uint32_t* fg, const uint32_t* bg,
                           const uint16_t* extra, int used, bool coloured) {
    constexpr uint32_t b = line_view::blank;
    int n = std::clamp(used, 0, 0xFFFF);
    if (coloured) {
        while (n > 0 && cells[n - 1] == b && (fg[n - 1] | bg[n - 1] | extra[n - 1]) == 0) --n;
        bool any = false;
        for (int i = 0; i < n && !any; ++i) any = (fg[i] | bg[i] | extra[i]) != 0;
        coloured = any;
    } else {
        n = text_end(cells, n);
    }
    const int runs = coloured ? runs_of(fg, bg, extra, n) : 0;
    const uint32_t colours = coloured ? 1u + 3u * uint32_t(runs) : 0u;  // run count, runs
    // Room for the cells as words and for the bytes' sixteens, which the text may take before it is known which.
    const uint32_t most = uint32_t(n) + 4 + colours + 2;
    block& k = room_for(most);
    uint32_t* w = k.words.get() + k.used;
    const uint32_t high = cells[0] & ~0xFFu;
    uint8_t flags = coloured ? flag_coloured : 0;
    if (n > 0 && pack_narrow(reinterpret_cast<uint8_t*>(w + (high ? 1 : 0)), cells, n, high)) {
        flags |= flag_bytes;
        if (high) {
            flags |= flag_high;
            *w++ = high;
        }
        w += (n + 3) / 4;
    } else {
        std::memcpy(w, cells, sizeof *w * size_t(n));
        w += n;
    }
    if (coloured) {
        *w++ = uint32_t(runs);
        for (int i = 0; i < n; ++i) {
            if (i > 0 && fg[i] == fg[i - 1] && bg[i] == bg[i - 1] && extra[i] == extra[i - 1]) continue;
            *w++ = uint32_t(i) << 16 | extra[i];
            *w++ = fg[i];
            *w++ = bg[i];
        }
    }
    add_line(k, w, n, flags, attr);
}

history_archive::block& history_archive::add_block() {
    // Lines past the limit leave now, and their blocks with them: the newest of those is the spare taken below.
    drop_oldest(0);
    block nb;
    nb.first = end_;
    if (blocks_.empty())
        nb.words = allocate(first_block_words);
    else
        nb.words = spare_ ? std::move(spare_) : allocate(block_words);
    return blocks_.emplace_back(std::move(nb));
}

void line_view::cells_into(uint32_t* to, int n) const {
    const int m = std::min(n, length);
    if (bytes)
        for (int i = 0; i < m; ++i) to[i] = high | bytes[i];
    else
        std::copy_n(cells, m, to);
    std::fill(to + m, to + n, blank);
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

history_archive::block::block(const block& o) : first(o.first), used(o.used), count(o.count) {
    if (!o.words) return;
    words = allocate(o.capacity());
    std::copy_n(o.words.get(), used, words.get());
    std::copy_n(o.words.get() + capacity() - 2 * count, 2 * count, words.get() + capacity() - 2 * count);
}

const history_archive::block& history_archive::block_of(size_t number) const {
    // The last block whose first line is at or before number.
    if (number >= blocks_.back().first) return blocks_.back();
    auto it =
        std::upper_bound(blocks_.begin(), blocks_.end(), number, [](size_t n, const block& b) { return n < b.first; });
    return *(it - 1);
}

line_view history_archive::line(size_t i) const {
    const size_t number = end_ - size() + i;
    const block& b = block_of(number);
    const header& h = b.line(number - b.first);
    line_view v;
    v.attr = h.attr;
    v.length = h.length;
    const uint32_t* w = b.words.get() + h.offset;
    if (h.flags & flag_bytes) {
        if (h.flags & flag_high) v.high = *w++;
        v.bytes = reinterpret_cast<const uint8_t*>(w);
        w += (h.length + 3) / 4;
    } else {
        v.cells = w;
        w += h.length;
    }
    if (h.flags & flag_coloured) {
        v.run_count = int(*w);
        v.runs = w + 1;
    }
    return v;
}

void history_archive::drop_blocks() {
    auto gone = blocks_.begin();
    for (; gone != blocks_.end() && gone->first + gone->count <= front_; ++gone)
        if (gone->capacity() == block_words) spare_ = std::move(gone->words);
    blocks_.erase(blocks_.begin(), gone);
    if (empty()) clear();
}

void history_archive::drop_newest() {
    if (empty()) return;
    drop_oldest(0);  // a hidden line must not come back into view
    block& b = blocks_.back();
    b.used = b.line(b.count - 1).offset;
    --b.count;
    --end_;
    if (b.count == 0) blocks_.pop_back();
    if (empty()) clear();
}

void history_archive::clear() {
    blocks_.clear();
    spare_.reset();
    front_ = end_ = 0;
}

size_t history_archive::bytes() const {
    size_t n = spare_ ? block_words * sizeof(uint32_t) : 0;
    for (const block& b : blocks_) n += sizeof b + b.capacity() * sizeof(uint32_t);
    return n;
}
