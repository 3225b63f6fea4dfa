#include "ssh/packet_cipher.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "crypto/bytes.h"

namespace {

using bytes = std::vector<std::uint8_t>;

struct framing {
    const char* cipher;
    const char* mac;  // empty: AEAD
    bool length_apart;
    bool numbered;  // the sequence number enters the MAC or nonce (GCM counts its own invocations instead)
};

constexpr framing framings[] = {
    {"3des-cbc", "hmac-sha1", false, true},
    {"blowfish-cbc", "hmac-sha1", false, true},
    {"aes128-ctr", "hmac-sha2-512", false, true},
    {"aes256-ctr", "hmac-sha2-256-etm@openssh.com", true, true},
    {"3des-cbc", "hmac-sha1-etm@openssh.com", true, true},
    {"aes128-gcm@openssh.com", "", true, false},
    {"aes256-gcm@openssh.com", "", true, false},
    {"chacha20-poly1305@openssh.com", "", true, true},
};

struct keyed_pair {
    std::unique_ptr<ssh::packet_cipher> out, in;
};

keyed_pair make(const framing& f) {
    const ssh::cipher_method* c = ssh::find_cipher(f.cipher);
    const ssh::mac_method* m = *f.mac ? ssh::find_mac(f.mac) : nullptr;
    std::uint8_t iv[64], key[64], mac_key[64];
    for (int i = 0; i < 64; ++i) {
        iv[i] = std::uint8_t(i * 7 + 1);
        key[i] = std::uint8_t(i * 13 + 5);
        mac_key[i] = std::uint8_t(i * 3 + 11);
    }
    if (!c) return {};
    return {ssh::make_packet_cipher(*c, m, iv, key, mac_key), ssh::make_packet_cipher(*c, m, iv, key, mac_key)};
}

// A packet as the transport builds it: length, padding length, payload, padding to the framing's block.
bytes frame(const ssh::packet_cipher& c, const bytes& payload) {
    const std::size_t covered = c.length_apart() ? 1 + payload.size() : 5 + payload.size();
    std::size_t pad = c.block() - covered % c.block();
    if (pad < 4) pad += c.block();
    bytes p(4);
    crypto::store_be(p.data(), std::uint32_t(payload.size() + pad + 1));
    p.push_back(std::uint8_t(pad));
    p.insert(p.end(), payload.begin(), payload.end());
    p.resize(p.size() + pad, 0xA5);
    return p;
}

// Seals a packet as the sender does (classic MAC first), returns it as the wire carries it.
bytes seal(ssh::packet_cipher& c, std::uint32_t seq, const bytes& plain) {
    bytes p = plain;
    p.resize(plain.size() + c.trailer());
    const std::size_t shown = c.mac_plain(seq, p.data(), plain.size());
    EXPECT_EQ(shown, c.length_apart() ? 0u : c.trailer()) << "only the classic MAC is made before encryption";
    c.seal(seq, p.data(), plain.size());
    return p;
}

// Reads a packet as the receiver does; nothing when it is not authentic.
std::optional<bytes> open(ssh::packet_cipher& c, std::uint32_t seq, bytes wire) {
    if (wire.size() < c.head()) return std::nullopt;
    const std::uint32_t len = c.length(seq, wire.data());
    if (std::size_t(len) + 4 + c.trailer() != wire.size() || !c.length_fits(len)) return std::nullopt;
    if (!c.open(seq, wire.data(), len) || !c.verify_plain(seq, wire.data(), len)) return std::nullopt;
    wire.resize(std::size_t(len) + 4);
    return wire;
}

TEST(PacketCipher, EachFramingCarriesPacketsAndRefusesAnyChangedByte) {
    for (const framing& f : framings) {
        SCOPED_TRACE(std::string(f.cipher) + " " + f.mac);
        keyed_pair k = make(f);
        ASSERT_TRUE(k.out && k.in);
        EXPECT_EQ(k.out->length_apart(), f.length_apart);
        // Several packets in a row: the ciphers' chaining and the sequence numbers carry over.
        for (std::uint32_t seq = 3; seq < 7; ++seq) {
            bytes payload(20 * seq + 1);
            for (std::size_t i = 0; i < payload.size(); ++i) payload[i] = std::uint8_t(i ^ seq);
            const bytes plain = frame(*k.out, payload);
            const bytes wire = seal(*k.out, seq, plain);
            EXPECT_NE(bytes(wire.begin() + 5, wire.begin() + 5 + std::ptrdiff_t(payload.size())), payload);
            const auto got = open(*k.in, seq, wire);
            ASSERT_TRUE(got) << seq;
            EXPECT_EQ(*got, plain) << seq;
        }
        // A fresh pair for each forgery, so the receiving side's chain is where the sender's was.
        const bytes plain = frame(*make(f).out, bytes(40, 'x'));
        for (std::size_t at : {std::size_t(6), plain.size() - 1, plain.size() + 1}) {
            keyed_pair t = make(f);
            bytes wire = seal(*t.out, 9, plain);
            wire[at] ^= 0x10;
            EXPECT_FALSE(open(*t.in, 9, wire)) << "byte " << at;
        }
        keyed_pair t = make(f);
        if (f.numbered) {
            EXPECT_FALSE(open(*t.in, 10, seal(*t.out, 9, plain))) << "another sequence number";
        }
        if (f.length_apart) {
            EXPECT_FALSE(t.in->length_fits(std::uint32_t(t.in->block() + 1)));
        }
    }
}

TEST(PacketCipher, BeforeKeysPacketsTravelInClear) {
    ssh::packet_cipher none;
    bytes plain = frame(none, bytes{5, 1, 2, 3});
    EXPECT_EQ(plain.size() % 8, 0u);
    const bytes wire = seal(none, 0, plain);
    EXPECT_EQ(wire, plain);
    EXPECT_EQ(open(none, 0, wire), plain);
}

}  // namespace
