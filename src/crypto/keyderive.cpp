#include "crypto/keyderive.h"

#include "crypto/sha1.h"

namespace crypto {

void ssh2_derive_key(const bignum& k, const uint8_t h[20], char letter, const uint8_t session_id[20], uint8_t out[40]) {
    sha1_context base;
    absorb_mpint(base, k);
    base.update(h, 20);
    sha1_context first = base;
    const uint8_t l = uint8_t(letter);
    first.update(&l, 1);
    first.update(session_id, 20);
    first.final(out);
    base.update(out, 20);
    base.final(out + 20);
}

}  // namespace crypto
