#pragma once
// SFTP version 3 on the wire (draft-ietf-secsh-filexfer-02, the version every server speaks, with OpenSSH's
// extensions): request builders, a bounded reader for replies, and the reassembly of packets from the channel's
// byte stream. No I/O here.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace sftp {

enum : std::uint8_t {
    SSH_FXP_INIT = 1,
    SSH_FXP_VERSION = 2,
    SSH_FXP_OPEN = 3,
    SSH_FXP_CLOSE = 4,
    SSH_FXP_READ = 5,
    SSH_FXP_WRITE = 6,
    SSH_FXP_LSTAT = 7,
    SSH_FXP_FSTAT = 8,
    SSH_FXP_SETSTAT = 9,
    SSH_FXP_FSETSTAT = 10,
    SSH_FXP_OPENDIR = 11,
    SSH_FXP_READDIR = 12,
    SSH_FXP_REMOVE = 13,
    SSH_FXP_MKDIR = 14,
    SSH_FXP_RMDIR = 15,
    SSH_FXP_REALPATH = 16,
    SSH_FXP_STAT = 17,
    SSH_FXP_RENAME = 18,
    SSH_FXP_READLINK = 19,
    SSH_FXP_SYMLINK = 20,
    SSH_FXP_STATUS = 101,
    SSH_FXP_HANDLE = 102,
    SSH_FXP_DATA = 103,
    SSH_FXP_NAME = 104,
    SSH_FXP_ATTRS = 105,
    SSH_FXP_EXTENDED = 200,
    SSH_FXP_EXTENDED_REPLY = 201,
};

enum : std::uint32_t {
    SSH_FXF_READ = 0x01,
    SSH_FXF_WRITE = 0x02,
    SSH_FXF_APPEND = 0x04,
    SSH_FXF_CREAT = 0x08,
    SSH_FXF_TRUNC = 0x10,
    SSH_FXF_EXCL = 0x20,
};

enum : std::uint32_t {
    SSH_FILEXFER_ATTR_SIZE = 0x01,
    SSH_FILEXFER_ATTR_UIDGID = 0x02,
    SSH_FILEXFER_ATTR_PERMISSIONS = 0x04,
    SSH_FILEXFER_ATTR_ACMODTIME = 0x08,
    SSH_FILEXFER_ATTR_EXTENDED = 0x80000000u,
};

enum : std::uint32_t {
    SSH_FX_OK = 0,
    SSH_FX_EOF = 1,
    SSH_FX_NO_SUCH_FILE = 2,
    SSH_FX_PERMISSION_DENIED = 3,
    SSH_FX_FAILURE = 4,
    SSH_FX_BAD_MESSAGE = 5,
    SSH_FX_NO_CONNECTION = 6,
    SSH_FX_CONNECTION_LOST = 7,
    SSH_FX_OP_UNSUPPORTED = 8,
};

inline constexpr std::uint32_t protocol_version = 3;
// The largest packet taken from a server: a 255 KiB read reply with room for its header. A larger length ends the
// session (a hostile or broken server, or one that sends a name of megabytes).
inline constexpr std::size_t max_packet = 256 * 1024 + 1024;
// The longest file name or long listing line accepted in a NAME reply.
inline constexpr std::size_t max_name = 32 * 1024;

struct attrs {
    std::uint32_t flags = 0;
    std::uint64_t size = 0;
    std::uint32_t uid = 0, gid = 0;
    std::uint32_t permissions = 0;
    std::uint32_t atime = 0, mtime = 0;

    bool has_size() const { return flags & SSH_FILEXFER_ATTR_SIZE; }
    bool has_permissions() const { return flags & SSH_FILEXFER_ATTR_PERMISSIONS; }
    bool is_dir() const { return has_permissions() && (permissions & 0170000) == 0040000; }
    bool is_regular() const { return has_permissions() && (permissions & 0170000) == 0100000; }
    bool is_link() const { return has_permissions() && (permissions & 0170000) == 0120000; }
};

// Big-endian fields over a reply's bytes; the first failure sticks and every later read fails too.
class reader {
public:
    explicit reader(std::span<const std::uint8_t> s) : p_(s.data()), n_(s.size()) {}
    std::optional<std::uint8_t> u8();
    std::optional<std::uint32_t> u32();
    std::optional<std::uint64_t> u64();
    // A length and that many bytes, the length checked against what is left and against max.
    std::optional<std::string_view> string(std::size_t max = max_packet);
    std::optional<attrs> attributes();
    bool ok() const { return ok_; }
    std::size_t remaining() const { return n_; }

private:
    std::nullopt_t fail() {
        ok_ = false;
        return std::nullopt;
    }
    const std::uint8_t* p_;
    std::size_t n_;
    bool ok_ = true;
};

// A request under construction: length and type first, the length filled in by finish().
class request {
public:
    request(std::uint8_t type, std::uint32_t id);  // every type but INIT carries an id
    static request init();
    request& u8(std::uint8_t v);
    request& u32(std::uint32_t v);
    request& u64(std::uint64_t v);
    request& string(std::string_view s);
    request& string(std::span<const std::uint8_t> s);
    request& attributes(const attrs& a);
    // The framed packet.
    std::vector<std::uint8_t>& finish();

private:
    request() = default;
    std::vector<std::uint8_t> b_;
};

// Whole packets out of the channel's byte stream, bounded by max_packet.
class reassembler {
public:
    // Appends bytes; false (and error() says why) once a packet announces more than the limit.
    bool feed(std::span<const std::uint8_t> bytes);
    // The next complete packet (type byte first), valid until the next call of feed() or next().
    std::optional<std::span<const std::uint8_t>> next();
    const std::string& error() const { return error_; }
    std::size_t buffered() const { return buf_.size() - at_; }

private:
    std::vector<std::uint8_t> buf_;
    std::size_t at_ = 0;
    std::string error_;
};

// One server reply, its fields read and checked against the packet's length. The spans and views point into the
// packet.
struct name_entry {
    std::string_view name, longname;
    attrs a;
};
struct reply {
    std::uint8_t type = 0;
    std::uint32_t id = 0;
    // STATUS
    std::uint32_t code = 0;
    std::string_view message;
    // HANDLE (handle), DATA (data), EXTENDED_REPLY (the rest)
    std::span<const std::uint8_t> bytes;
    // NAME
    std::vector<name_entry> names;
    // ATTRS
    attrs a;
};
// A reply packet (type byte first); the error text on failure names the reply and what was wrong. VERSION is read
// by read_version.
std::optional<reply> read_reply(std::span<const std::uint8_t> packet, std::string* error = nullptr,
                                std::size_t max_names = 4096);

struct version_info {
    std::uint32_t version = 0;
    std::vector<std::pair<std::string, std::string>> extensions;
};
std::optional<version_info> read_version(std::span<const std::uint8_t> packet);

// The text of a status code ("permission denied").
std::string_view status_text(std::uint32_t code);

// What a remote name may be shown as: controls and bytes that are not UTF-8 as \xNN, a backslash doubled.
std::string visible_name(std::string_view raw);
// A remote name as one local file name inside the chosen folder: '/', '\', NUL and controls become '_', "." and
// ".." and the empty name get a '_' in front, and the result is at most 255 bytes. Never a path.
std::string safe_local_name(std::string_view raw);
// The last part of a remote path ("a/b/" gives "b").
std::string_view remote_basename(std::string_view path);
// `name` inside `folder`, one '/' between them however the folder ends ("out/" and "d" give "out/d").
std::string join_path(std::string_view folder, std::string_view name);
// Where a download to `local` is written until it is whole: LOCAL.part, or, when that name would pass 255 bytes, a
// shorter stem with a suffix drawn from the whole name, so that names alike in their first 240 bytes stay apart.
std::string partial_name(std::string_view local);

}  // namespace sftp
