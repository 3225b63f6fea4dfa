#pragma once
#include <cstdint>

namespace crypto {

extern const uint32_t blowfish_init_p[18];
extern const uint32_t blowfish_init_s[4][256];

}  // namespace crypto
