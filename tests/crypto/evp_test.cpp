// The libcrypto-backed SSH-2 algorithms against published vectors and against python3-cryptography
// (data/evp_*.txt, made by gen_evp_fixtures.py); every tampered tag, signature or key must be refused.
#include "crypto/evp.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <map>

#include "fixtures.h"

using namespace crypto::evp;
using fixtures::bytes;
using fixtures::hex;
using fixtures::to_hex;

namespace {

bytes text(const char* s) { return bytes(s, s + std::strlen(s)); }

hash_kind kind_named(const std::string& s) {
    return s == "sha1"     ? hash_kind::sha1
           : s == "sha256" ? hash_kind::sha256
           : s == "sha384" ? hash_kind::sha384
                           : hash_kind::sha512;
}

std::string digest_hex(hash_kind k, const bytes& b) {
    uint8_t out[max_digest_length];
    EXPECT_EQ(digest(k, b.data(), b.size(), out), digest_length(k));
    return to_hex(out, digest_length(k));
}

std::uint32_t seq_of(const fixtures::record& r) { return std::uint32_t(std::stoul(r.at("seq"))); }

}  // namespace

// ---- hashes

TEST(EvpHash, PublishedDigestsOfAbc) {
    const struct {
        hash_kind k;
        const char* want;
    } rows[] = {
        {hash_kind::sha1, "a9993e364706816aba3e25717850c26c9cd0d89d"},
        {hash_kind::sha256, "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {hash_kind::sha384, "cb00753f45a35e8bb5a03d699ac65007272c32ab0eded1631a8b605a43ff5bed"
                            "8086072ba1e7cc2358baeca134c825a7"},
        {hash_kind::sha512, "ddaf35a193617abacc417349ae20413112e6fa4e89a97ea20a9eeee64b55d39a"
                            "2192992a274fc1a836ba3c23a3feebbd454d4423643ce80e2a9ac94fa54ca49f"},
    };
    for (const auto& r : rows) EXPECT_EQ(digest_hex(r.k, text("abc")), r.want);
}

TEST(EvpHash, CopyForksAndStringFormIsLengthPrefixed) {
    for (hash_kind k : {hash_kind::sha1, hash_kind::sha256, hash_kind::sha384, hash_kind::sha512}) {
        hash_context h(k);
        h.update("ab", 2);
        hash_context fork(h);
        hash_context assigned(hash_kind::sha1);
        assigned = h;
        h.update("c", 1);
        fork.update("x", 1);
        assigned.absorb_string("yz", 2);
        uint8_t a[max_digest_length], b[max_digest_length], c[max_digest_length];
        ASSERT_EQ(h.final(a), digest_length(k));
        ASSERT_EQ(fork.final(b), digest_length(k));
        ASSERT_EQ(assigned.final(c), digest_length(k));
        EXPECT_EQ(to_hex(a, digest_length(k)), digest_hex(k, text("abc")));
        EXPECT_EQ(to_hex(b, digest_length(k)), digest_hex(k, text("abx")));
        EXPECT_EQ(to_hex(c, digest_length(k)), digest_hex(k, bytes{'a', 'b', 0, 0, 0, 2, 'y', 'z'}));
        // Spent: a second final reports failure instead of a digest of nothing.
        EXPECT_EQ(h.final(a), 0u);
    }
}

// ---- HMAC

// RFC 4231 cases 1, 2 and 6; the first four bytes of each message travel as the sequence number.
TEST(EvpHmac, Rfc4231WithSequenceNumberPrefix) {
    const bytes big_key(131, 0xaa);
    const struct {
        bytes key;
        const char* msg;
        hash_kind k;
        const char* want;
    } rows[] = {
        {bytes(20, 0x0b), "Hi There", hash_kind::sha256,
         "b0344c61d8db38535ca8afceaf0bf12b881dc200c9833da726e9376c2e32cff7"},
        {bytes(20, 0x0b), "Hi There", hash_kind::sha512,
         "87aa7cdea5ef619d4ff0b4241a1d6cb02379f4e2ce4ec2787ad0b30545e17cdedaa833b7d6b8a702038b274eaea3f4e4"
         "be9d914eeb61f1702e696c203a126854"},
        {text("Jefe"), "what do ya want for nothing?", hash_kind::sha384,
         "af45d2e376484031617f78d2b58a6b1b9c7ef464f5a01b47e42ec3736322445e8e2240ca5e69e2c78b3239ecfab21649"},
        {big_key, "Test Using Larger Than Block-Size Key - Hash Key First", hash_kind::sha256,
         "60e431591ee0b67f0d8a26aacbf5b77f8e0bc6213728c5140546040f0ee37f54"},
        {big_key, "Test Using Larger Than Block-Size Key - Hash Key First", hash_kind::sha512,
         "80b24263c7c1a3ebb71493c1dd7be8b49b46d1f41b4aeec1121b013783f8f3526b56d037e05f2598bd0fd2215d6a1e52"
         "95e64f73f63f0aec8b915a985d786598"},
    };
    for (const auto& r : rows) {
        hmac m(r.k, r.key.data(), r.key.size());
        ASSERT_TRUE(m.ok());
        bytes msg = text(r.msg);
        const uint32_t seq = uint32_t(msg[0]) << 24 | uint32_t(msg[1]) << 16 | uint32_t(msg[2]) << 8 | msg[3];
        uint8_t out[max_digest_length];
        m.compute(seq, msg.data() + 4, msg.size() - 4, out);
        EXPECT_EQ(to_hex(out, m.length()), r.want) << r.msg;
    }
}

TEST(EvpHmac, SequencedMacsAndTampering) {
    for (const auto& r : fixtures::load("evp_hmac.txt")) {
        const bytes key = hex(r.at("key")), data = hex(r.at("data")), want = hex(r.at("mac"));
        hmac m(kind_named(r.at("hash")), key.data(), key.size());
        ASSERT_EQ(m.length(), want.size());
        uint8_t out[max_digest_length];
        // Twice, since the keyed context is re-used packet after packet.
        for (int i = 0; i < 2; ++i) {
            m.compute(seq_of(r), data.data(), data.size(), out);
            EXPECT_EQ(to_hex(out, m.length()), r.at("mac"));
        }
        EXPECT_TRUE(m.verify(seq_of(r), data.data(), data.size(), want.data()));
        EXPECT_FALSE(m.verify(seq_of(r) + 1, data.data(), data.size(), want.data()));
        for (std::size_t bit : {std::size_t(0), want.size() * 8 - 1}) {
            bytes bad = want;
            bad[bit / 8] ^= uint8_t(1 << (bit % 8));
            EXPECT_FALSE(m.verify(seq_of(r), data.data(), data.size(), bad.data()));
        }
    }
}

TEST(EvpHmac, OversizedKeyIsRefusedNotUsed) {
    const bytes key(5000, 1);
    hmac m(hash_kind::sha256, key.data(), key.size());
    EXPECT_FALSE(m.ok());
    uint8_t out[32];
    std::memset(out, 0x55, sizeof out);
    m.compute(1, key.data(), 10, out);
    EXPECT_EQ(to_hex(out, 32), std::string(64, '0'));
    EXPECT_FALSE(m.verify(1, key.data(), 10, out));
}

// ---- AES-CTR

TEST(EvpAesCtr, Sp80038aFirstBlock) {
    const bytes key = hex("2b7e151628aed2a6abf7158809cf4f3c"), iv = hex("f0f1f2f3f4f5f6f7f8f9fafbfcfdfeff");
    bytes buf = hex("6bc1bee22e409f96e93d7e117393172a");
    aes_ctr c(key.data(), key.size(), iv.data());
    c.apply(buf.data(), buf.size());
    EXPECT_EQ(to_hex(buf), "874d6191b620e3261bef6864990db6ce");
}

TEST(EvpAesCtr, StreamCarriesAcrossCallsAndCounterWords) {
    for (const auto& r : fixtures::load("evp_ctr.txt")) {
        const bytes key = hex(r.at("key")), iv = hex(r.at("iv")), plain = hex(r.at("plain"));
        aes_ctr whole(key.data(), key.size(), iv.data());
        ASSERT_TRUE(whole.ok());
        bytes a = plain;
        whole.apply(a.data(), a.size());
        EXPECT_EQ(to_hex(a), r.at("cipher"));
        // Pieces that end mid-block: the counter and the unused keystream carry over.
        aes_ctr pieces(key.data(), key.size(), iv.data());
        bytes b = plain;
        std::size_t off = 0;
        for (std::size_t n : {1, 15, 17, 3, 64}) {
            pieces.apply(b.data() + off, n);
            off += n;
        }
        EXPECT_EQ(to_hex(b), r.at("cipher"));
    }
}

TEST(EvpAesCtr, BadKeyLengthZeroesInsteadOfLeakingPlaintext) {
    const bytes key(20, 1), iv(16, 0);
    aes_ctr c(key.data(), key.size(), iv.data());
    EXPECT_FALSE(c.ok());
    bytes buf = text("secret");
    c.apply(buf.data(), buf.size());
    EXPECT_EQ(buf, bytes(6, 0));
}

// ---- AES-GCM

// Test cases 4 and 16 of the GCM paper (20 bytes of additional data), then the next packet's IV.
TEST(EvpAesGcm, PublishedVectorsThenCounterMovesOn) {
    const bytes k128 = hex("feffe9928665731c6d6a8f9467308308"), iv = hex("cafebabefacedbaddecaf888");
    const bytes plain =
        hex("d9313225f88406e5a55909c5aff5269a86a7a9531534f7da2e4c303d8a318a721c3c0c95956809532fcf0e2449a6b525b16aedf5"
            "aa0de657ba637b39");
    const bytes aad = hex("feedfacedeadbeeffeedfacedeadbeefabaddad2");
    bytes k256 = k128;
    k256.insert(k256.end(), k128.begin(), k128.end());
    const struct {
        bytes key;
        const char *cipher, *tag;
    } rows[] = {
        {k128,
         "42831ec2217774244b7221b784d0d49ce3aa212f2c02a4e035c17e2329aca12e21d514b25466931c7d8f6a5aac84aa051ba30b396a"
         "0aac973d58e091",
         "5bc94fbc3221a5db94fae95ae7121a47"},
        {k256,
         "522dc1f099567d07f47f37a32a84427d643a8cdcbfe5c0c97598a2bd2555d1aa8cb08e48590dbb3da7b08b1056828838c5f61e6393"
         "ba7a0abcc9f662",
         "76fc6ece0f4e1768cddf8853bb2d551b"},
    };
    EXPECT_FALSE(aes_gcm(k128.data(), 17, iv.data()).ok());
    for (const auto& r : rows) {
        aes_gcm g(r.key.data(), r.key.size(), iv.data());
        ASSERT_TRUE(g.ok());
        bytes buf = plain;
        uint8_t tag[16];
        g.seal(aad, buf.data(), buf.size(), tag);
        EXPECT_EQ(to_hex(buf), r.cipher);
        EXPECT_EQ(to_hex(tag, 16), r.tag);
        // Same plaintext again: the IV has moved, so the output must differ.
        bytes again = plain;
        g.seal(aad, again.data(), again.size(), tag);
        EXPECT_NE(to_hex(again), r.cipher);
    }
}

TEST(EvpAesGcm, PacketSequenceSealsOpensAndRefusesTampering) {
    for (const auto& r : fixtures::load("evp_gcm.txt")) {
        const bytes key = hex(r.at("key")), iv = hex(r.at("iv"));
        aes_gcm sealer(key.data(), key.size(), iv.data()), opener(key.data(), key.size(), iv.data());
        for (int i = 0; r.count("aad" + std::to_string(i)); ++i) {
            const std::string n = std::to_string(i);
            const bytes aad = hex(r.at("aad" + n)), plain = hex(r.at("plain" + n));
            bytes buf = plain;
            uint8_t tag[16];
            sealer.seal(aad.data(), buf.data(), buf.size(), tag);
            EXPECT_EQ(buf, hex(r.at("cipher" + n))) << "packet " << i;
            EXPECT_EQ(to_hex(tag, 16), r.at("tag" + n)) << "packet " << i;

            // Tampered copies go to an opener at the same position; each refusal still uses up that IV.
            const bytes sealed = buf;
            bytes bad_tag(tag, tag + 16);
            bad_tag[15] ^= 1;
            bytes bad_aad = aad, bad_body = sealed;
            bad_aad[3] ^= 0x80;
            if (!bad_body.empty()) bad_body.back() ^= 0x01;
            struct {
                bytes aad, body, tag;
            } tampered[] = {{aad, sealed, bad_tag},
                            {bad_aad, sealed, bytes(tag, tag + 16)},
                            {aad, bad_body, bytes(tag, tag + 16)}};
            for (auto& t : tampered) {
                if (t.body == sealed && &t == &tampered[2]) continue;  // an empty packet has no body bit to flip
                aes_gcm probe(key.data(), key.size(), iv.data());
                for (int skip = 0; skip < i; ++skip) {
                    uint8_t z[16] = {};
                    probe.open(aad.data(), nullptr, 0, z);
                }
                EXPECT_FALSE(probe.open(t.aad.data(), t.body.data(), t.body.size(), t.tag.data()));
                EXPECT_EQ(t.body, bytes(t.body.size(), 0)) << "unauthenticated plaintext left behind";
            }
            ASSERT_TRUE(opener.open(aad.data(), buf.data(), buf.size(), tag)) << "packet " << i;
            EXPECT_EQ(buf, plain);
        }
    }
}

// ---- chacha20-poly1305@openssh.com

// All-zero keys at sequence number 0: the poly1305 key and the payload are RFC 8439 A.1 #1 and #2.
TEST(EvpChachaPoly, ZeroKeyGivesRfc8439Keystream) {
    const uint8_t key[64] = {};
    chacha20_poly1305 c(key);
    ASSERT_TRUE(c.ok());
    bytes pkt(4 + 64, 0);
    pkt[3] = 64;
    uint8_t tag[16];
    c.seal(0, pkt.data(), 64, tag);
    // K_1 is zero too, so the length is masked by the first four bytes of block 0.
    EXPECT_EQ(to_hex(pkt.data(), 4), "76b8e0ed");
    EXPECT_EQ(to_hex(pkt.data() + 4, 64),
              "9f07e7be5551387a98ba977c732d080dcb0f29a048e3656912c6533e32ee7aed29b721769ce64e43d57133b074d839d531ed1f"
              "28510afb45ace10a1f4b794d6f");
    EXPECT_EQ(c.decrypt_length(0, pkt.data()), 64u);
}

TEST(EvpChachaPoly, OpensshPacketsSealOpenAndRefuseTampering) {
    for (const auto& r : fixtures::load("evp_chachapoly.txt")) {
        const bytes key = hex(r.at("key")), plain = hex(r.at("plain")), packet = hex(r.at("packet"));
        const std::size_t n = plain.size() - 4;
        const uint32_t seq = seq_of(r);
        chacha20_poly1305 c(key.data());
        bytes buf = plain;
        uint8_t tag[16];
        c.seal(seq, buf.data(), n, tag);
        EXPECT_EQ(to_hex(buf), r.at("packet")) << "seq " << seq;
        EXPECT_EQ(to_hex(tag, 16), r.at("tag")) << "seq " << seq;
        EXPECT_EQ(c.decrypt_length(seq, packet.data()), n);

        chacha20_poly1305 d(key.data());
        bytes good_tag = hex(r.at("tag"));
        bytes bad_tag = good_tag;
        bad_tag[0] ^= 0x01;
        bytes bad_len = packet, bad_body = packet;
        bad_len[0] ^= 0x80;
        bad_body.back() ^= 0x01;
        const struct {
            uint32_t seq;
            bytes pkt, tag;
        } tampered[] = {{seq, packet, bad_tag},
                        {seq, bad_len, good_tag},
                        {seq, bad_body, good_tag},
                        {seq + 1, packet, good_tag}};
        for (const auto& t : tampered) {
            bytes p = t.pkt;
            EXPECT_FALSE(d.open(t.seq, p.data(), n, t.tag.data()));
            EXPECT_EQ(p, t.pkt) << "a refused packet must be left as it came";
        }
        bytes p = packet;
        ASSERT_TRUE(d.open(seq, p.data(), n, good_tag.data()));
        EXPECT_TRUE(std::equal(p.begin(), p.begin() + 4, packet.begin())) << "length bytes stay encrypted";
        EXPECT_TRUE(std::equal(p.begin() + 4, p.end(), plain.begin() + 4));
    }
}

// ---- key exchange

namespace {
std::unique_ptr<kex_share> share_from(const std::string& kind, const bytes& priv) {
    if (kind == "x25519") return make_x25519(priv);
    if (kind == "modp14") return make_modp(14, priv);
    return make_ecdh(std::stoi(kind.substr(4)), priv);
}
}  // namespace

TEST(EvpKex, KnownAnswers) {
    for (const auto& r : fixtures::load("evp_kex.txt")) {
        auto s = share_from(r.at("kind"), hex(r.at("priv")));
        ASSERT_TRUE(s) << r.at("kind");
        auto pub = s->public_value();
        EXPECT_EQ(to_hex(pub.data(), pub.size()), r.at("pub")) << r.at("kind");
        auto k = s->shared(hex(r.at("peer")));
        ASSERT_TRUE(k) << r.at("kind");
        EXPECT_EQ(to_hex(*k), r.at("shared")) << r.at("kind");
    }
}

// RFC 7748 section 6.1: Alice's and Bob's keys and their common secret.
TEST(EvpKex, X25519Rfc7748) {
    auto alice = make_x25519(hex("77076d0a7318a57d3c16c17251b26645df4c2f87ebc0992ab177fba51db92c2a"));
    ASSERT_TRUE(alice);
    EXPECT_EQ(to_hex(alice->public_value().data(), 32),
              "8520f0098930a754748b7ddcb43ef75a0dbf3a0d26381af4eba4a98eaa9b4e6a");
    auto k = alice->shared(hex("de9edb7d7b7dc1b4d35b61c2ece435373f8343c85b78674dadfc7e146f882b4f"));
    ASSERT_TRUE(k);
    EXPECT_EQ(to_hex(*k), "4a5d9d5ba4ce2de1728e3bf480350f25e07e21c947d19e3376f09b3c1e161742");
}

TEST(EvpKex, FreshPairsAgree) {
    const std::function<std::unique_ptr<kex_share>()> makers[] = {
        [] { return make_x25519(); },  [] { return make_ecdh(256); }, [] { return make_ecdh(384); },
        [] { return make_ecdh(521); }, [] { return make_modp(14); },  [] { return make_modp(16); }};
    const std::size_t pub_sizes[] = {32, 65, 97, 133, 256, 512};
    for (std::size_t i = 0; i < std::size(makers); ++i) {
        auto a = makers[i](), b = makers[i]();
        ASSERT_TRUE(a && b) << i;
        EXPECT_LE(a->public_value().size(), pub_sizes[i]);
        EXPECT_GE(a->public_value().size(), pub_sizes[i] - 8);  // MODP values may lose a few leading zero bytes
        EXPECT_NE(to_hex(a->public_value().data(), a->public_value().size()),
                  to_hex(b->public_value().data(), b->public_value().size()));
        auto ka = a->shared(b->public_value()), kb = b->shared(a->public_value());
        ASSERT_TRUE(ka && kb) << i;
        EXPECT_EQ(*ka, *kb);
        EXPECT_NE((*ka)[0], 0) << "leading zero bytes are stripped";
    }
}

TEST(EvpKex, BadPeerValuesAreRefused) {
    auto x = make_x25519();
    auto e = make_ecdh(256);
    auto m = make_modp(14);
    ASSERT_TRUE(x && e && m);
    const bytes good_point(e->public_value().begin(), e->public_value().end());
    bytes off_curve = good_point, compressed(good_point.begin(), good_point.begin() + 33);
    off_curve.back() ^= 1;
    compressed[0] = 0x02;
    bytes p = hex(
        "ffffffffffffffffc90fdaa22168c234c4c6628b80dc1cd129024e088a67cc74020bbea63b139b22514a08798e3404ddef9519b3cd3a"
        "431b302b0a6df25f14374fe1356d6d51c245e485b576625e7ec6f44c42e9a637ed6b0bff5cb6f406b7edee386bfb5a899fa5ae9f2411"
        "7c4b1fe649286651ece45b3dc2007cb8a163bf0598da48361c55d39a69163fa8fd24cf5f83655d23dca3ad961c62f356208552bb9ed5"
        "29077096966d670c354e4abc9804f1746c08ca18217c32905e462e36ce3be39e772c180e86039b2783a2ec07a28fb5c55df06f4c52c9"
        "de2bcbf6955817183995497cea956ae515d2261898fa051015728e5a8aacaa68ffffffffffffffff");
    bytes p_minus_1 = p, p_plus_1 = p;
    p_minus_1.back() ^= 1;
    p_plus_1.insert(p_plus_1.begin(), 0x01);  // longer than p
    bytes u1(32, 0);
    u1[0] = 1;
    const struct {
        kex_share* s;
        bytes peer;
        const char* what;
    } rows[] = {
        {x.get(), bytes(31, 9), "x25519 short"},
        {x.get(), bytes(33, 9), "x25519 long"},
        {x.get(), bytes(32, 0), "x25519 u = 0"},
        {x.get(), u1, "x25519 u = 1 (small order)"},
        {e.get(), off_curve, "point off the curve"},
        {e.get(), compressed, "compressed point"},
        {e.get(), bytes{0x00}, "point at infinity"},
        {e.get(), bytes(64, 1), "no 0x04 prefix"},
        {e.get(), bytes{}, "empty"},
        {m.get(), bytes{}, "f = 0 (empty)"},
        {m.get(), bytes{0, 0, 1}, "f = 1"},
        {m.get(), p_minus_1, "f = p - 1"},
        {m.get(), p, "f = p"},
        {m.get(), p_plus_1, "f > p"},
    };
    for (const auto& r : rows) EXPECT_FALSE(r.s->shared(r.peer)) << r.what;
    // The good value still works after all that.
    EXPECT_TRUE(e->shared(good_point));
}

TEST(EvpKex, OutOfRangeChoicesGiveNoShare) {
    EXPECT_FALSE(make_ecdh(255));
    EXPECT_FALSE(make_modp(15));
    EXPECT_FALSE(make_x25519(bytes(31, 1)));
    EXPECT_FALSE(make_ecdh(256, bytes(32, 0)));
    EXPECT_FALSE(make_ecdh(256, bytes(32, 0xff)));  // above the group order
    EXPECT_FALSE(make_modp(14, bytes{1}));
}

// ---- host-key signatures

TEST(EvpSignature, FixturesVerifyAndEveryTamperFails) {
    for (const auto& r : fixtures::load("evp_signatures.txt")) {
        const std::string alg(r.at("alg"), 1, r.at("alg").size() - 2);
        const bytes key = hex(r.at("key")), sig = hex(r.at("sig")), h = hex(r.at("h"));
        const bool valid = r.at("valid") == "1";
        EXPECT_EQ(verify_host_signature(alg, key, sig, h), valid) << alg;
        if (!valid) continue;
        bytes bad_sig = sig, bad_key = key, bad_h = h, long_sig = sig, long_key = key, bad_name = sig;
        bad_sig.back() ^= 0x01;
        bad_name[5] ^= 0x20;  // the second letter of the name inside the signature changes case
        bad_key.back() ^= 0x01;
        bad_h[0] ^= 0x80;
        long_sig.push_back(0);
        long_key.push_back(0);
        EXPECT_FALSE(verify_host_signature(alg, key, bad_sig, h)) << alg << ": signature bit";
        EXPECT_FALSE(verify_host_signature(alg, bad_key, sig, h)) << alg << ": key bit";
        EXPECT_FALSE(verify_host_signature(alg, key, sig, bad_h)) << alg << ": data bit";
        EXPECT_FALSE(verify_host_signature(alg, key, bad_name, h)) << alg << ": name in the signature";
        EXPECT_FALSE(verify_host_signature(alg, key, long_sig, h)) << alg << ": trailing byte";
        EXPECT_FALSE(verify_host_signature(alg, long_key, sig, h)) << alg << ": trailing byte in key";
        for (std::size_t n = 0; n < sig.size(); n += 7)
            EXPECT_FALSE(verify_host_signature(alg, key, std::span(sig.data(), n), h)) << alg << " cut at " << n;
        for (std::size_t n = 0; n < key.size(); n += 7)
            EXPECT_FALSE(verify_host_signature(alg, std::span(key.data(), n), sig, h)) << alg << " cut at " << n;
    }
}

TEST(EvpSignature, NameMustBeTheNegotiatedOne) {
    std::map<std::string, fixtures::record> by_alg;
    for (const auto& r : fixtures::load("evp_signatures.txt"))
        if (r.at("valid") == "1") by_alg[std::string(r.at("alg"), 1, r.at("alg").size() - 2)] = r;
    const struct {
        const char *signed_as, *verified_as;
    } rows[] = {{"rsa-sha2-256", "rsa-sha2-512"}, {"rsa-sha2-512", "ssh-rsa"},
                {"ssh-rsa", "rsa-sha2-256"},      {"ecdsa-sha2-nistp256", "ecdsa-sha2-nistp384"},
                {"ssh-ed25519", "ssh-dss"},       {"ssh-ed25519", "unknown-alg"}};
    for (const auto& row : rows) {
        const auto& r = by_alg.at(row.signed_as);
        EXPECT_FALSE(verify_host_signature(row.verified_as, hex(r.at("key")), hex(r.at("sig")), hex(r.at("h"))))
            << row.signed_as << " as " << row.verified_as;
    }
    // An ecdsa key under an RSA name, and an RSA signature with an ed25519 key.
    const auto &ec = by_alg.at("ecdsa-sha2-nistp256"), &rsa = by_alg.at("rsa-sha2-256"), &ed = by_alg.at("ssh-ed25519");
    EXPECT_FALSE(verify_host_signature("rsa-sha2-256", hex(ec.at("key")), hex(rsa.at("sig")), hex(rsa.at("h"))));
    EXPECT_FALSE(verify_host_signature("ssh-ed25519", hex(rsa.at("key")), hex(ed.at("sig")), hex(ed.at("h"))));
}

TEST(EvpSignature, KeyTypeNames) {
    std::vector<std::pair<bytes, std::string>> rows;
    for (const auto& r : fixtures::load("evp_signatures.txt")) {
        const std::string alg(r.at("alg"), 1, r.at("alg").size() - 2);
        const bytes key = hex(r.at("key"));
        rows.emplace_back(key, alg.rfind("rsa", 0) == 0 || alg == "ssh-rsa" ? "ssh-rsa" : alg);
        bytes trailing = key;
        trailing.push_back(0);
        rows.emplace_back(trailing, "");
    }
    rows.emplace_back(hex(fixtures::load("dsa_signatures.txt").at(0).at("key")), "ssh-dss");
    bytes unknown = hex("0000000f666f6f406578616d706c652e636f6d"
                        "00000001ff");  // "foo@example.com", one field
    rows.emplace_back(unknown, "foo@example.com");
    bytes ctrl = hex("00000003612062");  // "a b": a space is no part of a name
    rows.emplace_back(ctrl, "");
    rows.emplace_back(bytes{}, "");
    bytes ed_short = rows[0].first;  // the ed25519 key
    ed_short.pop_back();
    rows.emplace_back(ed_short, "");
    bytes ec_wrong_curve = hex("00000013"
                               "65636473612d736861322d6e69737470323536"
                               "00000008"
                               "6e69737470333834");
    rows.emplace_back(ec_wrong_curve, "");
    for (const auto& [blob, want] : rows) EXPECT_EQ(key_type(blob), want) << to_hex(blob);
}
