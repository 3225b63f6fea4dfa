#include "crypto/mlkem768.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "fixtures.h"

using namespace crypto::mlkem768;
using fixtures::bytes;

namespace {

// SHA3-256 and SHAKE from libcrypto, independent of the code under test, to check hashed vectors.
std::string sha3_hex(const bytes& b) {
    std::uint8_t d[32];
    unsigned len = 0;
    EXPECT_EQ(1, EVP_Digest(b.data(), b.size(), d, &len, EVP_sha3_256(), nullptr));
    return fixtures::to_hex(d, 32);
}

bytes shake256(const bytes& a, const bytes& b, std::size_t out_len) {
    std::unique_ptr<EVP_MD_CTX, void (*)(EVP_MD_CTX*)> c(EVP_MD_CTX_new(), EVP_MD_CTX_free);
    bytes out(out_len);
    EXPECT_EQ(1, EVP_DigestInit_ex2(c.get(), EVP_shake256(), nullptr));
    EVP_DigestUpdate(c.get(), a.data(), a.size());
    EVP_DigestUpdate(c.get(), b.data(), b.size());
    EXPECT_EQ(1, EVP_DigestFinalXOF(c.get(), out.data(), out.size()));
    return out;
}

struct keys {
    bytes pk = bytes(public_key_size), sk = bytes(secret_key_size);
};

keys keys_from(std::uint8_t seed) {
    keys k;
    std::uint8_t d[32], z[32];
    for (int i = 0; i < 32; ++i) d[i] = std::uint8_t(seed + i), z[i] = std::uint8_t(seed * 7 + i);
    keypair_derand(d, z, k.pk.data(), k.sk.data());
    return k;
}

// Sets the 12-bit coefficient `index` (0..767) of pk's vector t.
void set_coefficient(bytes& pk, int index, unsigned value) {
    std::uint8_t* p = pk.data() + index / 2 * 3;
    if (index % 2 == 0) {
        p[0] = std::uint8_t(value);
        p[1] = std::uint8_t((p[1] & 0xf0) | (value >> 8));
    } else {
        p[1] = std::uint8_t((p[1] & 0x0f) | (value << 4));
        p[2] = std::uint8_t(value >> 4);
    }
}

#if defined(__SANITIZE_ADDRESS__)
constexpr bool sanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool sanitized = true;
#else
constexpr bool sanitized = false;
#endif
#else
constexpr bool sanitized = false;
#endif

}  // namespace

TEST(MlKem768, KeyGenMatchesAcvpVectors) {
    auto rows = fixtures::load("mlkem768/keygen.txt");
    ASSERT_EQ(rows.size(), 25u);
    for (auto& r : rows) {
        bytes d = fixtures::hex(r["d"]), z = fixtures::hex(r["z"]);
        keys k;
        keypair_derand(d.data(), z.data(), k.pk.data(), k.sk.data());
        EXPECT_EQ(sha3_hex(k.pk), r["ek_sha3"]) << "tc " << r["tc"];
        EXPECT_EQ(sha3_hex(k.sk), r["dk_sha3"]) << "tc " << r["tc"];
    }
}

TEST(MlKem768, EncapsMatchesAcvpVectors) {
    auto rows = fixtures::load("mlkem768/encaps.txt");
    ASSERT_EQ(rows.size(), 5u);
    for (auto& r : rows) {
        bytes pk = fixtures::hex(r["ek"]), m = fixtures::hex(r["m"]);
        ASSERT_EQ(pk.size(), public_key_size);
        bytes ct(ciphertext_size), ss(shared_secret_size);
        ASSERT_TRUE(encaps_derand(pk.data(), m.data(), ct.data(), ss.data())) << "tc " << r["tc"];
        EXPECT_EQ(sha3_hex(ct), r["c_sha3"]) << "tc " << r["tc"];
        EXPECT_EQ(fixtures::to_hex(ss), r["k"]) << "tc " << r["tc"];
    }
}

// The ACVP set mixes ciphertexts the key accepts with altered ones that must yield SHAKE256(z || c).
TEST(MlKem768, DecapsMatchesAcvpVectorsIncludingImplicitRejection) {
    auto rows = fixtures::load("mlkem768/decaps.txt");
    ASSERT_EQ(rows.size(), 7u);
    bytes sk = fixtures::hex(rows[0]["dk"]);
    ASSERT_EQ(sk.size(), secret_key_size);
    const bytes z(sk.end() - 32, sk.end());
    int rejected = 0, accepted = 0;
    for (std::size_t i = 1; i < rows.size(); ++i) {
        auto& r = rows[i];
        bytes ct = fixtures::hex(r["c"]), ss(shared_secret_size);
        ASSERT_EQ(ct.size(), ciphertext_size);
        ASSERT_TRUE(decaps(sk.data(), ct.data(), ss.data()));
        EXPECT_EQ(fixtures::to_hex(ss), r["k"]) << "tc " << r["tc"];
        const bool is_rejection = shake256(z, ct, 32) == ss;
        EXPECT_EQ(is_rejection, r["rejected"] == "yes") << "tc " << r["tc"];
        (is_rejection ? rejected : accepted)++;
    }
    EXPECT_EQ(rejected, 3);
    EXPECT_EQ(accepted, 3);
}

// Both directions of one exchange whose matrix needs more SHAKE128 output than the first squeeze gives.
TEST(MlKem768, UnluckyMatrixSampleReadsFurther) {
    auto r = fixtures::load("mlkem768/unlucky.txt").at(0);
    bytes pk = fixtures::hex(r["ek"]), sk = fixtures::hex(r["dk"]), m = fixtures::hex(r["m"]);
    bytes ct(ciphertext_size), ss(shared_secret_size), back(shared_secret_size);
    ASSERT_TRUE(encaps_derand(pk.data(), m.data(), ct.data(), ss.data()));
    EXPECT_EQ(fixtures::to_hex(ct), r["c"]);
    EXPECT_EQ(fixtures::to_hex(ss), r["k"]);
    ASSERT_TRUE(decaps(sk.data(), ct.data(), back.data()));
    EXPECT_EQ(back, ss);
}

TEST(MlKem768, CiphertextDifferingAfterZeroByteIsRejected) {
    auto r = fixtures::load("mlkem768/strcmp.txt").at(0);
    bytes sk = fixtures::hex(r["dk"]), ct = fixtures::hex(r["c"]), ss(shared_secret_size);
    ASSERT_TRUE(decaps(sk.data(), ct.data(), ss.data()));
    EXPECT_EQ(fixtures::to_hex(ss), r["k"]);
    EXPECT_EQ(ss, shake256(bytes(sk.end() - 32, sk.end()), ct, 32));
}

TEST(MlKem768, ModulusCheckRefusesCctvKeys) {
    for (auto& r : fixtures::load("mlkem768/modulus.txt")) {
        bytes pk = fixtures::hex(r["ek"]), m(32, 0x5a);
        bytes ct(ciphertext_size, 0xee), ss(shared_secret_size, 0xee);
        EXPECT_FALSE(public_key_valid(pk.data())) << "line " << r["line"];
        EXPECT_FALSE(encaps_derand(pk.data(), m.data(), ct.data(), ss.data())) << "line " << r["line"];
        // Nothing that looks like a key leaves a refused encapsulation.
        EXPECT_EQ(ct, bytes(ciphertext_size, 0));
        EXPECT_EQ(ss, bytes(shared_secret_size, 0));
    }
}

// Every out-of-range value at one place, and q at every place, in both nibble layouts of the 12-bit packing;
// q - 1 is the largest value the check lets through.
TEST(MlKem768, ModulusCheckEveryValueAndPosition) {
    const keys k = keys_from(1);
    ASSERT_TRUE(public_key_valid(k.pk.data()));
    const bytes m(32, 3);
    bytes ct(ciphertext_size), ss(shared_secret_size);
    for (int index : {0, 1, 767}) {
        for (unsigned v = 3329; v < 4096; ++v) {
            bytes pk = k.pk;
            set_coefficient(pk, index, v);
            ASSERT_FALSE(encaps_derand(pk.data(), m.data(), ct.data(), ss.data())) << index << " = " << v;
        }
    }
    for (int index = 0; index < 768; ++index) {
        bytes pk = k.pk;
        set_coefficient(pk, index, 3329);
        ASSERT_FALSE(public_key_valid(pk.data())) << index;
        set_coefficient(pk, index, 3328);
        ASSERT_TRUE(public_key_valid(pk.data())) << index;
    }
    bytes pk = k.pk;
    set_coefficient(pk, 384, 3328);
    EXPECT_TRUE(encaps_derand(pk.data(), m.data(), ct.data(), ss.data()));
    // rho is not part of the check.
    pk = k.pk;
    std::memset(pk.data() + 1152, 0xff, 32);
    EXPECT_TRUE(encaps_derand(pk.data(), m.data(), ct.data(), ss.data()));
}

TEST(MlKem768, DecapsRefusesSecretKeyWhoseHashDoesNotMatch) {
    const keys k = keys_from(2);
    bytes ct(ciphertext_size), ss(shared_secret_size), back(shared_secret_size, 0xee);
    const bytes m(32, 9);
    ASSERT_TRUE(encaps_derand(k.pk.data(), m.data(), ct.data(), ss.data()));
    struct {
        std::size_t offset;
        bool accepted;
    } const rows[] = {
        {0, true},                    // the secret vector is not covered by the hash
        {1152, false},                // the embedded public key
        {2335, false},                // its seed rho
        {2336, false},                // the stored hash
        {2367, false}, {2368, true},  // z only changes the rejection key
    };
    for (auto r : rows) {
        bytes sk = k.sk;
        sk[r.offset] ^= 0x10;
        EXPECT_EQ(decaps(sk.data(), ct.data(), back.data()), r.accepted) << r.offset;
        if (!r.accepted) {
            EXPECT_EQ(back, bytes(shared_secret_size, 0)) << r.offset;
        }
    }
}

// Random keys agree with themselves; a ciphertext with any one byte altered yields the rejection key, never the
// real one.
TEST(MlKem768, RoundTripAndTamperedCiphertexts) {
    for (int round = 0; round < 3; ++round) {
        keys k;
        keypair(k.pk.data(), k.sk.data());
        bytes ct(ciphertext_size), ss(shared_secret_size), back(shared_secret_size);
        ASSERT_TRUE(encaps(k.pk.data(), ct.data(), ss.data()));
        ASSERT_TRUE(decaps(k.sk.data(), ct.data(), back.data()));
        EXPECT_EQ(back, ss);
        const bytes z(k.sk.end() - 32, k.sk.end());
        for (std::size_t at :
             {std::size_t(0), std::size_t(319), std::size_t(959), std::size_t(960), ciphertext_size - 1}) {
            bytes bad = ct;
            bad[at] ^= 1;
            ASSERT_TRUE(decaps(k.sk.data(), bad.data(), back.data()));
            EXPECT_NE(back, ss) << at;
            EXPECT_EQ(back, shake256(z, bad, 32)) << at;
        }
    }
}

// The accumulated vectors of FiloSottile/mlkem768 (mlkem768_test.go, TestAccumulated, FIPS 203 final): one SHAKE128
// stream with empty input supplies, per iteration, d || z, m and a random ciphertext; a second SHAKE128 absorbs ek,
// ct, K and the key decapsulated from the random ciphertext. The expected values are its first 32 output bytes after
// 100 and after 10,000 iterations.
TEST(MlKem768, AccumulatedVectors) {
    // The sanitizer build, about ten times slower, stops at the first checkpoint.
    constexpr int iterations = sanitized ? 100 : 10000;
    constexpr std::size_t per_iteration = 64 + 32 + ciphertext_size;
    using md_ctx = std::unique_ptr<EVP_MD_CTX, void (*)(EVP_MD_CTX*)>;
    // OpenSSL 3.0 squeezes an XOF once: the whole input stream is read up front.
    std::vector<std::uint8_t> input(iterations * per_iteration);
    {
        md_ctx s(EVP_MD_CTX_new(), EVP_MD_CTX_free);
        ASSERT_EQ(1, EVP_DigestInit_ex2(s.get(), EVP_shake128(), nullptr));
        ASSERT_EQ(1, EVP_DigestFinalXOF(s.get(), input.data(), input.size()));
    }
    md_ctx out(EVP_MD_CTX_new(), EVP_MD_CTX_free);
    ASSERT_EQ(1, EVP_DigestInit_ex2(out.get(), EVP_shake128(), nullptr));
    auto digest_so_far = [&] {
        md_ctx copy(EVP_MD_CTX_new(), EVP_MD_CTX_free);
        std::uint8_t d[32];
        EXPECT_EQ(1, EVP_MD_CTX_copy_ex(copy.get(), out.get()));
        EXPECT_EQ(1, EVP_DigestFinalXOF(copy.get(), d, 32));
        return fixtures::to_hex(d, 32);
    };

    std::uint8_t pk[public_key_size], sk[secret_key_size], ct[ciphertext_size], ss[32], back[32];
    const std::uint8_t* in = input.data();
    for (int i = 1; i <= iterations; ++i) {
        keypair_derand(in, in + 32, pk, sk);
        ASSERT_TRUE(encaps_derand(pk, in + 64, ct, ss));
        ASSERT_TRUE(decaps(sk, ct, back));
        ASSERT_EQ(0, std::memcmp(ss, back, 32)) << i;
        EVP_DigestUpdate(out.get(), pk, sizeof pk);
        EVP_DigestUpdate(out.get(), ct, sizeof ct);
        EVP_DigestUpdate(out.get(), ss, sizeof ss);
        ASSERT_TRUE(decaps(sk, in + 96, back));
        EVP_DigestUpdate(out.get(), back, sizeof back);
        in += per_iteration;
        if (i == 100) {
            ASSERT_EQ(digest_so_far(), "1114b1b6699ed191734fa339376afa7e285c9e6acf6ff0177d346696ce564415");
        }
    }
    if (iterations == 10000) {
        EXPECT_EQ(digest_so_far(), "8a518cc63da366322a8e7a818c7a0d63483cb3528d34a4cf42f35d5ad73f22fc");
    }
}
