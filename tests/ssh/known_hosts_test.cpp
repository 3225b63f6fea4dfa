// known_hosts reading and writing, checked against OpenSSH's own tools: ssh-keygen (fingerprints, hashing, -F) and
// ssh-keyscan against a private sshd on loopback.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "../support/peer_process.h"
#include "../support/scoped_home.h"
#include "ssh/known_hosts.h"
#include "ssh/services.h"

namespace {

namespace fs = std::filesystem;
using bytes = std::vector<std::uint8_t>;
using ssh::host_key_status;

bytes key_blob(std::string_view type, std::uint8_t first, std::size_t n = 32) {
    bytes b{0, 0, 0, std::uint8_t(type.size())};
    for (char c : type) b.push_back(std::uint8_t(c));
    b.insert(b.end(), {0, 0, 0, std::uint8_t(n)});
    for (std::size_t i = 0; i < n; ++i) b.push_back(std::uint8_t(first + i));
    return b;
}

// Key A is the ed25519 blob 1..32 that the hashed lines and the fingerprint below were made for with ssh-keygen.
const bytes key_a = key_blob("ssh-ed25519", 1);
const bytes key_b = key_blob("ssh-ed25519", 101);
const bytes key_rsa = key_blob("ssh-rsa", 7, 64);

std::string b64(const bytes& b) { return ssh::base64_encode(b); }

using peer_test::run;

struct KnownHosts : ::testing::Test {
    fs::path dir;
    void SetUp() override {
        char tmpl[] = "/tmp/known_hosts_test_XXXXXX";
        ASSERT_NE(::mkdtemp(tmpl), nullptr);
        dir = tmpl;
    }
    void TearDown() override { fs::remove_all(dir); }
    std::string write(const std::string& name, const std::string& text) {
        std::ofstream(dir / name, std::ios::binary) << text;
        return (dir / name).string();
    }
    static mode_t mode(const fs::path& p) {
        struct stat st {};
        return ::lstat(p.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
    }
};

// `start` padded with a comment to exactly the longest line read.
std::string at_limit(const std::string& start) {
    return start + std::string(ssh::known_hosts_max_line - start.size(), 'c');
}

struct match_row {
    const char* what;
    std::string text;
    const char* host;
    int port;
    host_key_status status;
    int line;
    const bytes* key = &key_a;
};

TEST_F(KnownHosts, MatchesLinesAsOpenSshDoes) {
    const std::string A = b64(key_a), B = b64(key_b), R = b64(key_rsa);
    const std::string long_comment(ssh::known_hosts_max_line, 'x');
    const match_row rows[] = {
        {"plain name", "host.example ssh-ed25519 " + A + "\n", "host.example", 22, host_key_status::known, 1},
        {"case folded", "Host.Example ssh-ed25519 " + A + "\n", "HOST.example", 22, host_key_status::known, 1},
        {"list", "a.example,host.example,10.0.0.1 ssh-ed25519 " + A, "10.0.0.1", 22, host_key_status::known, 1},
        {"port entry", "[host.example]:2222 ssh-ed25519 " + A, "host.example", 2222, host_key_status::known, 1},
        {"port entry, port 22", "[host.example]:2222 ssh-ed25519 " + A, "host.example", 22, host_key_status::unknown,
         0},
        {"plain entry, other port", "host.example ssh-ed25519 " + A, "host.example", 2222, host_key_status::unknown, 0},
        {"[host]:22 is not how port 22 is written", "[host.example]:22 ssh-ed25519 " + A, "host.example", 22,
         host_key_status::unknown, 0},
        {"star", "*.example ssh-ed25519 " + A, "host.example", 22, host_key_status::known, 1},
        {"star needs the dot", "*.example ssh-ed25519 " + A, "example", 22, host_key_status::unknown, 0},
        {"question mark", "h?st.example ssh-ed25519 " + A, "host.example", 22, host_key_status::known, 1},
        {"wildcard in port form", "[*.example]:2222 ssh-ed25519 " + A, "h.example", 2222, host_key_status::known, 1},
        {"negated", "*.example,!bad.example ssh-ed25519 " + A, "bad.example", 22, host_key_status::unknown, 0},
        {"negation spares others", "*.example,!bad.example ssh-ed25519 " + A, "good.example", 22,
         host_key_status::known, 1},
        {"negation alone matches nothing", "!bad.example ssh-ed25519 " + A, "good.example", 22,
         host_key_status::unknown, 0},
        {"hashed (ssh-keygen -H)", "|1|2/+W4B0rWgX9DJ8+6l44m3Mg+EQ=|IE7kUWsCAoZNuaUO8VjNIzvIpCQ= ssh-ed25519 " + A,
         "host.example", 22, host_key_status::known, 1},
        {"hashed port entry", "|1|0KpCTN3xGv3HcbCWXLotTFICoCg=|bDHz81dOwksLOF7xSaNUnzCPjmY= ssh-ed25519 " + A,
         "host.example", 2222, host_key_status::known, 1},
        {"changed", "# old\nhost.example ssh-ed25519 " + B + "\n", "host.example", 22, host_key_status::changed, 2},
        {"first changed line named", "h ssh-ed25519 " + B + "\nh ssh-ed25519 " + b64(key_blob("ssh-ed25519", 9)), "h",
         22, host_key_status::changed, 1},
        {"a second key of the type is fine", "h ssh-ed25519 " + B + "\nh ssh-ed25519 " + A, "h", 22,
         host_key_status::known, 2},
        {"other key types do not count", "h ssh-rsa " + R + "\n", "h", 22, host_key_status::unknown, 0},
        {"rsa key known", "h ssh-ed25519 " + A + "\nh ssh-rsa " + R + "\n", "h", 22, host_key_status::known, 2,
         &key_rsa},
        {"cert-authority skipped", "@cert-authority * ssh-ed25519 " + A, "h", 22, host_key_status::unknown, 0},
        {"cert-authority with another key is no change", "@cert-authority h ssh-ed25519 " + B, "h", 22,
         host_key_status::unknown, 0},
        {"revoked wins", "h ssh-ed25519 " + A + "\n@revoked * ssh-ed25519 " + A, "h", 22, host_key_status::revoked, 2},
        {"revoked for every host", "@revoked elsewhere ssh-ed25519 " + A + "\nh ssh-ed25519 " + A, "h", 22,
         host_key_status::revoked, 1},
        {"another key revoked", "@revoked h ssh-ed25519 " + B + "\nh ssh-ed25519 " + A, "h", 22, host_key_status::known,
         2},
        {"type word lies about its key", "h ssh-ed25519 " + R, "h", 22, host_key_status::unknown, 0},
        {"bad base64", "h ssh-ed25519 AAAA!!!!", "h", 22, host_key_status::unknown, 0},
        {"truncated base64", "h ssh-ed25519 " + A.substr(0, A.size() - 5), "h", 22, host_key_status::unknown, 0},
        {"key with a byte too many", "h ssh-ed25519 " + b64([] {
                                         bytes b = key_b;
                                         b.push_back(0);
                                         return b;
                                     }()),
         "h", 22, host_key_status::unknown, 0},
        {"comment", "# h ssh-ed25519 " + A, "h", 22, host_key_status::unknown, 0},
        {"blank lines, tabs, CRLF, comment", "\n  \n\th\tssh-ed25519\t" + A + " me@there\r\n", "h", 22,
         host_key_status::known, 3},
        {"over-long line skipped, next read", "h ssh-ed25519 " + B + " " + long_comment + "\nh ssh-ed25519 " + A, "h",
         22, host_key_status::known, 2},
        {"over-long line is not cut into a match", "h ssh-ed25519 " + A + " " + long_comment + "\n", "h", 22,
         host_key_status::unknown, 0},
        {"over-long last line without newline", "h ssh-ed25519 " + B + "\nh ssh-ed25519 " + A + " " + long_comment, "h",
         22, host_key_status::changed, 1},
        {"line of the longest length read", at_limit("h ssh-ed25519 " + A + " ") + "\n", "h", 22,
         host_key_status::known, 1},
        {"one byte over the longest length", at_limit("h ssh-ed25519 " + A + " ") + "x\nh ssh-ed25519 " + B, "h", 22,
         host_key_status::changed, 2},
    };
    // Files arrive in blocks: a line split anywhere, even byte by byte, reads as the whole text does.
    const std::size_t piece_sizes[] = {0, 1, 3, 64, 4097};
    for (const auto& r : rows) {
        for (const std::size_t piece : piece_sizes) {
            ssh::host_key_check c;
            const std::string type = r.key == &key_rsa ? "ssh-rsa" : "ssh-ed25519";
            if (piece == 0) {
                ssh::check_host_key_text(r.text, "kh", r.host, r.port, type, *r.key, c);
            } else {
                ssh::known_hosts_reader reader("kh", r.host, r.port, type, *r.key, c);
                for (std::size_t at = 0; at < r.text.size(); at += piece)
                    reader.feed(std::string_view(r.text).substr(at, piece));
                reader.finish();
            }
            EXPECT_EQ(c.status, r.status) << r.what << ", pieces of " << piece;
            EXPECT_EQ(c.line, r.line) << r.what << ", pieces of " << piece;
            EXPECT_EQ(c.file, r.line ? "kh" : "") << r.what << ", pieces of " << piece;
        }
    }
}

TEST_F(KnownHosts, FilesAreReadInTurn) {
    const std::string user = write("user", "h ssh-ed25519 " + b64(key_b) + "\n");
    const std::string system = write("system", "# system\nh ssh-ed25519 " + b64(key_a) + "\n");
    auto c = ssh::check_host_key({(dir / "missing").string(), user + "/under-a-file", user, system}, "h", 22,
                                 "ssh-ed25519", key_a);
    EXPECT_EQ(c.status, host_key_status::known);
    EXPECT_EQ(c.file, system);
    EXPECT_EQ(c.line, 2);
    EXPECT_TRUE(c.unread.empty());

    c = ssh::check_host_key({system, user}, "h", 22, "ssh-ed25519", key_blob("ssh-ed25519", 50));
    EXPECT_EQ(c.status, host_key_status::changed);
    EXPECT_EQ(c.file, system);
}

// Files that exist but cannot be read. A FIFO must not block the check.
struct unreadable_row {
    const char* what;
    std::string reason;
    std::function<std::string(const fs::path& dir)> make;  // the file's path; empty when the case cannot be made here
};

const unreadable_row unreadable_rows[] = {
    {"FIFO", "not a regular file",
     [](const fs::path& d) { return ::mkfifo((d / "fifo").c_str(), 0600) == 0 ? (d / "fifo").string() : ""; }},
    {"folder", "not a regular file",
     [](const fs::path& d) {
         fs::create_directory(d / "folder");
         return (d / "folder").string();
     }},
    {"symbolic link loop", std::strerror(ELOOP),
     [](const fs::path& d) {
         fs::create_symlink(d / "loop", d / "loop");
         return (d / "loop").string();
     }},
    // A regular file whose first read fails (address 0 is not mapped): the read error path.
    {"read error", "read error: " + std::string(std::strerror(EIO)),
     [](const fs::path&) { return fs::exists("/proc/self/mem") ? std::string("/proc/self/mem") : std::string(); }},
    {"no permission", std::strerror(EACCES),
     [](const fs::path& d) {
         if (::geteuid() == 0) return std::string();  // root reads it anyway
         const fs::path f = d / "locked";
         std::ofstream(f) << "h ssh-ed25519 " << b64(key_b) << "\n";
         fs::permissions(f, fs::perms::none);
         return f.string();
     }},
};

TEST_F(KnownHosts, FilesThatExistButCannotBeReadAreReported) {
    const std::string user = write("user", "h ssh-ed25519 " + b64(key_a) + "\n");
    int made = 0;
    for (const auto& r : unreadable_rows) {
        const std::string odd = r.make(dir);
        if (odd.empty()) continue;
        ++made;
        const auto c = ssh::check_host_key({odd, user}, "h", 22, "ssh-ed25519", key_a);
        EXPECT_EQ(c.status, host_key_status::known) << r.what << ": the next file is still read";
        ASSERT_EQ(c.unread.size(), 1u) << r.what;
        EXPECT_EQ(c.unread[0], odd + ": " + r.reason) << r.what;
    }
    EXPECT_GE(made, 3);
}

// vtsession --accept-new-host-key and the unknown-host question answer for HOME's known_hosts; answers "remember".
struct recording_prompts : ssh::ssh_prompts {
    int questions = 0;
    bool sign_on(ssh_profile&) override { return false; }
    ssh::host_key_answer confirm_host_key(std::string_view, int, std::string_view, std::string_view) override {
        ++questions;
        return ssh::host_key_answer::accept_and_remember;
    }
};

// An unreadable user file is no "host not found": the connection is refused, naming the file and its fault, before
// any question that could append a key to it.
TEST_F(KnownHosts, AnUnreadableFileRefusesTheHostInsteadOfAskingAboutIt) {
    const std::string host = "kh-test.invalid";
    for (const auto& r : unreadable_rows) {
        const fs::path home = dir / (std::string("home-") + r.what);
        fs::create_directories(home / ".ssh");
        const std::string odd = r.make(home);
        if (odd.empty()) continue;
        const fs::path file = home / ".ssh" / "known_hosts";
        if (fs::path(odd) != file) fs::create_symlink(odd, file);
        test_support::scoped_home guard(home);
        recording_prompts prompts;
        std::vector<std::string> log;
        const auto t = ssh::decide_host_trust(host, 22, "ssh-ed25519", key_a, prompts, log);
        EXPECT_EQ(t.result, ssh::host_trust::verdict::refused) << r.what;
        EXPECT_EQ(prompts.questions, 0) << r.what;
        EXPECT_NE(t.message.find(file.string() + ": " + r.reason), std::string::npos) << r.what << ": " << t.message;
        EXPECT_NE(t.message.find(host), std::string::npos) << t.message;
        ASSERT_EQ(log.size(), 1u) << r.what;
    }

    // Missing is just "no line": the question comes and the answer is remembered.
    const fs::path home = dir / "home-empty";
    fs::create_directories(home);
    test_support::scoped_home guard(home);
    recording_prompts prompts;
    std::vector<std::string> log;
    const auto t = ssh::decide_host_trust(host, 22, "ssh-ed25519", key_a, prompts, log);
    EXPECT_EQ(t.result, ssh::host_trust::verdict::trusted) << t.message;
    EXPECT_EQ(prompts.questions, 1);
    EXPECT_EQ(ssh::check_host_key({(home / ".ssh/known_hosts").string()}, host, 22, "ssh-ed25519", key_a).status,
              host_key_status::known);
}

// The policy ~/.ssh/config asks for: HostKeyAlias names the key, UserKnownHostsFile is read and written instead of
// the default file, and StrictHostKeyChecking decides a key no file holds (a changed key stays refused).
TEST_F(KnownHosts, TheConfigsPolicyDecidesWhereAndWhetherToAsk) {
    using unknown_key = ssh::host_key_policy::unknown_key;
    const fs::path home = dir / "home-policy";
    fs::create_directories(home / ".ssh");
    test_support::scoped_home guard(home);
    const std::string own = write("own_hosts", "webalias ssh-ed25519 " + b64(key_a) + "\n");
    const std::string fresh = (dir / "fresh_hosts").string();
    const struct row {
        const char* what;
        ssh::host_key_policy policy;
        const bytes* key;
        ssh::host_trust::verdict verdict;
        int questions;
        bool remembered_in_fresh;
    } rows[] = {
        {"alias found in the config's file",
         {"webalias", {own}, unknown_key::refuse},
         &key_a,
         ssh::host_trust::verdict::trusted,
         0,
         false},
        {"alias with another key: changed",
         {"webalias", {own}, unknown_key::accept},
         &key_b,
         ssh::host_trust::verdict::refused,
         0,
         false},
        {"no alias: the address is unknown, strict",
         {"", {own}, unknown_key::refuse},
         &key_a,
         ssh::host_trust::verdict::refused,
         0,
         false},
        {"accept-new remembers unasked",
         {"", {fresh, own}, unknown_key::accept},
         &key_a,
         ssh::host_trust::verdict::trusted,
         0,
         true},
        {"ask", {"", {own}, unknown_key::ask}, &key_a, ssh::host_trust::verdict::trusted, 1, false},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.what);
        fs::remove(fresh);
        recording_prompts prompts;
        std::vector<std::string> log;
        const auto t = ssh::decide_host_trust("127.0.0.1", 2222, "ssh-ed25519", *r.key, prompts, log, r.policy);
        EXPECT_EQ(t.result, r.verdict) << t.message;
        EXPECT_EQ(prompts.questions, r.questions);
        EXPECT_EQ(fs::exists(fresh), r.remembered_in_fresh);
        if (r.remembered_in_fresh) {
            EXPECT_EQ(ssh::check_host_key({fresh}, "127.0.0.1", 2222, "ssh-ed25519", *r.key).status,
                      host_key_status::known);
        }
    }
    EXPECT_FALSE(fs::exists(home / ".ssh" / "known_hosts")) << "the default file is not touched";
}

// A file far beyond any size worth reading whole, with the host's line at its very end (across a read block).
TEST_F(KnownHosts, AHugeFileIsReadToItsEnd) {
    const fs::path home = dir / "home";
    fs::create_directories(home / ".ssh");
    const fs::path file = home / ".ssh" / "known_hosts";
    constexpr std::size_t block_size = 64 * 1024, blocks = 1600;  // 100 MiB
    // Other hosts' lines of the sizes real files hold (RSA keys of some 400 bytes, ed25519 ones of some 100).
    std::string block;
    int block_lines = 0;
    for (int i = 0; block.size() + 600 < block_size; ++i, ++block_lines) {
        const std::string names = "other" + std::to_string(i) + ".example,10.1." + std::to_string(i % 256) + ".7";
        if (i % 100 == 1)  // another name, hashed
            block += "|1|2/+W4B0rWgX9DJ8+6l44m3Mg+EQ=|IE7kUWsCAoZNuaUO8VjNIzvIpCQ= ssh-ed25519 " + b64(key_a) + "\n";
        else if (i % 100 == 2)  // the host's key of another type
            block += "h ssh-rsa " + b64(key_rsa) + "\n";
        else if (i % 3 == 0)
            block += names + " ssh-ed25519 " + b64(key_blob("ssh-ed25519", std::uint8_t(i))) + "\n";
        else
            block += names + " ssh-rsa " + b64(key_blob("ssh-rsa", std::uint8_t(i), 255)) + "\n";
    }
    block += "# " + std::string(block_size - block.size() - 3, '-') + "\n";
    ++block_lines;
    ASSERT_EQ(block.size(), block_size);
    const std::string last = "h ssh-ed25519 " + b64(key_b) + "\n";
    // Comment lines before the blocks put the last line across a 64 KiB boundary.
    std::string head;
    int head_lines = 0;
    for (; head.size() < block_size - last.size() / 2; ++head_lines) {
        const std::size_t want = std::min<std::size_t>(10000, block_size - last.size() / 2 - head.size());
        head += "#" + std::string(std::max<std::size_t>(want, 2) - 2, ' ') + "\n";
    }
    {
        std::ofstream out(file, std::ios::binary);
        out << head;
        for (std::size_t i = 0; i < blocks; ++i) out.write(block.data(), std::streamsize(block.size()));
        out << last;
        ASSERT_TRUE(out.good());
    }
    const int last_line = head_lines + int(blocks) * block_lines + 1;
    ASSERT_GE(fs::file_size(file), 100'000'000u);

    // The impostor's key is refused, not asked about and appended.
    test_support::scoped_home guard(home);
    recording_prompts prompts;
    std::vector<std::string> log;
    const auto size = fs::file_size(file);
    const auto started = std::chrono::steady_clock::now();
    const auto t = ssh::decide_host_trust("h", 22, "ssh-ed25519", key_a, prompts, log);
    const auto took = std::chrono::steady_clock::now() - started;
    std::cout << "read " << size / (1024 * 1024) << " MiB in "
              << std::chrono::duration_cast<std::chrono::milliseconds>(took).count() << " ms\n";
    EXPECT_EQ(t.result, ssh::host_trust::verdict::refused);
    EXPECT_NE(t.message.find("HAS CHANGED"), std::string::npos) << t.message;
    EXPECT_NE(t.message.find(file.string() + " on line " + std::to_string(last_line) + "."), std::string::npos)
        << t.message;
    EXPECT_TRUE(log.empty());
    EXPECT_EQ(prompts.questions, 0);
    EXPECT_EQ(fs::file_size(file), size);

    const auto c = ssh::check_host_key({file.string()}, "h", 22, "ssh-ed25519", key_b);
    EXPECT_EQ(c.status, host_key_status::known);
    EXPECT_EQ(c.file, file.string());
    EXPECT_EQ(c.line, last_line);
    EXPECT_TRUE(c.unread.empty());
}

TEST_F(KnownHosts, RememberCreatesPrivateFileAndFolderAndIsReadBack) {
    const fs::path file = dir / "ssh" / "known_hosts";
    std::string error;
    const mode_t old_mask = ::umask(0);  // the modes must not depend on the caller's umask
    const bool ok = ssh::remember_host_key(file.string(), "Host.Example", 2222, "ssh-ed25519", key_a, error);
    ::umask(old_mask);
    ASSERT_TRUE(ok) << error;
    EXPECT_EQ(mode(dir / "ssh"), 0700u);
    EXPECT_EQ(mode(file), 0600u);
    EXPECT_EQ(peer_test::slurp(file), "[host.example]:2222 ssh-ed25519 " + b64(key_a) + "\n");

    ASSERT_TRUE(ssh::remember_host_key(file.string(), "h", 22, "ssh-rsa", key_rsa, error)) << error;
    auto c = ssh::check_host_key({file.string()}, "h", 22, "ssh-rsa", key_rsa);
    EXPECT_EQ(c.status, host_key_status::known);
    EXPECT_EQ(c.line, 2);
    c = ssh::check_host_key({file.string()}, "host.example", 2222, "ssh-ed25519", key_a);
    EXPECT_EQ(c.status, host_key_status::known);
    EXPECT_EQ(c.line, 1);

    // A file without a final newline gets one before the new line, so the last old line stays whole.
    const std::string loose = write("loose", "x ssh-ed25519 " + b64(key_b));
    ASSERT_TRUE(ssh::remember_host_key(loose, "h", 22, "ssh-ed25519", key_a, error)) << error;
    EXPECT_EQ(peer_test::slurp(loose), "x ssh-ed25519 " + b64(key_b) + "\nh ssh-ed25519 " + b64(key_a) + "\n");
}

TEST_F(KnownHosts, RememberRefusesLinksOddFilesAndNamesThatWouldBecomePatterns) {
    const std::string target = write("target", "keep\n");
    fs::create_symlink(target, dir / "known_hosts");
    fs::create_directory(dir / "real");
    fs::create_directory_symlink(dir / "real", dir / "linked");
    ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
    const std::string kh = (dir / "kh").string();
    const struct {
        std::string file, host, type;
        int port;
        const char* reason;
    } rows[] = {
        {(dir / "known_hosts").string(), "h", "ssh-ed25519", 22, "symbolic link"},
        {(dir / "linked/known_hosts").string(), "h", "ssh-ed25519", 22, "symbolic link"},
        {(dir / "fifo").string(), "h", "ssh-ed25519", 22, "not a regular file"},
        {(dir / "a/b/known_hosts").string(), "h", "ssh-ed25519", 22, "cannot create the folder"},
        {kh, "a b", "ssh-ed25519", 22, "cannot stand"},
        {kh, "*.example", "ssh-ed25519", 22, "cannot stand"},
        {kh, "a,b", "ssh-ed25519", 22, "cannot stand"},
        {kh, "|1|x", "ssh-ed25519", 22, "cannot stand"},
        {kh, "h\nevil", "ssh-ed25519", 22, "cannot stand"},
        {kh, "h", "ssh-rsa", 22, "not a \"ssh-rsa\" key"},
        {kh, "h", "ssh-ed25519", 70000, "out of range"},
    };
    for (const auto& r : rows) {
        std::string error;
        EXPECT_FALSE(ssh::remember_host_key(r.file, r.host, r.port, r.type, key_a, error)) << r.file << r.host;
        EXPECT_NE(error.find(r.reason), std::string::npos) << r.file << " " << r.host << ": " << error;
    }
    EXPECT_EQ(peer_test::slurp(target), "keep\n");
    EXPECT_FALSE(fs::exists(dir / "real/known_hosts"));
    EXPECT_FALSE(fs::exists(kh));
}

TEST_F(KnownHosts, MessagesAndTheSshOneBlob) {
    const ssh::host_key_check c{host_key_status::changed, "/home/u/.ssh/known_hosts", 17, {}};
    const std::string m = ssh::changed_host_key_message(c, "Host.Example", 2222, "ssh-ed25519", "SHA256:x");
    for (const char* part : {"[host.example]:2222", "impostor", "/home/u/.ssh/known_hosts on line 17", "SHA256:x"})
        EXPECT_NE(m.find(part), std::string::npos) << part << " in " << m;

    // Leading zeros go, a set top bit gets its sign byte; an "rsa1" key never meets an SSH-2 "ssh-rsa" line.
    const bytes blob = ssh::ssh1_rsa_host_key_blob(bytes{0, 0, 0x23}, bytes{0x00, 0xc1, 0x05});
    EXPECT_EQ(blob, (bytes{0, 0, 0, 4, 'r', 's', 'a', '1', 0, 0, 0, 1, 0x23, 0, 0, 0, 3, 0x00, 0xc1, 0x05}));
    std::string error;
    const std::string f = write("kh", "old.example ssh-rsa " + b64(key_rsa) + "\n");
    ASSERT_TRUE(ssh::remember_host_key(f, "old.example", 22, ssh::ssh1_rsa_key_type, blob, error)) << error;
    EXPECT_EQ(ssh::check_host_key({f}, "old.example", 22, "rsa1", blob).status, host_key_status::known);
}

// "host[,host] type base64" lines of OpenSSH's tools: the type, the decoded key and the base64 text.
struct key_line {
    std::string hosts, type, text;
    bytes blob;
};
std::vector<key_line> key_lines(const std::string& text) {
    std::vector<key_line> out;
    std::istringstream in(text);
    key_line k;
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') continue;
        std::istringstream words(line);
        words >> k.hosts >> k.type >> k.text;
        k.blob.assign(k.text.size(), 0);
        std::size_t n = 0;
        EXPECT_TRUE(ssh::base64_decode(k.text, k.blob, n)) << line;
        k.blob.resize(n);
        out.push_back(k);
    }
    return out;
}

// Real keys from ssh-keygen: fingerprints as ssh-keygen -l prints them, our lines found by ssh-keygen -F, and its
// hashed (-H) lines matched here.
TEST_F(KnownHosts, AgreesWithSshKeygen) {
    if (!fs::exists("/usr/bin/ssh-keygen")) GTEST_SKIP() << "no ssh-keygen";
    EXPECT_EQ(ssh::host_key_fingerprint(key_a), "SHA256:mKqU+0K8OhKmA8bBQi9Rz0Q5l7/g160hIP+rJYSTNj4");
    const std::string ours = (dir / "ours").string();
    std::string plain;
    std::vector<std::pair<std::string, key_line>> keys;
    int port = 2200;
    for (const std::string t : {"ed25519", "ecdsa", "rsa", "dsa"}) {
        const std::string key = (dir / t).string();
        run("ssh-keygen -q -N '' -t " + t + " -f " + key + " >/dev/null 2>&1");
        const auto pub = key_lines("h " + peer_test::slurp(key + ".pub"));
        ASSERT_EQ(pub.size(), 1u) << t;
        const auto& k = pub[0];
        EXPECT_EQ(ssh::base64_encode(k.blob), k.text) << t;
        std::istringstream listed(run("ssh-keygen -l -E sha256 -f " + key + ".pub"));
        std::string bits, fingerprint;
        listed >> bits >> fingerprint;
        EXPECT_EQ(ssh::host_key_fingerprint(k.blob), fingerprint) << t;

        std::string error;
        ASSERT_TRUE(ssh::remember_host_key(ours, "127.0.0.1", ++port, k.type, k.blob, error)) << error;
        const std::string found = run("ssh-keygen -F '[127.0.0.1]:" + std::to_string(port) + "' -f " + ours);
        EXPECT_NE(found.find(k.text), std::string::npos) << t << ": " << found;
        plain += "127.0.0.1,h" + t + ".example " + k.type + " " + k.text + "\n";
        keys.emplace_back(t, k);
    }
    const std::string hashed = write("hashed", plain);
    run("ssh-keygen -H -f " + hashed + " >/dev/null 2>&1");
    const auto lines = key_lines(peer_test::slurp(hashed));
    ASSERT_EQ(lines.size(), 8u);  // one line per name
    for (const auto& k : lines) EXPECT_TRUE(k.hosts.starts_with("|1|")) << k.hosts;
    for (const auto& [t, k] : keys) {
        EXPECT_EQ(ssh::check_host_key({hashed}, "127.0.0.1", 22, k.type, k.blob).status, host_key_status::known);
        EXPECT_EQ(ssh::check_host_key({hashed}, "H" + t + ".Example", 22, k.type, k.blob).status,
                  host_key_status::known)
            << t;
        EXPECT_EQ(ssh::check_host_key({hashed}, "h" + t + ".example", 2222, k.type, k.blob).status,
                  host_key_status::unknown);
    }
}

// ssh-keyscan's output for a private sshd, read as it stands.
TEST_F(KnownHosts, ReadsSshKeyscanOutputOfARealServer) {
    if (!fs::exists("/usr/sbin/sshd") || !fs::exists("/usr/bin/ssh-keyscan")) GTEST_SKIP() << "no sshd";
    const std::string peers = std::string(SOURCE_DIR) + "/tests/ssh/peers/";
    peer_test::child sshd({"/usr/bin/python3", peers + "sshd_fixture.py", "--key", "ecdsa", "--timeout", "60"},
                          dir / "sshd.out", dir / "sshd.err", true);
    const int port = peer_test::wait_port_line(dir / "sshd.out", std::chrono::seconds(20));
    ASSERT_GT(port, 0) << peer_test::slurp(dir / "sshd.err");
    const std::string file = (dir / "scanned").string();
    run("ssh-keyscan -T 10 -p " + std::to_string(port) + " 127.0.0.1 > " + file + " 2>/dev/null");
    sshd.close_stdin();

    const auto lines = key_lines(peer_test::slurp(file));
    ASSERT_EQ(lines.size(), 1u) << peer_test::slurp(file);
    auto k = lines[0];
    EXPECT_EQ(k.type, "ecdsa-sha2-nistp256");
    const auto c = ssh::check_host_key({file}, "127.0.0.1", port, k.type, k.blob);
    EXPECT_EQ(c.status, host_key_status::known);
    EXPECT_EQ(c.line, 1);
    EXPECT_EQ(ssh::check_host_key({file}, "127.0.0.1", 22, k.type, k.blob).status, host_key_status::unknown);
    k.blob.back() ^= 1;
    EXPECT_EQ(ssh::check_host_key({file}, "127.0.0.1", port, k.type, k.blob).status, host_key_status::changed);
}

}  // namespace
