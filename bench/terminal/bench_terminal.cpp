// Emulator throughput against libvterm on the same generated streams, and on real programs' colour output (the
// recordings in tests/terminal/recordings) through the xterm emulation. Prints MB/s for both and the ratio.
// usage: bench_terminal [MiB per stream, default 64] [recordings folder]
#include <vterm.h>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <random>
#include <string>
#include <unistd.h>
#include <vector>

#include "terminal/vt.h"
#include "../stats.h"

namespace {

constexpr size_t chunk = 2000;  // one socket read

std::string plain_stream(size_t size, std::mt19937& rng) {
    std::string s;
    s.reserve(size + 200);
    while (s.size() < size) {
        const int len = 10 + int(rng() % 70);
        for (int i = 0; i < len; ++i) s += char(0x20 + rng() % 95);
        s += "\r\n";
    }
    s.resize(size);
    return s;
}

std::string mixed_stream(size_t size, std::mt19937& rng) {
    std::string s;
    s.reserve(size + 200);
    auto text = [&](int n) {
        for (int i = 0; i < n; ++i) s += char(0x20 + rng() % 95);
    };
    auto num = [&](int hi) { return std::to_string(1 + rng() % unsigned(hi)); };
    while (s.size() < size) {
        switch (rng() % 10) {
        case 0:  // attribute changes around a word
            s += "\x1b[" + std::string(rng() % 2 ? "1" : "7") + ";4m";
            text(3 + int(rng() % 12));
            s += "\x1b[0m";
            break;
        case 1:  // cursor addressing
            s += "\x1b[" + num(24) + ";" + num(80) + "H";
            text(5 + int(rng() % 20));
            break;
        case 2:  // a scrolling region, text scrolled through it, region reset
            s += "\x1b[" + num(8) + ";" + std::to_string(12 + rng() % 13) + "r";
            for (int i = 0; i < 4; ++i) {
                s += "\x1b[24;1H";
                text(20);
                s += "\n";
            }
            s += "\x1b[r";
            break;
        case 3:  // erases
            s += "\x1b[" + num(24) + ";" + num(80) + "H";
            s += rng() % 2 ? "\x1b[K" : "\x1b[1K";
            if (rng() % 8 == 0) s += "\x1b[J";
            break;
        case 4:  // insert / delete lines and characters
            s += "\x1b[" + num(24) + ";1H\x1b[" + num(3) + (rng() % 2 ? "L" : "M");
            s += "\x1b[" + num(4) + (rng() % 2 ? "P" : "@");
            break;
        default:  // ordinary lines of output
            text(10 + int(rng() % 60));
            s += "\r\n";
            break;
        }
    }
    s.resize(size);
    return s;
}

// UTF-8 text as today's hosts send it: mostly ASCII with Latin-1 letters, Cyrillic words and CJK.
std::string utf8_stream(size_t size, std::mt19937& rng) {
    static const char* const words[] = {"caf\xc3\xa9",
                                        "na\xc3\xafve",
                                        "\xd0\xbf\xd1\x80\xd0\xb8\xd0\xb2\xd0\xb5\xd1\x82",
                                        "\xd0\x9c\xd0\xbe\xd1\x81\xd0\xba\xd0\xb2\xd0\xb0",
                                        "\xe4\xb8\xad\xe6\x96\x87",
                                        "\xe6\x97\xa5\xe6\x9c\xac\xe8\xaa\x9e",
                                        "\xed\x95\x9c\xea\xb5\xad\xec\x96\xb4"};
    std::string s;
    s.reserve(size + 200);
    while (s.size() < size) {
        int col = 0;
        while (col < 70) {
            if (rng() % 3 == 0) {
                const char* w = words[rng() % std::size(words)];
                s += w;
                col += 6;
            } else {
                const int n = 2 + int(rng() % 8);
                for (int i = 0; i < n; ++i) s += char('a' + rng() % 26);
                col += n;
            }
            s += ' ';
            ++col;
        }
        s += "\r\n";
    }
    s.resize(size);
    return s;
}

// Thread CPU time, so that other processes on a shared machine do not distort the figures.
double cpu_seconds() {
    timespec ts;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) * 1e-9;
}

template <class F>
double best_mbps(const std::string& data, int runs, F&& run) {
    double best = 0;
    for (int i = 0; i < runs; ++i) {
        const double t0 = cpu_seconds();
        run(data);
        const double secs = cpu_seconds() - t0;
        best = std::max(best, double(data.size()) / (1024.0 * 1024.0) / secs);
    }
    return best;
}

// Our emulator through the bulk entry, replies taken as the receive path does.
double ours(const std::string& data, int runs, bool utf8 = false) {
    return best_mbps(data, runs, [utf8](const std::string& d) {
        auto ring = std::make_unique<screen_ring>();
        vt term(*ring);
        term.options().utf8 = utf8;
        const auto* p = reinterpret_cast<const uint8_t*>(d.data());
        for (size_t off = 0; off < d.size(); off += chunk) {
            const size_t n = std::min(chunk, d.size() - off);
            size_t done = 0;
            while (done < n) {
                done += term.feed(p + off + done, n - done);
                term.take_reply();
            }
            ring->clear_marks();  // the painter consumes the marks after each read
        }
    });
}

// Our emulator one feed_byte call per byte.
double ours_bytewise(const std::string& data, int runs, bool utf8 = false) {
    return best_mbps(data, runs, [utf8](const std::string& d) {
        auto ring = std::make_unique<screen_ring>();
        vt term(*ring);
        term.options().utf8 = utf8;
        for (size_t off = 0; off < d.size(); off += chunk) {
            const size_t n = std::min(chunk, d.size() - off);
            for (size_t i = 0; i < n; ++i)
                if (term.feed_byte(uint8_t(d[off + i]))) term.take_reply();
            ring->clear_marks();
        }
    });
}

void discard_output(const char*, size_t, void*) {}

double libvterm(const std::string& data, int runs, bool utf8 = false) {
    return best_mbps(data, runs, [utf8](const std::string& d) {
        VTerm* t = vterm_new(24, 80);
        vterm_set_utf8(t, utf8 ? 1 : 0);
        vterm_output_set_callback(t, discard_output, nullptr);
        VTermScreen* screen = vterm_obtain_screen(t);
        vterm_screen_reset(screen, 1);
        for (size_t off = 0; off < d.size(); off += chunk) {
            const size_t n = std::min(chunk, d.size() - off);
            vterm_input_write(t, d.data() + off, n);
        }
        vterm_free(t);
    });
}

// The bytes the recorded programs sent (the .vtrec read records, in name order), repeated to at least size bytes.
std::string recorded_stream(const std::string& dir, size_t size) {
    std::vector<std::filesystem::path> files;
    std::error_code ec;
    for (const auto& e : std::filesystem::directory_iterator(dir, ec))
        if (e.path().extension() == ".vtrec") files.push_back(e.path());
    std::sort(files.begin(), files.end());
    std::string once;
    for (const auto& f : files) {
        std::ifstream in(f, std::ios::binary);
        const std::string d((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        for (size_t i = 7; i < d.size();) {  // after the "VTREC1\n" header
            if (d[i++] != 'D') continue;
            if (i + 4 > d.size()) break;
            size_t n = 0;
            for (int k = 3; k >= 0; --k) n = n << 8 | uint8_t(d[i + size_t(k)]);
            once.append(d, i + 4, n);
            i += 4 + n;
        }
    }
    std::string s;
    if (once.empty()) return s;
    while (s.size() < size) s += once;
    return s;
}

// The recorded stream through our xterm emulation (utf8, replies taken) and through libvterm (utf8, its screen with
// the alternate screen on), one run of each per round, alternating, so that a busy spell on the shared machine
// falls on both sides alike.
void recorded_rounds(const std::string& data, int rounds, const char* label = "recorded") {
    std::vector<double> a, v, ratio;
    for (int r = 0; r < rounds; ++r) {
        a.push_back(best_mbps(data, 1, [](const std::string& d) {
            auto ring = std::make_unique<screen_ring>();
            vt term(*ring);
            term.options().utf8 = true;
            term.set_emulation(emulation::xterm);
            const auto* p = reinterpret_cast<const uint8_t*>(d.data());
            for (size_t off = 0; off < d.size(); off += chunk) {
                const size_t n = std::min(chunk, d.size() - off);
                size_t done = 0;
                while (done < n) {
                    done += term.feed(p + off + done, n - done);
                    term.take_reply();
                }
                ring->clear_marks();
            }
        }));
        v.push_back(best_mbps(data, 1, [](const std::string& d) {
            VTerm* t = vterm_new(24, 80);
            vterm_set_utf8(t, 1);
            vterm_output_set_callback(t, discard_output, nullptr);
            VTermScreen* screen = vterm_obtain_screen(t);
            vterm_screen_enable_altscreen(screen, 1);
            vterm_screen_reset(screen, 1);
            for (size_t off = 0; off < d.size(); off += chunk)
                vterm_input_write(t, d.data() + off, std::min(chunk, d.size() - off));
            vterm_free(t);
        }));
        ratio.push_back(a.back() / v.back());
    }
    std::printf("%-14s %10.1f %14s %14.1f %6.2fx  (xterm, utf8; medians of %d interleaved rounds, ratio min %.2fx)\n",
                label, median(a), "-", median(v), median(ratio), rounds, *std::min_element(ratio.begin(), ratio.end()));
}

// A window-sized screen of 200x60 with its history full of text (the default one, and one of 100,000 lines),
// resized by one row and column and back (a drag's steps): the time of one resize, min and median of 101.
void resize_timing(const std::string& text) {
    for (const int limit : {history_lines, 100000}) {
        auto ring = std::make_unique<screen_ring>();
        ring->set_history_limit(limit);
        vt term(*ring);
        term.resize(60, 200);
        const auto* p = reinterpret_cast<const uint8_t*>(text.data());
        for (size_t off = 0; ring->history_count() < limit && off < text.size(); off += 1 << 20)
            term.feed(p + off, std::min<size_t>(text.size() - off, 1 << 20));
        std::vector<double> ms;
        for (int i = 0; i < 101; ++i) {
            const auto t0 = std::chrono::steady_clock::now();
            term.resize(i % 2 ? 60 : 61, i % 2 ? 200 : 201);
            ms.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count());
        }
        std::printf("resize 200x60 with %d history lines: %.3f ms min, %.3f ms median\n", ring->history_count(),
                    *std::min_element(ms.begin(), ms.end()), median(ms));
    }
}

// The plain stream through the emulator with the default history and with 100,000 lines (every line leaving the
// ring then archived), one run of each per round, alternating: min and median MB/s of each. The 100,000-line history
// is measured twice: filling a new one (its pages touched for the first time) and a full one turning over, which is
// what a long session does once its history is full. On the classic 24x80 screen and on a window-sized 60x200 one.
// The default history runs twice a round: the ratio of its two runs is how far two runs of the same code differ here.
void scrollback_rounds(const std::string& data, int rounds, int rows, int columns) {
    auto feed_all = [](vt& term, screen_ring& ring, const std::string& d) {
        const auto* p = reinterpret_cast<const uint8_t*>(d.data());
        for (size_t off = 0; off < d.size(); off += chunk) {
            const size_t n = std::min(chunk, d.size() - off);
            size_t done = 0;
            while (done < n) done += term.feed(p + off + done, n - done);
            ring.clear_marks();
        }
    };
    auto run = [&](int limit) {
        return best_mbps(data, 1, [&, limit](const std::string& d) {
            auto ring = std::make_unique<screen_ring>();
            ring->set_history_limit(limit);
            vt term(*ring);
            if (rows != screen_rows) term.resize(rows, columns);
            feed_all(term, *ring, d);
        });
    };
    auto full = std::make_unique<screen_ring>();
    full->set_history_limit(100000);
    vt full_term(*full);
    if (rows != screen_rows) full_term.resize(rows, columns);
    while (full->history_count() < 100000) feed_all(full_term, *full, data);
    std::vector<double> small, large, turning, again;
    for (int r = 0; r < rounds; ++r) {
        small.push_back(run(history_lines));
        large.push_back(run(100000));
        turning.push_back(best_mbps(data, 1, [&](const std::string& d) { feed_all(full_term, *full, d); }));
        again.push_back(run(history_lines));
    }
    std::printf("flood %dx%d, history %6d: %7.1f MB/s min, %7.1f median (%d interleaved rounds)\n", columns, rows,
                history_lines, *std::min_element(small.begin(), small.end()), median(small), rounds);
    std::printf("flood, history %6d, filling: %7.1f MB/s min, %7.1f median\n", 100000,
                *std::min_element(large.begin(), large.end()), median(large));
    std::printf("flood, history %6d, full: %7.1f MB/s min, %7.1f median\n", 100000,
                *std::min_element(turning.begin(), turning.end()), median(turning));
    // Each round's own ratios, so that a busy spell that slowed one round does not decide the result.
    std::vector<double> filling_ratio, full_ratio, same_ratio;
    for (size_t r = 0; r < small.size(); ++r) {
        filling_ratio.push_back(large[r] / small[r]);
        full_ratio.push_back(turning[r] / small[r]);
        same_ratio.push_back(again[r] / small[r]);
    }
    auto spread = [](const std::vector<double>& v) {
        char b[64];
        std::snprintf(b, sizeof b, "%.3f min, %.3f median", *std::min_element(v.begin(), v.end()), median(v));
        return std::string(b);
    };
    std::printf("flood %dx%d ratio to history %d: filling %s; full %s; the same again %s\n", columns, rows,
                history_lines, spread(filling_ratio).c_str(), spread(full_ratio).c_str(), spread(same_ratio).c_str());
}

// A full history of 100,000 lines of 200 busy columns (and one of coloured lines): the archive's own bytes and
// the process's resident set before and after.
long rss_kib() {
    std::ifstream f("/proc/self/status");
    std::string line;
    while (std::getline(f, line))
        if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6);
    return 0;
}

void scrollback_memory() {
    for (const bool coloured : {false, true}) {
        const long before = rss_kib();
        auto ring = std::make_unique<screen_ring>();
        vt term(*ring);
        term.set_emulation(emulation::xterm);  // the VT220 sets no colour
        term.resize(60, 200);
        ring->set_history_limit(100000);
        std::string line(200, 'x');
        std::string chunk_text;
        const auto t0 = std::chrono::steady_clock::now();
        for (int i = 0; i < 100000 + 400; ++i) {
            const std::string n = std::to_string(i);
            std::copy(n.begin(), n.end(), line.begin());
            chunk_text += coloured ? "\x1b[31;44m" + line + "\x1b[m" : line;
            if (i % 100 == 99) {
                term.feed(reinterpret_cast<const uint8_t*>(chunk_text.data()), chunk_text.size());
                chunk_text.clear();
            }
        }
        const double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        std::printf("history of %d lines x 200 columns (%s): archive %.1f MiB, RSS +%.1f MiB, filled in %.2f s\n",
                    ring->history_count(), coloured ? "coloured" : "plain",
                    double(ring->archive_bytes()) / (1024.0 * 1024.0), double(rss_kib() - before) / 1024.0, secs);
    }
}

// Each recording alone and all of them together through both emulators, a few MiB each: "recorded [ROUNDS] [folder]".
void recorded_each(const std::string& dir, int rounds) {
    std::vector<std::filesystem::path> files;
    std::error_code ec;
    for (const auto& e : std::filesystem::directory_iterator(dir, ec))
        if (e.path().extension() == ".vtrec") files.push_back(e.path());
    std::sort(files.begin(), files.end());
    const auto scratch = std::filesystem::temp_directory_path() / ("bench_terminal." + std::to_string(getpid()));
    for (const auto& f : files) {
        std::filesystem::create_directories(scratch);
        std::filesystem::copy_file(f, scratch / f.filename(), std::filesystem::copy_options::overwrite_existing);
        recorded_rounds(recorded_stream(scratch.string(), 2 << 20), rounds, f.stem().c_str());
        std::filesystem::remove_all(scratch);
    }
    recorded_rounds(recorded_stream(dir, 4 << 20), rounds, "all");
}

// One side alone over the recordings (for callgrind: "side ours|vterm [folder]"). The data is made and the side
// warmed up (tables built on first use) before run_side, so --toggle-collect=*run_side* counts a steady run alone.
void side_once(const std::string& data, bool vterm_side) {
    if (vterm_side) {
        VTerm* t = vterm_new(24, 80);
        vterm_set_utf8(t, 1);
        vterm_output_set_callback(t, discard_output, nullptr);
        VTermScreen* screen = vterm_obtain_screen(t);
        vterm_screen_enable_altscreen(screen, 1);
        vterm_screen_reset(screen, 1);
        for (size_t off = 0; off < data.size(); off += chunk)
            vterm_input_write(t, data.data() + off, std::min(chunk, data.size() - off));
        vterm_free(t);
        return;
    }
    auto ring = std::make_unique<screen_ring>();
    vt term(*ring);
    term.options().utf8 = true;
    term.set_emulation(emulation::xterm);
    const auto* p = reinterpret_cast<const uint8_t*>(data.data());
    for (size_t off = 0; off < data.size(); off += chunk) {
        const size_t n = std::min(chunk, data.size() - off);
        size_t done = 0;
        while (done < n) {
            done += term.feed(p + off + done, n - done);
            term.take_reply();
        }
        ring->clear_marks();
    }
}

[[gnu::noinline]] void run_side(const std::string& data, bool vterm_side) { side_once(data, vterm_side); }

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1 && std::string(argv[1]) == "recorded") {
        const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 7;
        recorded_each(argc > 3 ? argv[3] : RECORDINGS_DIR, rounds);
        return 0;
    }
    if (argc > 2 && std::string(argv[1]) == "side") {
        const std::string data = recorded_stream(argc > 3 ? argv[3] : RECORDINGS_DIR, 1 << 20);
        const bool vterm_side = std::string(argv[2]) == "vterm";
        side_once(data, vterm_side);
        run_side(data, vterm_side);
        return 0;
    }
    // "flood [ROUNDS]": the scroll-back rounds alone, on 16 MiB of plain text.
    if (argc > 1 && std::string(argv[1]) == "flood") {
        std::mt19937 rng(2026);
        const std::string text = plain_stream(16 << 20, rng);
        const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 9;
        scrollback_rounds(text, rounds, screen_rows, 80);
        scrollback_rounds(text, rounds, 60, 200);
        return 0;
    }
    const size_t mib = argc > 1 ? size_t(std::max(1, std::atoi(argv[1]))) : 64;
    const int runs = 3;
    std::mt19937 rng(2026);
    const std::string plain = plain_stream(mib << 20, rng);
    const std::string mixed = mixed_stream(mib << 20, rng);
    const std::string unicode = utf8_stream(mib << 20, rng);

    std::printf("%zu MiB per stream, best of %d, thread CPU time\n", mib, runs);
    std::printf("stream          ours MB/s  ours bytewise  libvterm MB/s  ratio\n");
    for (const auto& [name, data] : {std::pair<const char*, const std::string&>{"plain text", plain},
                                     std::pair<const char*, const std::string&>{"mixed", mixed}}) {
        const double a = ours(data, runs);
        const double b = ours_bytewise(data, runs);
        const double v = libvterm(data, runs);
        std::printf("%-14s %10.1f %14.1f %14.1f %6.2fx\n", name, a, b, v, a / v);
    }
    // The same UTF-8 text with the utf8 option (both emulators decoding) and as plain bytes.
    const double ua = ours(unicode, runs, true);
    const double ub = ours_bytewise(unicode, runs, true);
    const double uv = libvterm(unicode, runs, true);
    std::printf("%-14s %10.1f %14.1f %14.1f %6.2fx\n", "utf-8 (utf8)", ua, ub, uv, ua / uv);
    const double ra = ours(unicode, runs);
    const double rb = ours_bytewise(unicode, runs);
    std::printf("%-14s %10.1f %14.1f %14s\n", "utf-8 as bytes", ra, rb, "-");

    // Real programs' colour output: a few MiB of it, however large the generated streams are.
    const std::string dir = argc > 2 ? argv[2] : RECORDINGS_DIR;
    const std::string recorded = recorded_stream(dir, std::min<size_t>(mib, 4) << 20);
    if (recorded.empty())
        std::printf("recorded: no .vtrec recordings in %s\n", dir.c_str());
    else
        recorded_rounds(recorded, 7);
    resize_timing(plain);
    for (const auto& [rows, columns] : {std::pair{screen_rows, 80}, std::pair{60, 200}})
        scrollback_rounds(plain.substr(0, std::min<size_t>(plain.size(), 32 << 20)), 7, rows, columns);
    scrollback_memory();
    return 0;
}
