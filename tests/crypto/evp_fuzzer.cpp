// Feeds arbitrary host key and signature blobs to the host-key verifier and the key-type reader. Input: one
// byte picking the algorithm name, two bytes (big-endian) of key blob length, the key blob, the signature blob.
// A first byte with the top bit set hands the rest to a key exchange share as the peer's value instead.
#include <cstddef>
#include <cstdint>
#include <span>

#include "crypto/evp.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const char* const algs[] = {"ssh-ed25519",
                                       "ecdsa-sha2-nistp256",
                                       "ecdsa-sha2-nistp384",
                                       "ecdsa-sha2-nistp521",
                                       "rsa-sha2-256",
                                       "rsa-sha2-512",
                                       "ssh-rsa"};
    if (size >= 1 && (data[0] & 0x80)) {
        static const auto x = crypto::evp::make_x25519();
        static const auto e256 = crypto::evp::make_ecdh(256);
        static const auto e521 = crypto::evp::make_ecdh(521);
        static const auto m14 = crypto::evp::make_modp(14);
        crypto::evp::kex_share* const shares[] = {x.get(), e256.get(), e521.get(), m14.get()};
        crypto::evp::kex_share* s = shares[data[0] % 4];
        if (!s) __builtin_trap();
        (void)s->shared(std::span<const uint8_t>(data + 1, size - 1));
        return 0;
    }
    if (size < 3) return 0;
    const char* alg = algs[data[0] % (sizeof algs / sizeof algs[0])];
    std::size_t key_len = std::size_t(data[1]) << 8 | data[2];
    std::span<const uint8_t> rest(data + 3, size - 3);
    if (key_len > rest.size()) key_len = rest.size();
    const auto key = rest.first(key_len), sig = rest.subspan(key_len);
    static const uint8_t h[32] = {1, 2, 3};
    // Nobody signed this h: acceptance would be a forgery.
    if (crypto::evp::verify_host_signature(alg, key, sig, h)) __builtin_trap();
    (void)crypto::evp::key_type(key);
    (void)crypto::evp::key_type(rest);
    return 0;
}
