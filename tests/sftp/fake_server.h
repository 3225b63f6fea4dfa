#pragma once
// An in-process SFTP server over an in-memory tree, with switches for the ways a hostile or broken server
// misbehaves, and in-memory local files. The client's bytes reach the server only when a test calls run(), which
// hands the replies back in pieces of a chosen size until both sides are quiet.
#include <algorithm>
#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "sftp/client.h"
#include "sftp/protocol.h"

namespace sftp_test {

using namespace sftp;

enum class misbehave {
    none,
    unsent_id,         // answers a READ with an extra STATUS for an id never used
    data_too_long,     // DATA replies carry more than the READ asked for
    writes_dropped,    // WRITE answered OK, nothing written
    endless_listing,   // READDIR never says EOF
    evil_names,        // a listing of names with "../", absolute paths, controls, '/' inside
    huge_name,         // a listing of one 10 MB name
    short_reads,       // DATA replies carry at most 1000 bytes
    eof_early,         // the file's size says more than READ delivers
    extra_bytes,       // STATUS replies carry a byte after their last field
    wrong_reply_type,  // OPEN answered with ATTRS
    endless_dots,      // READDIR answers "." and ".." for ever
    fan_out,           // every folder lists `fan` subfolders, without end
};

class fake_server {
public:
    std::map<std::string, std::string> files;
    std::set<std::string> dirs{"/", "/d"};
    std::set<std::string> denied;  // paths whose open is refused with PERMISSION_DENIED
    std::set<std::string> links;   // listed as symbolic links
    std::set<std::string> fifos;   // listed as named pipes
    // Permission bits (and setuid, setgid, sticky) and modification times; files 0644 and folders 0755 when absent.
    std::map<std::string, std::uint32_t> modes, mtimes;
    std::size_t fan = 2000;
    std::size_t listings = 0;  // READDIR replies that carried names
    std::vector<std::pair<std::string, std::string>> extensions{{"posix-rename@openssh.com", "1"},
                                                                {"statvfs@openssh.com", "2"},
                                                                {"fsync@openssh.com", "1"},
                                                                {"limits@openssh.com", "1"}};
    std::uint64_t max_read = 64 * 1024, max_write = 64 * 1024;
    misbehave mode = misbehave::none;
    std::size_t max_in_flight_seen = 0;
    std::vector<std::uint8_t> request_types;  // in arrival order
    std::uint64_t read_bytes_asked = 0;

    // What the client sent; replies queue in out.
    void take(std::span<const std::uint8_t> bytes) {
        in_.insert(in_.end(), bytes.begin(), bytes.end());
        std::size_t batch = 0;
        while (in_.size() >= 4) {
            const std::uint32_t len =
                std::uint32_t(in_[0]) << 24 | std::uint32_t(in_[1]) << 16 | std::uint32_t(in_[2]) << 8 | in_[3];
            if (in_.size() < 4 + len) break;
            std::vector<std::uint8_t> p(in_.begin() + 4, in_.begin() + 4 + len);
            in_.erase(in_.begin(), in_.begin() + 4 + len);
            max_in_flight_seen = std::max(max_in_flight_seen, ++batch);
            handle(p);
        }
    }
    std::vector<std::uint8_t> out;

private:
    std::vector<std::uint8_t> in_;
    std::map<std::string, std::string> handles_;  // handle -> path ("D:" prefix for folders)
    std::map<std::string, int> listed_;           // folder handle -> replies given
    int next_handle_ = 0;

    struct packet {
        std::vector<std::uint8_t> b;
        packet& u8(std::uint8_t v) {
            b.push_back(v);
            return *this;
        }
        packet& u32(std::uint32_t v) {
            for (int s = 24; s >= 0; s -= 8) b.push_back(std::uint8_t(v >> s));
            return *this;
        }
        packet& u64(std::uint64_t v) { return u32(std::uint32_t(v >> 32)).u32(std::uint32_t(v)); }
        packet& str(std::string_view s) {
            u32(std::uint32_t(s.size()));
            b.insert(b.end(), s.begin(), s.end());
            return *this;
        }
    };
    void emit(const packet& p) {
        const std::uint32_t n = std::uint32_t(p.b.size());
        for (int s = 24; s >= 0; s -= 8) out.push_back(std::uint8_t(n >> s));
        out.insert(out.end(), p.b.begin(), p.b.end());
    }
    void status(std::uint32_t id, std::uint32_t code, std::string_view text = "") {
        packet p;
        p.u8(SSH_FXP_STATUS).u32(id).u32(code).str(text).str("");
        if (mode == misbehave::extra_bytes) p.u8(0);
        emit(p);
    }
    void file_attrs(packet& p, const std::string& path) {
        const auto bits = [&](std::uint32_t dflt) { return modes.count(path) ? modes[path] : dflt; };
        const std::uint32_t times = mtimes.count(path) ? std::uint32_t(SSH_FILEXFER_ATTR_ACMODTIME) : 0u;
        if (mode == misbehave::fan_out && !files.count(path)) {
            p.u32(SSH_FILEXFER_ATTR_PERMISSIONS).u32(040755);
        } else if (links.count(path)) {
            p.u32(SSH_FILEXFER_ATTR_PERMISSIONS).u32(0120777);
        } else if (fifos.count(path)) {
            p.u32(SSH_FILEXFER_ATTR_PERMISSIONS).u32(010644);
        } else if (dirs.count(path)) {
            p.u32(SSH_FILEXFER_ATTR_PERMISSIONS | times).u32(040000 | bits(0755));
        } else {
            p.u32(SSH_FILEXFER_ATTR_SIZE | SSH_FILEXFER_ATTR_PERMISSIONS | times)
                .u64(files[path].size())
                .u32(0100000 | bits(0644));
        }
        if (times) p.u32(mtimes[path]).u32(mtimes[path]);
    }
    // SETSTAT and FSETSTAT: the mode and times asked for.
    void apply(const std::string& path, const attrs& a) {
        if (a.has_permissions()) modes[path] = a.permissions & 07777;
        if (a.flags & SSH_FILEXFER_ATTR_ACMODTIME) mtimes[path] = a.mtime;
    }
    void name_reply(std::uint32_t id, const std::vector<std::string>& names, const std::string& folder) {
        packet p;
        p.u8(SSH_FXP_NAME).u32(id).u32(std::uint32_t(names.size()));
        for (const auto& n : names) {
            p.str(n).str(n);
            if (folder.empty())
                p.u32(SSH_FILEXFER_ATTR_SIZE | SSH_FILEXFER_ATTR_PERMISSIONS).u64(3).u32(0100644);
            else
                file_attrs(p, folder + "/" + n);
        }
        emit(p);
    }

    void handle(const std::vector<std::uint8_t>& p) {
        reader r(p);
        const std::uint8_t type = *r.u8();
        request_types.push_back(type);
        if (type == SSH_FXP_INIT) {
            packet v;
            v.u8(SSH_FXP_VERSION).u32(3);
            for (const auto& [n, d] : extensions) v.str(n).str(d);
            return emit(v);
        }
        const std::uint32_t id = *r.u32();
        switch (type) {
        case SSH_FXP_EXTENDED: {
            const std::string name(*r.string());
            if (name == "limits@openssh.com") {
                packet x;
                x.u8(SSH_FXP_EXTENDED_REPLY).u32(id).u64(256 * 1024).u64(max_read).u64(max_write).u64(64);
                return emit(x);
            }
            if (name == "posix-rename@openssh.com") {
                const std::string from(*r.string()), to(*r.string());
                if (!files.count(from)) return status(id, SSH_FX_NO_SUCH_FILE);
                files[to] = files[from];
                files.erase(from);
                return status(id, SSH_FX_OK);
            }
            if (name == "statvfs@openssh.com") {
                packet x;
                x.u8(SSH_FXP_EXTENDED_REPLY).u32(id);
                for (int i = 0; i < 11; ++i) x.u64(1000 + i);
                return emit(x);
            }
            if (name == "fsync@openssh.com") return status(id, SSH_FX_OK);
            return status(id, SSH_FX_OP_UNSUPPORTED);
        }
        case SSH_FXP_OPEN: {
            const std::string path(*r.string());
            const std::uint32_t flags = *r.u32();
            if (mode == misbehave::wrong_reply_type) {
                packet x;
                x.u8(SSH_FXP_ATTRS).u32(id).u32(0);
                return emit(x);
            }
            if (denied.count(path)) return status(id, SSH_FX_PERMISSION_DENIED, "Permission denied");
            if (mode == misbehave::evil_names && !files.count(path)) files[path] = "evil";
            if (!files.count(path) && !(flags & SSH_FXF_CREAT)) return status(id, SSH_FX_NO_SUCH_FILE);
            const auto a = r.attributes();
            if (!files.count(path) && a && a->has_permissions()) modes[path] = a->permissions & 07777;
            if ((flags & SSH_FXF_TRUNC) || !files.count(path)) files[path].clear();
            const std::string h = "h" + std::to_string(next_handle_++);
            handles_[h] = path;
            packet x;
            x.u8(SSH_FXP_HANDLE).u32(id).str(h);
            return emit(x);
        }
        case SSH_FXP_OPENDIR: {
            const std::string path(*r.string());
            if (!dirs.count(path) && mode != misbehave::evil_names && mode != misbehave::endless_listing &&
                mode != misbehave::huge_name && mode != misbehave::endless_dots && mode != misbehave::fan_out)
                return status(id, SSH_FX_NO_SUCH_FILE);
            const std::string h = "d" + std::to_string(next_handle_++);
            handles_[h] = "D:" + path;
            packet x;
            x.u8(SSH_FXP_HANDLE).u32(id).str(h);
            return emit(x);
        }
        case SSH_FXP_READDIR: {
            const std::string h(*r.string());
            const std::string folder = handles_[h].substr(2);
            const int round = listed_[h]++;
            if (mode == misbehave::endless_listing) {
                std::vector<std::string> names;
                for (int i = 0; i < 100; ++i) names.push_back("f" + std::to_string(round * 100 + i));
                return name_reply(id, names, "");
            }
            if (mode == misbehave::endless_dots) return name_reply(id, {".", ".."}, "");
            if (mode == misbehave::fan_out) {
                if (round > 0) return status(id, SSH_FX_EOF);
                ++listings;
                std::vector<std::string> names;
                for (std::size_t i = 0; i < fan; ++i) names.push_back("sub" + std::to_string(i));
                return name_reply(id, names, folder);
            }
            if (mode == misbehave::huge_name) {
                packet x;
                x.u8(SSH_FXP_NAME).u32(id).u32(1).str(std::string(10 * 1024 * 1024, 'n')).str("").u32(0);
                return emit(x);
            }
            if (round > 0) return status(id, SSH_FX_EOF);
            if (mode == misbehave::evil_names)
                return name_reply(id, {"../escape", "/etc/passwd", "a/b", "..", ".", "bell\a\x1b[2J", ""}, "");
            std::vector<std::string> names{".", ".."};
            const std::string prefix = folder == "/" ? "/" : folder + "/";
            for (const auto& [path, data] : files)
                if (path.starts_with(prefix) && path.find('/', prefix.size()) == std::string::npos)
                    names.push_back(path.substr(prefix.size()));
            for (const auto& d : dirs)
                if (d != folder && d.starts_with(prefix) && d.find('/', prefix.size()) == std::string::npos)
                    names.push_back(d.substr(prefix.size()));
            for (const auto* special : {&links, &fifos})
                for (const auto& d : *special)
                    if (d.starts_with(prefix) && d.find('/', prefix.size()) == std::string::npos)
                        names.push_back(d.substr(prefix.size()));
            return name_reply(id, names, folder);
        }
        case SSH_FXP_CLOSE: {
            handles_.erase(std::string(*r.string()));
            return status(id, SSH_FX_OK);
        }
        case SSH_FXP_READ: {
            const std::string h(*r.string());
            const std::uint64_t off = *r.u64();
            std::uint32_t len = *r.u32();
            read_bytes_asked += len;
            const std::string& data = files[handles_[h]];
            std::uint64_t size = data.size();
            if (mode == misbehave::eof_early) size /= 2;
            if (mode == misbehave::unsent_id) status(id + 1000, SSH_FX_OK);
            if (off >= size) return status(id, SSH_FX_EOF);
            if (mode == misbehave::short_reads) len = std::min<std::uint32_t>(len, 1000);
            std::string chunk = data.substr(off, std::min<std::uint64_t>(len, size - off));
            if (mode == misbehave::data_too_long) chunk.append(16, 'x');
            packet x;
            x.u8(SSH_FXP_DATA).u32(id).str(chunk);
            return emit(x);
        }
        case SSH_FXP_WRITE: {
            const std::string h(*r.string());
            const std::uint64_t off = *r.u64();
            const auto d = *r.string();
            if (mode != misbehave::writes_dropped) {
                std::string& data = files[handles_[h]];
                if (data.size() < off + d.size()) data.resize(off + d.size());
                std::copy(d.begin(), d.end(), data.begin() + std::ptrdiff_t(off));
            }
            return status(id, SSH_FX_OK);
        }
        case SSH_FXP_FSTAT: {
            const std::string h(*r.string());
            packet x;
            x.u8(SSH_FXP_ATTRS).u32(id);
            file_attrs(x, handles_[h]);
            return emit(x);
        }
        case SSH_FXP_STAT:
        case SSH_FXP_LSTAT: {
            const std::string path(*r.string());
            if (!files.count(path) && !dirs.count(path) && mode != misbehave::fan_out)
                return status(id, SSH_FX_NO_SUCH_FILE, "No such file");
            packet x;
            x.u8(SSH_FXP_ATTRS).u32(id);
            file_attrs(x, path);
            return emit(x);
        }
        case SSH_FXP_REALPATH: {
            const std::string path(*r.string());
            return name_reply(id, {path == "." ? "/home/u" : path}, "");
        }
        case SSH_FXP_MKDIR: {
            const std::string path(*r.string());
            if (dirs.count(path)) return status(id, SSH_FX_FAILURE);
            dirs.insert(path);
            if (const auto a = r.attributes(); a && a->has_permissions()) modes[path] = a->permissions & 07777;
            return status(id, SSH_FX_OK);
        }
        case SSH_FXP_RMDIR: {
            const std::string path(*r.string());
            return status(id, dirs.erase(path) ? SSH_FX_OK : SSH_FX_NO_SUCH_FILE);
        }
        case SSH_FXP_REMOVE: {
            const std::string path(*r.string());
            return status(id, files.erase(path) ? SSH_FX_OK : SSH_FX_NO_SUCH_FILE);
        }
        case SSH_FXP_RENAME: {
            const std::string from(*r.string()), to(*r.string());
            if (!files.count(from) || files.count(to)) return status(id, SSH_FX_FAILURE);
            files[to] = files[from];
            files.erase(from);
            return status(id, SSH_FX_OK);
        }
        case SSH_FXP_SETSTAT:
        case SSH_FXP_FSETSTAT: {
            std::string path(*r.string());
            if (type == SSH_FXP_FSETSTAT) path = handles_[path];
            if (const auto a = r.attributes()) apply(path, *a);
            return status(id, SSH_FX_OK);
        }
        default: return status(id, SSH_FX_OP_UNSUPPORTED);
        }
    }
};

// Local files in memory; a path in `links` stands for a symbolic link that writes must never follow.
class memory_files final : public local_files {
public:
    std::map<std::string, std::string> files;
    std::set<std::string> dirs{"/l"};
    std::set<std::string> links;
    std::size_t largest_write = 0;
    std::uint32_t umask = 022;
    // Permission bits as a system would keep them (the umask applied on set_mode and make_directory), and times.
    std::map<std::string, std::uint32_t> modes;
    std::map<std::string, std::int64_t> mtimes;
    std::uint32_t widest_partial = 0;  // the widest mode a ".part" file had while it was written

    class file final : public local_file {
    public:
        file(memory_files& fs, std::string path) : fs_(fs), path_(std::move(path)) {}
        std::optional<std::size_t> read_at(std::uint64_t offset, std::span<std::uint8_t> into) override {
            const std::string& d = fs_.files[path_];
            if (offset >= d.size()) return 0;
            const std::size_t n = std::min<std::size_t>(into.size(), d.size() - offset);
            std::copy_n(d.begin() + std::ptrdiff_t(offset), n, into.begin());
            return n;
        }
        bool write_at(std::uint64_t offset, std::span<const std::uint8_t> bytes) override {
            std::string& d = fs_.files[path_];
            if (d.size() < offset + bytes.size()) d.resize(offset + bytes.size());
            std::copy(bytes.begin(), bytes.end(), d.begin() + std::ptrdiff_t(offset));
            fs_.largest_write = std::max(fs_.largest_write, bytes.size());
            if (path_.ends_with(".part")) fs_.widest_partial |= fs_.modes[path_];
            return true;
        }
        std::optional<std::uint64_t> size() override { return fs_.files[path_].size(); }
        bool sync() override { return true; }
        std::optional<local_stat> stat() override {
            return local_stat{fs_.modes.count(path_) ? fs_.modes[path_] : 0644, 0,
                              fs_.mtimes.count(path_) ? fs_.mtimes[path_] : 0};
        }
        bool set_mode(std::uint32_t mode) override {
            fs_.modes[path_] = mode & 0777 & ~fs_.umask;
            return true;
        }
        bool set_times(std::int64_t, std::int64_t mtime) override {
            fs_.mtimes[path_] = mtime;
            return true;
        }

    private:
        memory_files& fs_;
        std::string path_;
    };

    std::unique_ptr<local_file> open_read(const std::string& path, std::string& why) override {
        if (!files.count(path)) {
            why = "cannot open " + path;
            return nullptr;
        }
        return std::make_unique<file>(*this, path);
    }
    std::unique_ptr<local_file> open_write(const std::string& path, bool keep, std::string& why) override {
        if (path.size() - path.rfind('/') - 1 > 255) {
            why = "File name too long";
            return nullptr;
        }
        if (links.count(path)) {
            // As O_NOFOLLOW: keeping refuses; otherwise the link goes and a file takes its place.
            if (keep) {
                why = "is a link: " + path;
                return nullptr;
            }
            links.erase(path);
        }
        if (!keep) {
            files[path].clear();
            modes[path] = 0600 & ~umask;
        }
        files[path];
        return std::make_unique<file>(*this, path);
    }
    std::optional<std::uint64_t> regular_size(const std::string& path) override {
        if (links.count(path) || !files.count(path)) return std::nullopt;
        return files[path].size();
    }
    bool is_directory(const std::string& path) override { return dirs.count(path) > 0; }
    bool make_directory(const std::string& path, std::uint32_t mode, std::string&) override {
        if (dirs.insert(path).second) modes[path] = mode & 0777 & ~umask;
        return true;
    }
    bool rename(const std::string& from, const std::string& to, std::string& why) override {
        if (!files.count(from)) {
            why = "no " + from;
            return false;
        }
        links.erase(to);
        files[to] = files[from];
        files.erase(from);
        if (modes.count(from)) modes[to] = modes[from];
        if (mtimes.count(from)) mtimes[to] = mtimes[from];
        modes.erase(from);
        mtimes.erase(from);
        return true;
    }
};

// The client's transport: bytes go to the server; room is what the test allows.
struct loop_transport final : client::transport {
    fake_server& server;
    std::size_t room_left = 64 * 1024 * 1024;
    std::size_t queued = 0;
    std::size_t max_queued = 0;
    std::vector<std::uint8_t> held;
    explicit loop_transport(fake_server& s) : server(s) {}
    void send(std::span<const std::uint8_t> bytes) override {
        held.insert(held.end(), bytes.begin(), bytes.end());
        queued += bytes.size();
        max_queued = std::max(max_queued, queued);
    }
    std::size_t room() const override { return room_left > queued ? room_left - queued : 0; }
};

// Moves bytes both ways until neither side has more; the server's replies arrive in pieces of `piece` bytes.
inline void run(client& c, loop_transport& t, fake_server& s, std::size_t piece = 4096, int max_rounds = 100000) {
    for (int round = 0; round < max_rounds; ++round) {
        if (t.held.empty() && s.out.empty()) return;
        std::vector<std::uint8_t> sent;
        sent.swap(t.held);
        t.queued = 0;
        s.take(sent);
        if (!sent.empty()) c.writable();
        std::vector<std::uint8_t> replies;
        replies.swap(s.out);
        for (std::size_t at = 0; at < replies.size(); at += piece)
            c.receive(std::span<const std::uint8_t>(replies).subspan(at, std::min(piece, replies.size() - at)));
    }
}

}  // namespace sftp_test
