// vtsession --get/--put against real SFTP servers on loopback: stock sshd with internal-sftp and with sftp-server,
// dropbear (which runs sftp-server), and asyncssh's SFTP server. Each peer gets one run of many transfers (0 B,
// 1 B, 1 MB, 20 MB both ways, odd names, a folder of 1,000 small files), compared byte for byte, and a file it refuses;
// asyncssh's server is killed mid-download and the download resumed; a 1 MiB tmpfs fills on each side.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

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
            const int port = start({python, peers_dir + "asyncssh_sftp.py", "--root", remote.string(), "--timeout",
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

    port = start({python, peers_dir + "asyncssh_sftp.py", "--root", remote.parent_path().string(), "--timeout", "90",
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

}  // namespace
