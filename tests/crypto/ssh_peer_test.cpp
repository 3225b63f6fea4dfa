// The primitives against a real OpenSSH server on loopback: a minimal SSH-2 client does the
// diffie-hellman-group1-sha1 exchange, checks the server's ssh-dss signature over the exchange hash, derives the
// keys and then talks 3des-cbc with hmac-sha1 until the server accepts a service request. Every step that goes
// wrong on our side shows up as a failed signature, a wrong MAC or a server that drops the connection.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <thread>

#include "crypto/bignum.h"
#include "crypto/cipher.h"
#include "crypto/keyderive.h"
#include "crypto/pubkey.h"
#include "crypto/random.h"
#include "crypto/sha1.h"

using namespace crypto;
using bytes = std::vector<uint8_t>;

namespace {

void put_u32(bytes& b, uint32_t v) {
    for (int s = 24; s >= 0; s -= 8) b.push_back(uint8_t(v >> s));
}
void put_string(bytes& b, const void* p, size_t n) {
    put_u32(b, uint32_t(n));
    const uint8_t* q = static_cast<const uint8_t*>(p);
    b.insert(b.end(), q, q + n);
}
void put_string(bytes& b, const std::string& s) { put_string(b, s.data(), s.size()); }
void put_mpint(bytes& b, const bignum& v) {
    bytes m = to_ssh2_mpint_bytes(v);
    put_string(b, m.data(), m.size());
}

bool have(const char* path) { return access(path, X_OK) == 0; }

// One sshd in a temporary folder, stopped by its process id.
struct sshd_peer {
    std::string dir;
    pid_t pid = -1;
    int port = 0;

    bool start(std::string& why) {
        char tmpl[] = "/tmp/vt_crypto_sshd_XXXXXX";
        if (!mkdtemp(tmpl)) return why = "mkdtemp failed", false;
        dir = tmpl;
        std::string keygen = "/usr/bin/ssh-keygen -q -t dsa -N '' -f " + dir + "/host_dsa >/dev/null 2>&1";
        if (std::system(keygen.c_str()) != 0) return why = "ssh-keygen -t dsa failed", false;
        port = free_port();
        if (port == 0) return why = "no free port", false;
        mkdir("/run/sshd", 0755);
        std::ofstream cfg(dir + "/sshd_config");
        cfg << "Port " << port << "\nListenAddress 127.0.0.1\nHostKey " << dir << "/host_dsa\n"
            << "HostKeyAlgorithms ssh-dss\nKexAlgorithms diffie-hellman-group1-sha1\nCiphers 3des-cbc\n"
            << "MACs hmac-sha1\nUsePAM no\nPidFile " << dir << "/sshd.pid\n";
        cfg.close();
        pid = fork();
        if (pid < 0) return why = "fork failed", false;
        if (pid == 0) {
            int log = open((dir + "/sshd.log").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            if (log >= 0) {
                dup2(log, 2);
                dup2(log, 1);
            }
            execl("/usr/sbin/sshd", "/usr/sbin/sshd", "-D", "-e", "-f", (dir + "/sshd_config").c_str(), nullptr);
            _exit(127);
        }
        for (int i = 0; i < 100; ++i) {  // up to 10 s for the listener
            int fd = connect_once();
            if (fd >= 0) {
                close(fd);
                return true;
            }
            int st;
            if (waitpid(pid, &st, WNOHANG) == pid) {
                pid = -1;
                std::ifstream log(dir + "/sshd.log");
                std::string text((std::istreambuf_iterator<char>(log)), std::istreambuf_iterator<char>());
                return why = "sshd exited: " + text, false;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        return why = "sshd did not listen", false;
    }

    int connect_once() const {
        int fd = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(uint16_t(port));
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
            close(fd);
            return -1;
        }
        timeval tv{5, 0};
        setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
        setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
        return fd;
    }

    static int free_port() {
        int fd = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        int port = 0;
        if (bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
            getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) == 0)
            port = ntohs(a.sin_port);
        close(fd);
        return port;
    }

    ~sshd_peer() {
        if (pid > 0) {
            kill(pid, SIGTERM);
            int st;
            waitpid(pid, &st, 0);
        }
        if (!dir.empty()) std::system(("rm -rf " + dir).c_str());
    }
};

// Packet layer of the minimal client.
struct client {
    int fd = -1;
    bool keys = false;
    cipher_context enc_out, enc_in;
    mac_context mac_out, mac_in;
    uint32_t seq_out = 0, seq_in = 0;

    bool read_exact(uint8_t* p, size_t n) {
        while (n) {
            ssize_t r = recv(fd, p, n, 0);
            if (r <= 0) return false;
            p += r;
            n -= size_t(r);
        }
        return true;
    }

    std::optional<std::string> read_line() {
        std::string s;
        char c;
        while (s.size() < 255) {
            if (recv(fd, &c, 1, 0) != 1) return std::nullopt;
            if (c == '\n') {
                if (!s.empty() && s.back() == '\r') s.pop_back();
                return s;
            }
            s += c;
        }
        return std::nullopt;
    }

    bool send_packet(const bytes& payload) {
        size_t pad = 8 - ((payload.size() + 5) % 8);
        if (pad < 4) pad += 8;
        bytes pkt;
        put_u32(pkt, uint32_t(payload.size() + pad + 1));
        pkt.push_back(uint8_t(pad));
        pkt.insert(pkt.end(), payload.begin(), payload.end());
        for (size_t i = 0; i < pad; ++i) pkt.push_back(uint8_t(random_byte()));
        size_t n = pkt.size();
        if (keys) {
            pkt.resize(n + 20);
            ssh2_hmac_sha1.make(mac_out, pkt.data(), n, seq_out);
            ssh2_3des_cbc.encrypt(enc_out, pkt.data(), n);
        }
        ++seq_out;
        return send(fd, pkt.data(), pkt.size(), MSG_NOSIGNAL) == ssize_t(pkt.size());
    }

    // The payload of the next packet; empty on a read failure, a bad length or a wrong MAC.
    std::optional<bytes> recv_packet(std::string& why) {
        bytes pkt(8);
        if (!read_exact(pkt.data(), 8)) return why = "connection closed", std::nullopt;
        if (keys) ssh2_3des_cbc.decrypt(enc_in, pkt.data(), 8);
        uint32_t len = uint32_t(pkt[0]) << 24 | uint32_t(pkt[1]) << 16 | uint32_t(pkt[2]) << 8 | pkt[3];
        if (len < 12 || len > 35000 || (len + 4) % 8) return why = "bad packet length", std::nullopt;
        pkt.resize(4 + len + (keys ? 20 : 0));
        if (!read_exact(pkt.data() + 8, pkt.size() - 8)) return why = "connection closed", std::nullopt;
        if (keys) {
            ssh2_3des_cbc.decrypt(enc_in, pkt.data() + 8, 4 + len - 8);
            if (!ssh2_hmac_sha1.verify(mac_in, pkt.data(), 4 + len, seq_in)) return why = "wrong MAC", std::nullopt;
        }
        ++seq_in;
        size_t pad = pkt[4];
        if (pad + 1 >= len) return why = "bad padding", std::nullopt;
        return bytes(pkt.begin() + 5, pkt.begin() + 5 + std::ptrdiff_t(len - pad - 1));
    }
};

}  // namespace

TEST(SshPeer, KeyExchangeSignatureAndEncryptedServiceRequestWithOpenSsh) {
    if (!have("/usr/sbin/sshd") || !have("/usr/bin/ssh-keygen")) GTEST_SKIP() << "openssh-server not installed";
    if (geteuid() != 0) GTEST_SKIP() << "sshd needs root for privilege separation";
    sshd_peer peer;
    std::string why;
    ASSERT_TRUE(peer.start(why)) << why;

    client c;
    c.fd = peer.connect_once();
    ASSERT_GE(c.fd, 0);
    const std::string v_c = "SSH-2.0-vtcrypto_1.0";
    ASSERT_EQ(send(c.fd, (v_c + "\r\n").data(), v_c.size() + 2, MSG_NOSIGNAL), ssize_t(v_c.size() + 2));
    auto v_s = c.read_line();
    ASSERT_TRUE(v_s);
    ASSERT_EQ(v_s->rfind("SSH-2.0-", 0), 0u) << *v_s;

    auto i_s = c.recv_packet(why);
    ASSERT_TRUE(i_s) << why;
    ASSERT_EQ((*i_s)[0], 20) << "server KEXINIT";

    bytes i_c = {20};
    for (int i = 0; i < 16; ++i) i_c.push_back(uint8_t(random_byte()));
    for (const char* list : {"diffie-hellman-group1-sha1", "ssh-dss", "3des-cbc", "3des-cbc", "hmac-sha1", "hmac-sha1",
                             "none", "none", "", ""})
        put_string(i_c, std::string(list));
    i_c.push_back(0);
    put_u32(i_c, 0);
    ASSERT_TRUE(c.send_packet(i_c));

    dh_group grp = dh_group1();
    bignum x = dh_choose_exponent(grp);
    bignum e = dh_public_value(grp, x);
    bytes init = {30};
    put_mpint(init, e);
    ASSERT_TRUE(c.send_packet(init));

    auto reply = c.recv_packet(why);
    ASSERT_TRUE(reply) << why;
    ASSERT_EQ((*reply)[0], 31) << "KEXDH_REPLY";
    blob_reader rd(reply->data() + 1, reply->size() - 1);
    auto k_s = rd.read_string();
    auto f = rd.read_mpint();
    auto sig = rd.read_string();
    ASSERT_TRUE(k_s && f && sig);
    auto k = dh_shared_secret(grp, *f, x);
    ASSERT_TRUE(k);

    sha1_context hc;
    hc.absorb_string(v_c.data(), v_c.size());
    hc.absorb_string(v_s->data(), v_s->size());
    hc.absorb_string(i_c.data(), i_c.size());
    hc.absorb_string(i_s->data(), i_s->size());
    hc.absorb_string(k_s->data(), k_s->size());
    absorb_mpint(hc, e);
    absorb_mpint(hc, *f);
    absorb_mpint(hc, *k);
    uint8_t h[20];
    hc.final(h);

    auto host_key = parse_dss_key(k_s->data(), k_s->size());
    ASSERT_TRUE(host_key);
    EXPECT_TRUE(dss_verify(*host_key, sig->data(), sig->size(), h)) << "server's signature over our exchange hash";
    uint8_t other[20];
    std::memcpy(other, h, 20);
    other[0] ^= 1;
    EXPECT_FALSE(dss_verify(*host_key, sig->data(), sig->size(), other));

    auto newkeys = c.recv_packet(why);
    ASSERT_TRUE(newkeys) << why;
    ASSERT_EQ((*newkeys)[0], 21);
    ASSERT_TRUE(c.send_packet(bytes{21}));

    uint8_t v[6][40];
    for (int i = 0; i < 6; ++i) ssh2_derive_key(*k, h, char('A' + i), h, v[i]);
    ssh2_3des_cbc.set_key(c.enc_out, v[2]);
    ssh2_3des_cbc.set_key(c.enc_in, v[3]);
    ssh2_3des_cbc.set_iv(c.enc_out, v[0]);
    ssh2_3des_cbc.set_iv(c.enc_in, v[1]);
    ssh2_hmac_sha1.set_key(c.mac_out, v[4]);
    ssh2_hmac_sha1.set_key(c.mac_in, v[5]);
    c.keys = true;

    bytes req = {5};
    put_string(req, std::string("ssh-userauth"));
    ASSERT_TRUE(c.send_packet(req));
    auto accept = c.recv_packet(why);
    ASSERT_TRUE(accept) << why << " (the server refused our encrypted, MACed request)";
    ASSERT_EQ((*accept)[0], 6) << "SERVICE_ACCEPT";
    blob_reader ar(accept->data() + 1, accept->size() - 1);
    auto name = ar.read_string();
    ASSERT_TRUE(name);
    EXPECT_EQ(std::string(name->begin(), name->end()), "ssh-userauth");
    close(c.fd);
}
