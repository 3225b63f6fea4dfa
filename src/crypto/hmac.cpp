#include "crypto/hmac.h"

#include <cstring>

#include "crypto/wipe.h"

namespace crypto {

void hmac_sha1_set_key(hmac_sha1_keys& k, const uint8_t* key, std::size_t n) {
    uint8_t hashed[20];
    if (n > 64) {
        sha1(key, n, hashed);
        key = hashed;
        n = 20;
    }
    uint8_t block[64];
    std::memset(block, 0x36, sizeof block);
    for (std::size_t i = 0; i < n; ++i) block[i] ^= key[i];
    k.inner.init();
    k.inner.update(block, 64);
    std::memset(block, 0x5C, sizeof block);
    for (std::size_t i = 0; i < n; ++i) block[i] ^= key[i];
    k.outer.init();
    k.outer.update(block, 64);
    wipe(block, sizeof block);
    wipe(hashed, sizeof hashed);
}

static void finish(const hmac_sha1_keys& k, sha1_context& in, uint8_t out[20]) {
    uint8_t inner_digest[20];
    in.final(inner_digest);
    sha1_context o = k.outer;
    o.update(inner_digest, 20);
    o.final(out);
    wipe(inner_digest, sizeof inner_digest);
}

void hmac_sha1_compute(const hmac_sha1_keys& k, uint32_t seq, const uint8_t* data, std::size_t n, uint8_t out[20]) {
    sha1_context in = k.inner;
    uint8_t s[4] = {uint8_t(seq >> 24), uint8_t(seq >> 16), uint8_t(seq >> 8), uint8_t(seq)};
    in.update(s, 4);
    in.update(data, n);
    finish(k, in, out);
}

void hmac_sha1(const uint8_t* key, std::size_t key_len, const uint8_t* data, std::size_t n, uint8_t out[20]) {
    hmac_sha1_keys k;
    hmac_sha1_set_key(k, key, key_len);
    sha1_context in = k.inner;
    in.update(data, n);
    finish(k, in, out);
    wipe(&k, sizeof k);
}

}  // namespace crypto
