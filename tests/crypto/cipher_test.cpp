#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "crypto/blowfish.h"
#include "crypto/cipher.h"
#include "crypto/des.h"
#include "fixtures.h"

using namespace crypto;
using fixtures::bytes;

namespace {

uint32_t be32(const uint8_t* p) { return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3]; }

bytes concat(const bytes& a, const bytes& b) {
    bytes r = a;
    r.insert(r.end(), b.begin(), b.end());
    return r;
}

}  // namespace

TEST(Des, PublishedVectors) {
    for (auto& r : fixtures::load("des_vectors.txt")) {
        bytes key = fixtures::hex(r["key"]), plain = fixtures::value(r["plain"]);
        des_key_context c;
        des_set_key(c, key.data());
        bytes buf = plain;
        if (r.count("iv")) {
            bytes iv = fixtures::hex(r["iv"]);
            c.enc_chain[0] = c.dec_chain[0] = be32(iv.data());
            c.enc_chain[1] = c.dec_chain[1] = be32(iv.data() + 4);
            des_cbc_encrypt(c, buf.data(), buf.size());
            EXPECT_EQ(fixtures::to_hex(buf), r["cipher"]);
            des_cbc_decrypt(c, buf.data(), buf.size());
            EXPECT_EQ(buf, plain);
        } else {
            for (size_t off = 0; off < buf.size(); off += 8) {
                uint32_t blk[2] = {be32(&buf[off]), be32(&buf[off + 4])};
                des_encrypt_block(c, blk);
                bytes ct = fixtures::hex(r["cipher"]);
                EXPECT_EQ(blk[0], be32(&ct[off])) << r["key"];
                EXPECT_EQ(blk[1], be32(&ct[off + 4])) << r["key"];
                des_decrypt_block(c, blk);
                EXPECT_EQ(blk[0], be32(&buf[off]));
                EXPECT_EQ(blk[1], be32(&buf[off + 4]));
            }
        }
    }
}

TEST(Des, ParityBitsAreIgnored) {
    const uint8_t k1[8] = {0x13, 0x34, 0x57, 0x79, 0x9B, 0xBC, 0xDF, 0xF1};
    uint8_t k2[8];
    for (int i = 0; i < 8; ++i) k2[i] = k1[i] ^ 1;
    des_key_context a, b;
    des_set_key(a, k1);
    des_set_key(b, k2);
    EXPECT_EQ(0, std::memcmp(a.subkeys, b.subkeys, sizeof a.subkeys));
}

TEST(TripleDes, Sp80067Example) {
    for (auto& r : fixtures::load("tdes_vectors.txt")) {
        bytes key = fixtures::hex(r["key"]), plain = fixtures::value(r["plain"]);
        // One block at a time with a zero chain is EDE in ECB.
        des_key_context k[3];
        for (int i = 0; i < 3; ++i) des_set_key(k[i], key.data() + 8 * i);
        bytes buf = plain;
        for (size_t off = 0; off < buf.size(); off += 8) {
            k[0].enc_chain[0] = k[0].enc_chain[1] = 0;
            des3_ede_cbc_encrypt(k, buf.data() + off, 8);
        }
        EXPECT_EQ(fixtures::to_hex(buf), r["cipher"]);
    }
}

TEST(Blowfish, PublishedVectors) {
    auto c = std::make_unique<blowfish_context>();
    for (auto& r : fixtures::load("blowfish_vectors.txt")) {
        bytes key = fixtures::value(r["key"]), plain = fixtures::value(r["plain"]);
        blowfish_set_key(*c, key.data(), key.size());
        bytes buf = plain;
        if (r.count("iv")) {
            bytes iv = fixtures::hex(r["iv"]);
            c->chain[0] = be32(iv.data());
            c->chain[1] = be32(iv.data() + 4);
            blowfish_cbc_encrypt_be(*c, buf.data(), buf.size());
            EXPECT_EQ(fixtures::to_hex(buf), r["cipher"]);
            c->chain[0] = be32(iv.data());
            c->chain[1] = be32(iv.data() + 4);
            blowfish_cbc_decrypt_be(*c, buf.data(), buf.size());
            EXPECT_EQ(buf, plain);
        } else {
            uint32_t l = be32(buf.data()), rr = be32(buf.data() + 4);
            blowfish_encrypt_block(*c, l, rr);
            bytes ct = fixtures::hex(r["cipher"]);
            EXPECT_EQ(l, be32(ct.data())) << r["key"];
            EXPECT_EQ(rr, be32(ct.data() + 4)) << r["key"];
            blowfish_decrypt_block(*c, l, rr);
            EXPECT_EQ(l, be32(buf.data()));
            EXPECT_EQ(rr, be32(buf.data() + 4));
        }
    }
}

// Every SSH mode against pycryptodome, with the buffer split over two calls so the chains must carry over.
TEST(CipherModes, MatchReferenceAcrossCalls) {
    int seen = 0;
    for (auto& r : fixtures::load("cipher_modes.txt")) {
        const std::string mode = r["mode"];
        bytes key = fixtures::hex(r["key"]), p1 = fixtures::hex(r["plain1"]), p2 = fixtures::hex(r["plain2"]);
        bytes want = fixtures::hex(r["cipher"]);
        bytes b1 = p1, b2 = p2;
        if (mode.rfind("ssh1-", 0) == 0) {
            const ssh1_cipher* c = mode == "ssh1-des" ? &ssh1_des : mode == "ssh1-3des" ? &ssh1_3des : &ssh1_blowfish;
            auto out = std::make_unique<cipher_context>(), in = std::make_unique<cipher_context>();
            c->set_key(*out, key.data());
            c->encrypt(*out, b1.data(), b1.size());
            c->encrypt(*out, b2.data(), b2.size());
            ASSERT_EQ(fixtures::to_hex(concat(b1, b2)), r["cipher"]) << mode;
            // Decrypt in a different split: all of it at once with the other direction's context.
            c->set_key(*in, key.data());
            bytes all = want;
            c->decrypt(*in, all.data(), all.size());
            EXPECT_EQ(all, concat(p1, p2)) << mode;
        } else {
            const ssh2_cipher* c = mode == "ssh2-3des-cbc" ? &ssh2_3des_cbc : &ssh2_blowfish_cbc;
            auto out = std::make_unique<cipher_context>(), in = std::make_unique<cipher_context>();
            bytes iv = fixtures::hex(r["iv"]);
            c->set_key(*out, key.data());
            c->set_iv(*out, iv.data());
            c->encrypt(*out, b1.data(), b1.size());
            c->encrypt(*out, b2.data(), b2.size());
            ASSERT_EQ(fixtures::to_hex(concat(b1, b2)), r["cipher"]) << mode;
            // The incoming side, IV installed before the key, block by block.
            c->set_iv(*in, iv.data());
            c->set_key(*in, key.data());
            bytes all = want;
            for (size_t off = 0; off < all.size(); off += 8) c->decrypt(*in, all.data() + off, 8);
            EXPECT_EQ(all, concat(p1, p2)) << mode;
        }
        ++seen;
    }
    EXPECT_EQ(seen, 30);
}

TEST(CipherModes, DirectionsKeepSeparateChains) {
    uint8_t key[24], iv_out[8], iv_in[8];
    for (int i = 0; i < 24; ++i) key[i] = uint8_t(0x11 * i + 5);
    for (int i = 0; i < 8; ++i) {
        iv_out[i] = uint8_t(i);
        iv_in[i] = uint8_t(i);
    }
    for (const ssh2_cipher* c : {&ssh2_3des_cbc, &ssh2_blowfish_cbc}) {
        auto out = std::make_unique<cipher_context>(), in = std::make_unique<cipher_context>();
        c->set_key(*out, key);
        c->set_key(*in, key);
        c->set_iv(*out, iv_out);
        c->set_iv(*in, iv_in);
        // Interleave: encrypt packet A, decrypt it, encrypt B, decrypt it. Shared chains would break B.
        uint8_t a[16] = "first packet...", b[24] = "second packet, 24 bytes";
        uint8_t a0[16], b0[24];
        std::memcpy(a0, a, 16);
        std::memcpy(b0, b, 24);
        c->encrypt(*out, a, 16);
        c->decrypt(*in, a, 16);
        c->encrypt(*out, b, 24);
        c->decrypt(*in, b, 24);
        EXPECT_EQ(0, std::memcmp(a, a0, 16)) << c->name;
        EXPECT_EQ(0, std::memcmp(b, b0, 24)) << c->name;
    }
}

TEST(CipherModes, Ssh1AndSsh2BlowfishDifferOnlyByHalfByteOrder) {
    uint8_t key[32];
    for (int i = 0; i < 32; ++i) key[i] = uint8_t(3 * i);
    uint8_t data[16];
    for (int i = 0; i < 16; ++i) data[i] = uint8_t(0xA0 + i);

    uint8_t one[16], two[16];
    std::memcpy(one, data, 16);
    auto ctx = std::make_unique<cipher_context>();
    ssh1_blowfish.set_key(*ctx, key);
    ssh1_blowfish.encrypt(*ctx, one, 16);

    // The SSH-1 key set-up uses all 32 bytes; rebuild the same context by hand for the big-endian order.
    auto bf = std::make_unique<blowfish_context>();
    blowfish_set_key(*bf, key, 32);
    bf->chain[0] = bf->chain[1] = 0;
    auto swapped = [](uint8_t* p, size_t n) {
        for (size_t i = 0; i < n; i += 4) {
            std::swap(p[i], p[i + 3]);
            std::swap(p[i + 1], p[i + 2]);
        }
    };
    std::memcpy(two, data, 16);
    blowfish_cbc_encrypt_be(*bf, two, 16);
    EXPECT_NE(0, std::memcmp(one, two, 16));
    std::memcpy(two, data, 16);
    swapped(two, 16);
    bf->chain[0] = bf->chain[1] = 0;
    blowfish_cbc_encrypt_be(*bf, two, 16);
    swapped(two, 16);
    EXPECT_EQ(0, std::memcmp(one, two, 16));
}

TEST(CipherModes, Ssh1InnerCbcAndSsh2OuterCbcShareOnlyTheFirstBlock) {
    uint8_t key[32];
    for (int i = 0; i < 32; ++i) key[i] = uint8_t(7 * i + 1);
    const uint8_t zero_iv[8] = {};
    uint8_t a[24], b[24];
    for (int i = 0; i < 24; ++i) a[i] = b[i] = uint8_t(i * 13);
    auto one = std::make_unique<cipher_context>(), two = std::make_unique<cipher_context>();
    ssh1_3des.set_key(*one, key);
    ssh1_3des.encrypt(*one, a, 24);
    ssh2_3des_cbc.set_key(*two, key);
    ssh2_3des_cbc.set_iv(*two, zero_iv);
    ssh2_3des_cbc.encrypt(*two, b, 24);
    EXPECT_EQ(0, std::memcmp(a, b, 8));
    EXPECT_NE(0, std::memcmp(a + 8, b + 8, 8));
    EXPECT_NE(0, std::memcmp(a + 16, b + 16, 8));
}

TEST(CipherModes, Ssh1DesUsesOneChainPerDirection) {
    uint8_t key[32] = {1, 2, 3, 4, 5, 6, 7, 8};
    uint8_t p[16] = "0123456789abcde";
    uint8_t c[16];
    std::memcpy(c, p, 16);
    auto ctx = std::make_unique<cipher_context>();
    ssh1_des.set_key(*ctx, key);
    ssh1_des.encrypt(*ctx, c, 16);
    // A decrypt right after encrypting, in the same context, starts from its own zero chain.
    ssh1_des.decrypt(*ctx, c, 16);
    EXPECT_EQ(0, std::memcmp(c, p, 16));
}

TEST(CipherModes, PartialTailAndBytesBeyondAreLeftAlone) {
    uint8_t key[32];
    for (int i = 0; i < 32; ++i) key[i] = uint8_t(i + 40);
    auto ctx = std::make_unique<cipher_context>();
    ssh2_3des_cbc.set_key(*ctx, key);
    ssh2_blowfish_cbc.set_key(*ctx, key);
    using op = void (*)(cipher_context&, uint8_t*, std::size_t);
    for (op f : {ssh2_3des_cbc.encrypt, ssh2_3des_cbc.decrypt, ssh2_blowfish_cbc.encrypt, ssh2_blowfish_cbc.decrypt,
                 ssh1_3des.encrypt, ssh1_3des.decrypt, ssh1_blowfish.encrypt, ssh1_blowfish.decrypt, ssh1_des.encrypt,
                 ssh1_des.decrypt}) {
        uint8_t buf[32], untouched[8];
        std::memset(buf, 0xC3, sizeof buf);
        std::memset(untouched, 0xC3, sizeof untouched);
        f(*ctx, buf, 13);  // one whole block and five bytes of a second
        EXPECT_NE(0, std::memcmp(buf, untouched, 8)) << "the whole block is processed";
        for (int i = 8; i < 32; ++i) ASSERT_EQ(buf[i], 0xC3) << "byte " << i;
    }
}
