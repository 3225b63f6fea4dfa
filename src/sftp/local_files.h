#pragma once
// The local side of a transfer behind a small interface, so that tests run transfers against fakes and a window can
// put its own checks in front. posix_files is the real one: writes never follow a symbolic link.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>

namespace sftp {

// What the transfer keeps of a local file: its permission bits and times (seconds since 1970).
struct local_stat {
    std::uint32_t mode = 0;
    std::int64_t atime = 0, mtime = 0;
};

class local_file {
public:
    virtual ~local_file() = default;
    // Bytes read at `offset` (fewer only at the end), or nullopt on an error.
    virtual std::optional<std::size_t> read_at(std::uint64_t offset, std::span<std::uint8_t> into) = 0;
    virtual bool write_at(std::uint64_t offset, std::span<const std::uint8_t> bytes) = 0;
    // Why the last read or write failed ("No space left on device"), empty when not known.
    virtual std::string error() const { return {}; }
    virtual std::optional<std::uint64_t> size() = 0;
    // Flushed to the disk.
    virtual bool sync() = 0;
    virtual std::optional<local_stat> stat() = 0;
    // The permission bits (setuid, setgid and sticky never), less the umask.
    virtual bool set_mode(std::uint32_t mode) = 0;
    virtual bool set_times(std::int64_t atime, std::int64_t mtime) = 0;
};

class local_files {
public:
    virtual ~local_files() = default;
    virtual std::unique_ptr<local_file> open_read(const std::string& path, std::string& why) = 0;
    // For writing: `keep` opens an existing regular file as it stands (resume); otherwise whatever is at `path` goes
    // and a new file, readable by its owner alone, is made there. A symbolic link at `path` is never followed.
    virtual std::unique_ptr<local_file> open_write(const std::string& path, bool keep, std::string& why) = 0;
    // The size of a regular file at `path` (not following a link), nullopt when there is none.
    virtual std::optional<std::uint64_t> regular_size(const std::string& path) = 0;
    virtual bool is_directory(const std::string& path) = 0;
    // A new folder gets `mode` (less the umask); one already there is kept as it is.
    virtual bool make_directory(const std::string& path, std::uint32_t mode, std::string& why) = 0;
    // Replaces `to` (a link at `to` is replaced, not followed).
    virtual bool rename(const std::string& from, const std::string& to, std::string& why) = 0;
};

class posix_files final : public local_files {
public:
    std::unique_ptr<local_file> open_read(const std::string& path, std::string& why) override;
    std::unique_ptr<local_file> open_write(const std::string& path, bool keep, std::string& why) override;
    std::optional<std::uint64_t> regular_size(const std::string& path) override;
    bool is_directory(const std::string& path) override;
    bool make_directory(const std::string& path, std::uint32_t mode, std::string& why) override;
    bool rename(const std::string& from, const std::string& to, std::string& why) override;
};

}  // namespace sftp
