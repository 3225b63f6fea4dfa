// libFuzzer target over the certificate reader. A certificate that reads must hold together: its certified key is
// a well-formed blob of its plain type, its lists are within their limits, and the same bytes read the same again.
#include <cstddef>
#include <cstdint>

#include "crypto/evp.h"
#include "ssh/certificate.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> blob(data, size);
    const auto c = ssh::parse_certificate(blob);
    if (!c) return 0;
    if (crypto::evp::key_type(c->key) != c->key_type) __builtin_trap();
    if (ssh::certificate_plain_type(c->type) != c->key_type) __builtin_trap();
    if (c->principals.size() > ssh::certificate_max_principals) __builtin_trap();
    const auto again = ssh::parse_certificate(blob);
    if (!again || again->key != c->key || again->signature_valid != c->signature_valid) __builtin_trap();
    return 0;
}
