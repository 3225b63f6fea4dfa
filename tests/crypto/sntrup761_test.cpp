// sntrup761 against the first published known answer (regenerated with the NIST KAT generator, and decapsulated
// from its bytes), in round trips, and on forged ciphertexts, whose key must be the implicit-rejection
// key recomputed here from rho with libcrypto's SHA-512.
#include "crypto/sntrup761.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <array>
#include <cstring>
#include <string>

#include "crypto/evp.h"
#include "fixtures.h"

using namespace crypto::sntrup761;
using fixtures::bytes;
using fixtures::hex;
using fixtures::to_hex;

namespace {

// The NIST PQC KAT generator (AES-256 CTR_DRBG without derivation function, rng.c of the submission packages):
// every request is answered from the counter stream and followed by a state update.
class nist_drbg {
public:
    explicit nist_drbg(const std::uint8_t seed[48]) {
        std::uint8_t material[48];
        std::memcpy(material, seed, sizeof material);
        update(material);
    }
    void fill(std::uint8_t* out, std::size_t n) {
        while (n > 0) {
            std::uint8_t block[16];
            increment();
            encrypt(v_, block);
            const std::size_t take = n < 16 ? n : 16;
            std::memcpy(out, block, take);
            out += take;
            n -= take;
        }
        update(nullptr);
    }
    static void callback(void* self, std::uint8_t* out, std::size_t n) { static_cast<nist_drbg*>(self)->fill(out, n); }

private:
    void increment() {
        for (int j = 15; j >= 0; --j)
            if (++v_[j] != 0) break;
    }
    void encrypt(const std::uint8_t in[16], std::uint8_t out[16]) const {
        EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
        int len = 0;
        const bool ok = ctx && EVP_EncryptInit_ex(ctx, EVP_aes_256_ecb(), nullptr, key_, nullptr) == 1 &&
                        EVP_CIPHER_CTX_set_padding(ctx, 0) == 1 && EVP_EncryptUpdate(ctx, out, &len, in, 16) == 1;
        EVP_CIPHER_CTX_free(ctx);
        if (!ok || len != 16) throw std::runtime_error("AES-256-ECB failed");
    }
    void update(const std::uint8_t* provided) {
        std::uint8_t temp[48];
        for (int i = 0; i < 3; ++i) {
            increment();
            encrypt(v_, temp + 16 * i);
        }
        if (provided)
            for (int i = 0; i < 48; ++i) temp[i] ^= provided[i];
        std::memcpy(key_, temp, 32);
        std::memcpy(v_, temp + 32, 16);
    }
    std::uint8_t key_[32] = {};
    std::uint8_t v_[16] = {};
};

// A plain AES-256-CTR key stream (key: 32 bytes of one value, IV zero), read in order whatever the request sizes:
// the random source the OpenSSH vectors were made with.
class ctr_stream {
public:
    explicit ctr_stream(int k) : ctx_(EVP_CIPHER_CTX_new()) {
        std::uint8_t key[32], iv[16] = {};
        std::memset(key, k, sizeof key);
        if (!ctx_ || EVP_EncryptInit_ex(ctx_, EVP_aes_256_ctr(), nullptr, key, iv) != 1)
            throw std::runtime_error("AES-256-CTR failed");
    }
    ~ctr_stream() { EVP_CIPHER_CTX_free(ctx_); }
    ctr_stream(const ctr_stream&) = delete;
    ctr_stream& operator=(const ctr_stream&) = delete;
    void fill(std::uint8_t* out, std::size_t n) {
        std::memset(out, 0, n);
        int len = 0;
        if (EVP_EncryptUpdate(ctx_, out, &len, out, int(n)) != 1 || std::size_t(len) != n)
            throw std::runtime_error("AES-256-CTR failed");
    }
    static void callback(void* self, std::uint8_t* out, std::size_t n) { static_cast<ctr_stream*>(self)->fill(out, n); }

private:
    EVP_CIPHER_CTX* ctx_;
};

std::string sha256_hex(const std::uint8_t* p, std::size_t n) {
    std::uint8_t out[crypto::evp::max_digest_length];
    EXPECT_EQ(crypto::evp::digest(crypto::evp::hash_kind::sha256, p, n, out), 32u);
    return to_hex(out, 32);
}

// The key a rejected ciphertext must give: SHA-512(0 || SHA-512(3 || rho)[0..32) || ct)[0..32).
std::string rejection_key(const std::uint8_t* sk, const std::uint8_t* ct) {
    constexpr std::size_t small_bytes = 191;
    const std::uint8_t* rho = sk + 2 * small_bytes + public_key_size;
    using crypto::evp::hash_context;
    using crypto::evp::hash_kind;
    std::uint8_t inner[64], outer[64];
    hash_context h3(hash_kind::sha512);
    h3.update("\3", 1);
    h3.update(rho, small_bytes);
    h3.final(inner);
    hash_context h0(hash_kind::sha512);
    h0.update("\0", 1);
    h0.update(inner, 32);
    h0.update(ct, ciphertext_size);
    h0.final(outer);
    return to_hex(outer, 32);
}

struct key_pair {
    std::array<std::uint8_t, public_key_size> pk;
    std::array<std::uint8_t, secret_key_size> sk;
};

}  // namespace

// The first entry (count 0) of the KAT file kat_kem.rsp: the NIST generator seeded with the bytes 0..47 gives the
// entry's seed, which reseeds it for keypair and then enc. sk (which holds pk), ct and ss are in data/sntrup761/kat0.txt
// (see its header for where they come from).
TEST(Sntrup761Kat, FirstNistEntry) {
    const auto rows = fixtures::load("sntrup761/kat0.txt");
    ASSERT_EQ(rows.size(), 1u);
    const auto& want = rows[0];
    std::uint8_t entropy[48];
    for (int i = 0; i < 48; ++i) entropy[i] = std::uint8_t(i);
    nist_drbg outer(entropy);
    std::uint8_t seed[48];
    outer.fill(seed, sizeof seed);
    // The seed every NIST KAT file starts with.
    ASSERT_EQ(to_hex(seed, sizeof seed), want.at("seed"));
    nist_drbg rng(seed);

    key_pair k;
    std::uint8_t ct[ciphertext_size], ss[shared_secret_size], ss2[shared_secret_size];
    keypair(k.pk.data(), k.sk.data(), nist_drbg::callback, &rng);
    enc(ct, ss, k.pk.data(), nist_drbg::callback, &rng);
    dec(ss2, ct, k.sk.data());
    EXPECT_EQ(to_hex(k.sk.data(), k.sk.size()), want.at("sk"));
    EXPECT_EQ(to_hex(k.pk.data(), k.pk.size()), want.at("sk").substr(2 * 2 * 191, 2 * public_key_size));
    EXPECT_EQ(to_hex(ct, sizeof ct), want.at("ct"));
    EXPECT_EQ(to_hex(ss, sizeof ss), want.at("ss"));
    EXPECT_EQ(to_hex(ss2, sizeof ss2), want.at("ss"));
}

// The same vector decapsulated from its bytes alone, and one bit off: rejected with the key derived from its rho.
TEST(Sntrup761Kat, DecapsulatesPublishedVector) {
    const auto rows = fixtures::load("sntrup761/kat0.txt");
    ASSERT_EQ(rows.size(), 1u);
    const bytes sk = hex(rows[0].at("sk")), ct = hex(rows[0].at("ct"));
    ASSERT_EQ(sk.size(), secret_key_size);
    ASSERT_EQ(ct.size(), ciphertext_size);
    std::uint8_t ss[shared_secret_size];
    dec(ss, ct.data(), sk.data());
    EXPECT_EQ(to_hex(ss, sizeof ss), rows[0].at("ss"));
    bytes forged = ct;
    forged[500] ^= 0x10;
    dec(ss, forged.data(), sk.data());
    EXPECT_EQ(to_hex(ss, sizeof ss), rejection_key(sk.data(), forged.data()));
}

TEST(Sntrup761, RoundTripsWithSystemRandomness) {
    std::string previous_pk, previous_ss;
    for (int round = 0; round < 3; ++round) {
        key_pair k;
        keypair(k.pk.data(), k.sk.data());
        // The secret key carries the public key verbatim; the two are made together.
        EXPECT_EQ(std::memcmp(k.sk.data() + 2 * 191, k.pk.data(), public_key_size), 0);
        for (int i = 0; i < 2; ++i) {
            std::uint8_t ct[ciphertext_size], ss[shared_secret_size], ss2[shared_secret_size];
            enc(ct, ss, k.pk.data());
            dec(ss2, ct, k.sk.data());
            EXPECT_EQ(to_hex(ss2, sizeof ss2), to_hex(ss, sizeof ss));
            EXPECT_NE(to_hex(ss, sizeof ss), rejection_key(k.sk.data(), ct));
            EXPECT_NE(to_hex(ss, sizeof ss), previous_ss);
            previous_ss = to_hex(ss, sizeof ss);
        }
        EXPECT_NE(to_hex(k.pk.data(), k.pk.size()), previous_pk);
        previous_pk = to_hex(k.pk.data(), k.pk.size());
    }
}

// Every kind of forgery (a flipped bit in the rounded polynomial, in its last bytes, in the confirmation, a zeroed or
// all-ones ciphertext, one made for another key) must give the implicit-rejection key, the same each time.
TEST(Sntrup761, ForgedCiphertextsGiveTheRejectionKey) {
    std::uint8_t seed[48] = {7};
    nist_drbg rng(seed);
    key_pair k, other;
    keypair(k.pk.data(), k.sk.data(), nist_drbg::callback, &rng);
    keypair(other.pk.data(), other.sk.data(), nist_drbg::callback, &rng);
    std::uint8_t ct[ciphertext_size], ss[shared_secret_size];
    enc(ct, ss, k.pk.data(), nist_drbg::callback, &rng);
    const std::string good = to_hex(ss, sizeof ss);

    struct forgery {
        const char* what;
        std::size_t at;  // byte to flip, or ciphertext_size for a whole replacement below
        std::uint8_t bit;
        int whole;  // 0: flip, 1: zeros, 2: ones, 3: made for the other key
    };
    const forgery rows[] = {
        {"first byte", 0, 0x01, 0},
        {"middle of the polynomial", 503, 0x80, 0},
        {"last polynomial byte", 1006, 0x04, 0},
        {"first confirmation byte", 1007, 0x01, 0},
        {"last confirmation byte", 1038, 0x80, 0},
        {"all zeros", 0, 0, 1},
        {"all ones", 0, 0, 2},
        {"for another key", 0, 0, 3},
    };
    for (const auto& f : rows) {
        std::uint8_t forged[ciphertext_size];
        std::memcpy(forged, ct, sizeof ct);
        if (f.whole == 0) forged[f.at] ^= f.bit;
        if (f.whole == 1) std::memset(forged, 0, sizeof forged);
        if (f.whole == 2) std::memset(forged, 0xff, sizeof forged);
        if (f.whole == 3) {
            std::uint8_t unused[shared_secret_size];
            enc(forged, unused, other.pk.data(), nist_drbg::callback, &rng);
        }
        std::uint8_t got[shared_secret_size], again[shared_secret_size];
        dec(got, forged, k.sk.data());
        dec(again, forged, k.sk.data());
        EXPECT_EQ(to_hex(got, sizeof got), rejection_key(k.sk.data(), forged)) << f.what;
        EXPECT_EQ(to_hex(again, sizeof again), to_hex(got, sizeof got)) << f.what;
        EXPECT_NE(to_hex(got, sizeof got), good) << f.what;
    }
    // The untouched ciphertext still decapsulates after all that.
    dec(ss, ct, k.sk.data());
    EXPECT_EQ(to_hex(ss, sizeof ss), good);
}

// Every byte of a ciphertext flipped in turn: always the rejection key, never the real one (bounds the decoder
// on every byte position, and checks the comparison covers the whole ciphertext).
TEST(Sntrup761, EveryFlippedByteIsRejected) {
    std::uint8_t seed[48] = {9};
    nist_drbg rng(seed);
    key_pair k;
    keypair(k.pk.data(), k.sk.data(), nist_drbg::callback, &rng);
    std::uint8_t ct[ciphertext_size], ss[shared_secret_size];
    enc(ct, ss, k.pk.data(), nist_drbg::callback, &rng);
    int accepted = 0, wrong_key = 0;
    for (std::size_t i = 0; i < ciphertext_size; ++i) {
        ct[i] ^= 0xa5;
        std::uint8_t got[shared_secret_size];
        dec(got, ct, k.sk.data());
        accepted += std::memcmp(got, ss, sizeof ss) == 0;
        wrong_key += to_hex(got, sizeof got) != rejection_key(k.sk.data(), ct);
        ct[i] ^= 0xa5;
    }
    EXPECT_EQ(accepted, 0);
    EXPECT_EQ(wrong_key, 0);
}

// The same random bytes give OpenSSH's keys, ciphertexts and session keys (data/sntrup761/openssh_peer.txt), also
// for public keys and ciphertexts that are arbitrary bytes, whose out-of-range digits both sides must reduce alike,
// and for well-formed ciphertexts of an r of the wrong weight, which only the weight check rejects.
TEST(Sntrup761Peer, MatchesOpensshOnTheSameRandomBytes) {
    const auto rows = fixtures::load("sntrup761/openssh_peer.txt");
    ASSERT_EQ(rows.size(), 14u);
    for (const auto& row : rows) {
        const std::string what = row.at("kind") + " " + row.at("stream");
        ctr_stream rng(std::stoi(row.at("stream")));
        const bool filled = row.count("fill") != 0;
        const int fill = filled ? int(std::stoul(row.at("fill"), nullptr, 16)) : 0;
        key_pair k;
        std::uint8_t ct[ciphertext_size], ss[shared_secret_size];
        if (row.at("kind") == "pair") {
            keypair(k.pk.data(), k.sk.data(), ctr_stream::callback, &rng);
            enc(ct, ss, k.pk.data(), ctr_stream::callback, &rng);
            EXPECT_EQ(sha256_hex(k.pk.data(), k.pk.size()), row.at("pk_sha256")) << what;
            EXPECT_EQ(sha256_hex(k.sk.data(), k.sk.size()), row.at("sk_sha256")) << what;
            EXPECT_EQ(sha256_hex(ct, sizeof ct), row.at("ct_sha256")) << what;
        } else if (row.at("kind") == "enc") {
            if (filled)
                std::memset(k.pk.data(), fill, k.pk.size());
            else
                rng.fill(k.pk.data(), k.pk.size());
            enc(ct, ss, k.pk.data(), ctr_stream::callback, &rng);
            EXPECT_EQ(sha256_hex(ct, sizeof ct), row.at("ct_sha256")) << what;
        } else if (row.at("kind") == "weight") {
            keypair(k.pk.data(), k.sk.data(), ctr_stream::callback, &rng);
            const bytes forged = hex(row.at("ct"));
            ASSERT_EQ(forged.size(), ciphertext_size) << what;
            dec(ss, forged.data(), k.sk.data());
            EXPECT_EQ(to_hex(ss, sizeof ss), rejection_key(k.sk.data(), forged.data())) << what;
        } else {
            keypair(k.pk.data(), k.sk.data(), ctr_stream::callback, &rng);
            if (filled)
                std::memset(ct, fill, sizeof ct);
            else
                rng.fill(ct, sizeof ct);
            dec(ss, ct, k.sk.data());
        }
        EXPECT_EQ(to_hex(ss, sizeof ss), row.at("ss")) << what;
    }
}
