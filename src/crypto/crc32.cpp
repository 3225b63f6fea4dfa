#include "crypto/crc32.h"

#include <array>

namespace crypto {
namespace {

constexpr std::array<uint32_t, 256> make_table() {
    std::array<uint32_t, 256> t{};
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t c = i;
        for (int k = 0; k < 8; ++k) c = (c & 1) ? (c >> 1) ^ 0xEDB88320u : c >> 1;
        t[i] = c;
    }
    return t;
}

constexpr std::array<uint32_t, 256> table = make_table();

}  // namespace

uint32_t ssh1_crc32(const void* data, std::size_t n) {
    const uint8_t* p = static_cast<const uint8_t*>(data);
    uint32_t crc = 0;
    for (std::size_t i = 0; i < n; ++i) crc = (crc >> 8) ^ table[(crc ^ p[i]) & 0xFF];
    return crc;
}

}  // namespace crypto
