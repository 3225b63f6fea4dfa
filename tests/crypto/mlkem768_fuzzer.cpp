// Feeds arbitrary bytes to ML-KEM-768 where a peer controls them: the ciphertext a server returns (decapsulated
// with a fixed key) and the public key a client is offered (encapsulated to). The first byte picks which.
// Decapsulation must always yield a key, the same one each time; encapsulation must succeed exactly when the
// modulus check passes, and give the same ciphertext for the same m.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "crypto/mlkem768.h"

using namespace crypto::mlkem768;

namespace {

struct fixed_key {
    std::uint8_t pk[public_key_size], sk[secret_key_size];
    fixed_key() {
        std::uint8_t d[32], z[32];
        for (int i = 0; i < 32; ++i) d[i] = std::uint8_t(i), z[i] = std::uint8_t(255 - i);
        keypair_derand(d, z, pk, sk);
    }
};

// The input is repeated to fill a buffer of the wire size, so short inputs still reach every coefficient.
void fill(std::uint8_t* out, std::size_t n, const std::uint8_t* data, std::size_t size) {
    for (std::size_t i = 0; i < n; ++i) out[i] = size ? data[i % size] : 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    const std::uint8_t mode = data[0];
    ++data;
    --size;
    static const fixed_key key;
    std::uint8_t ss[shared_secret_size], again[shared_secret_size];
    if (mode % 2 == 0) {
        std::uint8_t ct[ciphertext_size];
        fill(ct, sizeof ct, data, size);
        if (!decaps(key.sk, ct, ss)) std::abort();
        if (!decaps(key.sk, ct, again) || std::memcmp(ss, again, sizeof ss) != 0) std::abort();
    } else {
        std::uint8_t pk[public_key_size], ct[ciphertext_size], ct2[ciphertext_size];
        fill(pk, sizeof pk, data, size);
        const std::uint8_t m[32] = {mode};
        const bool ok = encaps_derand(pk, m, ct, ss);
        if (ok != public_key_valid(pk)) std::abort();
        if (ok && (!encaps_derand(pk, m, ct2, again) || std::memcmp(ct, ct2, sizeof ct) != 0)) std::abort();
    }
    return 0;
}
