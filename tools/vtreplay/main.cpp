// vtreplay: feeds a byte stream to the emulator as the session's receive path does (blocks through vt::feed, each
// reply taken where feed stops) and prints the resulting screen. --bytewise feeds one byte at a time instead.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "terminal/screen_dump.h"
#include "terminal/vt.h"

namespace {

struct replay_host : vt_host {
    bool reverse_screen = false;
    bool local_echo = false;
    void set_reverse_screen(bool on) override { reverse_screen = on; }
    void set_local_echo(bool on) override { local_echo = on; }
    std::string title;
    void set_title(std::string_view t) override { title = t; }
};

constexpr const char* kUsage =
    "usage: vtreplay [--rows 24] [--cols 80|132] [--utf8] [--term NAME] [--json] [--history] [--bytewise] [FILE]\n";

int usage() {
    std::fputs(kUsage, stderr);
    return 2;
}

// A socket read in the session is at most this many bytes (receive_buffer_size), and each read is fed as one block.
constexpr std::size_t kBlock = 2000;

}  // namespace

int main(int argc, char** argv) {
    int cols = 80;
    bool json = false, history = false, utf8 = false, bytewise = false;
    std::string termtype = "vt220";
    const char* path = nullptr;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--cols") == 0 && i + 1 < argc) {
            const std::string v = argv[++i];
            if (v == "80")
                cols = 80;
            else if (v == "132")
                cols = 132;
            else
                return usage();
        } else if (std::strcmp(argv[i], "--rows") == 0 && i + 1 < argc) {
            // The screen has 24 rows; the option is taken so that scripts can name the size they expect.
            if (std::strcmp(argv[++i], "24") != 0) {
                std::fputs("vtreplay: the screen has 24 rows\n", stderr);
                return 2;
            }
        } else if (std::strcmp(argv[i], "--term") == 0 && i + 1 < argc) {
            termtype = argv[++i];
        } else if (std::strcmp(argv[i], "--json") == 0) {
            json = true;
        } else if (std::strcmp(argv[i], "--utf8") == 0) {
            utf8 = true;
        } else if (std::strcmp(argv[i], "--history") == 0) {
            history = true;
        } else if (std::strcmp(argv[i], "--bytewise") == 0) {
            bytewise = true;
        } else if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::fputs(kUsage, stdout);
            std::fputs("  --term NAME  the termtype setting: xterm* picks the xterm emulation, else the VT220\n",
                       stdout);
            std::fputs("  --bytewise  feed one byte at a time (feed_byte) instead of the session's blocks (feed)\n",
                       stdout);
            return 0;
        } else if (argv[i][0] == '-' && argv[i][1] != '\0') {
            return usage();
        } else if (!path) {
            path = argv[i];
        } else {
            return usage();
        }
    }

    std::FILE* in = stdin;
    if (path && std::strcmp(path, "-") != 0) {
        in = std::fopen(path, "rb");
        if (!in) {
            std::fprintf(stderr, "vtreplay: cannot open %s: %s\n", path, std::strerror(errno));
            return 1;
        }
    }

    auto ring = std::make_unique<screen_ring>();
    replay_host host;
    vt term(*ring, &host);
    if (cols != 80) term.set_columns(cols);
    term.options().utf8 = utf8;
    term.set_emulation(emulation_for_termtype(termtype));

    std::string replies;
    unsigned char buf[kBlock];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, in)) > 0) {
        if (bytewise) {
            for (size_t i = 0; i < n; ++i) {
                if (term.feed_byte(buf[i])) {
                    if (const char* r = term.take_reply()) replies += r;
                }
            }
            continue;
        }
        // As session::display_from_host: feed stops right after a byte that leaves a reply.
        for (size_t i = 0; i < n;) {
            i += term.feed(buf + i, n - i);
            if (!term.reply_pending()) continue;
            if (const char* r = term.take_reply()) replies += r;
        }
    }
    const bool failed = std::ferror(in);
    if (in != stdin) std::fclose(in);
    if (failed) {
        std::fputs("vtreplay: read error\n", stderr);
        return 1;
    }

    std::string out;
    if (json) {
        dump_extras x;
        x.reverse_screen = host.reverse_screen;
        x.local_echo = host.local_echo;
        x.history = history;
        x.replies = replies;
        x.title = host.title;
        out = screen_dump_json(term, x);
    } else {
        out = screen_dump_plain(*ring);
    }
    std::fwrite(out.data(), 1, out.size(), stdout);
    return std::fflush(stdout) == 0 ? 0 : 1;
}
