// Time to take a 10 MiB text flood through display_from_host in 2000-byte reads, with the view repainting as
// the running client does (offscreen), compared with xterm under Xvfb running cat on the same file.
// Usage: view_flood_bench [MiB]   (xterm part skipped when xvfb-run or xterm is missing)
//        view_flood_bench MiB --history ROUNDS: the view with the default 199-line history and with 100,000 lines,
//        interleaved (the default twice a round, to show how far the same code differs between runs), no xterm
#include <QApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "config/settings.h"
#include "terminal/screen.h"
#include "fakes.h"
#include "view/document.h"
#include "view/view.h"
#include "../stats.h"

namespace {
std::string make_flood(std::size_t bytes) {
    std::string out;
    out.reserve(bytes + 100);
    const char* words[] = {"alpha", "beta", "gamma", "delta", "epsilon", "zeta", "eta", "theta", "iota", "kappa"};
    unsigned n = 0;
    while (out.size() < bytes) {
        std::string line = std::to_string(n) + ":";
        while (line.size() < 72) {
            line += ' ';
            line += words[(n * 7 + line.size()) % 10];
        }
        out += line;
        out += "\r\n";
        ++n;
    }
    out.resize(bytes);
    return out;
}

// The flood through a new view in 2000-byte reads, letting queued events (timers, repaints) run between reads as
// the read handler does: seconds, or -1 when the session did not connect.
double view_seconds(const std::string& flood, int scrollback_lines, int* paints = nullptr,
                    std::string* last = nullptr) {
    reset_settings();
    settings().keyname = settings().nettopc = settings().pctonet = "/nonexistent";
    settings().scrollback_lines = scrollback_lines;
    recording_sockets sockets;
    recording_ui ui;
    CVellumDoc doc;
    CVellumView view(doc, ui, sockets);
    view.resize(1024, 700);
    view.show();
    if (!view.connect_to("127.0.0.1", 23) || !view.connected()) return -1;
    QApplication::processEvents();

    int painted = 0;
    struct counter : QObject {
        int& n;
        explicit counter(int& c) : n(c) {}
        bool eventFilter(QObject*, QEvent* e) override {
            if (e->type() == QEvent::Paint) ++n;
            return false;
        }
    } count(painted);
    view.installEventFilter(&count);

    QElapsedTimer t;
    t.start();
    const auto* p = reinterpret_cast<const std::uint8_t*>(flood.data());
    for (std::size_t off = 0; off < flood.size(); off += 2000) {
        std::size_t n = std::min<std::size_t>(2000, flood.size() - off);
        view.display_from_host(p + off, n);
        QCoreApplication::processEvents();
    }
    view.update_all();
    QCoreApplication::processEvents();
    view.repaint();
    const double seconds = t.nsecsElapsed() / 1e9;
    if (paints) *paints = painted;
    // The flood must have reached the screen: its last full line is on row 23 or 24.
    for (int r = 23; last && r <= 24; ++r)
        for (int c = 1; c <= 8; ++c) *last += static_cast<char>(view.ring().line(r).cell(c) & cell_char_mask);
    return seconds;
}

double seconds_of(const std::string& command) {
    auto t0 = std::chrono::steady_clock::now();
    int rc = std::system(command.c_str());
    auto t1 = std::chrono::steady_clock::now();
    if (rc != 0) return -1;
    return std::chrono::duration<double>(t1 - t0).count();
}
}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    int mib = argc > 1 ? std::atoi(argv[1]) : 10;
    if (mib <= 0) mib = 10;
    QApplication app(argc, argv);
    const std::string flood = make_flood(static_cast<std::size_t>(mib) << 20);

    if (argc > 3 && std::string(argv[2]) == "--history") {
        const int rounds = std::max(1, std::atoi(argv[3]));
        std::vector<double> small, large, again, ratio, same;
        for (int r = 0; r < rounds; ++r) {
            small.push_back(view_seconds(flood, 199));
            large.push_back(view_seconds(flood, 100000));
            again.push_back(view_seconds(flood, 199));
            if (small.back() <= 0 || large.back() <= 0 || again.back() <= 0) {
                std::fprintf(stderr, "the session did not connect; nothing measured\n");
                return 1;
            }
            ratio.push_back(small.back() / large.back());  // throughput of 100,000 lines over 199
            same.push_back(small.back() / again.back());
        }
        std::printf("view flood %d MiB, %d interleaved rounds: history 199 %.3f s, 100000 %.3f s (medians); "
                    "throughput ratio %.3f median, %.3f min; the same again %.3f median, %.3f min\n",
                    mib, rounds, median(small), median(large), median(ratio),
                    *std::min_element(ratio.begin(), ratio.end()), median(same),
                    *std::min_element(same.begin(), same.end()));
        return 0;
    }
    int paints = 0;
    std::string last;
    const double ours = view_seconds(flood, 199, &paints, &last);
    if (ours < 0) {
        std::fprintf(stderr, "the session did not connect; nothing measured\n");
        return 1;
    }
    std::printf("screen rows 23-24 start: \"%s\"\n", last.c_str());
    std::printf("qtelnet view: %d MiB in %.3f s (%.1f MB/s), %d paint events\n", mib, ours, flood.size() / ours / 1e6,
                paints);

    if (std::system("command -v xvfb-run >/dev/null 2>&1 && command -v xterm >/dev/null 2>&1") != 0) {
        std::printf("xterm: not measured (xvfb-run or xterm missing)\n");
        return 0;
    }
    QTemporaryDir dir;
    std::string file = dir.filePath("flood.txt").toStdString();
    {
        std::ofstream f(file, std::ios::binary);
        f << flood;
    }
    const std::string xterm = "xvfb-run -a xterm -geometry 80x24 -e sh -c ";
    double base = seconds_of(xterm + "'true' >/dev/null 2>&1");
    double full = seconds_of(xterm + "'cat " + file + "' >/dev/null 2>&1");
    if (base < 0 || full < 0) {
        std::printf("xterm: failed to run\n");
        return 0;
    }
    double xterm_time = full - base;
    std::printf("xterm: %.3f s with start-up, %.3f s start-up alone, %.3f s for the flood (%.1f MB/s)\n", full, base,
                xterm_time, flood.size() / xterm_time / 1e6);
    std::printf("ratio xterm time / qtelnet time: %.2f (above 1 means qtelnet is faster)\n", xterm_time / ours);
    return 0;
}
