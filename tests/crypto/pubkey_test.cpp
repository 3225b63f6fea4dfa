#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>

#include "crypto/keyderive.h"
#include "crypto/pubkey.h"
#include "crypto/random.h"
#include "fixtures.h"

using namespace crypto;
using fixtures::bytes;
using fixtures::number;
using fixtures::to_hex;

namespace {

struct rsa_pair {
    rsa_public_key pub;
    bignum d;
};

rsa_pair rsa_fixture(size_t i) {
    auto r = fixtures::load("rsa_keys.txt").at(i);
    rsa_pair k;
    k.pub.modulus = number(r["n"]);
    k.pub.exponent = number(r["e"]);
    k.pub.bytes = (k.pub.modulus.bit_length() + 7) / 8;
    k.pub.bits = k.pub.modulus.bit_length();
    k.d = number(r["d"]);
    return k;
}

// c^d mod n, then the PKCS#1 type 2 checks; returns the message or fails the test.
bytes rsa_decrypt_checked(const rsa_pair& k, const bytes& c, size_t expect_len) {
    bignum m = modexp(from_bytes(c.data(), c.size()), k.d, k.pub.modulus);
    bytes block(k.pub.bytes);
    to_bytes(m, block.data(), block.size());
    EXPECT_EQ(block[0], 0);
    EXPECT_EQ(block[1], 2);
    size_t sep = 2;
    while (sep < block.size() && block[sep] != 0) ++sep;
    EXPECT_EQ(sep, block.size() - expect_len - 1) << "random bytes are all non-zero, then one zero";
    EXPECT_GE(sep - 2, 8u);
    return bytes(block.begin() + std::ptrdiff_t(sep) + 1, block.end());
}

bytes ssh_string(const bytes& b) {
    bytes r = {uint8_t(b.size() >> 24), uint8_t(b.size() >> 16), uint8_t(b.size() >> 8), uint8_t(b.size())};
    r.insert(r.end(), b.begin(), b.end());
    return r;
}

struct dsa_case {
    bytes key, h, sig;
    bignum q;
};

std::vector<dsa_case> dsa_cases() {
    std::vector<dsa_case> out;
    for (auto& r : fixtures::load("dsa_signatures.txt"))
        out.push_back({fixtures::hex(r["key"]), fixtures::hex(r["h"]), fixtures::hex(r["sig"]), number(r["q"])});
    return out;
}

bytes raw_rs(const bytes& sig) { return bytes(sig.end() - 40, sig.end()); }

}  // namespace

TEST(Rsa, Pkcs1Type2DecryptsWithThePrivateKey) {
    rsa_pair k = rsa_fixture(0);  // 768 bits: k = 96
    ASSERT_EQ(k.pub.bytes, 96u);
    bytes msg(32);
    for (int i = 0; i < 32; ++i) msg[size_t(i)] = uint8_t(i * 9);
    bytes buf(96);
    std::memcpy(buf.data(), msg.data(), 32);
    ASSERT_TRUE(rsa_encrypt(buf.data(), 32, k.pub));
    // 96 - 32 - 3 = 61 non-zero random bytes between 00 02 and the 00 separator (checked inside)
    EXPECT_EQ(rsa_decrypt_checked(k, buf, 32), msg);
}

TEST(Rsa, DoubleEncryptionOfTheSessionKey) {
    rsa_pair inner = rsa_fixture(0), outer = rsa_fixture(1);
    bytes key(32, 0x5A);
    bytes buf(outer.pub.bytes);
    std::memcpy(buf.data(), key.data(), 32);
    ASSERT_TRUE(rsa_encrypt(buf.data(), 32, inner.pub));
    ASSERT_TRUE(rsa_encrypt(buf.data(), inner.pub.bytes, outer.pub));
    bytes mid = rsa_decrypt_checked(outer, buf, inner.pub.bytes);
    EXPECT_EQ(rsa_decrypt_checked(inner, mid, 32), key);
}

TEST(Rsa, CiphertextWeMadeIsDecryptedByTheReference) {
    // rsa_ours.txt holds ciphertexts from rsa_encrypt that gen_fixtures.py --check-only decrypted with
    // pycryptodome; here the same ciphertexts go through the bignum with the private key.
    for (auto& r : fixtures::load("rsa_ours.txt")) {
        rsa_pair k = rsa_fixture(size_t(std::stoi(r["key"])));
        bytes plain = fixtures::hex(r["plain"]);
        EXPECT_EQ(rsa_decrypt_checked(k, fixtures::hex(r["cipher"]), plain.size()), plain);
    }
}

TEST(Rsa, RefusesWhatCannotBePaddedOrIsNoKey) {
    rsa_pair k = rsa_fixture(0);
    bytes buf(96, 7);
    EXPECT_FALSE(rsa_encrypt(buf.data(), 86, k.pub)) << "needs 11 bytes of room";
    EXPECT_TRUE(rsa_encrypt(buf.data(), 85, k.pub));
    rsa_public_key even = k.pub;
    even.modulus.set_bit(0, false);
    EXPECT_FALSE(rsa_encrypt(buf.data(), 32, even));
    rsa_public_key e1 = k.pub;
    e1.exponent = bignum::from_u32(1);
    EXPECT_FALSE(rsa_encrypt(buf.data(), 32, e1)) << "exponent 1 would send the key in clear";
    rsa_public_key huge_e = k.pub;
    huge_e.exponent = with_bit(60000);
    huge_e.exponent.set_bit(0, true);
    auto t0 = std::chrono::steady_clock::now();
    EXPECT_FALSE(rsa_encrypt(buf.data(), 32, huge_e)) << "an exponent beyond the modulus only stalls the client";
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(1));
    rsa_public_key zero;
    EXPECT_FALSE(rsa_encrypt(buf.data(), 0, zero));
}

TEST(Rsa, ParseKeyFromPublicKeyMessage) {
    rsa_pair k = rsa_fixture(0);
    bytes msg = {0, 0, 3, 0};  // bits 768
    bytes e(ssh1_mpint_size(k.pub.exponent)), n(ssh1_mpint_size(k.pub.modulus));
    to_ssh1_mpint(k.pub.exponent, e.data());
    to_ssh1_mpint(k.pub.modulus, n.data());
    msg.insert(msg.end(), e.begin(), e.end());
    msg.insert(msg.end(), n.begin(), n.end());
    msg.push_back(0xEE);  // next field of the message
    auto p = parse_rsa_key(msg.data(), msg.size());
    ASSERT_TRUE(p);
    EXPECT_EQ(p->key.bits, 768u);
    EXPECT_EQ(p->key.bytes, 96u);
    EXPECT_EQ(p->consumed, msg.size() - 1);
    EXPECT_EQ(p->modulus_offset, 4 + e.size() + 2);
    EXPECT_EQ(p->modulus_length, 96u);
    EXPECT_TRUE(p->key.modulus == k.pub.modulus);
    EXPECT_TRUE(p->key.exponent == k.pub.exponent);
    for (size_t cut = 0; cut < msg.size() - 1; ++cut) EXPECT_FALSE(parse_rsa_key(msg.data(), cut)) << cut;
}

TEST(DiffieHellman, GroupOneAndAgreement) {
    dh_group g = dh_group1();
    EXPECT_EQ(g.p.bit_length(), 1024u);
    EXPECT_EQ(to_hex(g.g), "2");
    EXPECT_TRUE(g.q == shift_right(g.p, 1));
    EXPECT_EQ(g.mask.bit_length(), 1023u);
    // A safe prime: a mistyped byte in the table fails these Fermat tests.
    bignum one = bignum::from_u32(1);
    EXPECT_TRUE(modexp(bignum::from_u32(3), g.q, g.p) == one) << "Euler: 3 is a square modulo p";
    bignum q_minus_1 = shift_right(g.q, 1);
    q_minus_1 = multiply_add(q_minus_1, bignum::from_u32(2));
    EXPECT_TRUE(modexp(bignum::from_u32(5), q_minus_1, g.q) == one);

    bignum x = dh_choose_exponent(g), y = dh_choose_exponent(g);
    EXPECT_EQ(x.bit_length(), 257u);
    EXPECT_FALSE(x == y);
    bignum e = dh_public_value(g, x), f = dh_public_value(g, y);
    EXPECT_TRUE(dh_valid_public(g, e));
    auto k1 = dh_shared_secret(g, f, x), k2 = dh_shared_secret(g, e, y);
    ASSERT_TRUE(k1 && k2);
    EXPECT_TRUE(*k1 == *k2);
    EXPECT_GT(k1->bit_length(), 900u);
}

TEST(DiffieHellman, RefusesDegeneratePublicValues) {
    dh_group g = dh_group1();
    bignum x = dh_choose_exponent(g);
    bignum one = bignum::from_u32(1);
    bignum p_minus_1 = shift_right(g.p, 1);
    p_minus_1 = multiply_add(p_minus_1, bignum::from_u32(2));  // p - 1 (p is odd)
    bignum p_plus_1 = multiply_add(g.p, one, &one);
    for (const bignum* bad : {&one, &p_minus_1, &g.p, &p_plus_1}) EXPECT_FALSE(dh_shared_secret(g, *bad, x));
    EXPECT_FALSE(dh_shared_secret(g, bignum(), x));
    EXPECT_TRUE(dh_shared_secret(g, bignum::from_u32(2), x));
}

TEST(Dss, ReferenceSignaturesVerifyAndAlteredOnesFail) {
    auto cases = dsa_cases();
    ASSERT_EQ(cases.size(), 6u);
    for (auto& c : cases) {
        auto key = parse_dss_key(c.key.data(), c.key.size());
        ASSERT_TRUE(key);
        EXPECT_TRUE(dss_verify(*key, c.sig.data(), c.sig.size(), c.h.data()));
        bytes rs = raw_rs(c.sig);
        EXPECT_TRUE(dss_verify(*key, rs.data(), rs.size(), c.h.data())) << "bare 40-byte form";

        bytes h = c.h;
        h[5] ^= 0x10;
        EXPECT_FALSE(dss_verify(*key, c.sig.data(), c.sig.size(), h.data()));
        for (size_t at : {size_t(0), size_t(19), size_t(20), size_t(39)}) {
            bytes bad = rs;
            bad[at] ^= 0x01;
            EXPECT_FALSE(dss_verify(*key, bad.data(), bad.size(), c.h.data())) << "byte " << at;
        }
    }
    // A signature checked against another key's y fails.
    auto k0 = parse_dss_key(cases[0].key.data(), cases[0].key.size());
    auto k3 = parse_dss_key(cases[3].key.data(), cases[3].key.size());
    EXPECT_FALSE(dss_verify(*k3, cases[0].sig.data(), cases[0].sig.size(), cases[0].h.data()));
    EXPECT_FALSE(k0->y == *k3->y);
}

TEST(Dss, OutOfRangeSignatureValuesAreInvalid) {
    auto c = dsa_cases()[0];
    auto key = parse_dss_key(c.key.data(), c.key.size());
    ASSERT_TRUE(key);
    bytes rs = raw_rs(c.sig), q20(20);
    to_bytes(c.q, q20.data(), 20);
    auto with = [&](bool first, const bytes& v) {
        bytes b = rs;
        std::memcpy(b.data() + (first ? 0 : 20), v.data(), 20);
        return b;
    };
    const bytes zero(20, 0), ones(20, 0xFF);
    for (const bytes& bad :
         {with(false, zero), with(true, zero), with(true, q20), with(false, q20), with(true, ones), with(false, ones)})
        EXPECT_FALSE(dss_verify(*key, bad.data(), bad.size(), c.h.data()));
    // r + q is congruent to r but outside the range: refused, not reduced.
    bignum r = from_bytes(rs.data(), 20);
    bignum rq = multiply_add(c.q, bignum::from_u32(1), &r);
    if (rq.bit_length() <= 160) {
        bytes v(20);
        to_bytes(rq, v.data(), 20);
        bytes b = with(true, v);
        EXPECT_FALSE(dss_verify(*key, b.data(), b.size(), c.h.data()));
    }
}

TEST(Dss, IncompleteOrForeignKeysVerifyNothing) {
    auto c = dsa_cases()[0];
    auto full = parse_dss_key(c.key.data(), c.key.size());
    ASSERT_TRUE(full);
    for (int drop = 0; drop < 4; ++drop) {
        dss_public_key k = *full;
        std::optional<bignum>* parts[] = {&k.p, &k.q, &k.g, &k.y};
        parts[drop]->reset();
        EXPECT_FALSE(dss_verify(k, c.sig.data(), c.sig.size(), c.h.data())) << "component " << drop;
    }
    // Every truncation of the key blob either is no key or lacks a component.
    for (size_t cut = 0; cut < c.key.size(); ++cut) {
        auto k = parse_dss_key(c.key.data(), cut);
        if (k) {
            EXPECT_FALSE(dss_verify(*k, c.sig.data(), c.sig.size(), c.h.data())) << cut;
        }
    }
    bytes rsa_named = c.key;
    std::memcpy(rsa_named.data() + 4, "ssh-rsa", 7);
    EXPECT_FALSE(parse_dss_key(rsa_named.data(), rsa_named.size()));
    bytes longer_name = ssh_string(bytes{'s', 's', 'h', '-', 'd', 's', 's', 'x'});
    longer_name.insert(longer_name.end(), c.key.begin() + 11, c.key.end());
    EXPECT_FALSE(parse_dss_key(longer_name.data(), longer_name.size()));
}

TEST(Dss, MalformedSignatureBlobsAreInvalid) {
    auto c = dsa_cases()[0];
    auto key = parse_dss_key(c.key.data(), c.key.size());
    ASSERT_TRUE(key);
    for (size_t cut = 0; cut < c.sig.size(); ++cut)
        EXPECT_FALSE(dss_verify(*key, c.sig.data(), cut, c.h.data())) << cut;
    bytes renamed = c.sig;
    renamed[4] = 'x';
    EXPECT_FALSE(dss_verify(*key, renamed.data(), renamed.size(), c.h.data()));
    // The inner length is not compared; only the 40 bytes after it matter.
    bytes relabelled = c.sig;
    relabelled[14] = 0x99;
    EXPECT_TRUE(dss_verify(*key, relabelled.data(), relabelled.size(), c.h.data()));
}

TEST(Dss, OversizedOrNonsenseGroupsAreRefusedQuickly) {
    auto c = dsa_cases()[0];
    auto key = parse_dss_key(c.key.data(), c.key.size());
    ASSERT_TRUE(key);
    auto t0 = std::chrono::steady_clock::now();
    dss_public_key big = *key;
    big.p = multiply_add(*key->p, with_bit(dss_max_p_bits));
    EXPECT_FALSE(dss_verify(big, c.sig.data(), c.sig.size(), c.h.data()));
    dss_public_key wide_q = *key;
    wide_q.q = multiply_add(*key->q, with_bit(200));
    EXPECT_FALSE(dss_verify(wide_q, c.sig.data(), c.sig.size(), c.h.data()));
    dss_public_key even_p = *key;
    even_p.p->set_bit(0, false);
    EXPECT_FALSE(dss_verify(even_p, c.sig.data(), c.sig.size(), c.h.data()));
    dss_public_key g_one = *key;
    g_one.g = bignum::from_u32(1);
    EXPECT_FALSE(dss_verify(g_one, c.sig.data(), c.sig.size(), c.h.data()));
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(5));
}

TEST(RandomSource, ReseedingNeverRepeatsOutput) {
    // The old generator gave identical bytes for two seeds in the same second; these must differ.
    random_seed();
    uint8_t a[32], b[32];
    random_fill(a, sizeof a);
    random_seed();
    random_fill(b, sizeof b);
    EXPECT_NE(0, std::memcmp(a, b, sizeof a));
    uint8_t c[32];
    random_fill(c, sizeof c);
    EXPECT_NE(0, std::memcmp(b, c, sizeof b));
}

TEST(RandomSource, BytesCoverTheWholeRangeEvenly) {
    // 256 Ki draws: each value expects 1024 (sd 32); the bounds are about 10 sd wide.
    std::vector<int> count(256, 0);
    for (int i = 0; i < 256 * 1024; ++i) {
        unsigned v = random_byte();
        ASSERT_LT(v, 256u);
        ++count[v];
    }
    for (int v = 0; v < 256; ++v) {
        EXPECT_GT(count[size_t(v)], 700) << v;
        EXPECT_LT(count[size_t(v)], 1350) << v;
    }
}

TEST(RandomSource, ForkedChildDrawsOtherBytesThanItsParent) {
    (void)random_byte();  // the parent now holds unread bytes that a child would inherit
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        uint8_t mine[32];
        random_fill(mine, sizeof mine);
        ssize_t w = write(fds[1], mine, sizeof mine);
        _exit(w == ssize_t(sizeof mine) ? 0 : 1);
    }
    close(fds[1]);
    uint8_t child[32] = {}, parent[32];
    ssize_t got = 0;
    while (got < 32) {
        ssize_t r = read(fds[0], child + got, size_t(32 - got));
        if (r <= 0) break;
        got += r;
    }
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_EQ(got, 32);
    random_fill(parent, sizeof parent);
    EXPECT_NE(0, std::memcmp(child, parent, sizeof parent));
}

TEST(KeyDerivation, MatchesReferenceForAllSixLetters) {
    for (auto& r : fixtures::load("key_derivation.txt")) {
        bignum k = number(r["k"]);
        bytes h = fixtures::hex(r["h"]), sid = fixtures::hex(r["session_id"]);
        for (char letter : std::string("ABCDEF")) {
            uint8_t out[40];
            ssh2_derive_key(k, h.data(), letter, sid.data(), out);
            EXPECT_EQ(fixtures::to_hex(out, 40), r[std::string(1, letter)]) << letter;
        }
    }
}
