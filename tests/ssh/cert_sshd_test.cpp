// OpenSSH certificates against a stock sshd on loopback, through vtsession: user certificates signing on where only
// the CA is trusted (key files with their FILE-cert.pub, an agent holding key and certificate), and host
// certificates trusted through @cert-authority lines of known_hosts.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "../support/peer_process.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using peer_test::child;
using peer_test::slurp;

namespace {

const std::string peers_dir = std::string(SOURCE_DIR) + "/tests/ssh/peers/";
constexpr const char* sshd_user = "qtpeer";
constexpr const char* sshd_password = "Peer-pass-42";

struct run_result {
    int status = -1;
    std::string out, err;
    bool screen_has(const std::string& s) const { return out.find(s) != std::string::npos; }
    bool said(const std::string& s) const { return err.find(s) != std::string::npos; }
};

struct CertSshd : ::testing::Test {
    fs::path dir, home, keys;
    std::unique_ptr<child> sshd;

    void SetUp() override {
        if (!fs::exists("/usr/sbin/sshd") || ::system("command -v ssh-keygen >/dev/null 2>&1") != 0)
            GTEST_SKIP() << "no sshd or ssh-keygen (scripts/deps.sh)";
        char tmpl[] = "/tmp/cert_sshd_XXXXXX";
        dir = ::mkdtemp(tmpl);
        home = dir / "home";
        keys = dir / "keys";
        fs::create_directories(home);
        fs::create_directories(keys);
        // sshd reads the CA and the certificates as the test account.
        const auto open = fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                          fs::perms::others_read | fs::perms::others_exec;
        fs::permissions(dir, open);
        fs::permissions(keys, open);
        ::setenv("HOME", home.c_str(), 1);
        ::setenv("XDG_STATE_HOME", (dir / "state").c_str(), 1);
        ::unsetenv("SSH_AUTH_SOCK");
        ::unsetenv("VTSESSION_PASSPHRASE");
        keygen("-t ed25519", keys / "ca");
    }
    void TearDown() override {
        sshd.reset();
        if (!dir.empty()) fs::remove_all(dir);
    }

    static void sh(const std::string& cmd) { ASSERT_EQ(::system((cmd + " >/dev/null 2>&1").c_str()), 0) << cmd; }
    static void keygen(const std::string& type, const fs::path& file) {
        sh("ssh-keygen -q " + type + " -N '' -C test -f " + file.string() + " </dev/null");
    }
    // ssh-keygen -s with the test CA; the certificate lands beside the key as KEY-cert.pub.
    void certify(const fs::path& key, const std::string& options) {
        sh("ssh-keygen -q -s " + (keys / "ca").string() + " " + options + " " + key.string() + ".pub");
    }
    std::string debug_log() const { return slurp(dir / "state" / "qtelnet" / "vtlog"); }

    int start_sshd(std::vector<std::string> options, const std::string& key = "ed25519") {
        std::vector<std::string> argv{"/usr/bin/python3",
                                      peers_dir + "sshd_fixture.py",
                                      "--key",
                                      key,
                                      "--user",
                                      sshd_user,
                                      "--password",
                                      sshd_password,
                                      "--timeout",
                                      "90",
                                      "--keep-log",
                                      (dir / "sshd.log").string()};
        // One key exchange method: these tests are about what is signed, not how the keys are agreed.
        options.push_back("KexAlgorithms curve25519-sha256");
        for (auto& o : options) argv.insert(argv.end(), {"--option", o});
        fs::remove(dir / "sshd.out");  // the port line of an earlier sshd must not be read for this one's
        sshd = std::make_unique<child>(argv, dir / "sshd.out", dir / "sshd.err", true);
        return peer_test::wait_port_line(dir / "sshd.out", 20s);
    }

    run_result vtsession(int port, std::vector<std::string> args, const std::string& check_host_key = "0") {
        std::vector<std::string> argv{VTSESSION_BIN,
                                      "--host",
                                      "127.0.0.1",
                                      "--port",
                                      std::to_string(port),
                                      "--timeout",
                                      "10",
                                      "--log",
                                      "--set",
                                      "ssh=1",
                                      "--set",
                                      "ssh_type_1_2=1",
                                      "--set",
                                      "ssh_algorithms=1",
                                      "--set",
                                      "ssh_default=1",
                                      "--set",
                                      std::string("ssh_user=") + sshd_user,
                                      "--set",
                                      "ssh_check_host_key=" + check_host_key,
                                      "--expect",
                                      "$ ",
                                      "--send",
                                      "echo signed$((6*7))\\015"};
        argv.insert(argv.end(), args.begin(), args.end());
        run_result r;
        {
            child c(argv, dir / "vt.out", dir / "vt.err");
            r.status = c.wait(20s);
        }
        r.out = slurp(dir / "vt.out");
        r.err = slurp(dir / "vt.err");
        return r;
    }
};

// ---- user certificates: sshd trusts the CA and no key at all

struct UserCertificates : CertSshd {
    int port = 0;
    void SetUp() override {
        CertSshd::SetUp();
        if (IsSkipped()) return;
        port = start_sshd({"TrustedUserCAKeys " + (keys / "ca.pub").string(), "AuthorizedKeysFile /dev/null",
                           "AuthenticationMethods publickey", "StrictModes no"});
        ASSERT_GT(port, 0) << slurp(dir / "sshd.err");
    }
};

TEST_F(UserCertificates, KeyFilesSignOnWithTheirCertificates) {
    struct row {
        const char* type;
        const char* offered;
    };
    const row rows[] = {{"-t ed25519", "ssh-ed25519-cert-v01@openssh.com"},
                        {"-t ecdsa -b 384", "ecdsa-sha2-nistp384-cert-v01@openssh.com"},
                        {"-t rsa -b 2048", "rsa-sha2-512-cert-v01@openssh.com"}};
    int n = 0;
    for (const row& k : rows) {
        SCOPED_TRACE(k.type);
        const fs::path key = keys / ("id" + std::to_string(n++));
        keygen(k.type, key);
        const std::vector<std::string> use_key = {"--set", "ssh_key_file=" + key.string()};
        // The key alone is refused: the certificate is what lets it in.
        EXPECT_FALSE(vtsession(port, use_key).screen_has("signed42"));
        certify(key, "-I 'test user' -z 7 -n " + std::string(sshd_user));
        fs::remove(dir / "state" / "qtelnet" / "vtlog");
        const run_result r = vtsession(port, use_key);
        EXPECT_TRUE(r.screen_has("signed42")) << r.out << r.err;
        const std::string log = debug_log();
        EXPECT_NE(log.find(std::string("offering key ") + k.offered + " from " + key.string() + " (certificate " +
                           key.string() + "-cert.pub, ID \"test user\", serial 7)"),
                  std::string::npos)
            << log;
    }
}

// CertificateFile of ~/.ssh/config: a certificate kept away from its key is offered for the alias's IdentityFile.
TEST_F(UserCertificates, TheConfigsCertificateFileGoesWithItsKey) {
    const fs::path key = keys / "id_cf";
    keygen("-t ed25519", key);
    certify(key, "-I 'from config' -n " + std::string(sshd_user));
    fs::rename(keys / "id_cf-cert.pub", keys / "kept-apart.pub");
    fs::create_directories(home / ".ssh");
    std::ofstream(home / ".ssh" / "config")
        << "Host certhost\n  HostName 127.0.0.1\n  Port " << port << "\n  IdentityFile " << key.string()
        << "\n  CertificateFile " << (keys / "kept-apart.pub").string() << "\n";
    const run_result r = vtsession(port, {"--host", "certhost", "--port", "22"});
    EXPECT_TRUE(r.screen_has("signed42")) << r.out << r.err;
    EXPECT_NE(debug_log().find("ID \"from config\""), std::string::npos) << debug_log();
}

// A certificate for another principal is refused by sshd, and the plain key is tried after it (and refused too).
TEST_F(UserCertificates, AnotherPrincipalFailsAndThePlainKeyFollows) {
    const fs::path key = keys / "id_other";
    keygen("-t ed25519", key);
    certify(key, "-I other -n somebody");
    const run_result r = vtsession(port, {"--set", "ssh_key_file=" + key.string()});
    EXPECT_FALSE(r.screen_has("signed42"));
    const std::string log = debug_log();
    const auto cert_at = log.find("offering key ssh-ed25519-cert-v01@openssh.com from " + key.string());
    const auto plain_at = log.find("offering key ssh-ed25519 from " + key.string());
    ASSERT_NE(cert_at, std::string::npos) << log;
    ASSERT_NE(plain_at, std::string::npos) << log;
    EXPECT_LT(cert_at, plain_at);
}

// A passphrase key's certificate is offered before the passphrase is known; the one answer serves the signature.
TEST_F(UserCertificates, PassphraseKeyIsAskedOnce) {
    const fs::path key = keys / "id_pass";
    sh("ssh-keygen -q -t ed25519 -a 16 -N 'cert pass' -C test -f " + key.string() + " </dev/null");
    certify(key, "-I pass -n " + std::string(sshd_user));
    ::setenv("VTSESSION_PASSPHRASE", "cert pass", 1);
    const run_result r = vtsession(port, {"--set", "ssh_key_file=" + key.string()});
    ::unsetenv("VTSESSION_PASSPHRASE");
    EXPECT_TRUE(r.screen_has("signed42")) << r.out << r.err;
}

// ssh-add loads KEY-cert.pub with the key: the agent lists both and signs for the certificate (an RSA key with the
// SHA-2 flag the certificate's name asks for).
TEST_F(UserCertificates, AgentKeyWithItsCertificate) {
    const fs::path sock = dir / "agent.sock";
    child agent({"ssh-agent", "-D", "-a", sock.string()}, dir / "agent.out", dir / "agent.err");
    for (int i = 0; i < 100 && !fs::exists(sock); ++i) std::this_thread::sleep_for(20ms);
    ASSERT_TRUE(fs::exists(sock)) << slurp(dir / "agent.err");
    ::setenv("SSH_AUTH_SOCK", sock.c_str(), 1);
    for (const char* type : {"-t ed25519", "-t rsa -b 2048"}) {
        SCOPED_TRACE(type);
        const fs::path key = keys / "id_agent";
        fs::remove(key);
        fs::remove(key.string() + ".pub");
        fs::remove(key.string() + "-cert.pub");
        keygen(type, key);
        certify(key, "-I agent -n " + std::string(sshd_user));
        sh("ssh-add -D");
        sh("ssh-add -q " + key.string());
        fs::remove(key);  // only the agent holds it now
        fs::remove(dir / "state" / "qtelnet" / "vtlog");
        const run_result r = vtsession(port, {});
        EXPECT_TRUE(r.screen_has("signed42")) << r.out << r.err;
        const std::string offered = std::string(type).find("rsa") != std::string::npos
                                        ? "rsa-sha2-512-cert-v01@openssh.com"
                                        : "ssh-ed25519-cert-v01@openssh.com";
        const std::string log = debug_log();
        EXPECT_NE(log.find("offering key " + offered + " from the agent"), std::string::npos)
            << log.substr(0, log.find("USERAUTH_SUCCESS"));
    }
    ::unsetenv("SSH_AUTH_SOCK");
}

// ---- host certificates: the host shows an ed25519 key certified by the test CA; known_hosts holds only the CA

struct HostCertificates : CertSshd {
    fs::path host_key;
    fs::path known_hosts;
    void SetUp() override {
        CertSshd::SetUp();
        if (IsSkipped()) return;
        host_key = keys / "host_ed25519";
        keygen("-t ed25519", host_key);
        fs::create_directories(home / ".ssh");
        known_hosts = home / ".ssh" / "known_hosts";
    }
    // sshd with the certificate made by `options`; its own RSA key stays beside it.
    int start_certified(const std::string& options) {
        certify(host_key, "-h -I 'test host' -z 11 " + options);
        return start_sshd({"HostKey " + host_key.string(), "HostCertificate " + host_key.string() + "-cert.pub"},
                          "rsa");
    }
    void write_known_hosts(const std::string& text) { std::ofstream(known_hosts) << text; }
    std::string ca_line(int port) const { return "[127.0.0.1]:" + std::to_string(port) + " " + slurp(keys / "ca.pub"); }
    run_result connect(int port) {
        return vtsession(port, {"--set", std::string("ssh_password=") + sshd_password}, "1");
    }
};

TEST_F(HostCertificates, TheCertAuthorityLineAloneTrustsTheHost) {
    const int port = start_certified("-n 127.0.0.1,localhost");
    ASSERT_GT(port, 0) << slurp(dir / "sshd.err");
    write_known_hosts("@cert-authority " + ca_line(port));
    const run_result r = connect(port);
    EXPECT_TRUE(r.screen_has("signed42")) << r.err;
    const std::string log = debug_log();
    EXPECT_NE(log.find("host key ssh-ed25519-cert-v01@openssh.com"), std::string::npos) << log;
    EXPECT_NE(log.find("host certificate ID \"test host\" serial 11"), std::string::npos) << log;
    EXPECT_NE(log.find("accepted (@cert-authority in " + known_hosts.string() + " on line 1)"), std::string::npos);
    EXPECT_EQ(slurp(known_hosts), "@cert-authority " + ca_line(port)) << "nothing was added";
}

TEST_F(HostCertificates, ARevokedAuthorityIsRefusedByName) {
    const int port = start_certified("-n 127.0.0.1");
    ASSERT_GT(port, 0) << slurp(dir / "sshd.err");
    write_known_hosts("@cert-authority " + ca_line(port) + "@revoked * " + slurp(keys / "ca.pub"));
    const run_result r = connect(port);
    EXPECT_FALSE(r.screen_has("signed42"));
    EXPECT_TRUE(
        r.said("THE CERTIFICATE AUTHORITY OF THE HOST KEY OF [127.0.0.1]:" + std::to_string(port) + " IS REVOKED"))
        << r.err;
    EXPECT_TRUE(r.said("marked @revoked in " + known_hosts.string() + " on line 2")) << r.err;
}

// A certificate that does not stand leaves its key to the plain check: unknown here, so vtsession (which accepts
// no new key unasked) refuses it, and the log says what was wrong with the certificate.
TEST_F(HostCertificates, ExpiredOrForAnotherHostFallsBackToThePlainKey) {
    struct row {
        const char* options;
        const char* why;
    };
    for (const row& r : {row{"-n 127.0.0.1 -V 20100101000000Z:20110101000000Z", "not accepted: it has expired"},
                         row{"-n elsewhere.example", "not accepted: it is not issued for 127.0.0.1"}}) {
        SCOPED_TRACE(r.options);
        sshd.reset();
        const int port = start_certified(r.options);
        ASSERT_GT(port, 0) << slurp(dir / "sshd.err");
        write_known_hosts("@cert-authority " + ca_line(port));
        fs::remove(dir / "state" / "qtelnet" / "vtlog");
        const run_result refused = connect(port);
        EXPECT_FALSE(refused.screen_has("signed42"));
        EXPECT_TRUE(refused.said("is unknown (ssh-ed25519 SHA256:")) << refused.err;
        EXPECT_NE(debug_log().find(r.why), std::string::npos) << debug_log();
        // The plain key, once known, lets the same certificate's host in.
        write_known_hosts("@cert-authority " + ca_line(port) + "[127.0.0.1]:" + std::to_string(port) + " " +
                          slurp(host_key.string() + ".pub"));
        EXPECT_TRUE(connect(port).screen_has("signed42"));
    }
}

}  // namespace
