#include "config/mycli.h"

#include <algorithm>
#include <cctype>
#include <string>

namespace {
// argv[0] is the program, not a parameter.
std::vector<std::string> args_of(int argc, const char* const* argv) {
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) args.emplace_back(argv[i] ? argv[i] : "");
    return args;
}
}  // namespace

StartupValues& startup_values() {
    static StartupValues sv;
    return sv;
}

void mycli::set_host(std::string_view text) {
    static constexpr std::string_view scheme = "telnet://";
    if (text.substr(0, scheme.size()) != scheme) {
        out_.host = std::string(text);
        return;
    }
    std::string_view rest = text.substr(scheme.size());
    std::size_t end;
    if (std::size_t close = rest.find(']');
        !rest.empty() && rest[0] == '[' && close != std::string_view::npos && rest.find('/') > close) {
        // An IPv6 address in brackets: its colons are not the port separator.
        out_.host = std::string(rest.substr(1, close - 1));
        end = close + 1 < rest.size() ? close + 1 : std::string_view::npos;
    } else {
        end = rest.find_first_of(":/");
        out_.host = std::string(rest.substr(0, end));
    }
    // A port only after ":"; the loader takes the number at its start, so "2323/" gives 2323.
    if (end != std::string_view::npos && rest[end] == ':') out_.port = std::string(rest.substr(end + 1));
}

namespace {

std::string lower(std::string_view s) {
    std::string out(s);
    for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

// %XX escapes of a URL's user part.
std::string percent_decoded(std::string_view s) {
    std::string out;
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '%' && i + 2 < s.size() && std::isxdigit(static_cast<unsigned char>(s[i + 1])) &&
            std::isxdigit(static_cast<unsigned char>(s[i + 2]))) {
            out += static_cast<char>(std::stoi(std::string(s.substr(i + 1, 2)), nullptr, 16));
            i += 2;
        } else {
            out += s[i];
        }
    }
    return out;
}

}  // namespace

bool parse_launch_url(std::string_view text, launch_target& out, std::string& why) {
    const std::size_t sep = text.find("://");
    const std::string scheme = lower(text.substr(0, sep));
    auto fail = [&](const std::string& reason) {
        why = "Cannot open \"" + std::string(text) + "\": " + reason;
        return false;
    };
    if (sep == std::string_view::npos || (scheme != "ssh" && scheme != "telnet"))
        return fail("only ssh:// and telnet:// addresses can be opened.");
    launch_target t;
    t.proto = scheme == "ssh" ? launch_target::protocol::ssh : launch_target::protocol::telnet;
    std::string_view rest = text.substr(sep + 3);
    rest = rest.substr(0, rest.find('/'));
    if (const std::size_t at = rest.rfind('@'); at != std::string_view::npos) {
        t.user = percent_decoded(rest.substr(0, std::min(at, rest.find(';'))));
        rest = rest.substr(at + 1);
    }
    std::string_view port;
    if (!rest.empty() && rest[0] == '[') {
        const std::size_t close = rest.find(']');
        if (close == std::string_view::npos) return fail("the address in brackets is not closed.");
        t.host = std::string(rest.substr(1, close - 1));
        const std::string_view after = rest.substr(close + 1);
        if (!after.empty() && after[0] != ':') return fail("unexpected text after the address in brackets.");
        if (!after.empty()) port = after.substr(1);
    } else {
        const std::size_t colon = rest.find(':');
        if (colon != std::string_view::npos && rest.find(':', colon + 1) != std::string_view::npos)
            return fail("an IPv6 address must be in brackets, as in ssh://[::1]:22.");
        t.host = std::string(rest.substr(0, colon));
        if (colon != std::string_view::npos) port = rest.substr(colon + 1);
    }
    if (t.host.empty()) return fail("it names no host.");
    if (!port.empty()) {
        const int p = command_line_port(port);
        if (p <= 0 || std::to_string(p) != port) return fail("the port is not a number from 1 to 65535.");
        t.port = p;
    }
    t.given = true;
    out = std::move(t);
    return true;
}

void mycli::take_target(std::string_view text) {
    launch_target& t = out_.launch;
    if (text.find("://") != std::string_view::npos) {
        launch_target url;
        std::string why;
        if (!parse_launch_url(text, url, why)) {
            out_.launch_error = why;
            return;
        }
        // The scheme decides the protocol; -l and -i given before still count unless the URL names a user.
        if (url.user.empty()) url.user = t.user;
        url.key_file = t.key_file;
        url.jump = t.jump;
        t = std::move(url);
        return;
    }
    const std::size_t at = text.rfind('@');
    const std::string_view host = at == std::string_view::npos ? text : text.substr(at + 1);
    if (host.empty() || host.find_first_of(" \t/") != std::string_view::npos) {
        out_.launch_error = "Cannot open \"" + std::string(text) + "\": it is not a host name.";
        return;
    }
    t.host = std::string(host);
    if (at != std::string_view::npos) {
        t.user = std::string(text.substr(0, at));
        // A user name means a sign-on: SSH, unless -telnet said otherwise.
        if (t.proto == launch_target::protocol::as_stored) t.proto = launch_target::protocol::ssh;
    }
    t.given = true;
}

void mycli::parse_param(std::string_view text, bool is_switch, bool /*last*/) {
    if (is_switch) {
        if (text.empty()) return;
        // Whole-word switches first: -ssh and -telnet would otherwise read as /S and /T with a value.
        if (const std::string word = lower(text); word == "ssh" || word == "telnet") {
            out_.launch.proto = word == "ssh" ? launch_target::protocol::ssh : launch_target::protocol::telnet;
            return;
        }
        char option = static_cast<char>(std::toupper(static_cast<unsigned char>(text[0])));
        std::string_view value = text.substr(1);
        bool alone = value.empty();
        switch (option) {
        case 'C':
            if (alone)
                pend_c_ = true;
            else
                out_.config_name = std::string(value);
            break;
        case 'H':
            if (alone)
                pend_h_ = true;
            else
                set_host(value);
            break;
        case 'M':
            if (alone)
                pend_m_ = true;
            else
                out_.no_menu = true;
            break;
        case 'N':
            if (alone)
                pend_n_ = true;
            else
                out_.window_name = std::string(value);
            break;
        case 'P':
            if (alone)
                pend_p_ = true;
            else
                out_.port = std::string(value);
            break;
        case 'R':
            if (alone)
                pend_r_ = true;
            else
                out_.direct_connect = std::string(value);
            break;
        case 'S':
            out_.silent = true;
            if (alone)
                pend_s_ = true;
            else
                out_.save_switch = std::string(value);
            break;
        case 'T':
            if (alone)
                pend_t_ = true;
            else
                out_.no_toolbar = true;
            break;
        case 'L':
            if (alone)
                pend_l_ = true;
            else
                out_.launch.user = std::string(value);
            break;
        case 'I':
            if (alone)
                pend_i_ = true;
            else
                out_.launch.key_file = std::string(value);
            break;
        case 'J':
            if (alone)
                pend_j_ = true;
            else
                out_.launch.jump = std::string(value);
            break;
        default:
            // The framework's own switches (printing, registration, embedding) mean nothing here.
            break;
        }
        return;
    }
    // A plain parameter goes to the first waiting option in this order.
    if (pend_n_) {
        pend_n_ = false;
        out_.window_name = std::string(text);
        return;
    }
    if (pend_h_) {
        pend_h_ = false;
        set_host(text);
        return;
    }
    if (pend_s_) {
        pend_s_ = false;
        out_.save_switch = std::string(text);
        return;
    }
    if (pend_r_) {
        pend_r_ = false;
        out_.direct_connect = std::string(text);
        return;
    }
    if (pend_m_) {
        pend_m_ = false;
        out_.no_menu = true;
        return;
    }
    if (pend_t_) {
        pend_t_ = false;
        out_.no_toolbar = true;
        return;
    }
    if (pend_p_) {
        pend_p_ = false;
        out_.port = std::string(text);
        return;
    }
    if (pend_c_) {
        pend_c_ = false;
        out_.config_name = std::string(text);
        return;
    }
    if (pend_l_) {
        pend_l_ = false;
        out_.launch.user = std::string(text);
        return;
    }
    if (pend_i_) {
        pend_i_ = false;
        out_.launch.key_file = std::string(text);
        return;
    }
    if (pend_j_) {
        pend_j_ = false;
        out_.launch.jump = std::string(text);
        return;
    }
    // Nothing was waiting: a host to open for this run, once the whole line shows it is one (see parse).
    if (unclaimed_.empty())
        unclaimed_.emplace_back(text);
    else if (error_.empty())
        error_ = "Unexpected parameter \"" + std::string(text) + "\": a host was named already.";
}

bool mycli::parse(const std::vector<std::string>& args) {
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string_view a = args[i];
        bool last = i + 1 == args.size();
        // A key file is a path: after -i (and -l) the next parameter is the value even when it begins with '/'.
        if (!a.empty() && (a[0] == '/' || a[0] == '-') && !pend_i_ && !pend_l_) {
            parse_param(a.substr(1), true, last);
        } else {
            parse_param(a, false, last);
        }
    }
    launch_target& t = out_.launch;
    if (!unclaimed_.empty()) {
        const std::string& text = unclaimed_.front();
        // A scheme, a user name or a launch switch makes it a host; anything else is what it always was: a
        // document name, and the client opens none.
        if (text.find("://") != std::string::npos || text.find('@') != std::string::npos ||
            t.proto != launch_target::protocol::as_stored || !t.user.empty() || !t.key_file.empty() ||
            !t.jump.empty()) {
            take_target(text);
        } else if (error_.empty()) {
            error_ = "Unexpected parameter \"" + text +
                     "\": the program opens no documents. Options: /C config, /H host or telnet://host[:port], "
                     "/P port, /N window name, /R direct connect, /S save switch, /M no menu, /T no toolbar; "
                     "ssh://host, [user@]host with -ssh or -telnet (see --help).";
        }
    }
    if (t.given) {
        // -P goes with the launch, never into the stored port.
        if (!out_.port.empty()) {
            const int p = command_line_port(out_.port);
            if (p > 0 && t.port < 0) t.port = p;
            out_.port.clear();
        }
        if (t.proto == launch_target::protocol::as_stored &&
            (!t.user.empty() || !t.key_file.empty() || !t.jump.empty()))
            t.proto = launch_target::protocol::ssh;
    }
    return ok();
}

bool mycli::parse(int argc, const char* const* argv) { return parse(args_of(argc, argv)); }

bool mycli::wants_usage(const std::vector<std::string>& args) {
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--help" || a == "/?" || a == "-?") return true;
        if (i + 1 == args.size() && a == "-h") return true;
    }
    return false;
}

bool mycli::wants_usage(int argc, const char* const* argv) { return wants_usage(args_of(argc, argv)); }

std::string_view usage_text() {
    return "Usage: qtelnet [switches]\n"
           "  /H host       host name or address, or telnet://host[:port][/]\n"
           "  /P port       port number\n"
           "  /C name       settings configuration to use (default 1)\n"
           "  /N name       window name (1 to 19 characters)\n"
           "  /R 1          Connect goes straight to the stored host\n"
           "  /S x          save settings only when x begins with 0\n"
           "  /M x          start without a menu\n"
           "  /T x          start without the toolbar\n"
           "Switches may begin with / or -, in either case; a value may follow joined (/Hmyhost) or apart.\n"
           "Opening a host for this run only (the stored settings stay as they are):\n"
           "  qtelnet ssh://[user@]host[:port]     SSH-2 (port 22 unless given)\n"
           "  qtelnet telnet://host[:port]         Telnet (port 23 unless given)\n"
           "  qtelnet [user@]host [-ssh|-telnet] [-l user] [-P port] [-i keyfile]\n"
           "                                      user@ or -l, -i mean SSH-2; else the stored protocol\n"
           "  -J [user@]host[:port][,...]         reach the host through these SSH jump hosts, in order\n"
           "  IPv6 addresses go in brackets: ssh://[::1]:2222\n"
           "  --help, -h, /?  this text\n";
}

std::string document_title(std::string_view requested, const StartupValues& sv) {
    // Counted in characters, not UTF-8 bytes.
    std::size_t chars = 0;
    for (char c : sv.window_name) chars += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    if (chars >= 1 && chars < 20) return sv.window_name;
    return std::string(requested);
}

int command_line_port(std::string_view text) {
    long long v = 0;
    std::size_t i = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        v = v * 10 + (text[i] - '0');
        if (v > 65535) return -1;
    }
    return i == 0 ? -1 : static_cast<int>(v);
}
