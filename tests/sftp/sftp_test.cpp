// The SFTP wire format and client against the in-process server of fake_server.h: operations, pipelined transfers
// of several sizes in reply pieces of several sizes, resume, cancel, bounded memory, and the hostile servers.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <filesystem>
#include <fstream>
#include <random>
#include <set>

#include "fake_server.h"

using namespace sftp_test;

namespace {

std::string pattern(std::size_t n, unsigned seed = 1) {
    std::mt19937 rng(seed);
    std::string s(n, '\0');
    for (auto& c : s) c = static_cast<char>(rng());
    return s;
}

std::string slurp(const std::filesystem::path& p) {
    std::ifstream f(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
}

std::vector<std::uint8_t> bytes(std::initializer_list<int> v) {
    std::vector<std::uint8_t> out;
    for (int b : v) out.push_back(static_cast<std::uint8_t>(b));
    return out;
}

struct fixture : ::testing::Test {
    fake_server server;
    memory_files local;
    loop_transport link{server};
    std::unique_ptr<client> c;
    std::optional<outcome> ready;

    void start(client_options opt = {}) {
        c = std::make_unique<client>(link, local, std::move(opt));
        c->start([this](const outcome& o) { ready = o; });
        run(*c, link, server);
        ASSERT_TRUE(ready);
    }
    outcome get(const std::string& remote, const std::string& to, transfer_options opt = {}, std::size_t piece = 4096) {
        std::optional<outcome> done;
        c->download(remote, to, opt, nullptr, [&](const outcome& o) { done = o; });
        run(*c, link, server, piece);
        EXPECT_TRUE(done) << "the download never ended";
        return done.value_or(outcome::failure("never ended"));
    }
    outcome put(const std::string& from, const std::string& remote, transfer_options opt = {}) {
        std::optional<outcome> done;
        c->upload(from, remote, opt, nullptr, [&](const outcome& o) { done = o; });
        run(*c, link, server);
        EXPECT_TRUE(done) << "the upload never ended";
        return done.value_or(outcome::failure("never ended"));
    }
};

}  // namespace

// ----- wire format -----

TEST(sftp_wire, replies_are_read_only_when_every_length_fits) {
    struct row {
        const char* what;
        std::vector<std::uint8_t> packet;
        bool ok;
    };
    const std::vector<row> rows = {
        {"status, full", bytes({101, 0, 0, 0, 7, 0, 0, 0, 1, 0, 0, 0, 1, 'x', 0, 0, 0, 0}), true},
        {"status without message (version 3 may)", bytes({101, 0, 0, 0, 7, 0, 0, 0, 3}), true},
        {"status with a message longer than the packet", bytes({101, 0, 0, 0, 7, 0, 0, 0, 3, 0, 0, 0, 9, 'x'}), false},
        {"status, no code", bytes({101, 0, 0, 0, 7}), false},
        {"no id", bytes({101, 0, 0}), false},
        {"handle", bytes({102, 0, 0, 0, 1, 0, 0, 0, 2, 'h', '1'}), true},
        {"handle with a byte after it", bytes({102, 0, 0, 0, 1, 0, 0, 0, 2, 'h', '1', 0}), false},
        {"data longer than the packet", bytes({103, 0, 0, 0, 1, 0xff, 0xff, 0xff, 0xff, 1, 2}), false},
        {"data", bytes({103, 0, 0, 0, 1, 0, 0, 0, 2, 1, 2}), true},
        {"name count larger than the packet holds", bytes({104, 0, 0, 0, 1, 0x7f, 0xff, 0xff, 0xff}), false},
        {"one name", bytes({104, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 1, 'a', 0, 0, 0, 0, 0, 0, 0, 0}), true},
        {"name with attributes cut short",
         bytes({104, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 1, 'a', 0, 0, 0, 0, 0, 0, 0, 1}), false},
        {"attrs with size", bytes({105, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 5}), true},
        {"attrs claiming a million extended pairs",
         bytes({105, 0, 0, 0, 1, 0x80, 0, 0, 0, 0, 0x0f, 0x42, 0x40, 0, 0, 0, 0}), false},
        {"unknown type", bytes({99, 0, 0, 0, 1}), false},
        {"extended reply keeps its rest", bytes({201, 0, 0, 0, 1, 1, 2, 3}), true},
    };
    for (const row& r : rows) {
        std::string why;
        const auto got = read_reply(r.packet, &why);
        EXPECT_EQ(got.has_value(), r.ok) << r.what;
        if (!r.ok) {
            EXPECT_NE(why.find("malformed SFTP reply"), std::string::npos) << r.what;
        }
    }
    const auto st = read_reply(rows[0].packet);
    ASSERT_TRUE(st);
    EXPECT_EQ(st->id, 7u);
    EXPECT_EQ(st->code, SSH_FX_EOF);
    EXPECT_EQ(st->message, "x");
    const auto a = read_reply(rows[12].packet);
    ASSERT_TRUE(a);
    EXPECT_EQ(a->a.size, 5u);
    EXPECT_TRUE(a->a.has_size());
}

TEST(sftp_wire, reassembly_takes_any_split_and_refuses_oversized_packets) {
    auto one = request(SSH_FXP_READ, 9);
    one.string("handle").u64(1).u32(2);
    const std::vector<std::uint8_t> p = one.finish();
    std::vector<std::uint8_t> stream = p;
    stream.insert(stream.end(), p.begin(), p.end());
    for (std::size_t cut = 0; cut <= stream.size(); ++cut) {
        reassembler r;
        int whole = 0;
        ASSERT_TRUE(r.feed(std::span(stream).first(cut)));
        while (auto got = r.next()) {
            EXPECT_EQ(got->size(), p.size() - 4);
            ++whole;
        }
        ASSERT_TRUE(r.feed(std::span(stream).subspan(cut)));
        while (auto got = r.next()) {
            EXPECT_EQ((*got)[0], SSH_FXP_READ);
            ++whole;
        }
        EXPECT_EQ(whole, 2) << "cut at " << cut;
    }
    reassembler big;
    const auto len = static_cast<std::uint32_t>(max_packet + 1);
    EXPECT_FALSE(big.feed(bytes({int(len >> 24), int(len >> 16 & 255), int(len >> 8 & 255), int(len & 255)})));
    EXPECT_NE(big.error().find("more than the"), std::string::npos);
}

TEST(sftp_wire, remote_names_never_become_paths_and_show_their_controls) {
    struct row {
        std::string raw, local, shown;
    };
    const std::vector<row> rows = {
        {"plain.txt", "plain.txt", "plain.txt"},
        {"../x", ".._x", "../x"},
        {"..", "_..", ".."},
        {".", "_.", "."},
        {"", "_", ""},
        {"/etc/passwd", "_etc_passwd", "/etc/passwd"},
        {"a\\b", "a_b", "a\\\\b"},
        {"new\nline", "new_line", "new\\x0aline"},
        {"\x1b[2J", "_[2J", "\\x1b[2J"},
        {"caf\xc3\xa9", "caf\xc3\xa9", "caf\xc3\xa9"},
        {"bad\xff", "bad_", "bad\\xff"},
        {"c1\xc2\x9b", "c1__", "c1\\xc2\\x9b"},
        {std::string("nul\0x", 5), "nul_x", "nul\\x00x"},
    };
    for (const row& r : rows) {
        EXPECT_EQ(safe_local_name(r.raw), r.local) << visible_name(r.raw);
        EXPECT_EQ(visible_name(r.raw), r.shown);
    }
    const std::string long_name = safe_local_name(std::string(300, 'a') + "\xc3\xa9");
    EXPECT_EQ(long_name.size(), 255u);
    EXPECT_EQ(remote_basename("/a/b/"), "b");
    EXPECT_EQ(remote_basename("c"), "c");
}

TEST(sftp_wire, paths_join_with_one_slash_and_partial_names_always_fit) {
    const std::vector<std::array<std::string, 3>> joins = {{"out", "d", "out/d"},
                                                           {"out/", "d", "out/d"},
                                                           {"/", "d", "/d"},
                                                           {"", "d", "d"},
                                                           {"a/b", "c d", "a/b/c d"}};
    for (const auto& [folder, name, want] : joins) EXPECT_EQ(join_path(folder, name), want) << folder;

    const std::string e_acute = "\xc3\xa9";
    const std::vector<std::string> stems = {
        "f",
        std::string(250, 'a'),
        std::string(251, 'a'),
        std::string(255, 'a'),
        std::string(254, 'b') + "c",
        std::string(240, 'x') + e_acute + e_acute + e_acute + e_acute + e_acute + e_acute + e_acute,
    };
    std::set<std::string> parts;
    for (const std::string& stem : stems) {
        const std::string part = partial_name("/l/dir/" + stem);
        ASSERT_TRUE(part.starts_with("/l/dir/")) << part;
        const std::string base = part.substr(7);
        EXPECT_LE(base.size(), 255u) << stem.size();
        EXPECT_TRUE(base.ends_with(".part")) << base;
        if (stem.size() + 5 <= 255) {
            EXPECT_EQ(base, stem + ".part");
        }
        // No half character where the stem was cut.
        EXPECT_EQ(visible_name(base).find("\\x"), std::string::npos) << visible_name(base);
        EXPECT_TRUE(parts.insert(base).second) << "two names share one partial file";
    }
}

// ----- operations -----

TEST_F(fixture, version_extensions_and_limits_size_the_requests) {
    server.max_read = 100 * 1024;
    server.max_write = 20 * 1024;
    start();
    EXPECT_TRUE(ready->ok);
    EXPECT_TRUE(c->usable());
    EXPECT_TRUE(c->has_extension("posix-rename@openssh.com"));
    EXPECT_EQ(c->read_chunk(), 100u * 1024);
    EXPECT_EQ(c->write_chunk(), 20u * 1024);

    fake_server plain;
    plain.extensions.clear();
    loop_transport l2{plain};
    client c2(l2, local);
    bool ok = false;
    c2.start([&](const outcome& o) { ok = o.ok; });
    run(c2, l2, plain);
    EXPECT_TRUE(ok);
    EXPECT_EQ(c2.read_chunk(), 32u * 1024);
}

TEST_F(fixture, single_requests) {
    start();
    server.files["/d/a"] = "abc";
    std::string real;
    c->realpath(".", [&](const outcome& o, const std::string& p) { real = o.ok ? p : "?"; });
    attrs a;
    c->stat("/d/a", true, [&](const outcome& o, const attrs& at) { a = o.ok ? at : attrs{}; });
    outcome missing;
    c->stat("/nope", false, [&](const outcome& o, const attrs&) { missing = o; });
    outcome made, renamed, removed;
    c->mkdir("/d/new", [&](const outcome& o) { made = o; });
    c->rename("/d/a", "/d/b", [&](const outcome& o) { renamed = o; });
    vfs_info v;
    c->statvfs("/", [&](const outcome&, const vfs_info& info) { v = info; });
    run(*c, link, server);
    c->remove("/d/b", [&](const outcome& o) { removed = o; });
    run(*c, link, server);
    EXPECT_EQ(real, "/home/u");
    EXPECT_EQ(a.size, 3u);
    EXPECT_TRUE(a.is_regular());
    EXPECT_FALSE(missing.ok);
    EXPECT_EQ(missing.code, SSH_FX_NO_SUCH_FILE);
    EXPECT_TRUE(made.ok);
    EXPECT_TRUE(server.dirs.count("/d/new"));
    EXPECT_TRUE(renamed.ok);
    // posix-rename went as an extended request, not RENAME
    EXPECT_EQ(std::count(server.request_types.begin(), server.request_types.end(), SSH_FXP_RENAME), 0);
    EXPECT_EQ(v.namemax, 1010u);
    EXPECT_TRUE(removed.ok);
    EXPECT_TRUE(server.files.empty());
    EXPECT_EQ(c->requests_pending(), 0u);
}

TEST_F(fixture, listing_leaves_out_dot_entries) {
    start();
    server.files["/d/x"] = "1";
    server.files["/d/y"] = "22";
    std::vector<dir_entry> got;
    outcome o;
    c->list("/d", [&](const outcome& r, std::vector<dir_entry> e) {
        o = r;
        got = std::move(e);
    });
    run(*c, link, server);
    ASSERT_TRUE(o.ok) << o.message;
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0].name, "x");
    EXPECT_EQ(got[1].a.size, 2u);
}

// ----- transfers -----

TEST_F(fixture, downloads_of_every_size_in_every_piece_size_arrive_whole) {
    start();
    for (const std::size_t size : {std::size_t(0), std::size_t(1), std::size_t(65535), std::size_t(1 << 20) + 3}) {
        for (const std::size_t piece : {std::size_t(1), std::size_t(7), std::size_t(65536)}) {
            if (size > 100000 && piece == 1) continue;  // slow, and the 7-byte pieces cover it
            server.files["/d/f"] = pattern(size, unsigned(size));
            local.files.clear();
            const outcome o = get("/d/f", "/l/f", {}, piece);
            ASSERT_TRUE(o.ok) << size << "/" << piece << ": " << o.message;
            EXPECT_EQ(local.files["/l/f"], server.files["/d/f"]) << size << "/" << piece;
            EXPECT_FALSE(local.files.count("/l/f.part"));
        }
    }
    EXPECT_EQ(c->running_transfers(), 0u);
    EXPECT_EQ(c->requests_pending(), 0u);
}

TEST_F(fixture, downloads_keep_many_reads_in_flight_within_the_bounds) {
    client_options opt;
    opt.max_requests = 16;
    opt.max_in_flight = 512 * 1024;
    start(opt);
    server.files["/d/big"] = pattern(8 << 20);
    std::vector<progress> seen;
    std::optional<outcome> done;
    c->download(
        "/d/big", "/l/big", {}, [&](const progress& p) { seen.push_back(p); }, [&](const outcome& o) { done = o; });
    std::size_t most_buffered = 0;
    for (int i = 0; i < 100000 && (!link.held.empty() || !server.out.empty()); ++i) {
        run(*c, link, server, 65536, 1);
        most_buffered = std::max(most_buffered, c->buffered());
    }
    ASSERT_TRUE(done && done->ok);
    EXPECT_EQ(local.files["/l/big"], server.files["/d/big"]);
    // 64 KiB reads (the server's limit), at most 8 of them (512 KiB) out at once, and several at once.
    EXPECT_GE(server.max_in_flight_seen, 4u);
    EXPECT_LE(server.max_in_flight_seen, 8u);
    EXPECT_LE(local.largest_write, 64u * 1024);
    EXPECT_LE(most_buffered, max_packet + 65536);
    ASSERT_FALSE(seen.empty());
    EXPECT_EQ(seen.back().done, 8u << 20);
    EXPECT_EQ(seen.back().total, std::optional<std::uint64_t>(8u << 20));
}

TEST_F(fixture, short_reads_are_asked_again) {
    start();
    server.mode = misbehave::short_reads;
    server.files["/d/f"] = pattern(300000);
    const outcome o = get("/d/f", "/l/f");
    ASSERT_TRUE(o.ok) << o.message;
    EXPECT_EQ(local.files["/l/f"], server.files["/d/f"]);
}

TEST_F(fixture, uploads_of_every_size_arrive_whole_and_wait_for_room) {
    start();
    for (const std::size_t size : {std::size_t(0), std::size_t(1), std::size_t(1 << 20) + 5}) {
        local.files["/l/u"] = pattern(size, 7);
        const outcome o = put("/l/u", "/d/u");
        ASSERT_TRUE(o.ok) << size << ": " << o.message;
        EXPECT_EQ(server.files["/d/u"], local.files["/l/u"]);
    }
    // A transport with little room: writes wait for it and never pile up past it.
    link.room_left = 150 * 1024;
    link.max_queued = 0;
    local.files["/l/u"] = pattern(3 << 20, 9);
    const outcome o = put("/l/u", "/d/u2");
    ASSERT_TRUE(o.ok) << o.message;
    EXPECT_EQ(server.files["/d/u2"], local.files["/l/u"]);
    EXPECT_LE(link.max_queued, 150u * 1024);
}

TEST_F(fixture, permission_denied_and_missing_files_are_named) {
    start();
    server.files["/d/secret"] = "x";
    server.denied.insert("/d/secret");
    const outcome o = get("/d/secret", "/l/s");
    EXPECT_FALSE(o.ok);
    EXPECT_EQ(o.code, SSH_FX_PERMISSION_DENIED);
    EXPECT_NE(o.message.find("permission denied"), std::string::npos) << o.message;
    EXPECT_FALSE(local.files.count("/l/s"));
    const outcome m = put("/l/none", "/d/x");
    EXPECT_FALSE(m.ok);
    EXPECT_NE(m.message.find("/l/none"), std::string::npos);
}

TEST_F(fixture, a_download_resumes_from_its_partial_file_after_a_size_check) {
    start();
    const std::string data = pattern(1 << 20, 3);
    server.files["/d/f"] = data;
    local.files["/l/f.part"] = data.substr(0, 600000);
    transfer_options resume;
    resume.resume = true;
    const outcome o = get("/d/f", "/l/f", resume);
    ASSERT_TRUE(o.ok) << o.message;
    EXPECT_EQ(local.files["/l/f"], data);
    EXPECT_LE(server.read_bytes_asked, data.size() - 600000 + 64 * 1024);

    // A partial file longer than the remote one is not trusted: the download starts over.
    local.files["/l/f.part"] = data + "junk";
    server.read_bytes_asked = 0;
    ASSERT_TRUE(get("/d/f", "/l/f", resume).ok);
    EXPECT_EQ(local.files["/l/f"], data);
    EXPECT_GE(server.read_bytes_asked, data.size());

    // Without resume an old partial file is replaced.
    local.files["/l/f.part"] = "stale";
    ASSERT_TRUE(get("/d/f", "/l/f").ok);
    EXPECT_EQ(local.files["/l/f"], data);
}

TEST_F(fixture, an_upload_resumes_from_the_remote_size) {
    start();
    const std::string data = pattern(700000, 4);
    local.files["/l/u"] = data;
    server.files["/d/u"] = data.substr(0, 300000);
    transfer_options resume;
    resume.resume = true;
    resume.sync = true;
    const std::size_t writes_before =
        std::count(server.request_types.begin(), server.request_types.end(), SSH_FXP_WRITE);
    ASSERT_TRUE(put("/l/u", "/d/u", resume).ok);
    EXPECT_EQ(server.files["/d/u"], data);
    const std::size_t writes =
        std::count(server.request_types.begin(), server.request_types.end(), SSH_FXP_WRITE) - writes_before;
    EXPECT_EQ(writes, (400000 + 65535) / 65536);
    server.files["/d/u"] = data + "longer";
    const outcome o = put("/l/u", "/d/u", resume);
    EXPECT_FALSE(o.ok);
    EXPECT_NE(o.message.find("not resumed"), std::string::npos);
}

TEST_F(fixture, a_cancelled_download_keeps_its_partial_file_only) {
    start();
    server.files["/d/f"] = pattern(4 << 20);
    std::optional<outcome> done;
    std::uint64_t at_cancel = 0;
    client::transfer_id id = 0;
    id = c->download(
        "/d/f", "/l/f", {},
        [&](const progress& p) {
            if (p.done > (1 << 20) && !at_cancel) {
                at_cancel = p.done;
                c->cancel(id);
            }
        },
        [&](const outcome& o) { done = o; });
    run(*c, link, server);
    ASSERT_TRUE(done);
    EXPECT_FALSE(done->ok);
    EXPECT_EQ(done->message, "cancelled");
    EXPECT_FALSE(local.files.count("/l/f"));
    ASSERT_TRUE(local.files.count("/l/f.part"));
    EXPECT_LT(local.files["/l/f.part"].size(), 4u << 20);
    EXPECT_EQ(c->requests_pending(), 0u);
    // The handle was closed.
    EXPECT_EQ(server.request_types.back(), SSH_FXP_CLOSE);
}

TEST_F(fixture, a_folder_comes_down_with_its_files_and_subfolders) {
    start();
    server.dirs.insert("/d/sub");
    for (int i = 0; i < 200; ++i) server.files["/d/f" + std::to_string(i)] = pattern(std::size_t(i), unsigned(i));
    server.files["/d/sub/inner"] = "in";
    std::optional<outcome> done;
    c->download_folder("/d", "/l/d", {}, nullptr, [&](const outcome& o) { done = o; });
    run(*c, link, server);
    ASSERT_TRUE(done && done->ok) << (done ? done->message : "never ended");
    for (int i = 0; i < 200; ++i)
        EXPECT_EQ(local.files["/l/d/f" + std::to_string(i)], server.files["/d/f" + std::to_string(i)]);
    EXPECT_EQ(local.files["/l/d/sub/inner"], "in");
}

TEST_F(fixture, names_that_meet_once_made_safe_each_keep_their_own_file) {
    start();
    server.files["/d/a\nb"] = "newline";
    server.files["/d/a_b"] = "underscore";
    server.files["/d/x"] = "plain";
    server.files["/d/x.part"] = "looks partial";
    std::optional<outcome> done;
    c->download_folder("/d", "/l/d", {}, nullptr, [&](const outcome& o) { done = o; });
    run(*c, link, server);
    ASSERT_TRUE(done && done->ok) << (done ? done->message : "never ended");
    std::multiset<std::string> contents;
    for (const auto& [path, data] : local.files) {
        EXPECT_FALSE(path.ends_with(".part") && data == "plain") << "a download's partial file was left";
        contents.insert(data);
    }
    EXPECT_EQ(contents, (std::multiset<std::string>{"newline", "underscore", "plain", "looks partial"}));
}

// ----- modes and times -----

TEST_F(fixture, modes_survive_both_ways_within_the_umask_and_times_when_asked) {
    start();
    struct row {
        std::uint32_t mode, umask, local_mode;  // the remote mode, and what a download leaves under that umask
    };
    const std::vector<row> rows = {
        {0600, 022, 0600}, {0640, 022, 0640},  {0755, 022, 0755}, {0644, 077, 0600},
        {0400, 022, 0400}, {04755, 022, 0755}, {01777, 0, 0777},  {0666, 002, 0664},
    };
    int n = 0;
    for (const row& r : rows) {
        for (const bool keep_times : {false, true}) {
            SCOPED_TRACE(std::to_string(r.mode) + (keep_times ? " with times" : ""));
            const std::string name = "f" + std::to_string(n++);
            server.files["/d/" + name] = "data";
            server.modes["/d/" + name] = r.mode;
            server.mtimes["/d/" + name] = 1600000000u + std::uint32_t(n);
            local.umask = r.umask;
            local.widest_partial = 0;
            transfer_options opt;
            opt.keep_times = keep_times;
            ASSERT_TRUE(get("/d/" + name, "/l/" + name, opt).ok);
            EXPECT_EQ(local.modes["/l/" + name], r.local_mode);
            EXPECT_EQ(local.widest_partial & ~0600u, 0u) << "the partial file was open to others";
            EXPECT_EQ(local.mtimes.count("/l/" + name) ? local.mtimes["/l/" + name] : 0,
                      keep_times ? 1600000000 + n : 0);

            // Up again over a file already there with another mode: the local mode (setuid and the like never).
            local.modes["/l/" + name] = r.mode & 0777;
            local.mtimes["/l/" + name] = 1500000000 + n;
            server.modes["/d/up"] = 0666;
            server.mtimes.erase("/d/up");
            ASSERT_TRUE(put("/l/" + name, "/d/up", opt).ok);
            EXPECT_EQ(server.modes["/d/up"], r.mode & 0777);
            EXPECT_EQ(server.mtimes.count("/d/up") ? server.mtimes["/d/up"] : 0u,
                      keep_times ? 1500000000u + std::uint32_t(n) : 0u);
        }
    }
    // A new remote file is made with its mode at once, not opened wider and narrowed later.
    local.files["/l/secret"] = "s";
    local.modes["/l/secret"] = 0600;
    ASSERT_TRUE(put("/l/secret", "/d/secret").ok);
    EXPECT_EQ(server.modes["/d/secret"], 0600u);
}

TEST_F(fixture, a_name_of_255_bytes_downloads_through_a_partial_file_that_fits) {
    start();
    for (const std::size_t n : {250u, 251u, 255u}) {
        const std::string name(n, 'n');
        server.files["/d/" + name] = pattern(100 + n);
        ASSERT_TRUE(get("/d/" + name, "/l/" + name).ok) << n;
        EXPECT_EQ(local.files["/l/" + name], server.files["/d/" + name]);
    }
    for (const auto& [path, data] : local.files) EXPECT_FALSE(path.ends_with(".part")) << path;
}

// ----- folders -----

TEST_F(fixture, a_folder_comes_down_at_any_depth_naming_each_entry_it_leaves_out) {
    start();
    std::string deep = "/d";
    for (int i = 0; i < 40; ++i) {
        deep += "/s" + std::to_string(i);
        server.dirs.insert(deep);
    }
    server.files[deep + "/bottom"] = "deep";
    server.modes["/d/s0"] = 0750;
    server.files["/d/top"] = "top";
    server.links.insert("/d/link");
    server.fifos.insert("/d/s0/pipe");
    server.files["/d/s0/s1/secret"] = "no";
    server.denied.insert("/d/s0/s1/secret");
    std::optional<outcome> done;
    std::vector<std::pair<std::string, std::string>> skipped;
    c->download_folder(
        "/d", "/l/d/", {}, nullptr, [&](const outcome& o) { done = o; },
        [&](const std::string& remote, const std::string& why) { skipped.emplace_back(remote, why); });
    run(*c, link, server);
    ASSERT_TRUE(done);
    EXPECT_FALSE(done->ok) << "left out entries make the download fail";
    EXPECT_NE(done->message.find("3 entries"), std::string::npos) << done->message;
    std::string local_deep = "/l/d";
    for (int i = 0; i < 40; ++i) local_deep += "/s" + std::to_string(i);
    EXPECT_EQ(local.files[local_deep + "/bottom"], "deep");
    EXPECT_EQ(local.files["/l/d/top"], "top");
    EXPECT_EQ(local.modes["/l/d/s0"], 0750u);
    std::map<std::string, std::string> by_path(skipped.begin(), skipped.end());
    EXPECT_EQ(by_path.size(), 3u);
    EXPECT_NE(by_path["/d/link"].find("symbolic link"), std::string::npos);
    EXPECT_NE(by_path["/d/s0/pipe"].find("not a regular file"), std::string::npos);
    EXPECT_NE(by_path["/d/s0/s1/secret"].find("permission denied"), std::string::npos);
    for (const auto& [path, data] : local.files) EXPECT_EQ(path.find("//"), std::string::npos) << path;
}

TEST_F(fixture, a_folder_deeper_than_the_limit_is_named_not_fetched) {
    client_options opt;
    opt.max_folder_depth = 5;
    start(opt);
    std::string deep = "/d";
    for (int i = 1; i <= 8; ++i) {
        deep += "/s" + std::to_string(i);
        server.dirs.insert(deep);
        server.files[deep + "/f"] = std::to_string(i);
    }
    std::optional<outcome> done;
    std::vector<std::string> skipped;
    c->download_folder(
        "/d", "/l/d", {}, nullptr, [&](const outcome& o) { done = o; },
        [&](const std::string& remote, const std::string& why) { skipped.push_back(remote + ": " + why); });
    run(*c, link, server);
    ASSERT_TRUE(done);
    EXPECT_FALSE(done->ok);
    ASSERT_EQ(skipped.size(), 1u);
    EXPECT_EQ(skipped[0], "/d/s1/s2/s3/s4/s5/s6: deeper than 5 folders (a loop?), not fetched");
    EXPECT_EQ(local.files["/l/d/s1/s2/s3/s4/s5/f"], "5");
    EXPECT_FALSE(local.files.count("/l/d/s1/s2/s3/s4/s5/s6/f"));
}

TEST_F(fixture, a_folder_download_keeps_its_memory_bounded_however_wide_the_tree) {
    client_options opt;
    opt.max_folder_held = 4 << 20;
    start(opt);
    server.mode = misbehave::fan_out;
    std::optional<outcome> done;
    std::size_t skipped = 0, peak = 0;
    const auto id = c->download_folder(
        "/d", "/l/d", {}, nullptr, [&](const outcome& o) { done = o; },
        [&](const std::string&, const std::string&) { ++skipped; });
    // Every folder holds 2,000 folders, without end: the walk is cut short here, having gone deep.
    while (!done && server.listings < 300) {
        run(*c, link, server, 65536, 4);
        peak = std::max(peak, c->folder_bytes_held());
        ASSERT_LE(c->folder_bytes_held(), opt.max_folder_held);
        ASSERT_LT(c->buffered(), max_packet + 65536);
    }
    EXPECT_FALSE(done) << done->message;
    EXPECT_GT(peak, opt.max_folder_held / 2) << "the walk never went deep";
    EXPECT_GT(skipped, 0u) << "folders past what is kept are named";
    c->cancel(id);
    run(*c, link, server);
    ASSERT_TRUE(done);
    EXPECT_EQ(done->message, "cancelled");
    EXPECT_EQ(c->folder_bytes_held(), 0u);
}

TEST_F(fixture, a_link_at_the_partial_file_is_replaced_not_followed) {
    start();
    server.files["/d/f"] = "remote";
    local.links.insert("/l/f.part");
    transfer_options resume;
    resume.resume = true;
    ASSERT_TRUE(get("/d/f", "/l/f", resume).ok);
    EXPECT_EQ(local.files["/l/f"], "remote");
    EXPECT_TRUE(local.links.empty());
}

// ----- hostile servers -----

TEST_F(fixture, hostile_servers_end_the_transfer_naming_the_cause) {
    struct row {
        misbehave mode;
        bool upload;
        const char* says;
        bool client_ends;  // the whole client stops, not just the transfer
    };
    const std::vector<row> rows = {
        {misbehave::unsent_id, false, "which was never sent", true},
        {misbehave::data_too_long, false, "bytes for a read of", false},
        {misbehave::writes_dropped, true, "acknowledged writes that did not reach", false},
        {misbehave::eof_early, false, "ended at", false},
        {misbehave::extra_bytes, false, "after its last field", true},
        {misbehave::wrong_reply_type, false, "answered OPEN with reply type", true},
    };
    for (const row& r : rows) {
        fake_server s;
        memory_files l;
        loop_transport t{s};
        client cl(t, l);
        cl.start(nullptr);
        run(cl, t, s);
        ASSERT_TRUE(cl.usable());
        s.mode = r.mode;
        s.files["/d/f"] = pattern(200000);
        l.files["/l/u"] = pattern(200000);
        std::optional<outcome> done;
        auto end = [&](const outcome& o) { done = o; };
        if (r.upload)
            cl.upload("/l/u", "/d/f", {}, nullptr, end);
        else
            cl.download("/d/f", "/l/f", {}, nullptr, end);
        run(cl, t, s);
        ASSERT_TRUE(done) << r.says;
        EXPECT_FALSE(done->ok) << r.says;
        EXPECT_NE(done->message.find(r.says), std::string::npos) << done->message;
        EXPECT_EQ(!cl.usable(), r.client_ends) << r.says;
        EXPECT_FALSE(l.files.count("/l/f")) << r.says << ": a download that failed left a finished file";
        EXPECT_EQ(cl.requests_pending(), 0u) << r.says;
        EXPECT_EQ(cl.running_transfers(), 0u) << r.says;
    }
}

TEST_F(fixture, hostile_listings_stop_with_a_message) {
    struct row {
        misbehave mode;
        const char* says;
    };
    for (const row& r :
         {row{misbehave::endless_listing, "stopped after 1000 entries"}, row{misbehave::huge_name, "more than the"},
          row{misbehave::endless_dots, "stopped after 1000 entries"}}) {
        fake_server s;
        memory_files l;
        loop_transport t{s};
        client_options opt;
        opt.max_listing = 1000;
        client cl(t, l, opt);
        cl.start(nullptr);
        run(cl, t, s);
        s.mode = r.mode;
        std::optional<outcome> done;
        cl.list("/d", [&](const outcome& o, std::vector<dir_entry> e) {
            done = o;
            EXPECT_TRUE(e.empty());
        });
        run(cl, t, s, 65536, 2000);
        ASSERT_TRUE(done) << r.says;
        EXPECT_FALSE(done->ok);
        EXPECT_NE(done->message.find(r.says), std::string::npos) << done->message;
        EXPECT_LT(cl.buffered(), max_packet + 65536);
    }
}

TEST_F(fixture, hostile_names_in_a_folder_stay_inside_the_chosen_folder) {
    start();
    server.mode = misbehave::evil_names;
    std::optional<outcome> done;
    std::vector<std::string> skipped;
    c->download_folder(
        "/d", "/l/x", {}, nullptr, [&](const outcome& o) { done = o; },
        [&](const std::string& remote, const std::string& why) { skipped.push_back(remote + ": " + why); });
    run(*c, link, server);
    ASSERT_TRUE(done);
    EXPECT_EQ(skipped, std::vector<std::string>{"/d/: an empty name"});
    EXPECT_FALSE(done->ok);
    std::set<std::string> made;
    for (const auto& [path, data] : local.files) made.insert(path);
    for (const auto& p : made) {
        ASSERT_TRUE(p.starts_with("/l/x/")) << p;
        EXPECT_EQ(p.find('/', 5), std::string::npos) << p;
        const std::string name = p.substr(5);
        EXPECT_TRUE(name != ".." && name != "." && !name.empty() && name != "...part") << p;
        for (const char ch : p) EXPECT_GE(static_cast<unsigned char>(ch), 0x20) << p;
    }
    // The empty name is left out and the rest still comes down.
    for (const char* want : {"/l/x/.._escape", "/l/x/_etc_passwd", "/l/x/a_b", "/l/x/bell__[2J"})
        EXPECT_TRUE(made.count(want)) << want;
}

TEST_F(fixture, a_lost_channel_ends_everything_running) {
    start();
    server.files["/d/f"] = pattern(1 << 20);
    std::optional<outcome> a, b;
    c->download("/d/f", "/l/f", {}, nullptr, [&](const outcome& o) { a = o; });
    c->realpath(".", [&](const outcome& o, const std::string&) { b = outcome{o}; });
    c->lost("the host closed the SFTP channel");
    ASSERT_TRUE(a && b);
    EXPECT_EQ(a->message, "the host closed the SFTP channel");
    EXPECT_FALSE(b->ok);
    std::optional<outcome> later;
    c->download("/d/f", "/l/g", {}, nullptr, [&](const outcome& o) { later = o; });
    ASSERT_TRUE(later);
    EXPECT_FALSE(later->ok);
}

// ----- the real local files -----

TEST(sftp_posix_files, writes_never_follow_a_link_and_keep_only_regular_files) {
    namespace fs = std::filesystem;
    const fs::path dir = fs::temp_directory_path() / ("sftp_posix_" + std::to_string(::getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir);
    const fs::path victim = dir / "victim";
    std::ofstream(victim) << "keep me";
    fs::create_symlink(victim, dir / "f.part");
    posix_files files;
    std::string why;
    EXPECT_FALSE(files.regular_size((dir / "f.part").string()));
    EXPECT_FALSE(files.open_write((dir / "f.part").string(), true, why)) << "kept a link";
    auto f = files.open_write((dir / "f.part").string(), false, why);
    ASSERT_TRUE(f) << why;
    const std::string text = "new";
    ASSERT_TRUE(f->write_at(0, std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size())));
    f.reset();
    EXPECT_EQ(slurp(victim), "keep me");
    EXPECT_FALSE(fs::is_symlink(dir / "f.part"));
    EXPECT_EQ(files.regular_size((dir / "f.part").string()), std::optional<std::uint64_t>(3));
    fs::create_symlink(victim, dir / "final");
    ASSERT_TRUE(files.rename((dir / "f.part").string(), (dir / "final").string(), why));
    EXPECT_EQ(slurp(victim), "keep me");
    EXPECT_EQ(slurp(dir / "final"), "new");
    fs::remove_all(dir);
}
