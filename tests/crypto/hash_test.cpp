#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "crypto/cipher.h"
#include "crypto/crc32.h"
#include "crypto/hmac.h"
#include "crypto/md5.h"
#include "crypto/sha1.h"
#include "fixtures.h"

using namespace crypto;
using fixtures::bytes;

TEST(Sha1, PublishedVectors) {
    for (auto& r : fixtures::load("sha1_vectors.txt")) {
        bytes m = fixtures::value(r["message"]);
        int repeat = r.count("repeat") ? std::stoi(r["repeat"]) : 1;
        sha1_context c;
        for (int i = 0; i < repeat; ++i) c.update(m.data(), m.size());
        uint8_t d[20];
        c.final(d);
        EXPECT_EQ(fixtures::to_hex(d, 20), r["digest"]) << r["message"];
    }
}

// Chunk boundaries around the 64-byte block and the 56-byte padding limit are where buffering goes wrong.
TEST(Sha1, SplitUpdatesMatchOneShot) {
    bytes msg(300);
    for (size_t i = 0; i < msg.size(); ++i) msg[i] = uint8_t(i * 7 + 3);
    for (size_t len : {0, 1, 55, 56, 57, 63, 64, 65, 119, 120, 128, 300}) {
        uint8_t whole[20];
        sha1(msg.data(), len, whole);
        for (size_t cut = 0; cut <= len; cut += (len > 70 ? 13 : 1)) {
            sha1_context c;
            c.update(msg.data(), cut);
            c.update(msg.data() + cut, len - cut);
            uint8_t part[20];
            c.final(part);
            ASSERT_EQ(0, std::memcmp(whole, part, 20)) << "len " << len << " cut " << cut;
        }
    }
}

TEST(Sha1, CopyForksTheRunningHash) {
    sha1_context base;
    base.update("ab", 2);
    sha1_context fork = base;
    base.update("c", 1);
    fork.update("d", 1);
    uint8_t a[20], b[20], ref_abc[20], ref_abd[20];
    base.final(a);
    fork.final(b);
    sha1("abc", 3, ref_abc);
    sha1("abd", 3, ref_abd);
    EXPECT_EQ(0, std::memcmp(a, ref_abc, 20));
    EXPECT_EQ(0, std::memcmp(b, ref_abd, 20));
}

TEST(Sha1, AbsorbStringPrefixesBigEndianLength) {
    sha1_context c;
    c.absorb_string("xyz", 3);
    uint8_t got[20], want[20];
    c.final(got);
    const uint8_t framed[] = {0, 0, 0, 3, 'x', 'y', 'z'};
    sha1(framed, sizeof framed, want);
    EXPECT_EQ(0, std::memcmp(got, want, 20));
}

TEST(Md5, Rfc1321Suite) {
    for (auto& r : fixtures::load("md5_vectors.txt")) {
        bytes m = fixtures::value(r["message"]);
        uint8_t d[16];
        md5(m.data(), m.size(), d);
        EXPECT_EQ(fixtures::to_hex(d, 16), r["digest"]) << r["message"];
        // same message fed byte by byte
        md5_context c;
        for (uint8_t x : m) c.update(&x, 1);
        c.final(d);
        EXPECT_EQ(fixtures::to_hex(d, 16), r["digest"]);
    }
}

TEST(HmacSha1, Rfc2202Vectors) {
    for (auto& r : fixtures::load("hmac_sha1_vectors.txt")) {
        bytes key = fixtures::value(r["key"]), data = fixtures::value(r["data"]);
        uint8_t mac[20];
        hmac_sha1(key.data(), key.size(), data.data(), data.size(), mac);
        EXPECT_EQ(fixtures::to_hex(mac, 20), r["mac"]) << r["data"];
    }
}

TEST(HmacSha1, SequenceNumberedPacketsMatchReference) {
    for (auto& r : fixtures::load("hmac_seq.txt")) {
        bytes key = fixtures::hex(r["key"]), data = fixtures::hex(r["data"]);
        uint32_t seq = uint32_t(std::stoul(r["seq"], nullptr, 16));
        hmac_sha1_keys k;
        hmac_sha1_set_key(k, key.data(), key.size());
        uint8_t mac[20];
        hmac_sha1_compute(k, seq, data.data(), data.size(), mac);
        EXPECT_EQ(fixtures::to_hex(mac, 20), r["mac"]);

        // The descriptor appends the MAC behind the packet and checks it on the other side.
        bytes pkt = data;
        pkt.resize(data.size() + 20);
        mac_context out, in;
        ssh2_hmac_sha1.set_key(out, key.data());
        ssh2_hmac_sha1.set_key(in, key.data());
        ssh2_hmac_sha1.make(out, pkt.data(), data.size(), seq);
        EXPECT_EQ(fixtures::to_hex(pkt.data() + data.size(), 20), r["mac"]);
        EXPECT_TRUE(ssh2_hmac_sha1.verify(in, pkt.data(), data.size(), seq));
    }
}

TEST(HmacSha1, VerifyRejectsAnyChange) {
    uint8_t out_key[20], in_key[20];
    for (int i = 0; i < 20; ++i) out_key[i] = in_key[i] = uint8_t(i + 1);
    mac_context out, in;
    ssh2_hmac_sha1.set_key(out, out_key);
    ssh2_hmac_sha1.set_key(in, in_key);
    uint8_t pkt[64 + 20] = {};
    std::memcpy(pkt, "some packet bytes", 17);
    ssh2_hmac_sha1.make(out, pkt, 64, 7);
    ASSERT_TRUE(ssh2_hmac_sha1.verify(in, pkt, 64, 7));
    EXPECT_FALSE(ssh2_hmac_sha1.verify(in, pkt, 64, 8)) << "sequence number is covered";
    for (size_t i : {size_t(0), size_t(63), size_t(64), size_t(83)}) {
        pkt[i] ^= 1;
        EXPECT_FALSE(ssh2_hmac_sha1.verify(in, pkt, 64, 7)) << "byte " << i;
        pkt[i] ^= 1;
    }
    // incoming and outgoing keys are separate
    in_key[0] ^= 0x80;
    ssh2_hmac_sha1.set_key(in, in_key);
    EXPECT_FALSE(ssh2_hmac_sha1.verify(in, pkt, 64, 7));
    EXPECT_STREQ(ssh2_hmac_sha1.name, "hmac-sha1");
    EXPECT_EQ(ssh2_hmac_sha1.length, 20);
}

TEST(Crc32, Ssh1Vectors) {
    for (auto& r : fixtures::load("crc32_vectors.txt")) {
        bytes m = fixtures::value(r["message"]);
        EXPECT_EQ(ssh1_crc32(m.data(), m.size()), uint32_t(std::stoul(r["crc"], nullptr, 16))) << r["message"];
    }
}
