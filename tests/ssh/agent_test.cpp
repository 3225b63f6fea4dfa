// The agent client: against a real ssh-agent holding keys made by ssh-keygen, and against a scripted agent on a
// unix socket that lies, stops short or says nothing.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <thread>

#include "../support/peer_process.h"
#include "crypto/evp.h"
#include "ssh/agent.h"
#include "ssh/known_hosts.h"

namespace {

namespace fs = std::filesystem;
using bytes = std::vector<std::uint8_t>;

bytes be32(std::uint32_t v) {
    return {std::uint8_t(v >> 24), std::uint8_t(v >> 16), std::uint8_t(v >> 8), std::uint8_t(v)};
}
bytes cat(std::initializer_list<bytes> parts) {
    bytes out;
    for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}
// An SSH string, and also a framed agent message: a 32-bit length and the bytes.
bytes str(const bytes& b) { return cat({be32(std::uint32_t(b.size())), b}); }
bytes str(std::string_view s) { return str(bytes(s.begin(), s.end())); }

struct AgentTest : ::testing::Test {
    fs::path dir;
    void SetUp() override {
        char tmpl[] = "/tmp/agent_test_XXXXXX";
        ASSERT_NE(::mkdtemp(tmpl), nullptr);
        dir = tmpl;
    }
    void TearDown() override { fs::remove_all(dir); }
};

// An agent of our own on a unix socket: answers every request with `reply` (raw bytes, length included), or keeps
// silent, until the client hangs up. Gives up by itself after 10 s so a broken client cannot hang the test.
class scripted_agent {
public:
    scripted_agent(const fs::path& path, bytes reply, bool silent = false) : reply_(std::move(reply)), silent_(silent) {
        fd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un a{};
        a.sun_family = AF_UNIX;
        std::strncpy(a.sun_path, path.c_str(), sizeof a.sun_path - 1);
        if (::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(fd_, 1) != 0) return;
        thread_ = std::thread([this] { serve(); });
    }
    ~scripted_agent() {
        if (thread_.joinable()) thread_.join();
        ::close(fd_);
    }
    int requests() const { return requests_; }  // read after the client is gone
    bytes last_request;

private:
    bool wait_in(int fd) {
        pollfd p{fd, POLLIN, 0};
        return ::poll(&p, 1, 10000) == 1;
    }
    bool read_n(int fd, std::uint8_t* p, std::size_t n) {
        while (n > 0) {
            if (!wait_in(fd)) return false;
            const ssize_t k = ::recv(fd, p, n, 0);
            if (k <= 0) return false;
            p += k;
            n -= std::size_t(k);
        }
        return true;
    }
    void serve() {
        if (!wait_in(fd_)) return;
        const int c = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (c < 0) return;
        for (;;) {
            std::uint8_t len[4];
            if (!read_n(c, len, 4)) break;
            const std::size_t n = std::size_t(len[0]) << 24 | len[1] << 16 | len[2] << 8 | len[3];
            last_request.assign(n, 0);
            if (n > 1 << 20 || !read_n(c, last_request.data(), n)) break;
            ++requests_;
            if (silent_) continue;  // the next read waits for the client to give up and close
            if (::send(c, reply_.data(), reply_.size(), MSG_NOSIGNAL) < 0) break;
        }
        ::close(c);
    }
    int fd_ = -1;
    bytes reply_;
    bool silent_;
    std::atomic<int> requests_{0};
    std::thread thread_;
};

bytes key_blob(std::uint8_t seed) {
    bytes key(32);
    for (int i = 0; i < 32; ++i) key[i] = std::uint8_t(seed + i);
    return cat({str("ssh-ed25519"), str(key)});
}
bytes sig_blob(std::string_view alg) { return cat({str(alg), str(std::string(64, 's'))}); }

TEST(AgentReplies, IdentityAndSignatureParsersRefuseWhatIsNotExact) {
    const bytes good = cat({bytes{12}, be32(2), str(key_blob(1)), str("first"), str(key_blob(2)), str("second")});
    auto ids = ssh::parse_agent_identities(good);
    ASSERT_TRUE(ids);
    ASSERT_EQ(ids->size(), 2u);
    EXPECT_EQ((*ids)[0].blob, key_blob(1));
    EXPECT_EQ((*ids)[1].comment, "second");
    // Every cut of a good reply is refused.
    for (std::size_t n = 0; n < good.size(); ++n)
        EXPECT_FALSE(ssh::parse_agent_identities(std::span(good).first(n))) << "cut at " << n;

    const bytes sig = sig_blob("rsa-sha2-512");
    EXPECT_EQ(ssh::parse_agent_signature(cat({bytes{14}, str(sig)})), sig);

    struct row {
        const char* what;
        bytes reply;
    };
    const row bad_ids[] = {
        {"failure", bytes{5}},
        {"wrong type", cat({bytes{14}, bytes(good.begin() + 1, good.end())})},
        {"count beyond the keys", cat({bytes{12}, be32(3), str(key_blob(1)), str("c")})},
        {"huge count", cat({bytes{12}, be32(0xffffffff), str(key_blob(1)), str("c")})},
        {"blob length past the end", cat({bytes{12}, be32(1), be32(1000), bytes(10, 1)})},
        {"empty key", cat({bytes{12}, be32(1), str(""), str("c")})},
        {"trailing byte", cat({good, bytes{0}})},
    };
    for (const auto& r : bad_ids) EXPECT_FALSE(ssh::parse_agent_identities(r.reply)) << r.what;
    const row bad_sigs[] = {
        {"failure", bytes{5}},
        {"identities type", cat({bytes{12}, str(sig)})},
        {"no signature inside", cat({bytes{14}, str(str("ssh-ed25519"))})},
        {"empty name", cat({bytes{14}, str(cat({str(""), str("x")}))})},
        {"NUL in name", cat({bytes{14}, str(cat({str(std::string("ssh\0rsa", 7)), str("x")}))})},
        {"trailing inside", cat({bytes{14}, str(cat({sig, bytes{1}}))})},
        {"trailing outside", cat({bytes{14}, str(sig), bytes{1}})},
    };
    for (const auto& r : bad_sigs) EXPECT_FALSE(ssh::parse_agent_signature(r.reply)) << r.what;

    // More keys than the limit: the first ones are kept, the rest not read.
    bytes many = cat({bytes{12}, be32(150)});
    for (int i = 0; i < 150; ++i) many = cat({many, str(key_blob(std::uint8_t(i))), str("k")});
    ids = ssh::parse_agent_identities(many);
    ASSERT_TRUE(ids);
    ASSERT_EQ(ids->size(), ssh::agent_max_identities);
    EXPECT_EQ(ids->back().blob, key_blob(std::uint8_t(ssh::agent_max_identities - 1)));
}

TEST_F(AgentTest, HostileAgentsFailCleanlyAndAreDropped) {
    struct row {
        const char* what;
        bytes reply;  // as sent, length included
        bool silent;
        bool keeps_connection;  // a well-formed FAILURE leaves the stream usable
    };
    bytes oversize = be32(std::uint32_t(ssh::agent_max_reply + 1));
    oversize.resize(4 + ssh::agent_max_reply + 1, 0);
    const row rows[] = {
        {"FAILURE", str(bytes{5}), false, true},
        {"oversize length", oversize, false, false},
        {"zero length", be32(0), false, false},
        {"truncated", bytes{0, 0, 0, 50, 12, 0, 0}, false, false},
        {"wrong type", str(bytes{6}), false, false},
        {"malformed keys", str(cat({bytes{12}, be32(2), str("x")})), false, false},
        {"silence", {}, true, false},
    };
    for (const auto& r : rows) {
        const fs::path sock = dir / "fake.sock";
        fs::remove(sock);
        scripted_agent fake(sock, r.reply, r.silent);
        auto agent = ssh::connect_agent(sock.string(), 300);
        ASSERT_TRUE(agent) << r.what;
        EXPECT_TRUE(agent->identities().empty()) << r.what;
        EXPECT_EQ(fake.last_request, bytes{11}) << r.what;
        EXPECT_FALSE(agent->sign(key_blob(1), bytes{1, 2, 3}, 0)) << r.what;
        agent.reset();
        EXPECT_EQ(fake.requests(), r.keeps_connection ? 2 : 1) << r.what;
    }
}

TEST_F(AgentTest, NoAgentMeansNoClient) {
    EXPECT_FALSE(ssh::connect_agent((dir / "nothing-here").string()));
    EXPECT_FALSE(ssh::connect_agent(""));
    EXPECT_FALSE(ssh::connect_agent("/tmp/" + std::string(200, 'x')));
    {
        // A socket file nobody listens on any more.
        scripted_agent gone(dir / "gone.sock", {});
        auto a = ssh::connect_agent((dir / "gone.sock").string(), 200);
        ASSERT_TRUE(a);
        EXPECT_TRUE(a->identities().empty());
    }
    EXPECT_FALSE(ssh::connect_agent((dir / "gone.sock").string()));

    const char* old = std::getenv("SSH_AUTH_SOCK");
    const std::string saved = old ? old : "";
    ::unsetenv("SSH_AUTH_SOCK");
    EXPECT_FALSE(ssh::connect_agent());
    scripted_agent fake(dir / "env.sock", str(cat({bytes{12}, be32(0)})));
    ::setenv("SSH_AUTH_SOCK", (dir / "env.sock").c_str(), 1);
    EXPECT_TRUE(ssh::connect_agent());
    if (old)
        ::setenv("SSH_AUTH_SOCK", saved.c_str(), 1);
    else
        ::unsetenv("SSH_AUTH_SOCK");
}

int shell(const std::string& cmd) { return std::system(("timeout 30 " + cmd + " >/dev/null 2>&1").c_str()); }

bytes pub_blob(const fs::path& pub) {
    std::istringstream words(peer_test::slurp(pub));
    std::string type, text;
    words >> type >> text;
    bytes b(text.size(), 0);
    std::size_t n = 0;
    EXPECT_TRUE(ssh::base64_decode(text, b, n)) << pub;
    b.resize(n);
    return b;
}

// OpenSSH's own agent with keys from ssh-keygen: the keys it lists are the .pub files, and what it signs verifies,
// RSA with the hash the flags ask for.
TEST_F(AgentTest, RealSshAgentListsAndSigns) {
    if (!fs::exists("/usr/bin/ssh-agent") || !fs::exists("/usr/bin/ssh-add") || !fs::exists("/usr/bin/ssh-keygen"))
        GTEST_SKIP() << "no OpenSSH client tools";
    const fs::path sock = dir / "agent.sock";
    peer_test::child agent_process({"ssh-agent", "-D", "-a", sock.string()}, dir / "agent.out", dir / "agent.err");
    for (int i = 0; i < 500 && !fs::exists(sock); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ASSERT_TRUE(fs::exists(sock)) << peer_test::slurp(dir / "agent.err");

    const char* types[] = {"ed25519", "ecdsa", "rsa"};
    for (const char* t : types) {
        const std::string key = (dir / t).string();
        ASSERT_EQ(shell(std::string("ssh-keygen -q -N '' -t ") + t + " -C agent-" + t + " -f " + key), 0) << t;
        ASSERT_EQ(shell("env SSH_AUTH_SOCK=" + sock.string() + " ssh-add " + key), 0) << t;
    }
    auto agent = ssh::connect_agent(sock.string());
    ASSERT_TRUE(agent);
    const auto ids = agent->identities();
    ASSERT_EQ(ids.size(), 3u);
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(ids[i].blob, pub_blob(dir / (std::string(types[i]) + ".pub"))) << types[i];
        EXPECT_EQ(ids[i].comment, std::string("agent-") + types[i]);
    }

    const bytes data{'s', 'i', 'g', 'n', ' ', 'm', 'e', 0, 1, 2};
    bytes altered = data;
    altered.back() ^= 1;
    struct row {
        std::size_t key;
        std::uint32_t flags;
        const char* alg;
    } rows[] = {
        {0, 0, "ssh-ed25519"},
        {1, 0, "ecdsa-sha2-nistp256"},
        {2, ssh::agent_rsa_sha2_256, "rsa-sha2-256"},
        {2, ssh::agent_rsa_sha2_512, "rsa-sha2-512"},
    };
    for (const auto& r : rows) {
        const auto sig = agent->sign(ids[r.key].blob, data, r.flags);
        ASSERT_TRUE(sig) << r.alg;
        EXPECT_TRUE(crypto::evp::verify_host_signature(r.alg, ids[r.key].blob, *sig, data)) << r.alg;
        EXPECT_FALSE(crypto::evp::verify_host_signature(r.alg, ids[r.key].blob, *sig, altered)) << r.alg;
    }
    // A key the agent does not hold is refused, and the connection still serves the next request.
    EXPECT_FALSE(agent->sign(key_blob(3), data, 0));
    EXPECT_EQ(agent->identities().size(), 3u);
}

}  // namespace
