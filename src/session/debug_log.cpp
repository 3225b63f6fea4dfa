#include "session/debug_log.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

void format_hex_dump(std::string& out, std::string_view label, const local_time& t, const std::uint8_t* bytes,
                     std::size_t n) {
    char head[64];
    std::snprintf(head, sizeof head, " -- %02d:%02d:%02d.%u\n", t.hour, t.minute, t.second,
                  static_cast<unsigned>(t.millisecond));
    out.append(label);
    out.append(head);
    static const char hex[] = "0123456789abcdef";
    for (std::size_t line = 0; line < n; line += 16) {
        const std::size_t k = n - line < 16 ? n - line : 16;
        for (std::size_t i = 0; i < k; ++i) {
            const std::uint8_t b = bytes[line + i];
            out.push_back(hex[b >> 4]);
            out.push_back(hex[b & 15]);
            out.push_back(' ');
        }
        out.append((16 - k) * 3, ' ');
        out.append("    ");
        for (std::size_t i = 0; i < k; ++i) {
            const std::uint8_t b = bytes[line + i];
            out.push_back(b < 32 ? '.' : static_cast<char>(b));
        }
        out.push_back('\n');
    }
    out.push_back('\n');
}

std::string default_debug_log_path() {
    const char* state = std::getenv("XDG_STATE_HOME");
    if (state && state[0] == '/') return std::string(state) + "/qtelnet/vtlog";
    // Without HOME the account's own folder; never a shared place such as /tmp, where another user could be
    // waiting with a link.
    std::string home;
    if (const char* h = std::getenv("HOME"); h && h[0] == '/') {
        home = h;
    } else if (const passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_dir && pw->pw_dir[0] == '/') {
        home = pw->pw_dir;
    }
    if (home.empty()) return {};
    return home + "/.local/state/qtelnet/vtlog";
}

namespace {
void make_parents(const std::string& path) {
    for (std::size_t i = 1; i < path.size(); ++i) {
        if (path[i] != '/') continue;
        const std::string dir = path.substr(0, i);
        ::mkdir(dir.c_str(), 0700);  // existing folders are fine
    }
}

int not_regular_kind(mode_t mode) {
    if (S_ISFIFO(mode)) return not_regular_fifo;
    if (S_ISDIR(mode)) return not_regular_folder;
    if (S_ISCHR(mode) || S_ISBLK(mode)) return not_regular_device;
    if (S_ISSOCK(mode)) return not_regular_socket;
    return not_regular_file;
}

// What stands at path when it is neither a regular file nor a link (a link is O_NOFOLLOW's to refuse); 0 otherwise.
int not_regular_at(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0 || S_ISREG(st.st_mode) || S_ISLNK(st.st_mode)) return 0;
    return not_regular_kind(st.st_mode);
}
}  // namespace

int open_regular_for_writing(const std::string& path, int flags, unsigned mode, int& error) {
    // Refused before open where possible: a FIFO's reader would be met and a device may act on being opened.
    if ((error = not_regular_at(path)) != 0) return -1;
    const int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | flags, mode);
    if (fd < 0) {
        // Something put there since the look above fails with its own errno (ENXIO for a FIFO without a reader,
        // EISDIR), which would not tell the user what is wrong.
        const int e = errno;
        error = not_regular_at(path);
        if (error == 0) error = e;
        return -1;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        error = not_regular_kind(st.st_mode);
        ::close(fd);
        return -1;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    error = 0;
    return fd;
}

std::string open_failure_text(int error) {
    switch (error) {
    case ELOOP: return "a link stands at that place";
    case not_regular_fifo: return "it is not a regular file (a FIFO)";
    case not_regular_folder: return "it is not a regular file (a folder)";
    case not_regular_device: return "it is not a regular file (a device)";
    case not_regular_socket: return "it is not a regular file (a socket)";
    case not_regular_file: return "it is not a regular file";
    default: return std::strerror(error);
    }
}

bool debug_log::open_truncated() {
    close();
    error_ = ENOENT;
    if (path_.empty()) return false;
    make_parents(path_);
    // Truncated only once known to be a regular file.
    const int fd = open_regular_for_writing(path_, O_CREAT, 0600, error_);
    if (fd < 0) return false;
    if (::ftruncate(fd, 0) != 0) {
        error_ = errno;
        ::close(fd);
        return false;
    }
    ::fchmod(fd, 0600);  // an older log may have been created with wider rights
    file_ = ::fdopen(fd, "w");
    if (!file_) {
        error_ = errno;
        ::close(fd);
        return false;
    }
    error_ = 0;
    return true;
}

std::string debug_log::error_text() const {
    if (path_.empty()) return "no home folder is known";
    return open_failure_text(error_);
}

void debug_log::close() {
    if (file_) std::fclose(file_);
    file_ = nullptr;
}

void debug_log::write_hex(std::string_view label, const local_time& t, const std::uint8_t* bytes, std::size_t n) {
    if (!file_) return;
    scratch_.clear();
    format_hex_dump(scratch_, label, t, bytes, n);
    std::fwrite(scratch_.data(), 1, scratch_.size(), file_);
    std::fflush(file_);
}

void debug_log::write_line(std::string_view text) {
    if (!file_) return;
    std::fwrite(text.data(), 1, text.size(), file_);
    std::fputc('\n', file_);
    std::fflush(file_);
}
