#include "config/mycli.h"

#include <cctype>

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

void mycli::parse_param(std::string_view text, bool is_switch, bool /*last*/) {
    if (is_switch) {
        if (text.empty()) return;
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
    // Nothing was waiting: this would name a document, and the client opens none.
    if (error_.empty()) {
        error_ = "Unexpected parameter \"" + std::string(text) +
                 "\": the program opens no documents. Options: /C config, /H host or telnet://host[:port], "
                 "/P port, /N window name, /R direct connect, /S save switch, /M no menu, /T no toolbar.";
    }
}

bool mycli::parse(const std::vector<std::string>& args) {
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string_view a = args[i];
        bool last = i + 1 == args.size();
        if (!a.empty() && (a[0] == '/' || a[0] == '-')) {
            parse_param(a.substr(1), true, last);
        } else {
            parse_param(a, false, last);
        }
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
