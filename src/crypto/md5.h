#pragma once
#include <cstddef>
#include <cstdint>

namespace crypto {

struct md5_context {
    uint32_t h[4];
    uint8_t block[64];
    uint32_t used;
    uint64_t length;  // bytes absorbed

    md5_context() { init(); }
    void init();
    void update(const void* data, std::size_t n);
    void final(uint8_t out[16]);
};

void md5(const void* data, std::size_t n, uint8_t out[16]);

}  // namespace crypto
