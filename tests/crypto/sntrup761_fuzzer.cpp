// Feeds arbitrary bytes to sntrup761 as the peer would send them. First byte even: the rest (cut or zero-padded to
// 1039 bytes) is a ciphertext for a fixed key, and unless it is that key's own ciphertext its session key must be
// the implicit-rejection key. First byte odd: the rest is a public key to encapsulate to, which must round-trip
// when it is the fixed key's.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "crypto/evp.h"
#include "crypto/sntrup761.h"

using namespace crypto::sntrup761;

namespace {

// Deterministic bytes, so that a crash reproduces from its input alone.
void counter_bytes(void* context, std::uint8_t* out, std::size_t n) {
    auto* counter = static_cast<std::uint32_t*>(context);
    for (std::size_t i = 0; i < n; ++i) out[i] = std::uint8_t((*counter)++ * 2654435761u >> 24);
}

struct fixed_key {
    std::uint8_t pk[public_key_size], sk[secret_key_size], ct[ciphertext_size], ss[shared_secret_size];
    fixed_key() {
        std::uint32_t counter = 1;
        keypair(pk, sk, counter_bytes, &counter);
        enc(ct, ss, pk, counter_bytes, &counter);
    }
};

void rejection_key(const std::uint8_t* sk, const std::uint8_t* ct, std::uint8_t out[32]) {
    constexpr std::size_t small_bytes = 191;
    std::uint8_t inner[64], outer[64];
    crypto::evp::hash_context h3(crypto::evp::hash_kind::sha512);
    h3.update("\3", 1);
    h3.update(sk + 2 * small_bytes + public_key_size, small_bytes);
    h3.final(inner);
    crypto::evp::hash_context h0(crypto::evp::hash_kind::sha512);
    h0.update("\0", 1);
    h0.update(inner, 32);
    h0.update(ct, ciphertext_size);
    h0.final(outer);
    std::memcpy(out, outer, 32);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    static const fixed_key key;
    const bool as_public_key = data[0] & 1;
    ++data;
    --size;
    if (!as_public_key) {
        std::uint8_t ct[ciphertext_size] = {};
        std::memcpy(ct, data, std::min(size, sizeof ct));
        std::uint8_t ss[shared_secret_size], want[shared_secret_size];
        dec(ss, ct, key.sk);
        if (std::memcmp(ct, key.ct, sizeof ct) == 0) {
            if (std::memcmp(ss, key.ss, sizeof ss) != 0) __builtin_trap();
        } else {
            rejection_key(key.sk, ct, want);
            if (std::memcmp(ss, want, sizeof ss) != 0) __builtin_trap();
        }
    } else {
        std::uint8_t pk[public_key_size] = {};
        std::memcpy(pk, data, std::min(size, sizeof pk));
        std::uint8_t ct[ciphertext_size], ss[shared_secret_size], back[shared_secret_size];
        std::uint32_t counter = 7;
        enc(ct, ss, pk, counter_bytes, &counter);
        if (std::memcmp(pk, key.pk, sizeof pk) == 0) {
            dec(back, ct, key.sk);
            if (std::memcmp(back, ss, sizeof ss) != 0) __builtin_trap();
        }
    }
    return 0;
}
