// The SFTP reply parser and the client on any server bytes. The first byte chooses the piece size the rest arrives
// in and whether a download, an upload or a listing is running while it does.
#include <cstdint>
#include <cstdlib>
#include <map>
#include <memory>
#include <set>

#include "sftp/client.h"

namespace {

struct null_transport final : sftp::client::transport {
    void send(std::span<const std::uint8_t>) override {}
    std::size_t room() const override { return 1 << 20; }
};

struct tiny_files final : sftp::local_files {
    std::map<std::string, std::string> files{{"/up", std::string(100000, 'u')}};
    struct file final : sftp::local_file {
        std::string& d;
        explicit file(std::string& s) : d(s) {}
        std::optional<std::size_t> read_at(std::uint64_t off, std::span<std::uint8_t> into) override {
            if (off >= d.size()) return 0;
            const std::size_t n = std::min<std::size_t>(into.size(), d.size() - off);
            std::copy_n(d.begin() + std::ptrdiff_t(off), n, into.begin());
            return n;
        }
        bool write_at(std::uint64_t off, std::span<const std::uint8_t> b) override {
            // Offsets come from the client's own requests: past a few megabytes means it trusted the server.
            if (off + b.size() > (8u << 20)) std::abort();
            if (d.size() < off + b.size()) d.resize(off + b.size());
            std::copy(b.begin(), b.end(), d.begin() + std::ptrdiff_t(off));
            return true;
        }
        std::optional<std::uint64_t> size() override { return d.size(); }
        bool sync() override { return true; }
        std::optional<sftp::local_stat> stat() override { return sftp::local_stat{0644, 0, 0}; }
        bool set_mode(std::uint32_t) override { return true; }
        bool set_times(std::int64_t, std::int64_t) override { return true; }
    };
    std::unique_ptr<sftp::local_file> open_read(const std::string& p, std::string&) override {
        return files.count(p) ? std::make_unique<file>(files[p]) : nullptr;
    }
    std::unique_ptr<sftp::local_file> open_write(const std::string& p, bool keep, std::string&) override {
        if (!keep) files[p].clear();
        return std::make_unique<file>(files[p]);
    }
    std::optional<std::uint64_t> regular_size(const std::string& p) override {
        return files.count(p) ? std::optional<std::uint64_t>(files[p].size()) : std::nullopt;
    }
    bool is_directory(const std::string&) override { return true; }
    bool make_directory(const std::string&, std::uint32_t, std::string&) override { return true; }
    bool rename(const std::string& from, const std::string& to, std::string&) override {
        files[to] = files[from];
        return true;
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const std::uint8_t mode = data[0];
    ++data;
    --size;
    std::string why;
    if (const auto r = sftp::read_reply({data, size}, &why)) {
        for (const auto& n : r->names) sftp::safe_local_name(n.name);
    }
    null_transport t;
    tiny_files files;
    sftp::client_options opt;
    opt.max_listing = 500;
    sftp::client c(t, files, opt);
    int ended = 0;
    c.start(nullptr);
    switch (mode & 3) {
    case 0: c.download("/r", "/l", {}, nullptr, [&](const sftp::outcome&) { ++ended; }); break;
    case 1: c.upload("/up", "/r", {}, nullptr, [&](const sftp::outcome&) { ++ended; }); break;
    case 2: c.list("/d", [&](const sftp::outcome&, std::vector<sftp::dir_entry>) { ++ended; }); break;
    default: c.download_folder("/d", "/l", {}, nullptr, [&](const sftp::outcome&) { ++ended; }); break;
    }
    const std::size_t piece = std::size_t(mode >> 2) * 97 + 1;
    for (std::size_t at = 0; at < size; at += piece) c.receive({data + at, std::min(piece, size - at)});
    if (ended > 1) std::abort();
    for (const auto& [name, body] : files.files) {
        const std::string base = name.substr(name.rfind('/') + 1);
        if (base == ".." || base == "." || name.find("/../") != std::string::npos) std::abort();
    }
    c.lost("end");
    if (ended > 1) std::abort();
    return 0;
}
