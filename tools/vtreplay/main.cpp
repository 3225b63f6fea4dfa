// vtreplay: feeds a byte stream to the emulator as the receive path does and prints the resulting screen.
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
};

int usage() {
    std::fputs("usage: vtreplay [--cols 80|132] [--utf8] [--json] [--history] [FILE]\n", stderr);
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    int cols = 80;
    bool json = false, history = false, utf8 = false;
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
        } else if (std::strcmp(argv[i], "--json") == 0) {
            json = true;
        } else if (std::strcmp(argv[i], "--utf8") == 0) {
            utf8 = true;
        } else if (std::strcmp(argv[i], "--history") == 0) {
            history = true;
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

    std::string replies;
    unsigned char buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, in)) > 0) {
        for (size_t i = 0; i < n; ++i) {
            if (term.feed_byte(buf[i])) {
                if (const char* r = term.take_reply()) replies += r;
            }
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
        out = screen_dump_json(term, x);
    } else {
        out = screen_dump_plain(*ring);
    }
    std::fwrite(out.data(), 1, out.size(), stdout);
    return std::fflush(stdout) == 0 ? 0 : 1;
}
