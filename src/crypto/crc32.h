#pragma once
#include <cstddef>
#include <cstdint>

namespace crypto {

// The SSH-1 packet checksum: reflected polynomial 0xEDB88320, initial value 0, result not inverted.
uint32_t ssh1_crc32(const void* data, std::size_t n);

}  // namespace crypto
