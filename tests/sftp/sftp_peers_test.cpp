// vtsession --get/--put against real SFTP servers on loopback: stock sshd with internal-sftp and with sftp-server,
// dropbear (which runs sftp-server), and asyncssh's SFTP server. Each peer gets one run of many transfers (0 B,
// 1 B, 1 MB, 20 MB both ways, odd names, a folder of 1,000 small files), compared byte for byte, and a file it refuses;
// asyncssh's server is killed mid-download and the download resumed; a 1 MiB tmpfs fills on each side. Against sshd,
// modes and times both ways and a tree deeper than 16 folders with links and names of 251-255 bytes; against a
// hostile SFTP server of our own, an endless listing of "." and "..", and folders of 2,000 folders without end.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utime.h>

#include <random>

#include "../support/peer_process.h"

using namespace std::chrono_literals;
using peer_test::child;
using peer_test::slurp;
namespace fs = std::filesystem;

namespace {

const std::string python = "/usr/bin/python3";
const std::string peers_dir = std::string(SOURCE_DIR) + "/tests/ssh/peers/";
const std::string sshd_user = "qtpeer", sshd_password = "Peer-pass-42";

void write_random(const fs::path& p, std::size_t n, unsigned seed) {
    std::mt19937 rng(seed);
    std::string s(n, '\0');
    for (auto& c : s) c = static_cast<char>(rng());
    std::ofstream(p, std::ios::binary) << s;
}

enum class peer { internal_sftp, sftp_server, dropbear, asyncssh };

struct run_result {
    int status = -1;
    std::string err;
};

class SftpPeers : public ::testing::TestWithParam<peer> {
protected:
    fs::path dir, local, remote;  // remote: the server's folder as this process sees it
    std::string remote_name;      // and as the server names it
    std::vector<std::unique_ptr<child>> peers;
    std::string user = sshd_user, password = sshd_password;

    void SetUp() override {
        char tmpl[] = "/tmp/sftp_peers_XXXXXX";
        dir = ::mkdtemp(tmpl);
        local = dir / "local";
        fs::create_directories(local);
    }
    void TearDown() override {
        peers.clear();
        if (!remote.empty()) fs::remove_all(remote);
        fs::remove_all(dir);
    }
    int start(const std::vector<std::string>& argv, const std::string& tag, bool port_line = true, int port = 0) {
        fs::remove(dir / (tag + ".out"));
        peers.push_back(std::make_unique<child>(argv, dir / (tag + ".out"), dir / (tag + ".err"), true));
        if (port_line) return peer_test::wait_port_line(dir / (tag + ".out"), 20s);
        for (int i = 0; i < 250; ++i) {
            if (peer_test::port_open(port)) return port;
            std::this_thread::sleep_for(20ms);
        }
        return -1;
    }
    int start_sshd(const std::string& subsystem) {
        return start({python, peers_dir + "sshd_fixture.py", "--key", "ed25519", "--user", sshd_user, "--password",
                      sshd_password, "--timeout", "90", "--option", "Subsystem sftp " + subsystem},
                     "sshd");
    }
    // The server's folder: in the test account's home for sshd and dropbear, the served root for asyncssh.
    int start_peer(peer p) {
        if (p == peer::asyncssh) {
            remote = dir / "root";
            fs::create_directories(remote / "t");
            remote_name = "/t";
            user = "alice";
            password = "wonder";
            const int port = start({python, peers_dir + "asyncssh_peer.py", "--root", remote.string(), "--timeout",
                                    "90", "--user", user, "--password", password},
                                   "asyncssh");
            remote = remote / "t";
            return port;
        }
        int port = -1;
        if (p == peer::dropbear) {
            // The account is the sshd fixture's: made (with its password) by a fixture run first.
            const int s = start_sshd("internal-sftp");
            if (s < 0) return -1;
            peers.clear();
            const fs::path key = dir / "dropbear_key";
            int st = 0;
            peer_test::run("/usr/bin/dropbearkey -t ed25519 -f " + key.string() + " >/dev/null 2>&1", &st);
            const int free = peer_test::free_port();
            port =
                start({"/usr/sbin/dropbear", "-F", "-E", "-p", "127.0.0.1:" + std::to_string(free), "-r", key.string()},
                      "dropbear", false, free);
        } else {
            port = start_sshd(p == peer::internal_sftp ? "internal-sftp" : "/usr/lib/openssh/sftp-server");
        }
        remote_name = "sftpt_" + std::to_string(::getpid());
        remote = fs::path("/home") / sshd_user / remote_name;
        fs::remove_all(remote);
        fs::create_directories(remote);
        return port;
    }
    // Everything under the remote folder belongs to the test account, as if it had made it.
    void hand_over() {
        if (GetParam() == peer::asyncssh) return;
        peer_test::run("chown -R " + sshd_user + " " + remote.string());
    }
    std::string r(const std::string& name) const { return remote_name + "/" + name; }

    // vtsession signed on over SSH-2 with the peer's password, then `args`.
    std::vector<std::string> vt_argv(int port, const std::vector<std::string>& args, int timeout_s = 40) const {
        std::vector<std::string> argv{VTSESSION_BIN,
                                      "--host",
                                      "127.0.0.1",
                                      "--port",
                                      std::to_string(port),
                                      "--timeout",
                                      std::to_string(timeout_s)};
        for (const std::string& set : std::vector<std::string>{
                 "ssh=1", "ssh_type_1_2=1", "ssh_encryption=1", "ssh_default=1", "ssh_user=" + user,
                 "ssh_password=" + password, "ssh_algorithms=1", "ssh_check_host_key=0"})
            argv.insert(argv.end(), {"--set", set});
        argv.insert(argv.end(), args.begin(), args.end());
        return argv;
    }
    run_result vt(int port, const std::vector<std::string>& args, int timeout_s = 40) {
        const std::vector<std::string> argv = vt_argv(port, args, timeout_s);
        run_result out;
        {
            child c(argv, dir / "vt.out", dir / "vt.err");
            out.status = c.wait(std::chrono::seconds(timeout_s + 10));
        }
        out.err = slurp(dir / "vt.err");
        return out;
    }
};

TEST_P(SftpPeers, FilesOfEverySizeBothWaysAFolderOddNamesAndARefusal) {
    if (GetParam() == peer::dropbear && !fs::exists("/usr/sbin/dropbear")) GTEST_SKIP() << "no dropbear";
    if (!fs::exists("/usr/sbin/sshd")) GTEST_SKIP() << "no sshd";
    const int port = start_peer(GetParam());
    ASSERT_GT(port, 0) << slurp(dir / "sshd.err") << slurp(dir / "asyncssh.err") << slurp(dir / "dropbear.err");

    const std::vector<std::pair<std::string, std::size_t>> files = {
        {"zero", 0},         {"one", 1},          {"mega", 1 << 20}, {"big", 20 << 20},
        {"with space", 100}, {"caf\xc3\xa9", 10}, {"new\nline", 5}};
    std::vector<std::string> args;
    unsigned seed = 1;
    for (const auto& [name, size] : files) {
        write_random(remote / name, size, seed);
        write_random(local / ("up_" + std::to_string(seed)), size, seed + 100);
        args.insert(args.end(), {"--get", r(name), local.string()});
        args.insert(args.end(), {"--put", (local / ("up_" + std::to_string(seed))).string(), r("up_" + name)});
        ++seed;
    }
    fs::create_directories(remote / "many");
    constexpr int many = 1000;
    for (int i = 0; i < many; ++i)
        write_random(remote / "many" / ("f" + std::to_string(i)), std::size_t(i % 200 * 7), unsigned(i));
    args.insert(args.end(), {"--get", r("many"), (local / "many").string()});
    hand_over();

    const run_result got = vt(port, args);
    EXPECT_EQ(got.status, 0) << got.err;
    seed = 1;
    for (const auto& [name, size] : files) {
        const std::string want = slurp(remote / name);
        EXPECT_EQ(want.size(), size);
        const std::string local_name = name == "new\nline" ? "new_line" : name;
        EXPECT_TRUE(slurp(local / local_name) == want) << "download of " << name;
        EXPECT_FALSE(fs::exists(local / (local_name + ".part"))) << name;
        EXPECT_TRUE(slurp(remote / ("up_" + name)) == slurp(local / ("up_" + std::to_string(seed))))
            << "upload of " << name;
        ++seed;
    }
    for (int i = 0; i < many; ++i) {
        const std::string f = "f" + std::to_string(i);
        ASSERT_TRUE(slurp(local / "many" / f) == slurp(remote / "many" / f)) << f;
    }
    EXPECT_NE(got.err.find("size checked"), std::string::npos) << got.err;
    EXPECT_NE(got.err.find("new\\x0aline"), std::string::npos) << "names shown with their controls visible";

    // A file the account may not read (asyncssh runs as root here: nothing is refused to it).
    if (GetParam() != peer::asyncssh) {
        write_random(remote / "secret", 10, 9);
        ::chown((remote / "secret").c_str(), 0, 0);
        ::chmod((remote / "secret").c_str(), 0);
        const run_result denied =
            vt(port, {"--get", r("secret"), local.string(), "--get", r("one"), (local / "again").string()});
        EXPECT_EQ(denied.status, 1);
        EXPECT_NE(denied.err.find("permission denied"), std::string::npos) << denied.err;
        EXPECT_TRUE(slurp(local / "again") == slurp(remote / "one")) << "the next transfer still ran";
        EXPECT_FALSE(fs::exists(local / "secret"));
    }
    const run_result missing = vt(port, {"--put", (local / "absent").string(), r("x")});
    EXPECT_EQ(missing.status, 1);
    EXPECT_NE(missing.err.find("absent"), std::string::npos) << missing.err;
}

INSTANTIATE_TEST_SUITE_P(Servers, SftpPeers,
                         ::testing::Values(peer::internal_sftp, peer::sftp_server, peer::dropbear, peer::asyncssh),
                         [](const auto& info) {
                             switch (info.param) {
                             case peer::internal_sftp: return "sshd_internal_sftp";
                             case peer::sftp_server: return "sshd_sftp_server";
                             case peer::dropbear: return "dropbear";
                             default: return "asyncssh";
                             }
                         });

// A full disk on either side: the transfer fails naming the cause, and nothing half-written passes for a whole file.
class SftpFullDisk : public SftpPeers {
protected:
    std::vector<fs::path> mounts;
    // A 1 MiB tmpfs at `p`; false where this machine does not let the test mount one.
    bool small_disk(const fs::path& p) {
        fs::create_directories(p);
        int st = 0;
        peer_test::run("mount -t tmpfs -o size=1m tmpfs " + p.string() + " 2>/dev/null", &st);
        if (st != 0) return false;
        mounts.push_back(p);
        return true;
    }
    void TearDown() override {
        for (const auto& m : mounts) peer_test::run("umount " + m.string());
        SftpPeers::TearDown();
    }
};

TEST_P(SftpFullDisk, ADownloadOrUploadThatDoesNotFitFailsWithItsCause) {
    if (!fs::exists("/usr/sbin/sshd")) GTEST_SKIP() << "no sshd";
    const int port = start_peer(GetParam());
    ASSERT_GT(port, 0) << slurp(dir / "sshd.err");
    if (!small_disk(local / "small") || !small_disk(remote / "small")) GTEST_SKIP() << "cannot mount a tmpfs here";
    write_random(remote / "two_mb", 2 << 20, 3);
    write_random(local / "two_mb_up", 2 << 20, 4);
    hand_over();

    const run_result down = vt(port, {"--get", r("two_mb"), (local / "small").string()});
    EXPECT_EQ(down.status, 1);
    EXPECT_NE(down.err.find("No space left on device"), std::string::npos) << down.err;
    EXPECT_FALSE(fs::exists(local / "small" / "two_mb")) << "only a whole file takes the final name";

    const run_result up = vt(port, {"--put", (local / "two_mb_up").string(), r("small/two_mb_up")});
    EXPECT_EQ(up.status, 1) << "a remote disk that filled up is not a completed upload";
    EXPECT_NE(up.err.find("two_mb_up"), std::string::npos) << up.err;
    EXPECT_EQ(up.err.find("size checked"), std::string::npos) << up.err;
}

INSTANTIATE_TEST_SUITE_P(Sshd, SftpFullDisk, ::testing::Values(peer::internal_sftp));

class SftpResume : public SftpPeers {};

TEST_P(SftpResume, AServerKilledMidDownloadThenResumed) {
    // asyncssh serves from one process: killing its process group leaves no session process behind.
    int port = start_peer(peer::asyncssh);
    ASSERT_GT(port, 0) << slurp(dir / "asyncssh.err");
    write_random(remote / "huge", 120 << 20, 5);
    const fs::path part = local / "huge.part";
    {
        const std::vector<std::string> argv = vt_argv(port, {"--get", r("huge"), local.string()});
        child c(argv, dir / "vt.out", dir / "vt.err");
        for (int i = 0; i < 1500 && !(fs::exists(part) && fs::file_size(part) > (8u << 20)); ++i)
            std::this_thread::sleep_for(10ms);
        ASSERT_TRUE(fs::exists(part)) << slurp(dir / "vt.err");
        peers.back()->stop();
        EXPECT_EQ(c.wait(20s), 1) << "a cut transfer is a failure, not a crash";
    }
    const std::string err = slurp(dir / "vt.err");
    ASSERT_TRUE(fs::exists(part)) << err;
    const auto had = fs::file_size(part);
    EXPECT_GT(had, 0u);
    EXPECT_LT(had, 120u << 20) << "the server was killed too late to test anything";
    EXPECT_FALSE(fs::exists(local / "huge"));
    EXPECT_TRUE(err.find("failed") != std::string::npos || err.find("SFTP: connection closed") != std::string::npos)
        << err;

    port = start({python, peers_dir + "asyncssh_peer.py", "--root", remote.parent_path().string(), "--timeout", "90",
                  "--user", user, "--password", password},
                 "asyncssh2");
    ASSERT_GT(port, 0);
    const run_result resumed = vt(port, {"--resume", "--get", r("huge"), local.string()});
    EXPECT_EQ(resumed.status, 0) << resumed.err;
    EXPECT_TRUE(slurp(local / "huge") == slurp(remote / "huge"));
    EXPECT_FALSE(fs::exists(part));
    // The first progress line starts where the partial file ended.
    EXPECT_EQ(resumed.err.find(": 0.0 MiB of"), std::string::npos) << resumed.err;
}

INSTANTIATE_TEST_SUITE_P(Asyncssh, SftpResume, ::testing::Values(peer::asyncssh));

// ----- modes, times and whole trees, against sshd -----

class SftpTrees : public SftpPeers {
protected:
    mode_t saved_umask = 0;
    void SetUp() override {
        SftpPeers::SetUp();
        saved_umask = ::umask(022);  // vtsession inherits it
    }
    void TearDown() override {
        ::umask(saved_umask);
        SftpPeers::TearDown();
    }
    static std::uint32_t mode_of(const fs::path& p) {
        struct stat st {};
        return ::lstat(p.c_str(), &st) == 0 ? std::uint32_t(st.st_mode & 07777) : 0xFFFFFFFF;
    }
    static time_t mtime_of(const fs::path& p) {
        struct stat st {};
        return ::lstat(p.c_str(), &st) == 0 ? st.st_mtime : 0;
    }
    static void set_mtime(const fs::path& p, time_t t) {
        const struct utimbuf u { t, t };
        ::utime(p.c_str(), &u);
    }
};

TEST_P(SftpTrees, ModesAndTimesSurviveBothWays) {
    if (!fs::exists("/usr/sbin/sshd")) GTEST_SKIP() << "no sshd";
    const int port = start_peer(GetParam());
    ASSERT_GT(port, 0) << slurp(dir / "sshd.err");
    const std::vector<std::pair<std::string, std::uint32_t>> modes = {{"secret", 0600},
                                                                      {"shared", 0640},
                                                                      {"script", 0750},
                                                                      {"readonly", 0444}};
    std::vector<std::string> args{"--keep-times"};
    time_t when = 1500000000;
    for (const auto& [name, mode] : modes) {
        write_random(remote / name, 1000, 7);
        write_random(local / ("up_" + name), 1000, 8);
        ::chmod((remote / name).c_str(), mode);
        ::chmod((local / ("up_" + name)).c_str(), mode);
        set_mtime(remote / name, when);
        set_mtime(local / ("up_" + name), when + 1);
        when += 86400;
        args.insert(args.end(), {"--get", r(name), local.string() + "/", "--put", (local / ("up_" + name)).string(),
                                 r("up_" + name)});
    }
    // A file already there with a wider mode takes the local one.
    write_random(remote / "up_secret", 10, 9);
    ::chmod((remote / "up_secret").c_str(), 0666);
    hand_over();

    const run_result got = vt(port, args);
    ASSERT_EQ(got.status, 0) << got.err;
    when = 1500000000;
    for (const auto& [name, mode] : modes) {
        EXPECT_EQ(mode_of(local / name), mode) << name;
        EXPECT_EQ(mode_of(remote / ("up_" + name)), mode) << name;
        EXPECT_EQ(mtime_of(local / name), when) << name;
        EXPECT_EQ(mtime_of(remote / ("up_" + name)), when + 1) << name;
        EXPECT_TRUE(slurp(local / name) == slurp(remote / name)) << name;
        when += 86400;
    }
}

TEST_P(SftpTrees, ATreeDeeperThanSixteenWithLongNamesComesDownWholeAndALinkIsNamed) {
    if (!fs::exists("/usr/sbin/sshd")) GTEST_SKIP() << "no sshd";
    const int port = start_peer(GetParam());
    ASSERT_GT(port, 0) << slurp(dir / "sshd.err");
    fs::path deep = remote / "tree";
    std::string deep_rel = "tree";
    for (int i = 0; i < 24; ++i) {
        deep /= "level" + std::to_string(i);
        deep_rel += "/level" + std::to_string(i);
    }
    fs::create_directories(deep);
    write_random(deep / "bottom", 5000, 1);
    ::chmod((remote / "tree" / "level0").c_str(), 0750);
    const std::vector<std::string> long_names = {std::string(251, 'L'), std::string(255, 'M'),
                                                 std::string(254, 'M') + "N"};
    for (const std::string& n : long_names) write_random(remote / "tree" / n, 3000 + n.size(), unsigned(n.back()));
    write_random(remote / "tree" / "private", 100, 2);
    ::chmod((remote / "tree" / "private").c_str(), 0600);
    hand_over();

    const run_result whole = vt(port, {"--get", r("tree"), local.string()});
    EXPECT_EQ(whole.status, 0) << whole.err;
    EXPECT_TRUE(slurp(local / deep_rel / "bottom") == slurp(deep / "bottom")) << "a file 25 folders down";
    for (const std::string& n : long_names)
        EXPECT_TRUE(fs::exists(local / "tree" / n) && slurp(local / "tree" / n) == slurp(remote / "tree" / n))
            << n.size() << " bytes";
    EXPECT_EQ(mode_of(local / "tree" / "level0"), 0750u);
    EXPECT_EQ(mode_of(local / "tree" / "private"), 0600u);
    for (const auto& e : fs::recursive_directory_iterator(local / "tree"))
        EXPECT_FALSE(e.path().string().ends_with(".part")) << e.path();

    // A link is never followed, and a download that leaves one out says so and fails.
    fs::create_symlink("private", remote / "tree" / "level0" / "to_private");
    hand_over();
    const run_result linked = vt(port, {"--get", r("tree"), (local / "again").string()});
    EXPECT_EQ(linked.status, 1) << linked.err;
    EXPECT_NE(linked.err.find("skipped " + r("tree/level0/to_private") + ": a symbolic link"), std::string::npos)
        << linked.err;
    EXPECT_TRUE(slurp(local / "again" / deep_rel.substr(5) / "bottom") == slurp(deep / "bottom"))
        << "the rest still came down";
    EXPECT_FALSE(fs::exists(local / "again" / "level0" / "to_private"));
}

INSTANTIATE_TEST_SUITE_P(Sshd, SftpTrees, ::testing::Values(peer::internal_sftp, peer::sftp_server),
                         [](const auto& info) {
                             return info.param == peer::internal_sftp ? "internal_sftp" : "sftp_server";
                         });

// ----- a hostile SFTP server -----

struct measured {
    int status = -1;
    long max_rss_kib = 0;
};

// `argv` run to its end (killed after `limit`), with the peak of its resident memory.
measured run_measured(const std::vector<std::string>& argv, const fs::path& out, const fs::path& err,
                      std::chrono::seconds limit) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::setpgid(0, 0);
        const int o = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int e = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        ::dup2(o, 1);
        ::dup2(e, 2);
        std::vector<char*> args;
        for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        ::execv(args[0], args.data());
        ::_exit(127);
    }
    measured m;
    const auto end = std::chrono::steady_clock::now() + limit;
    int st = 0;
    struct rusage ru {};
    while (::wait4(pid, &st, WNOHANG, &ru) == 0) {
        if (std::chrono::steady_clock::now() > end) {
            ::kill(-pid, SIGKILL);
            ::kill(pid, SIGKILL);
            ::wait4(pid, &st, 0, &ru);
            m.max_rss_kib = ru.ru_maxrss;
            return m;
        }
        std::this_thread::sleep_for(20ms);
    }
    m.status = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
    m.max_rss_kib = ru.ru_maxrss;
    return m;
}

class SftpHostile : public SftpPeers {
protected:
    int start_hostile(const std::vector<std::string>& extra) {
        std::vector<std::string> argv{python, std::string(SOURCE_DIR) + "/tests/sftp/hostile_sftp_peer.py", "--timeout",
                                      "90"};
        argv.insert(argv.end(), extra.begin(), extra.end());
        user = "anyone";
        password = "wonder";
        return start(argv, "hostile");
    }
};

TEST_F(SftpHostile, AnEndlessListingOfDotEntriesStopsAtTheBound) {
    const int port = start_hostile({"--mode", "dots"});
    ASSERT_GT(port, 0) << slurp(dir / "hostile.err");
    const run_result got = vt(port, {"--get", "/x", local.string()}, 60);
    EXPECT_EQ(got.status, 1) << got.err;
    EXPECT_NE(got.err.find("stopped after 100000 entries"), std::string::npos) << got.err;
    EXPECT_EQ(got.err.find("timed out"), std::string::npos) << got.err;
}

TEST_F(SftpHostile, FoldersOfTwoThousandFoldersWithoutEndKeepTheClientSmall) {
    // Each listing holds 2,000 names of 100 bytes; the host cuts the connection after 400 of them. Walked breadth
    // first, the folders waiting to be listed took some 300 MB by then.
    const int port =
        start_hostile({"--mode", "fanout", "--fan", "2000", "--name-length", "100", "--max-listings", "400"});
    ASSERT_GT(port, 0) << slurp(dir / "hostile.err");
    const measured m =
        run_measured(vt_argv(port, {"--get", "/x", (local / "x").string()}, 120), dir / "vt.out", dir / "vt.err", 150s);
    const std::string err = slurp(dir / "vt.err");
    EXPECT_EQ(m.status, 1) << err.substr(0, 4000);
    EXPECT_NE(err.find("skipped /x/"), std::string::npos) << "the folders past the bound are named";
    EXPECT_LT(m.max_rss_kib, 140 * 1024) << "peak resident memory, KiB";
    std::printf("vtsession peak resident memory: %ld KiB\n", m.max_rss_kib);
}

}  // namespace
