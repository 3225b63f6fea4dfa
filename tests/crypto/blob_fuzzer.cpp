// Feeds arbitrary bytes to every reader of host-supplied blobs: DSS keys, DSS signatures, SSH-2 mpints and the
// SSH-1 public-key fields. The first byte picks the reader.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "crypto/bignum.h"
#include "crypto/pubkey.h"

using namespace crypto;

namespace {

std::vector<uint8_t> unhex(const char* s) {
    std::vector<uint8_t> b;
    for (; s[0] && s[1]; s += 2) {
        auto nib = [](char c) { return uint8_t(c <= '9' ? c - '0' : c - 'a' + 10); };
        b.push_back(uint8_t(nib(s[0]) << 4 | nib(s[1])));
    }
    return b;
}

// A small well-formed ssh-dss key (p = 2039 = 2 * 1019 + 1, q = 1019, g = 4, y = 4^5 mod p = 1024) so
// signature blobs reach the arithmetic quickly.
const std::vector<uint8_t> small_key = unhex("000000077373682d647373"
                                             "0000000207f7"
                                             "0000000203fb"
                                             "0000000104"
                                             "000000020400");

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const uint8_t mode = data[0];
    ++data;
    --size;
    static const uint8_t h[20] = {1, 2, 3};
    switch (mode % 4) {
    case 0: {  // key blob, verified against the rest of the input as signature
        // Parsing is what is explored here; the arithmetic on large groups is bounded and tested elsewhere,
        // and would only slow the search down.
        auto key = parse_dss_key(data, size);
        if (key && key->p->bit_length() <= 512) dss_verify(*key, data, size, h);
        break;
    }
    case 1: {  // signature blob against a fixed small key
        static const auto key = parse_dss_key(small_key.data(), small_key.size());
        if (key) dss_verify(*key, data, size, h);
        break;
    }
    case 2: {  // a run of mpints, re-encoded and used as DH public values
        blob_reader rd(data, size);
        static const dh_group grp = dh_group1();
        for (int i = 0; i < 8; ++i) {
            auto v = rd.read_mpint();
            if (!v) break;
            std::vector<uint8_t> enc = to_ssh2_mpint_bytes(*v);
            if (!enc.empty() && (enc[0] & 0x80)) __builtin_trap();  // must stay positive
            // The 1024-bit arithmetic took most of each run while adding little to the search: only the first
            // value of one input in eight (chosen by the mode byte's upper bits) goes through it.
            if (i > 0 || (mode >> 2) % 8 != 0) continue;
            if (v->bit_length() <= 1100 && dh_valid_public(grp, *v)) {
                bignum x = bignum::from_u32(0x10001);
                (void)dh_shared_secret(grp, *v, x);
            }
            (void)inverse(*v, grp.q);
        }
        break;
    }
    case 3: {  // SSH-1 key fields, then the session-key encryption for small keys
        auto k = parse_rsa_key(data, size);
        if (k && k->key.modulus.bit_length() <= 1024) {
            uint8_t buf[128] = {};
            rsa_encrypt(buf, 32, k->key);
        }
        for (size_t off = 0; off < size; off += 7) (void)from_ssh1_mpint(data + off, size - off);
        break;
    }
    }
    return 0;
}
