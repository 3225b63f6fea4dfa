#include "sftp/local_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace sftp {
namespace {

// Read once: umask() can only be read by setting it, which must not race with files being made.
mode_t process_umask() {
    static const mode_t mask = [] {
        const mode_t m = ::umask(077);
        ::umask(m);
        return m;
    }();
    return mask;
}

class posix_file final : public local_file {
public:
    explicit posix_file(int fd) : fd_(fd) {}
    ~posix_file() override { ::close(fd_); }
    std::optional<std::size_t> read_at(std::uint64_t offset, std::span<std::uint8_t> into) override {
        std::size_t got = 0;
        while (got < into.size()) {
            const ssize_t n = ::pread(fd_, into.data() + got, into.size() - got, off_t(offset + got));
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) {
                error_ = std::strerror(errno);
                return std::nullopt;
            }
            if (n == 0) break;
            got += std::size_t(n);
        }
        return got;
    }
    bool write_at(std::uint64_t offset, std::span<const std::uint8_t> bytes) override {
        std::size_t put = 0;
        while (put < bytes.size()) {
            const ssize_t n = ::pwrite(fd_, bytes.data() + put, bytes.size() - put, off_t(offset + put));
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) {
                error_ = n < 0 ? std::strerror(errno) : "nothing written";
                return false;
            }
            put += std::size_t(n);
        }
        return true;
    }
    std::optional<std::uint64_t> size() override {
        struct stat st {};
        if (::fstat(fd_, &st) != 0) return std::nullopt;
        return std::uint64_t(st.st_size);
    }
    bool sync() override { return ::fsync(fd_) == 0; }
    std::optional<local_stat> stat() override {
        struct stat st {};
        if (::fstat(fd_, &st) != 0) return std::nullopt;
        return local_stat{std::uint32_t(st.st_mode & 07777), std::int64_t(st.st_atime), std::int64_t(st.st_mtime)};
    }
    bool set_mode(std::uint32_t mode) override {
        if (::fchmod(fd_, mode_t(mode & 0777 & ~process_umask())) == 0) return true;
        error_ = std::strerror(errno);
        return false;
    }
    bool set_times(std::int64_t atime, std::int64_t mtime) override {
        const struct timespec t[2] = {{time_t(atime), 0}, {time_t(mtime), 0}};
        if (::futimens(fd_, t) == 0) return true;
        error_ = std::strerror(errno);
        return false;
    }
    std::string error() const override { return error_; }

private:
    int fd_;
    std::string error_;
};

std::string error_text(std::string_view what, const std::string& path) {
    return std::string(what) + " " + path + ": " + std::strerror(errno);
}

}  // namespace

std::unique_ptr<local_file> posix_files::open_read(const std::string& path, std::string& why) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        why = error_text("cannot open", path);
        return nullptr;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        why = "not a regular file: " + path;
        ::close(fd);
        return nullptr;
    }
    return std::make_unique<posix_file>(fd);
}

std::unique_ptr<local_file> posix_files::open_write(const std::string& path, bool keep, std::string& why) {
    int fd = -1;
    if (keep) {
        fd = ::open(path.c_str(), O_WRONLY | O_NOFOLLOW | O_CLOEXEC);
        struct stat st {};
        if (fd >= 0 && (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))) {
            ::close(fd);
            errno = EINVAL;
            fd = -1;
        }
    } else {
        // Whatever stands there (an old partial file, or a link someone planted) goes; O_EXCL makes sure the file
        // written is the one made here.
        if (::unlink(path.c_str()) != 0 && errno != ENOENT) {
            why = error_text("cannot replace", path);
            return nullptr;
        }
        fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    }
    if (fd < 0) {
        why = error_text("cannot write", path);
        return nullptr;
    }
    return std::make_unique<posix_file>(fd);
}

std::optional<std::uint64_t> posix_files::regular_size(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
    return std::uint64_t(st.st_size);
}

bool posix_files::is_directory(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool posix_files::make_directory(const std::string& path, std::uint32_t mode, std::string& why) {
    if (::mkdir(path.c_str(), mode_t(mode & 0777)) == 0) return true;
    struct stat st {};
    if (errno == EEXIST && ::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return true;
    why = error_text("cannot make folder", path);
    return false;
}

bool posix_files::rename(const std::string& from, const std::string& to, std::string& why) {
    if (::rename(from.c_str(), to.c_str()) == 0) return true;
    why = error_text("cannot rename to", to);
    return false;
}

}  // namespace sftp
