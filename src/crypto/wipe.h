#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace crypto {

// Zeroes memory in a way the optimiser may not drop, for buffers that held keys or secret numbers.
inline void wipe(void* p, std::size_t n) {
    volatile unsigned char* v = static_cast<volatile unsigned char*>(p);
    while (n--) *v++ = 0;
}

// Wipes a string's characters (a password, a passphrase) and empties it.
inline void wipe(std::string& s) {
    if (!s.empty()) wipe(s.data(), s.size());
    s.clear();
}

// The same for a byte vector (a shared secret, a key blob).
inline void wipe(std::vector<std::uint8_t>& v) {
    if (!v.empty()) wipe(v.data(), v.size());
    v.clear();
}

// Compares in time independent of where the first difference lies.
inline bool equal_const_time(const void* a, const void* b, std::size_t n) {
    const unsigned char* x = static_cast<const unsigned char*>(a);
    const unsigned char* y = static_cast<const unsigned char*>(b);
    unsigned char diff = 0;
    for (std::size_t i = 0; i < n; ++i) diff = static_cast<unsigned char>(diff | (x[i] ^ y[i]));
    return diff == 0;
}

}  // namespace crypto
