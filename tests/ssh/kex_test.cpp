// The key exchange methods beyond the fixed classic ones, against the in-process server in negotiated mode: the
// group exchange with hostile and honest groups, the post-quantum hybrids, and the offer's order.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "crypto/mlkem768.h"
#include "crypto/sntrup761.h"
#include "ssh/algorithms.h"
#include "ssh/ssh_client.h"
#include "ssh2_server.h"

namespace {

using namespace ssh_test;
using ssh::ssh2_engine;

bytes text(std::string_view s) { return bytes(s.begin(), s.end()); }

bytes from_hex_bytes(std::string_view h) {
    bytes b;
    for (std::size_t i = 0; i + 1 < h.size(); i += 2)
        b.push_back(std::uint8_t(std::stoul(std::string(h.substr(i, 2)), nullptr, 16)));
    return b;
}

// RFC 3526's 2048-bit MODP prime: an honest group for the exchange.
const bytes& modp2048() {
    static const bytes p = from_hex_bytes(
        "FFFFFFFFFFFFFFFFC90FDAA22168C234C4C6628B80DC1CD129024E088A67CC74020BBEA63B139B22514A08798E3404DD"
        "EF9519B3CD3A431B302B0A6DF25F14374FE1356D6D51C245E485B576625E7EC6F44C42E9A637ED6B0BFF5CB6F406B7ED"
        "EE386BFB5A899FA5AE9F24117C4B1FE649286651ECE45B3DC2007CB8A163BF0598DA48361C55D39A69163FA8FD24CF5F"
        "83655D23DCA3AD961C62F356208552BB9ED529077096966D670C354E4ABC9804F1746C08CA18217C32905E462E36CE3B"
        "E39E772C180E86039B2783A2EC07A28FB5C55DF06F4C52C9DE2BCBF6955817183995497CEA956AE515D2261898FA0510"
        "15728E5A8AACAA68FFFFFFFFFFFFFFFF");
    return p;
}

bytes minus_one(bytes v) {
    for (auto i = v.size(); i-- > 0;)
        if (v[i]-- != 0) break;
    return v;
}

class Kex : public ::testing::Test {
protected:
    connection_profile s;
    recorder io;
    ui_recorder ui;
    prompt_recorder prompts;
    std::unique_ptr<test_server> srv_;
    std::unique_ptr<ssh2_engine> eng;
    std::string client_id;
    bytes client_kexinit;

    void SetUp() override {
        s.protocol = TransportKind::Ssh2;
        s.ssh.ssh_user = "alice";
        s.ssh.ssh_password = "secret";
        s.ssh.ssh_algorithms = 1;
        s.ssh.ssh_check_host_key = 0;  // never the test runner's own known_hosts
    }
    // A new connection to a server offering the one method `kex`.
    void fresh(std::string_view kex) {
        io = recorder();
        io.shown = &ui;
        ui.messages.clear();
        srv_ = std::make_unique<test_server>(io);
        srv_->kex_list = std::string(kex);
        eng = std::make_unique<ssh2_engine>(s, io, ui, prompts);
        io.engine = eng.get();
    }
    test_server& srv() { return *srv_; }
    void feed(const bytes& b) {
        eng->receive(b.data(), b.size());
        io.answer();
    }
    bytes next(std::uint8_t want_type) {
        auto p = srv().client_packet();
        EXPECT_TRUE(p) << "no client packet, wanted type " << int(want_type);
        if (!p) return {};
        EXPECT_EQ(int((*p)[0]), int(want_type));
        return *p;
    }
    // Identification and KEXINIT both ways; the client's first exchange packet is returned.
    bytes open(std::uint8_t first_type) {
        bytes first = text(srv().ident + "\r\n");
        const bytes k = srv().kexinit();
        first.insert(first.end(), k.begin(), k.end());
        feed(first);
        client_id = srv().client_ident().value_or("");
        client_kexinit = next(20);
        return next(first_type);
    }
    // The reply to the client's share, then the client's NEWKEYS and its service request under the new keys:
    // only a client that computed the same exchange hash and keys gets that far.
    void finish(const bytes& init) {
        const bytes reply = srv().kex_reply(client_id, client_kexinit, init);
        ASSERT_FALSE(reply.empty());
        feed(reply);
        next(21);
        srv().take_client_newkeys();
        const bytes sr = next(5);
        EXPECT_EQ(std::string(sr.begin(), sr.end()), std::string("\x05\0\0\0\x0cssh-userauth", 17));
        EXPECT_TRUE(ui.messages.empty()) << ui.messages.front();
        EXPECT_EQ(io.disconnects, 0);
    }
    bool said(std::string_view m) const {
        return std::find(ui.messages.begin(), ui.messages.end(), std::string(m)) != ui.messages.end();
    }
};

constexpr std::string_view gex = "diffie-hellman-group-exchange-sha256";

// The hybrid methods with the server role of their KEM.
struct hybrid {
    std::string_view name;
    test_server::kem kem;
};
const hybrid hybrids[] = {
    {"mlkem768x25519-sha256",
     {crypto::mlkem768::public_key_size, crypto::mlkem768::ciphertext_size,
      [](const std::uint8_t* pk, std::uint8_t* ct, std::uint8_t* ss) {
          ASSERT_TRUE(crypto::mlkem768::encaps(pk, ct, ss));
      }}},
    {"sntrup761x25519-sha512",
     {crypto::sntrup761::public_key_size, crypto::sntrup761::ciphertext_size,
      [](const std::uint8_t* pk, std::uint8_t* ct, std::uint8_t* ss) { crypto::sntrup761::enc(ct, ss, pk); }}},
    {"sntrup761x25519-sha512@openssh.com",
     {crypto::sntrup761::public_key_size, crypto::sntrup761::ciphertext_size,
      [](const std::uint8_t* pk, std::uint8_t* ct, std::uint8_t* ss) { crypto::sntrup761::enc(ct, ss, pk); }}},
};

// The request's three numbers.
std::array<std::uint32_t, 3> request_of(const bytes& req) {
    ssh::wire_reader r(req.data() + 1, req.size() - 1);
    std::array<std::uint32_t, 3> v{};
    for (auto& x : v) x = r.u32().value_or(0);
    EXPECT_TRUE(r.at_end());
    return v;
}

}  // namespace

TEST_F(Kex, GroupExchangeWithAnHonestGroupSignsOn) {
    fresh(gex);
    const bytes request = open(34);
    const auto req = request_of(request);
    // 3des-cbc's 24-byte key asks for 192 bits of strength: a 7680-bit group, as OpenSSH asks.
    EXPECT_EQ(req[0], ssh::gex_min_bits);
    EXPECT_EQ(req[1], 7680u);
    EXPECT_EQ(req[2], ssh::gex_max_bits);
    srv().gex_p = modp2048();
    feed(srv().gex_group(request));
    finish(next(32));
    ASSERT_NE(eng->agreed_kex(), nullptr);
    EXPECT_EQ(eng->agreed_kex()->name, gex);
    EXPECT_FALSE(eng->agreed_kex()->post_quantum);
}

TEST_F(Kex, HostileGroupsEndTheExchangeWithTheirCause) {
    using crypto::evp::group_fault;
    const bytes p2048 = modp2048();
    bytes even = p2048;
    even.back() ^= 1;
    bytes p2047(256, 0xff);
    p2047[0] = 0x7f;
    const struct row {
        const char* what;
        bytes p, g, tail;
        std::string ending;
    } rows[] = {
        {"1024-bit p", bytes(128, 0xff), {2}, {}, ssh::group_refused_text(group_fault::too_small, 1024)},
        {"2047-bit p", p2047, {2}, {}, ssh::group_refused_text(group_fault::too_small, 2047)},
        {"p = 0", {}, {2}, {}, ssh::group_refused_text(group_fault::too_small, 0)},
        {"8200-bit p", bytes(1025, 0xff), {2}, {}, ssh::group_refused_text(group_fault::too_large, 8200)},
        {"even p", even, {2}, {}, ssh::group_refused_text(group_fault::even_modulus, 2048)},
        {"g = 0", p2048, {}, {}, ssh::group_refused_text(group_fault::bad_generator, 2048)},
        {"g = 1", p2048, {1}, {}, ssh::group_refused_text(group_fault::bad_generator, 2048)},
        {"g = p-1", p2048, minus_one(p2048), {}, ssh::group_refused_text(group_fault::bad_generator, 2048)},
        {"g = p", p2048, p2048, {}, ssh::group_refused_text(group_fault::bad_generator, 2048)},
        {"a byte after g", p2048, {2}, {0}, ssh::trailing_message(ssh::SSH_MSG_KEX_DH_GEX_GROUP)},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.what);
        fresh(gex);
        const bytes request = open(34);
        srv().gex_p = r.p;
        srv().gex_g = r.g;
        srv().group_tail = r.tail;
        feed(srv().gex_group(request));
        EXPECT_TRUE(said(r.ending)) << (ui.messages.empty() ? "" : ui.messages.front());
        EXPECT_EQ(io.disconnects, 1);
        EXPECT_FALSE(srv().client_packet()) << "no share goes to a refused group";
    }
    // The endings name the size for the user.
    EXPECT_NE(ssh::group_refused_text(group_fault::too_small, 1024).find("1024-bit"), std::string::npos);
}

// The host starts a second exchange with each new kind: the group exchange asks for its group again and the
// hybrids make new keys; the session id stays the first exchange's, and a global request is answered under the
// new keys.
TEST_F(Kex, ReexchangesOfEachNewKindKeepTheSessionId) {
    for (const std::string_view name : {gex, hybrids[0].name, hybrids[1].name}) {
        SCOPED_TRACE(std::string(name));
        fresh(name);
        srv().server_kem = name == hybrids[0].name ? hybrids[0].kem : hybrids[1].kem;
        srv().gex_p = modp2048();
        const std::uint8_t first = name == gex ? 34 : 30;
        for (int round = 0; round < 2; ++round) {
            SCOPED_TRACE(round);
            bytes init = round == 0 ? open(first) : bytes{};
            if (round == 1) {
                feed(srv().kexinit());
                client_kexinit = next(20);
                init = next(first);
            }
            if (name == gex) {
                feed(srv().gex_group(init));
                init = next(32);
            }
            const bytes reply = srv().kex_reply(client_id, client_kexinit, init);
            ASSERT_FALSE(reply.empty());
            feed(reply);
            next(21);
            srv().take_client_newkeys();
            if (round == 0) next(5);
            ASSERT_EQ(srv().session_id.size(),
                      ssh::find_kex(name) ? crypto::evp::digest_length(ssh::find_kex(name)->hash) : 0);
            EXPECT_EQ(bytes(eng->session_id(), eng->session_id() + srv().session_id.size()), srv().session_id);
            bytes request{80};
            put_string(request, "keepalive@example");
            request.push_back(1);
            feed(srv().packet(request));
            next(82);
            EXPECT_TRUE(ui.messages.empty()) << ui.messages.front();
        }
        EXPECT_NE(srv().last_h, srv().session_id) << "the second exchange has its own hash";
    }
}

// Random groups of every length around the bounds, judged by an oracle written apart from the client's rule: the
// client sends its share exactly when the oracle accepts the group, and ends with the oracle's reason otherwise.
TEST_F(Kex, RandomGroupsAreJudgedAsTheRuleSays) {
    std::mt19937 rng(4419);
    auto bits_of = [](const bytes& v) {
        std::size_t i = 0;
        while (i < v.size() && v[i] == 0) ++i;
        if (i == v.size()) return 0;
        int top = 0;
        for (unsigned x = v[i]; x; x >>= 1) ++top;
        return int(v.size() - i - 1) * 8 + top;
    };
    auto less = [&](const bytes& a, const bytes& b) {  // as unsigned numbers
        const int la = bits_of(a), lb = bits_of(b);
        if (la != lb) return la < lb;
        return std::lexicographical_compare(a.end() - (la + 7) / 8, a.end(), b.end() - (lb + 7) / 8, b.end());
    };
    int accepted = 0, refused = 0;
    for (int round = 0; round < 120; ++round) {
        const int len = std::uniform_int_distribution<int>(250, 1030)(rng);
        const bool long_g = std::uniform_int_distribution<int>(0, 3)(rng) == 0;
        bytes p(static_cast<std::size_t>(len)), g(long_g ? p.size() : 1);
        for (auto& b : p) b = std::uint8_t(rng());
        for (auto& b : g) b = std::uint8_t(rng() % 4);
        if (round % 3 == 0) p[0] = 0;  // leading zero bytes never count
        const int bits = bits_of(p);
        using crypto::evp::group_fault;
        group_fault want = group_fault::none;
        if (bits < int(ssh::gex_min_bits))
            want = group_fault::too_small;
        else if (bits > int(ssh::gex_max_bits))
            want = group_fault::too_large;
        else if (!(p.back() & 1))
            want = group_fault::even_modulus;
        else if (!less(bytes{1}, g) || !less(g, minus_one(p)))
            want = group_fault::bad_generator;
        SCOPED_TRACE("round " + std::to_string(round) + ", " + std::to_string(bits) + " bits");
        fresh(gex);
        const bytes request = open(34);
        srv().gex_p = p;
        srv().gex_g = g;
        feed(srv().gex_group(request));
        if (want == group_fault::none) {
            ++accepted;
            EXPECT_TRUE(ui.messages.empty());
            const bytes init = next(32);
            ssh::wire_reader r(init.data() + 1, init.size() - 1);
            const auto e = r.mpint_bytes();
            ASSERT_TRUE(e && r.at_end());
            EXPECT_LE(bits_of(bytes(e->begin(), e->end())), bits) << "e is reduced mod p";
        } else {
            ++refused;
            EXPECT_TRUE(said(ssh::group_refused_text(want, bits)));
            EXPECT_FALSE(srv().client_packet());
        }
    }
    EXPECT_GT(accepted, 10);
    EXPECT_GT(refused, 10);
}

// The group share against OpenSSL's own DH in the same group: both sides reach one secret, and peers' values
// outside 1 < f < p-1 are refused.
TEST(GroupShare, AgreesWithLibcryptoModpAndRefusesTrivialPeers) {
    const auto ours = crypto::evp::make_group_share(modp2048(), bytes{2}, 512);
    const auto theirs = crypto::evp::make_modp(14);
    ASSERT_TRUE(ours && theirs);
    const auto k1 = ours->shared(theirs->public_value());
    const auto k2 = theirs->shared(ours->public_value());
    ASSERT_TRUE(k1 && k2);
    EXPECT_EQ(*k1, *k2);
    for (const bytes& f : {bytes{}, bytes{1}, minus_one(modp2048()), modp2048(), bytes(257, 0xff)})
        EXPECT_FALSE(ours->shared(f)) << f.size();
    EXPECT_FALSE(crypto::evp::make_group_share(modp2048(), bytes{2}, 2048)) << "exponent as long as p";
}

// Each hybrid against our own server side: Q_C is the KEM key then the X25519 key, and only a client that hashed
// both secrets into K, sent K as a string, reaches the service request under the new keys.
TEST_F(Kex, HybridsSignOnAgainstOurServerSide) {
    for (const hybrid& h : hybrids) {
        SCOPED_TRACE(std::string(h.name));
        fresh(h.name);
        srv().server_kem = h.kem;
        srv().k_top_bit = true;
        const bytes init = open(30);
        ssh::wire_reader r(init.data() + 1, init.size() - 1);
        const auto q_c = r.string();
        ASSERT_TRUE(q_c && r.at_end());
        EXPECT_EQ(q_c->size(), h.kem.pk_len + 32);
        finish(init);
        ASSERT_NE(eng->agreed_kex(), nullptr);
        EXPECT_EQ(eng->agreed_kex()->name, h.name);
        EXPECT_TRUE(eng->agreed_kex()->post_quantum);
    }
}

// The X25519 half enters the hybrid's K as its 32 raw bytes: a shared value whose first byte is zero keeps it
// (as an mpint it would lose it).
TEST_F(Kex, AHybridKeepsTheLeadingZeroOfTheX25519Secret) {
    for (const hybrid& h : hybrids) {
        SCOPED_TRACE(std::string(h.name));
        fresh(h.name);
        srv().server_kem = h.kem;
        srv().x25519_leading_zero = true;
        finish(open(30));
    }
}

// A Q_S one byte short or long, or without its X25519 half, ends the exchange before anything is derived.
TEST_F(Kex, AHybridReplyOfTheWrongLengthEndsTheExchange) {
    for (const hybrid& h : hybrids)
        for (const int delta : {-1, 1, -32}) {
            SCOPED_TRACE(std::string(h.name) + " " + std::to_string(delta));
            fresh(h.name);
            srv().server_kem = h.kem;
            srv().q_s_delta = delta;
            feed(srv().kex_reply(client_id, client_kexinit, open(30)));
            EXPECT_TRUE(said(ssh::msg::protocol_violation)) << (ui.messages.empty() ? "" : ui.messages.front());
            EXPECT_EQ(io.disconnects, 1);
            EXPECT_FALSE(srv().client_packet()) << "no NEWKEYS";
            EXPECT_EQ(eng->agreed_kex(), nullptr);
        }
}

// The offer in negotiated mode is OpenSSH 10's order, older methods after it; exactly the hybrids are marked
// post-quantum, and every name has its row.
TEST(KexOffer, OpenSshTensOrderWithTheHybridsMarked) {
    const std::string want =
        "mlkem768x25519-sha256,sntrup761x25519-sha512,sntrup761x25519-sha512@openssh.com,curve25519-sha256,"
        "curve25519-sha256@libssh.org,ecdh-sha2-nistp256,ecdh-sha2-nistp384,ecdh-sha2-nistp521,"
        "diffie-hellman-group-exchange-sha256,diffie-hellman-group16-sha512,diffie-hellman-group18-sha512,"
        "diffie-hellman-group14-sha256,";
    EXPECT_EQ(ssh::client_kex_methods().substr(0, want.size()), want);
    for (const auto& m : ssh::kex_methods()) {
        const bool hybrid = m.kind == ssh::kex_kind::sntrup761_x25519 || m.kind == ssh::kex_kind::mlkem768_x25519;
        EXPECT_EQ(m.post_quantum, hybrid) << m.name;
        EXPECT_EQ(ssh::find_kex(m.name), &m);
    }
}

// What the status bar reads: the client names the agreed method of its running connection, and a new connection
// starts without one until its own exchange has finished.
TEST(KexClient, TheAgreedMethodIsTheRunningConnections) {
    connection_profile s;
    s.protocol = TransportKind::Ssh2;
    s.ssh.ssh_algorithms = 1;
    s.ssh.ssh_check_host_key = 0;
    recorder io;
    ui_recorder ui;
    prompt_recorder prompts;
    ssh::ssh_client client(s, io, ui, prompts);
    const hybrid& h = hybrids[0];
    client.ssh_reset();
    client.ssh_target("host.example", 22);
    client.ssh_connected();
    test_server srv(io);
    srv.kex_list = std::string(h.name) + ",curve25519-sha256";
    srv.server_kem = h.kem;
    bytes first = text(srv.ident + "\r\n");
    const bytes k = srv.kexinit();
    first.insert(first.end(), k.begin(), k.end());
    client.ssh_receive(first.data(), first.size());
    const std::string id = srv.client_ident().value_or("");
    const auto kexinit = srv.client_packet();
    const auto init = srv.client_packet();
    ASSERT_TRUE(kexinit && init);
    EXPECT_EQ(client.ssh2_agreed_kex(), nullptr) << "not before the exchange has finished";
    const bytes reply = srv.kex_reply(id, *kexinit, *init);
    client.ssh_receive(reply.data(), reply.size());
    ASSERT_NE(client.ssh2_agreed_kex(), nullptr);
    EXPECT_EQ(client.ssh2_agreed_kex()->name, h.name);
    EXPECT_TRUE(client.ssh2_agreed_kex()->post_quantum);
    client.ssh_reset();
    EXPECT_EQ(client.ssh2_agreed_kex(), nullptr) << "a new connection";
}
