#include "config/ssh_config.h"

#include <glob.h>
#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "config/text_scan.h"

namespace lim = ssh_config_limits;

namespace {

enum class kw : std::uint8_t {
    host,
    match,
    include,
    host_name,
    user,
    port,
    identity_file,
    identities_only,
    certificate_file,
    proxy_jump,
    forward_agent,
    local_forward,
    remote_forward,
    dynamic_forward,
    server_alive_interval,
    server_alive_count_max,
    connect_timeout,
    host_key_alias,
    user_known_hosts_file,
    strict_host_key_checking,
    send_env,
};

struct keyword_row {
    std::string_view name;  // lower case
    kw id;
};

constexpr keyword_row keywords[] = {
    {"host", kw::host},
    {"match", kw::match},
    {"include", kw::include},
    {"hostname", kw::host_name},
    {"user", kw::user},
    {"port", kw::port},
    {"identityfile", kw::identity_file},
    {"identitiesonly", kw::identities_only},
    {"certificatefile", kw::certificate_file},
    {"proxyjump", kw::proxy_jump},
    {"forwardagent", kw::forward_agent},
    {"localforward", kw::local_forward},
    {"remoteforward", kw::remote_forward},
    {"dynamicforward", kw::dynamic_forward},
    {"serveraliveinterval", kw::server_alive_interval},
    {"serveralivecountmax", kw::server_alive_count_max},
    {"connecttimeout", kw::connect_timeout},
    {"hostkeyalias", kw::host_key_alias},
    {"userknownhostsfile", kw::user_known_hosts_file},
    {"stricthostkeychecking", kw::strict_host_key_checking},
    {"sendenv", kw::send_env},
};

struct strict_row {
    std::string_view name;
    strict_host_key value;
};
constexpr strict_row strict_values[] = {
    {"yes", strict_host_key::yes},
    {"true", strict_host_key::yes},
    {"no", strict_host_key::no},
    {"false", strict_host_key::no},
    {"off", strict_host_key::no},
    {"ask", strict_host_key::ask},
    {"accept-new", strict_host_key::accept_new},
};

// Match criteria ssh knows, and whether each takes an argument. Only `all` is evaluated here: the others depend on
// the host name after canonicalisation, the user, commands run or a second pass, so their blocks are skipped.
struct match_row {
    std::string_view name;
    bool takes_argument;
};
constexpr match_row match_criteria[] = {
    {"canonical", false},   {"final", false},  {"exec", true},        {"host", true},
    {"originalhost", true}, {"user", true},    {"localuser", true},   {"localnetwork", true},
    {"tagged", true},       {"command", true}, {"sessiontype", true}, {"version", true},
};

constexpr std::size_t max_known_hosts_files = 32;  // as ssh

bool equal_nocase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
        if (x != y) return false;
    }
    return true;
}

void lower_in_place(std::string& s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
}

const keyword_row* find_keyword(std::string_view name) {
    for (const keyword_row& r : keywords)
        if (equal_nocase(r.name, name)) return &r;
    return nullptr;
}

std::optional<bool> parse_flag(std::string_view v) {
    if (equal_nocase(v, "yes") || equal_nocase(v, "true")) return true;
    if (equal_nocase(v, "no") || equal_nocase(v, "false")) return false;
    return std::nullopt;
}

// Decimal digits only, at most `max`.
std::optional<long long> parse_count(std::string_view v, long long max) {
    if (v.empty() || v.size() > 10) return std::nullopt;
    long long n = 0;
    for (char c : v) {
        if (c < '0' || c > '9') return std::nullopt;
        n = n * 10 + (c - '0');
    }
    if (n > max) return std::nullopt;
    return n;
}

bool is_blank_or_eol(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// ssh's argument splitting: blanks separate words, quotes of either kind group, a backslash escapes a quote, a
// backslash or (outside quotes) a blank, a word starting with '#' ends the line. False on an unclosed quote.
bool split_arguments(std::string_view s, std::vector<std::string>& args, std::size_t& count) {
    count = 0;
    std::size_t i = 0;
    while (i < s.size()) {
        if (s[i] == ' ' || s[i] == '\t') {
            ++i;
            continue;
        }
        if (s[i] == '#') break;
        if (count == args.size()) args.emplace_back();
        std::string& arg = args[count++];
        arg.clear();
        char quote = 0;
        for (; i < s.size(); ++i) {
            const char c = s[i];
            if (c == '\\') {
                const char next = i + 1 < s.size() ? s[i + 1] : '\0';
                if (next == '\'' || next == '"' || next == '\\' || (quote == 0 && next == ' ')) ++i;
                arg.push_back(s[i]);
            } else if (quote == 0 && (c == ' ' || c == '\t')) {
                break;
            } else if (quote == 0 && (c == '"' || c == '\'')) {
                quote = c;
            } else if (quote != 0 && c == quote) {
                quote = 0;
            } else {
                arg.push_back(c);
            }
        }
        if (quote != 0) return false;
    }
    return true;
}

struct raw_path {
    std::string text;
    std::string origin;  // "~/.ssh/config line 3", for a token that cannot be expanded
};

struct token_values {
    std::string_view alias, host, port, remote_user, local_user, home, local_host, host_key_alias;
};

// %-tokens; nullopt at an unknown token or a lone % at the end (bad_token then names it).
std::optional<std::string> expand_tokens(std::string_view in, const token_values& t, bool host_only,
                                         std::string& bad_token) {
    std::string out;
    out.reserve(in.size());
    for (std::size_t i = 0; i < in.size(); ++i) {
        if (in[i] != '%') {
            out.push_back(in[i]);
            continue;
        }
        if (i + 1 == in.size()) {
            bad_token = "%";
            return std::nullopt;
        }
        const char c = in[++i];
        std::string_view v;
        switch (host_only ? (c == 'h' || c == '%' ? c : '\0') : c) {
        case '%': v = "%"; break;
        case 'h': v = t.host; break;
        case 'n': v = t.alias; break;
        case 'p': v = t.port; break;
        case 'r': v = t.remote_user; break;
        case 'u': v = t.local_user; break;
        case 'd': v = t.home; break;
        case 'l': v = t.local_host; break;
        case 'L': v = t.local_host.substr(0, t.local_host.find('.')); break;
        case 'k': v = t.host_key_alias.empty() ? t.alias : t.host_key_alias; break;
        default: bad_token = std::string("%") + c; return std::nullopt;
        }
        out.append(v);
    }
    return out;
}

// "~" and "~/..." become the home folder; "~name/..." is left unchanged (no password-file look-ups here).
std::string expand_tilde(std::string_view path, std::string_view home) {
    if (path.empty() || path[0] != '~' || (path.size() > 1 && path[1] != '/')) return std::string(path);
    std::string out(home);
    out.append(path.substr(1));
    return out;
}

class config_reader {
public:
    config_reader(const ssh_config_sources& src, std::string_view alias, ssh_host_config& out,
                  std::vector<std::string>* hosts)
        : src_(src), alias_(alias), out_(out), hosts_(hosts) {}

    void read_top(const std::string& path, bool user_file) {
        if (path.empty()) return;
        files_ = 0;
        bool active = true;
        read_file(path, user_file, false, active, 0, nullptr);
    }

    std::vector<raw_path> identity, certificate, known_hosts;
    std::string host_name_origin;

private:
    struct file_state {
        std::string shown;
        int line = 0;
        bool user_file = false;
        bool never_match = false;
        int depth = 0;
    };

    std::string shown_name(const std::string& path) const {
        const std::string& home = src_.home;
        if (!home.empty() && path.size() > home.size() && path.compare(0, home.size(), home) == 0 &&
            path[home.size()] == '/')
            return "~" + path.substr(home.size());
        return path;
    }

    bool fail(const file_state& f, std::string_view message) {
        std::string m = f.shown;
        if (f.line > 0) m += " line " + std::to_string(f.line);
        m += ": ";
        m += message;
        out_.diagnostics.push_back(std::move(m));
        return false;
    }

    // False when this file (and so every file including it) stops. `from` is the Include line that asked for it.
    bool read_file(const std::string& path, bool user_file, bool never_match, bool& active, int depth,
                   const file_state* from) {
        if (++files_ > lim::max_files) {
            return fail(*from, "more than " + std::to_string(lim::max_files) + " configuration files included");
        }
        std::optional<std::string> text = src_.io.read_file ? src_.io.read_file(path) : std::nullopt;
        if (!text) return true;  // absent files are normal, included ones too
        file_state f;
        f.shown = shown_name(path);
        f.user_file = user_file;
        f.never_match = never_match;
        f.depth = depth;
        if (text->size() > lim::max_file_bytes) return fail(f, "larger than 1 MiB, not read");
        std::string_view rest = *text;
        while (!rest.empty()) {
            const std::size_t eol = rest.find('\n');
            std::string_view line = rest.substr(0, eol);
            rest.remove_prefix(eol == std::string_view::npos ? rest.size() : eol + 1);
            ++f.line;
            if (line.size() > lim::max_line_bytes)
                return fail(f, "longer than " + std::to_string(lim::max_line_bytes) + " bytes");
            if (!read_line(line, f, active)) return false;
        }
        return true;
    }

    bool read_line(std::string_view line, file_state& f, bool& active) {
        line = line.substr(0, line.find('\0'));  // ssh reads lines as C strings
        while (!line.empty() && (is_blank_or_eol(line.back()) || line.back() == '\f')) line.remove_suffix(1);
        std::size_t p = 0;
        while (p < line.size() && is_blank_or_eol(line[p])) ++p;
        std::size_t end = p;
        while (end < line.size() && !is_blank_or_eol(line[end]) && line[end] != '=' && line[end] != '"') ++end;
        std::string& keyword = keyword_;
        keyword.assign(line.substr(p, end - p));
        const bool quoted = end < line.size() && line[end] == '"';
        if (quoted) {
            // A quoted keyword, as ssh takes it: the quote marks drop out, and blanks alone (no '=') may follow.
            const std::size_t close = line.find('"', end + 1);
            if (close == std::string_view::npos) return true;
            keyword.append(line.substr(end + 1, close - end - 1));
            end = close;
        }
        if (keyword.empty() || keyword[0] == '#') return true;
        // One '=' may stand between keyword and arguments, with blanks either side.
        const bool had_equals = end < line.size() && line[end] == '=';
        if (end < line.size()) ++end;
        while (end < line.size() && is_blank_or_eol(line[end])) ++end;
        if (!quoted && !had_equals && end < line.size() && line[end] == '=') {
            ++end;
            while (end < line.size() && is_blank_or_eol(line[end])) ++end;
        }
        const keyword_row* row = find_keyword(keyword);
        if (!row) return true;
        lower_in_place(keyword);
        if (end >= line.size()) return fail(f, "no argument after keyword \"" + keyword + "\"");
        rest_ = line.substr(end);
        if (!split_arguments(rest_, args_, count_)) return fail(f, "invalid quotes");
        return apply(row->id, keyword, f, active);
    }

    bool one_argument(const std::string& keyword, file_state& f) {
        if (count_ == 0 || args_[0].empty()) return fail(f, "missing argument to \"" + keyword + "\"");
        if (count_ > 1) return fail(f, "keyword " + keyword + " extra arguments at end of line");
        return true;
    }

    bool apply(kw id, const std::string& keyword, file_state& f, bool& active) {
        const std::vector<std::string>& a = args_;
        switch (id) {
        case kw::host: return host_line(f, active);
        case kw::match: return match_line(f, active);
        case kw::include: return include_line(f, active);
        case kw::host_name: {
            const bool was_set = out_.host_name.has_value();
            if (!set_string(keyword, f, active, out_.host_name)) return false;
            if (!was_set && out_.host_name) host_name_origin = origin(f);
            return true;
        }
        case kw::user: return set_string(keyword, f, active, out_.user);
        case kw::host_key_alias: return set_string(keyword, f, active, out_.host_key_alias);
        case kw::port: {
            if (!one_argument(keyword, f)) return false;
            const std::optional<long long> n = parse_count(a[0], 65535);
            if (!n || *n == 0) return fail(f, "bad port '" + a[0] + "'");
            if (active && !out_.port) out_.port = static_cast<int>(*n);
            return true;
        }
        case kw::server_alive_count_max: {
            if (!one_argument(keyword, f)) return false;
            const std::optional<long long> n = parse_count(a[0], INT_MAX);
            if (!n) return fail(f, "invalid number '" + a[0] + "'");
            if (active && !out_.server_alive_count_max) out_.server_alive_count_max = static_cast<int>(*n);
            return true;
        }
        case kw::server_alive_interval: return set_time(keyword, f, active, out_.server_alive_interval);
        case kw::connect_timeout: return set_time(keyword, f, active, out_.connect_timeout);
        case kw::identities_only: {
            if (!one_argument(keyword, f)) return false;
            const std::optional<bool> v = parse_flag(a[0]);
            if (!v) return fail(f, "unsupported option \"" + a[0] + "\"");
            if (active && !out_.identities_only) out_.identities_only = v;
            return true;
        }
        case kw::forward_agent: {
            if (!one_argument(keyword, f)) return false;
            const std::optional<bool> v = parse_flag(a[0]);
            if (active && !out_.forward_agent) {
                // Anything but yes or no is the agent's socket: a path or $VARIABLE.
                out_.forward_agent = v.value_or(true);
                if (!v) out_.forward_agent_socket = a[0];
            }
            return true;
        }
        case kw::strict_host_key_checking: {
            if (!one_argument(keyword, f)) return false;
            for (const strict_row& r : strict_values) {
                if (!equal_nocase(r.name, a[0])) continue;
                if (active && !out_.strict_host_key_checking) out_.strict_host_key_checking = r.value;
                return true;
            }
            return fail(f, "unsupported option \"" + a[0] + "\"");
        }
        case kw::proxy_jump: {
            // ssh takes the rest of the line as it stands, quotes and all, up to any '#'; only a line that says
            // just `none` means none.
            if (count_ == 0) return fail(f, "missing argument to \"" + keyword + "\"");
            std::string_view jump = rest_.substr(0, rest_.find('#'));
            while (!jump.empty() && is_blank_or_eol(jump.back())) jump.remove_suffix(1);
            if (active && !out_.proxy_jump)
                out_.proxy_jump = equal_nocase(rest_, "none") ? std::string() : std::string(jump);
            return true;
        }
        case kw::identity_file: return add_key_file(keyword, f, active, identity, "identity");
        case kw::certificate_file: return add_key_file(keyword, f, active, certificate, "certificate");
        case kw::local_forward: return add_forward(keyword, f, active, 2, 2, out_.local_forwards);
        case kw::remote_forward: return add_forward(keyword, f, active, 1, 2, out_.remote_forwards);
        case kw::dynamic_forward: return add_forward(keyword, f, active, 1, 1, out_.dynamic_forwards);
        case kw::user_known_hosts_file: {
            if (count_ == 0) return fail(f, "missing argument to \"" + keyword + "\"");
            if (count_ > max_known_hosts_files) return fail(f, "too many known hosts files");
            if (active && known_hosts.empty()) {
                for (std::size_t i = 0; i < count_; ++i) known_hosts.push_back({a[i], origin(f)});
            }
            return true;
        }
        case kw::send_env: {
            for (std::size_t i = 0; i < count_; ++i) {
                const std::string& v = a[i];
                if (v.empty() || v.find('=') != std::string::npos) return fail(f, "invalid environment name");
                if (!active) continue;
                std::vector<std::string>& env = out_.send_env;
                if (v[0] == '-') {
                    const std::string_view pattern = std::string_view(v).substr(1);
                    std::erase_if(env, [&](const std::string& e) { return ssh_pattern_match(e, pattern); });
                    continue;
                }
                if (env.size() == lim::max_list_entries) return fail(f, "too many SendEnv patterns");
                env.push_back(v);
            }
            return true;
        }
        }
        return true;
    }

    std::string origin(const file_state& f) const { return f.shown + " line " + std::to_string(f.line); }

    bool set_string(const std::string& keyword, file_state& f, bool active, std::optional<std::string>& field) {
        if (!one_argument(keyword, f)) return false;
        if (active && !field) field = args_[0];
        return true;
    }

    bool set_time(const std::string& keyword, file_state& f, bool active, std::optional<int>& field) {
        if (!one_argument(keyword, f)) return false;
        // `none` leaves the value unset, so a later line may still give one (as ssh does).
        if (equal_nocase(args_[0], "none")) return true;
        const std::optional<int> v = ssh_time_value(args_[0]);
        if (!v) return fail(f, "invalid time value '" + args_[0] + "'");
        if (active && !field) field = v;
        return true;
    }

    bool add_key_file(const std::string& keyword, file_state& f, bool active, std::vector<raw_path>& list,
                      std::string_view what) {
        if (!one_argument(keyword, f)) return false;
        if (!active) return true;
        // ssh drops a repeated path (compared as the file gives it).
        for (const raw_path& r : list)
            if (r.text == args_[0]) return true;
        if (list.size() == lim::max_key_files)
            return fail(f, "too many " + std::string(what) + " files specified (max " +
                               std::to_string(lim::max_key_files) + ")");
        list.push_back({args_[0], origin(f)});
        return true;
    }

    bool add_forward(const std::string& keyword, file_state& f, bool active, std::size_t least, std::size_t most,
                     std::vector<std::string>& list) {
        if (count_ < least) return fail(f, "missing argument to \"" + keyword + "\"");
        if (count_ > most) return fail(f, "keyword " + keyword + " extra arguments at end of line");
        for (std::size_t i = 0; i < count_; ++i)
            if (args_[i].empty()) return fail(f, "missing argument to \"" + keyword + "\"");
        if (!active) return true;
        std::string v = args_[0];
        for (std::size_t i = 1; i < count_; ++i) (v += ' ') += args_[i];
        // ssh drops a forward it already has; brackets around an address do not make it another.
        auto plain = [](std::string_view t) {
            std::string out;
            for (char c : t)
                if (c != '[' && c != ']') out.push_back(c);
            return out;
        };
        const std::string key = plain(v);
        for (const std::string& e : list)
            if (plain(e) == key) return true;
        if (list.size() == lim::max_list_entries) return fail(f, "too many forwardings");
        list.push_back(std::move(v));
        return true;
    }

    bool host_line(file_state& f, bool& active) {
        for (std::size_t i = 0; i < count_; ++i) {
            const std::string& p = args_[i];
            if (p.empty()) return fail(f, "keyword host empty argument");
            if (hosts_ && p[0] != '!' && p.find_first_of("*?") == std::string::npos &&
                std::find(hosts_->begin(), hosts_->end(), p) == hosts_->end())
                hosts_->push_back(p);
        }
        active = false;
        if (f.never_match) return true;
        for (std::size_t i = 0; i < count_; ++i) {
            std::string_view p = args_[i];
            const bool negated = p[0] == '!';
            if (negated) p.remove_prefix(1);
            if (!ssh_pattern_match(alias_, p)) continue;
            if (negated) {
                active = false;
                break;
            }
            active = true;
        }
        return true;
    }

    bool match_line(file_state& f, bool& active) {
        if (count_ == 0) return fail(f, "missing Match criteria");
        bool result = false;
        for (std::size_t i = 0; i < count_; ++i) {
            std::string_view name = args_[i];
            const bool negated = !name.empty() && name[0] == '!';
            if (negated) name.remove_prefix(1);
            if (equal_nocase(name, "all")) {
                if (count_ > 1) return fail(f, "'all' cannot be combined with other Match attributes");
                result = !negated;
                continue;
            }
            const match_row* row = nullptr;
            for (const match_row& r : match_criteria)
                if (equal_nocase(r.name, name)) row = &r;
            if (!row) return fail(f, "unsupported Match attribute " + std::string(name));
            if (row->takes_argument && ++i == count_) return fail(f, "missing Match criteria for " + std::string(name));
        }
        active = result && !f.never_match;
        return true;
    }

    bool include_line(file_state& f, bool& active) {
        if (count_ == 0) return fail(f, "missing argument to \"include\"");
        // Arguments are copied out: reading an included file reuses args_.
        std::vector<std::string> patterns(args_.begin(), args_.begin() + static_cast<std::ptrdiff_t>(count_));
        for (const std::string& arg : patterns) {
            if (arg.empty()) return fail(f, "keyword include empty argument");
            if (arg[0] == '~' && !f.user_file) return fail(f, "bad include path " + arg);
            std::string path;
            if (arg[0] == '/')
                path = arg;
            else if (arg[0] == '~')
                path = expand_tilde(arg, src_.home);
            else
                path = (f.user_file ? src_.home + "/.ssh/" : std::string("/etc/ssh/")) + arg;
            const std::vector<std::string> matches = src_.io.glob ? src_.io.glob(path) : std::vector<std::string>{};
            const bool was_active = active;
            for (const std::string& m : matches) {
                if (f.depth + 1 > lim::max_include_depth) return fail(f, "too many recursive configuration includes");
                if (!read_file(m, f.user_file, f.never_match || !was_active, active, f.depth + 1, &f)) return false;
                // A Host or Match in the included file does not change the including file's block.
                active = was_active;
            }
        }
        return true;
    }

    const ssh_config_sources& src_;
    std::string_view alias_;
    ssh_host_config& out_;
    std::vector<std::string>* hosts_;
    std::string keyword_;  // reused line after line, as are the arguments
    std::vector<std::string> args_;
    std::size_t count_ = 0;
    std::string_view rest_;  // the line after the keyword, for ProxyJump
    int files_ = 0;
};

void expand_paths(const std::vector<raw_path>& raw, std::vector<std::string>& out, const token_values& t,
                  const ssh_config_sources& src, std::string_view keyword, std::vector<std::string>& diagnostics) {
    for (const raw_path& r : raw) {
        std::string bad;
        std::optional<std::string> v = expand_tokens(expand_tilde(r.text, src.home), t, false, bad);
        if (v)
            out.push_back(std::move(*v));
        else
            diagnostics.push_back(r.origin + ": unknown token " + bad + " in " + std::string(keyword));
    }
}

}  // namespace

bool ssh_pattern_match(std::string_view text, std::string_view pattern) {
    // Greedy with one backtrack point: the last '*' seen takes one more character on a mismatch.
    std::size_t t = 0, p = 0, star = std::string_view::npos, mark = 0;
    while (t < text.size()) {
        if (p < pattern.size() && (pattern[p] == '?' || pattern[p] == text[t])) {
            ++t;
            ++p;
        } else if (p < pattern.size() && pattern[p] == '*') {
            star = p++;
            mark = t;
        } else if (star != std::string_view::npos) {
            p = star + 1;
            t = ++mark;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*') ++p;
    return p == pattern.size();
}

std::optional<int> ssh_time_value(std::string_view text) {
    if (text.empty()) return std::nullopt;
    long long total = 0;
    std::size_t i = 0;
    while (i < text.size()) {
        const std::size_t start = i;
        long long n = 0;
        while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
            n = n * 10 + (text[i++] - '0');
            if (n > INT_MAX) return std::nullopt;
        }
        if (i == start) return std::nullopt;
        long long unit = 1;
        if (i < text.size()) {
            switch (text[i++]) {
            case 's':
            case 'S': break;
            case 'm':
            case 'M': unit = 60; break;
            case 'h':
            case 'H': unit = 60 * 60; break;
            case 'd':
            case 'D': unit = 24 * 60 * 60; break;
            case 'w':
            case 'W': unit = 7 * 24 * 60 * 60; break;
            default: return std::nullopt;
            }
        }
        total += n * unit;
        if (total > INT_MAX) return std::nullopt;
    }
    return static_cast<int>(total);
}

std::string ssh_host_config::host() const {
    std::string h = host_name.value_or(alias);
    lower_in_place(h);
    return h;
}

ssh_host_config resolve(std::string_view alias, std::string_view local_user, const ssh_config_sources& src) {
    ssh_host_config out;
    out.alias = std::string(alias);
    config_reader reader(src, alias, out, nullptr);
    reader.read_top(src.user_file, true);
    reader.read_top(src.system_file, false);

    if (out.host_name) {
        std::string bad;
        token_values t{};
        t.host = alias;
        if (std::optional<std::string> h = expand_tokens(*out.host_name, t, true, bad)) {
            lower_in_place(*h);
            out.host_name = std::move(*h);
        } else {
            out.diagnostics.push_back(reader.host_name_origin + ": unknown token " + bad + " in HostName");
            out.host_name.reset();
        }
    }
    const std::string host = out.host();
    const std::string port = std::to_string(out.port.value_or(22));
    token_values t;
    t.alias = alias;
    t.host = host;
    t.port = port;
    t.remote_user = out.user ? std::string_view(*out.user) : local_user;
    t.local_user = local_user;
    t.home = src.home;
    t.local_host = src.local_host;
    t.host_key_alias = out.host_key_alias ? std::string_view(*out.host_key_alias) : std::string_view();
    expand_paths(reader.identity, out.identity_files, t, src, "IdentityFile", out.diagnostics);
    expand_paths(reader.certificate, out.certificate_files, t, src, "CertificateFile", out.diagnostics);
    expand_paths(reader.known_hosts, out.user_known_hosts_files, t, src, "UserKnownHostsFile", out.diagnostics);
    return out;
}

std::vector<std::string> concrete_hosts(const ssh_config_sources& src) {
    std::vector<std::string> hosts;
    ssh_host_config scratch;
    config_reader reader(src, std::string_view(), scratch, &hosts);
    reader.read_top(src.user_file, true);
    reader.read_top(src.system_file, false);
    return hosts;
}

ssh_config_io real_ssh_config_io() {
    ssh_config_io io;
    io.read_file = [](const std::string& path) -> std::optional<std::string> {
        std::unique_ptr<std::FILE, int (*)(std::FILE*)> f(open_regular_file(path), &std::fclose);
        if (!f) return std::nullopt;
        // One byte past the limit is enough to refuse the file; more is never read.
        std::string text;
        char block[16384];
        while (text.size() <= lim::max_file_bytes) {
            const std::size_t n = std::fread(block, 1, sizeof block, f.get());
            text.append(block, std::min(n, lim::max_file_bytes + 1 - text.size()));
            if (n < sizeof block) break;
        }
        if (std::ferror(f.get())) return std::nullopt;
        return text;
    };
    io.glob = [](const std::string& pattern) {
        std::vector<std::string> out;
        glob_t g{};
        if (::glob(pattern.c_str(), 0, nullptr, &g) == 0) {
            for (std::size_t i = 0; i < g.gl_pathc; ++i) out.emplace_back(g.gl_pathv[i]);
        }
        ::globfree(&g);
        return out;
    };
    return io;
}

ssh_config_sources default_ssh_config_sources() {
    ssh_config_sources src;
    if (const char* h = std::getenv("HOME"); h && *h) {
        src.home = h;
    } else if (const passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_dir) {
        src.home = pw->pw_dir;
    }
    if (!src.home.empty()) src.user_file = src.home + "/.ssh/config";
    src.system_file = "/etc/ssh/ssh_config";
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) == 0) src.local_host = name;
    src.io = real_ssh_config_io();
    return src;
}
