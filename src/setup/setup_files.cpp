#include "setup/setup_files.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

constexpr size_t record_read_limit = 1 << 20;

struct fd_guard {
    int fd = -1;
    explicit fd_guard(int f) : fd(f) {}
    ~fd_guard() {
        if (fd >= 0) ::close(fd);
    }
    fd_guard(const fd_guard&) = delete;
    fd_guard& operator=(const fd_guard&) = delete;
    int release() {
        int f = fd;
        fd = -1;
        return f;
    }
};

bool write_all(int fd, const char* p, size_t n) {
    while (n > 0) {
        ssize_t w = ::write(fd, p, n);
        if (w < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        p += w;
        n -= static_cast<size_t>(w);
    }
    return true;
}

// Keeps a descriptor opened with O_NONBLOCK only if it is a regular file, then makes it blocking again; -1 (and
// closed) otherwise.
int keep_regular(int raw) {
    fd_guard fd(raw);
    struct stat st {};
    if (fd.fd < 0 || ::fstat(fd.fd, &st) != 0 || !S_ISREG(st.st_mode)) return -1;
    const int flags = ::fcntl(fd.fd, F_GETFL);
    if (flags < 0 || ::fcntl(fd.fd, F_SETFL, flags & ~O_NONBLOCK) != 0) return -1;
    return fd.release();
}

// Created or truncated; only a regular file (a FIFO without reader would block the open, a device the writes).
int open_for_writing(const fs::path& path, mode_t perms) {
    return keep_regular(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NONBLOCK | O_CLOEXEC, perms));
}

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v'; }

// One 79-character piece scanned as "key = "value"..."; returns the quoted text when the piece matches.
std::optional<std::string> scan_piece(std::string_view piece, const std::string& key) {
    size_t i = 0;
    while (i < piece.size() && is_blank(piece[i])) ++i;
    size_t k = i;
    while (i < piece.size() && !is_blank(piece[i])) ++i;
    if (piece.substr(k, i - k) != key) return std::nullopt;
    while (i < piece.size() && is_blank(piece[i])) ++i;
    if (i >= piece.size() || piece[i] != '=') return std::nullopt;
    ++i;
    while (i < piece.size() && is_blank(piece[i])) ++i;
    if (i >= piece.size() || piece[i] != '"') return std::nullopt;
    // The quotes are located on the whole piece, as the value may follow a key holding none.
    size_t q1 = piece.find('"');
    size_t q2 = piece.find('"', q1 + 1);
    if (q2 == std::string_view::npos) return std::nullopt;
    std::string v(piece.substr(q1 + 1, q2 - q1 - 1));
    if (v.empty() || v.size() >= 254) return std::nullopt;
    for (char& c : v)
        if (c == '\'') c = '"';
    return v;
}

// Exec quoting: '%' is reserved for field codes, and inside double quotes '"', '`', '$' and '\\' take a backslash.
// The string-value escaping (value_escape) is applied to the whole line afterwards.
std::string exec_escape(const std::string& s, bool quoted) {
    std::string out;
    for (char c : s) {
        if (c == '%') {
            out += "%%";
            continue;
        }
        if (quoted && (c == '"' || c == '`' || c == '$' || c == '\\')) out += '\\';
        if (c == '\n' || c == '\r') c = ' ';
        out += c;
    }
    return out;
}

std::string value_escape(const std::string& s) {
    std::string out;
    for (char c : s) {
        if (c == '\\')
            out += "\\\\";
        else if (c == '\n')
            out += "\\n";
        else if (c == '\r')
            out += "\\r";
        else
            out += c;
    }
    return out;
}

}  // namespace

int open_regular_file(const fs::path& path) {
    return keep_regular(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
}

std::optional<std::string> read_regular_file(const fs::path& path, std::size_t limit) {
    fd_guard fd(open_regular_file(path));
    if (fd.fd < 0) return std::nullopt;
    std::string text(limit, '\0');
    size_t got = 0;
    while (got < limit) {
        ssize_t n = ::read(fd.fd, text.data() + got, limit - got);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return std::nullopt;
        if (n == 0) break;
        got += static_cast<size_t>(n);
    }
    text.resize(got);
    return text;
}

bool copy_file(const fs::path& dest, const fs::path& src, overwrite_mode mode, copy_state& state,
               overwrite_question& ask, bool executable) {
    fd_guard in(open_regular_file(src));
    struct stat st_src {};
    if (in.fd < 0 || ::fstat(in.fd, &st_src) != 0) return false;

    const mode_t perms = executable ? 0755 : 0644;
    struct stat st_dst {};
    if (::stat(dest.c_str(), &st_dst) == 0 && st_dst.st_dev == st_src.st_dev && st_dst.st_ino == st_src.st_ino)
        return true;  // truncating the destination would wipe the source

    if (!state.yes_to_all && !state.silent && mode == overwrite_mode::ask) {
        fd_guard fresh(::open(dest.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, perms));
        if (fresh.fd < 0) {
            if (errno != EEXIST) return false;
            overwrite_answer a = ask.ask_overwrite(dest.string());
            if (a == overwrite_answer::no) return true;
            if (a == overwrite_answer::yes_to_all) state.yes_to_all = true;
        }
    }

    fd_guard out(open_for_writing(dest, perms));
    if (out.fd < 0) return false;
    char block[1024];
    for (;;) {
        ssize_t n = ::read(in.fd, block, sizeof block);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (n == 0) break;
        if (!write_all(out.fd, block, static_cast<size_t>(n))) return false;
    }
    // An existing file keeps its old mode through O_TRUNC; a program copy must end up runnable.
    if (::fchmod(out.fd, perms) != 0) return false;
    return ::close(out.release()) == 0;
}

std::optional<std::string> find_shortcut_value(std::string_view contents, const std::string& key) {
    // Pieces as a 80-byte line buffer yields them: up to 79 characters, ending after a line feed.
    size_t pos = 0;
    while (pos < contents.size()) {
        size_t len = 0;
        while (len < 79 && pos + len < contents.size()) {
            if (contents[pos + len++] == '\n') break;
        }
        std::string_view piece = contents.substr(pos, len);
        pos += len;
        // A NUL ends the text a C line reader sees.
        if (auto nul = piece.find('\0'); nul != std::string_view::npos) piece = piece.substr(0, nul);
        if (auto v = scan_piece(piece, key)) return v;
    }
    return std::nullopt;
}

std::optional<std::string> read_shortcut_value(const fs::path& config_txt, const std::string& key) {
    const int fd = open_regular_file(config_txt);
    std::FILE* f = fd < 0 ? nullptr : ::fdopen(fd, "r");
    if (!f) {
        if (fd >= 0) ::close(fd);
        return std::nullopt;
    }
    char piece[80];
    std::optional<std::string> found;
    while (!found && std::fgets(piece, sizeof piece, f))
        found = scan_piece(std::string_view(piece, std::strlen(piece)), key);
    std::fclose(f);
    return found;
}

std::vector<shortcut> shortcuts_from_config(const fs::path& config_txt) {
    static const char* const desc_keys[3] = {"shortcut_desc", "shortcut_desc2", "shortcut_desc3"};
    static const char* const param_keys[3] = {"shortcut_param", "shortcut_param2", "shortcut_param3"};
    static const char* const suffix[3] = {"", "-2", "-3"};
    std::vector<shortcut> out;
    for (int k = 0; k < 3; ++k) {
        auto param = read_shortcut_value(config_txt, param_keys[k]);
        if (k > 0 && !param) continue;
        auto desc = read_shortcut_value(config_txt, desc_keys[k]);
        out.push_back({desc ? *desc : std::string("QuillSoft Telnet") + suffix[k], param ? *param : std::string()});
    }
    return out;
}

std::string desktop_file_name(const std::string& description) {
    std::string name = description;
    for (char& c : name)
        if (c == '/') c = '_';
    return name + ".desktop";
}

std::string desktop_entry_text(const shortcut& s, const fs::path& program, const fs::path& working_dir) {
    std::string exec = "\"" + exec_escape(program.string(), true) + "\"";
    if (!s.arguments.empty()) exec += " " + exec_escape(s.arguments, false);
    std::string t;
    t += "[Desktop Entry]\n";
    t += "Type=Application\n";
    t += "Version=1.0\n";
    t += "Name=" + value_escape(s.description) + "\n";
    t += "Comment=Quill W32 Telnet\n";
    t += "Exec=" + value_escape(exec) + "\n";
    t += "Path=" + value_escape(working_dir.string()) + "\n";
    t += "Icon=utilities-terminal\n";
    t += "Terminal=false\n";
    t += "Categories=Network;RemoteAccess;\n";
    return t;
}

bool write_text_file(const fs::path& path, const std::string& text, bool executable) {
    const mode_t perms = executable ? 0755 : 0644;
    fd_guard out(open_for_writing(path, perms));
    if (out.fd < 0) return false;
    if (!write_all(out.fd, text.data(), text.size()) || ::fchmod(out.fd, perms) != 0) return false;
    return ::close(out.release()) == 0;
}

bool write_uninstall_record(const fs::path& path, const uninstall_record& r) {
    std::error_code ec;
    fs::create_directories(path.parent_path(), ec);
    std::string t = "[qtelnet]\n";
    t += "DisplayName=" + value_escape(r.display_name) + "\n";
    t += "UninstallString=" + value_escape(r.uninstall_string) + "\n";
    t += "InstallLocation=" + value_escape(r.install_location) + "\n";
    for (const auto& s : r.shortcuts) t += "Shortcut=" + value_escape(s) + "\n";
    return write_text_file(path, t, false);
}

uninstall_record parse_uninstall_record(std::string_view text) {
    uninstall_record r;
    r.display_name.clear();
    while (!text.empty()) {
        size_t nl = text.find('\n');
        std::string_view line = text.substr(0, nl);
        text.remove_prefix(nl == std::string_view::npos ? text.size() : nl + 1);
        auto eq = line.find('=');
        if (eq == std::string_view::npos) continue;
        std::string_view key = line.substr(0, eq), raw = line.substr(eq + 1);
        std::string v;
        for (size_t i = 0; i < raw.size(); ++i) {
            if (raw[i] == '\\' && i + 1 < raw.size()) {
                char n = raw[++i];
                v += n == 'n' ? '\n' : n == 'r' ? '\r' : n;
            } else {
                v += raw[i];
            }
        }
        if (key == "DisplayName")
            r.display_name = v;
        else if (key == "UninstallString")
            r.uninstall_string = v;
        else if (key == "InstallLocation")
            r.install_location = v;
        else if (key == "Shortcut" && !v.empty())
            r.shortcuts.push_back(v);
    }
    return r;
}

std::optional<uninstall_record> read_uninstall_record(const fs::path& path) {
    // The record is a few lines; anything beyond this is not ours.
    auto text = read_regular_file(path, record_read_limit);
    if (!text) return std::nullopt;
    return parse_uninstall_record(*text);
}
