// demohost: a small Telnet host on 127.0.0.1 for trying the client without a real one. It negotiates like a host
// does (echo, suppress go-ahead, terminal type), plays the demo stream, then offers a short interactive page: typed
// lines come back, key codes are shown, and a 132-column, a line-drawing and a colour page are there on request.
// There is no shell and nothing else to reach; it listens on the loopback address only.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#ifndef DEMOHOST_DEMO_FILE
#define DEMOHOST_DEMO_FILE "docs/demo.vt"
#endif

namespace {

constexpr unsigned char IAC = 255, DONT = 254, DO = 253, WONT = 252, WILL = 251, SB = 250, SE = 240;
constexpr unsigned char opt_echo = 1, opt_sga = 3, opt_ttype = 24;
constexpr unsigned char ttype_is = 0, ttype_send = 1;

constexpr std::size_t read_chunk = 512;
constexpr std::size_t line_limit = 200;   // one typed line
constexpr std::size_t subneg_limit = 64;  // a terminal type name is short; longer ones are cut
constexpr long demo_limit = 1L << 20;     // the demo stream file
constexpr int negotiation_ms = 2000;      // wait for the terminal type before the demo starts

volatile std::sig_atomic_t stop_requested = 0;
void request_stop(int) { stop_requested = 1; }

// One Telnet connection: option negotiation and data, bounded buffers throughout.
class telnet_link {
public:
    explicit telnet_link(int fd) : fd_(fd) {}

    bool send(std::string_view bytes) {
        while (!bytes.empty()) {
            const ssize_t n = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return false;
            bytes.remove_prefix(static_cast<std::size_t>(n));
        }
        return true;
    }
    bool command(unsigned char verb, unsigned char option) {
        const char c[3] = {static_cast<char>(IAC), static_cast<char>(verb), static_cast<char>(option)};
        return send(std::string_view(c, 3));
    }

    // Offers what a host usually does: it echoes and needs no go-ahead, and asks for the terminal type.
    bool open() {
        echoing_ = will_sga_ = asked_ttype_ = true;
        return command(WILL, opt_echo) && command(WILL, opt_sga) && command(DO, opt_sga) && command(DO, opt_ttype);
    }

    // Waits up to `timeout_ms` for input; appends the data bytes (Telnet commands taken out, CR NUL and CR LF
    // as CR) to `data`. -1: closed or failed, 0: nothing in time, else the bytes read off the socket.
    int receive(std::string& data, int timeout_ms) {
        pollfd p{fd_, POLLIN, 0};
        const int r = ::poll(&p, 1, timeout_ms);
        if (r < 0) return errno == EINTR ? 0 : -1;
        if (r == 0) return 0;
        char buf[read_chunk];
        const ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
        if (n < 0 && errno == EINTR) return 0;
        if (n <= 0) return -1;
        for (ssize_t i = 0; i < n; ++i) take(static_cast<unsigned char>(buf[i]), data);
        return static_cast<int>(n);
    }

    bool echoing() const { return echoing_; }
    bool ttype_settled() const { return !term_type.empty() || !asked_ttype_; }
    std::string term_type;

private:
    void take(unsigned char b, std::string& data) {
        switch (state_) {
        case state::data:
            if (b == IAC) {
                state_ = state::iac;
            } else if (after_cr_ && (b == 0 || b == '\n')) {
                after_cr_ = false;
            } else {
                after_cr_ = b == '\r';
                data += static_cast<char>(b);
            }
            return;
        case state::iac:
            if (b == IAC) {
                data += static_cast<char>(b);
                state_ = state::data;
            } else if (b >= WILL && b <= DONT) {
                verb_ = b;
                state_ = state::option;
            } else if (b == SB) {
                subneg_.clear();
                state_ = state::subneg;
            } else {
                state_ = state::data;  // NOP, GA, AYT and the like: nothing to do
            }
            return;
        case state::option:
            option(verb_, b);
            state_ = state::data;
            return;
        case state::subneg:
            if (b == IAC)
                state_ = state::subneg_iac;
            else if (subneg_.size() < subneg_limit)
                subneg_ += static_cast<char>(b);
            return;
        case state::subneg_iac:
            if (b == SE) {
                subnegotiation();
                state_ = state::data;
            } else {
                if (subneg_.size() < subneg_limit) subneg_ += static_cast<char>(b);
                state_ = state::subneg;
            }
            return;
        }
    }

    // Answers only changes of state, so two ends that both reply never loop.
    void option(unsigned char verb, unsigned char opt) {
        switch (verb) {
        case DO:
            if (opt == opt_echo && !echoing_)
                echoing_ = command(WILL, opt);
            else if (opt == opt_sga && !will_sga_)
                will_sga_ = command(WILL, opt);
            else if (opt != opt_echo && opt != opt_sga)
                command(WONT, opt);
            break;
        case DONT:
            // The client echoes for itself from now on.
            if (opt == opt_echo && echoing_)
                echoing_ = !command(WONT, opt);
            else if (opt == opt_sga && will_sga_)
                will_sga_ = !command(WONT, opt);
            break;
        case WILL:
            if (opt == opt_ttype) {
                const char req[6] = {static_cast<char>(IAC),       static_cast<char>(SB),
                                     static_cast<char>(opt_ttype), static_cast<char>(ttype_send),
                                     static_cast<char>(IAC),       static_cast<char>(SE)};
                send(std::string_view(req, sizeof req));
            } else if (opt != opt_sga) {
                command(DONT, opt);
            }
            break;
        case WONT:
            if (opt == opt_ttype) asked_ttype_ = false;
            break;
        default: break;
        }
    }

    void subnegotiation() {
        if (subneg_.size() < 2 || static_cast<unsigned char>(subneg_[0]) != opt_ttype ||
            static_cast<unsigned char>(subneg_[1]) != ttype_is)
            return;
        term_type.clear();
        for (char c : subneg_.substr(2))
            if (c > ' ' && c < 127) term_type += c;
        if (term_type.empty()) term_type = "?";
    }

    enum class state { data, iac, option, subneg, subneg_iac };
    int fd_;
    state state_ = state::data;
    unsigned char verb_ = 0;
    std::string subneg_;
    bool after_cr_ = false;
    bool echoing_ = false, will_sga_ = false, asked_ttype_ = false;
};

std::string read_demo(const char* path) {
    std::FILE* f = std::fopen(path, "rb");
    if (!f) return "\x1b[H\x1b[2J(The demo stream " + std::string(path) + " could not be read.)\r\n";
    std::string out;
    char buf[4096];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0 && out.size() < static_cast<std::size_t>(demo_limit))
        out.append(buf, std::min(n, static_cast<std::size_t>(demo_limit) - out.size()));
    std::fclose(f);
    return out;
}

std::string menu(const std::string& term_type) {
    return "\x1b[H\x1b[2J\x1b[1mqtelnet demo host\x1b[0m    (terminal type: " + term_type +
           ")\r\n\r\n"
           "Type a line and press Return: it comes back. Or one of these:\r\n"
           "  keys    show the codes each key sends (q ends)\r\n"
           "  wide    a 132-column page\r\n"
           "  lines   a line-drawing page\r\n"
           "  colours colours, text attributes and box drawing\r\n"
           "  demo    the demo screen again\r\n"
           "  quit    end the session\r\n\r\n";
}

const char* const prompt = "demo> ";
// On the demo screen's free row 23, so nothing of the demo scrolls away.
const char* const after_demo = "\x1b[r\x1b[0m\x1b[23;1H\x1b[2KPress Return for the interactive page.";

std::string wide_page() {
    std::string s = "\x1b[?3h\x1b[H\x1b[2J\x1b[1m132 columns\x1b[0m\r\n";
    for (int tens = 1; tens <= 132; ++tens) s += tens % 10 == 0 ? static_cast<char>('0' + (tens / 10) % 10) : ' ';
    s += "\r\n";
    for (int c = 1; c <= 132; ++c) s += static_cast<char>('0' + c % 10);
    s += "\r\n\r\nThe ruler above reaches column 132; the last digit sits in the last column.\r\n";
    s += "\x1b[24;1HPress Return for 80 columns.";
    return s;
}

std::string lines_page() {
    // DEC special graphics: l k m j corners, q horizontal, x vertical, t u v w n tees and cross.
    std::string s = "\x1b[H\x1b[2J\x1b[1mLine drawing\x1b[0m\r\n\r\n";
    s += "  \x1b(0lqqqqqqqqqqwqqqqqqqqqqk\x1b(B\r\n";
    s += "  \x1b(0x\x1b(B  one     \x1b(0x\x1b(B  two     \x1b(0x\x1b(B\r\n";
    s += "  \x1b(0tqqqqqqqqqqnqqqqqqqqqqu\x1b(B\r\n";
    s += "  \x1b(0x\x1b(B  three   \x1b(0x\x1b(B  four    \x1b(0x\x1b(B\r\n";
    s += "  \x1b(0mqqqqqqqqqqvqqqqqqqqqqj\x1b(B\r\n\r\n";
    s += "  Other glyphs: \x1b(0`afg~{|}y z\x1b(B\r\n\r\n";
    return s;
}

std::string sgr(const std::string& params, const std::string& text) {
    return "\x1b[" + params + "m" + text + "\x1b[0m";
}

// 16 colours, the 256-colour cube and greys, a 24-bit gradient, the text attributes and box drawing. The UTF-8 box
// goes only to xterm types: in a VT220 byte session its bytes 0x80-0x9f would act as C1 controls.
std::string colours_page(const std::string& term_type) {
    const bool xterm = term_type.rfind("xterm", 0) == 0;
    std::string s = "\x1b[H\x1b[2J\x1b[1mColours\x1b[0m";
    s += xterm ? "\r\n" : "  (a VT220 shows none: choose an xterm type in Settings > Termtype...)\r\n";
    const char* const names[8] = {"black", "red", "green", "yellow", "blue", "magenta", "cyan", "white"};
    const struct {
        const char* label;
        int base;
    } sixteen[4] = {{"  30-37  ", 30}, {"  90-97  ", 90}, {"  40-47  ", 40}, {" 100-107 ", 100}};
    for (const auto& row : sixteen) {
        s += row.label;
        for (int i = 0; i < 8; ++i) {
            std::string cell = names[i];
            cell.resize(8, ' ');
            s += sgr(std::to_string(row.base + i), cell);
        }
        s += "\r\n";
    }
    s += "\r\n  256 colours: the 6x6x6 cube (16-231) and 24 greys (232-255)\r\n";
    for (int red = 0; red < 6; ++red) {
        s += "  ";
        for (int i = 0; i < 36; ++i) s += sgr("48;5;" + std::to_string(16 + red * 36 + i), "  ");
        s += "\r\n";
    }
    s += "  ";
    for (int g = 232; g <= 255; ++g) s += sgr("48;5;" + std::to_string(g), "   ");
    s += "\r\n\r\n  24-bit  ";
    // Red to green to blue and back towards red, 64 steps.
    for (int i = 0; i < 64; ++i) {
        const int phase = i * 3 * 256 / 64, part = phase / 256, t = phase % 256;
        int rgb[3] = {0, 0, 0};
        rgb[part] = 255 - t;
        rgb[(part + 1) % 3] = t;
        s += sgr("48;2;" + std::to_string(rgb[0]) + ";" + std::to_string(rgb[1]) + ";" + std::to_string(rgb[2]), " ");
    }
    s += "\r\n\r\n  " + sgr("1", "bold") + " " + sgr("2", "dim") + " " + sgr("3", "italic") + " " +
         sgr("4", "underline") + " " + sgr("5", "blink") + " " + sgr("7", "reverse") + " " + sgr("9", "strike") + " " +
         sgr("1;31", "bold red") + " " + sgr("1;34;47", "bold blue on white") + "\r\n\r\n";
    const char* const dec[3] = {"lqqqqwqqqqk", "tqqqqnqqqqu", "mqqqqvqqqqj"};
    const char* const utf8[3] = {"\u250c\u2500\u2500\u2500\u2500\u252c\u2500\u2500\u2500\u2500\u2510",
                                 "\u251c\u2500\u2500\u2500\u2500\u253c\u2500\u2500\u2500\u2500\u2524",
                                 "\u2514\u2500\u2500\u2500\u2500\u2534\u2500\u2500\u2500\u2500\u2518"};
    for (int i = 0; i < 3; ++i) {
        s += std::string("  ") + (i == 1 ? "DEC " : "    ") + "\x1b(0" + dec[i] + "\x1b(B";
        if (xterm) s += std::string("    ") + (i == 1 ? "UTF-8 " : "      ") + utf8[i];
        s += "\r\n";
    }
    s += "\r\n";
    return s;
}

// Length of the key that starts `bytes`: an escape sequence (ESC [ or ESC O up to its final byte, ESC and one
// more byte otherwise) or one byte. Keys typed fast may arrive in one read.
std::size_t key_length(std::string_view bytes) {
    if (bytes.size() < 2 || bytes[0] != '\x1b') return 1;
    if (bytes[1] != '[' && bytes[1] != 'O') return 2;
    for (std::size_t i = 2; i < bytes.size(); ++i)
        if (bytes[i] >= 0x40 && bytes[i] <= 0x7e) return i + 1;
    return bytes.size();
}

// The bytes of one key as text: "ESC [ A   1b 5b 41".
std::string describe_key(std::string_view bytes) {
    std::string names, hex;
    char tmp[8];
    for (unsigned char b : bytes) {
        if (!names.empty()) names += ' ';
        if (b == 0x1b)
            names += "ESC";
        else if (b < 0x20)
            names += std::string("^") + static_cast<char>(b + '@');
        else if (b == 0x7f)
            names += "DEL";
        else if (b < 0x7f)
            names += static_cast<char>(b);
        else {
            std::snprintf(tmp, sizeof tmp, "\\x%02x", b);
            names += tmp;
        }
        std::snprintf(tmp, sizeof tmp, "%02x ", b);
        hex += tmp;
    }
    return "  " + names + std::string(names.size() < 24 ? 24 - names.size() : 1, ' ') + hex + "\r\n";
}

// One session, from negotiation to quit, a closed connection or the stop signal.
void serve(int fd, const std::string& demo, int idle_ms) {
    telnet_link link(fd);
    if (!link.open()) return;
    std::string input;
    for (int waited = 0; waited < negotiation_ms && !link.ttype_settled() && !stop_requested; waited += 100)
        if (link.receive(input, 100) < 0) return;
    input.clear();
    const std::string term = link.term_type.empty() ? "not told" : link.term_type;
    if (!link.send(demo) || !link.send(after_demo)) return;

    enum class mode { demo, line, keys, wide } m = mode::demo;
    std::string line;
    while (!stop_requested) {
        std::string got;
        const int r = link.receive(got, 500);
        if (r < 0) return;
        if (r == 0) {
            if ((idle_ms -= 500) <= 0) {
                link.send("\r\nIdle too long; goodbye.\r\n");
                return;
            }
            continue;
        }
        std::string out;
        for (std::size_t i = 0; i < got.size(); ++i) {
            if (m == mode::keys) {
                const std::size_t n = key_length(std::string_view(got).substr(i));
                const std::string_view k = std::string_view(got).substr(i, n);
                i += n - 1;
                if (k == "q" || k == "Q") {
                    m = mode::line;
                    out += menu(term) + prompt;
                } else {
                    out += describe_key(k);
                }
                continue;
            }
            const char ch = got[i];
            const auto b = static_cast<unsigned char>(ch);
            if (m == mode::demo || m == mode::wide) {
                if (b != '\r') continue;
                out += m == mode::wide ? "\x1b[?3l" : "";
                out += menu(term) + prompt;
                m = mode::line;
                continue;
            }
            if (b == '\r') {
                out += "\r\n";
                const std::string cmd = line;
                line.clear();
                if (cmd == "quit" || cmd == "exit" || cmd == "logout") {
                    link.send(out + "Goodbye.\r\n");
                    return;
                } else if (cmd == "keys") {
                    out += "Press keys to see what they send; q alone ends.\r\n";
                    m = mode::keys;
                } else if (cmd == "wide") {
                    out += wide_page();
                    m = mode::wide;
                } else if (cmd == "lines") {
                    out += lines_page() + prompt;
                } else if (cmd == "colours" || cmd == "colors") {
                    out += colours_page(term) + prompt;
                } else if (cmd == "demo") {
                    out += demo + after_demo;
                    m = mode::demo;
                } else if (cmd == "help" || cmd == "menu") {
                    out += menu(term) + prompt;
                } else if (cmd.empty()) {
                    out += prompt;
                } else {
                    out += "You typed: " + cmd + "\r\n" + prompt;
                }
            } else if (b == 8 || b == 127) {
                if (!line.empty()) {
                    line.pop_back();
                    if (link.echoing()) out += "\b \b";
                }
            } else if (b == 3) {
                line.clear();
                out += "^C\r\n";
                out += prompt;
            } else if (b == 4 && line.empty()) {
                link.send(out + "\r\nGoodbye.\r\n");
                return;
            } else if ((b >= 0x20 && b < 0x7f) || b >= 0xa0) {
                if (line.size() < line_limit) {
                    line += ch;
                    if (link.echoing()) out += ch;
                }
            }
        }
        if (!out.empty() && !link.send(out)) return;
    }
}

int usage() {
    std::fputs("usage: demohost [--port N] [--demo FILE] [--once] [--idle SECONDS]\n"
               "  Listens on 127.0.0.1 (port 0: a free one) and prints \"port N\" once it listens.\n",
               stderr);
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    long port = 0, idle_s = 1800;
    const char* demo_file = DEMOHOST_DEMO_FILE;
    bool once = false;
    for (int i = 1; i < argc; ++i) {
        const std::string_view a = argv[i];
        const bool has_value = i + 1 < argc;
        char* end = nullptr;
        if (a == "--port" && has_value) {
            port = std::strtol(argv[++i], &end, 10);
            if (*end || port < 0 || port > 65535) return usage();
        } else if (a == "--idle" && has_value) {
            idle_s = std::strtol(argv[++i], &end, 10);
            if (*end || idle_s < 1 || idle_s > 86400) return usage();
        } else if (a == "--demo" && has_value) {
            demo_file = argv[++i];
        } else if (a == "--once") {
            once = true;
        } else {
            return usage();
        }
    }
    const std::string demo = read_demo(demo_file);

    struct sigaction sa {};
    sa.sa_handler = request_stop;
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGHUP, &sa, nullptr);

    const int ls = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (ls < 0) {
        std::perror("demohost: socket");
        return 1;
    }
    const int on = 1;
    ::setsockopt(ls, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(static_cast<std::uint16_t>(port));
    socklen_t len = sizeof addr;
    if (::bind(ls, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(ls, 4) != 0 ||
        ::getsockname(ls, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
        std::perror("demohost: listen on 127.0.0.1");
        return 1;
    }
    std::printf("port %u\n", ntohs(addr.sin_port));
    std::fflush(stdout);

    while (!stop_requested) {
        pollfd p{ls, POLLIN, 0};
        if (::poll(&p, 1, 500) <= 0) continue;
        const int fd = ::accept4(ls, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) continue;
        serve(fd, demo, static_cast<int>(idle_s * 1000));
        ::shutdown(fd, SHUT_RDWR);
        ::close(fd);
        if (once) break;
    }
    ::close(ls);
    return 0;
}
