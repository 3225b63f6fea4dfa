#pragma once
// Reader for the record files in data/: blank-line separated records of "name = value" lines, '#' comments.
// A value is hex, "text" in double quotes, or "-" for no bytes.
#include <cstdint>
#include <fstream>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "crypto/bignum.h"

namespace fixtures {

using record = std::map<std::string, std::string>;
using bytes = std::vector<uint8_t>;

inline std::vector<record> load(const std::string& name) {
    std::ifstream in(std::string(TEST_DATA_DIR) + "/" + name);
    if (!in) throw std::runtime_error("missing fixture " + name);
    std::vector<record> out;
    record cur;
    std::string line;
    auto trim = [](std::string s) {
        size_t a = s.find_first_not_of(" \t\r"), b = s.find_last_not_of(" \t\r");
        return a == std::string::npos ? std::string() : s.substr(a, b - a + 1);
    };
    while (std::getline(in, line)) {
        line = trim(line);
        if (!line.empty() && line[0] == '#') continue;
        if (line.empty()) {
            if (!cur.empty()) out.push_back(cur);
            cur.clear();
            continue;
        }
        size_t eq = line.find('=');
        if (eq == std::string::npos) throw std::runtime_error("bad fixture line: " + line);
        cur[trim(line.substr(0, eq))] = trim(line.substr(eq + 1));
    }
    if (!cur.empty()) out.push_back(cur);
    return out;
}

inline bytes hex(const std::string& s) {
    bytes b;
    if (s == "-") return b;
    if (s.size() % 2) throw std::runtime_error("odd hex: " + s);
    for (size_t i = 0; i < s.size(); i += 2) b.push_back(uint8_t(std::stoul(s.substr(i, 2), nullptr, 16)));
    return b;
}

inline bytes value(const std::string& s) {
    if (s.size() >= 2 && s.front() == '"') return bytes(s.begin() + 1, s.end() - 1);
    return hex(s);
}

// A hex number of any length (no prefix), as Python's "%x" writes it.
inline crypto::bignum number(const std::string& s) {
    std::string even = s.size() % 2 ? "0" + s : s;
    bytes b = hex(even);
    return crypto::from_bytes(b.data(), b.size());
}

inline std::string to_hex(const uint8_t* p, size_t n) {
    static const char* d = "0123456789abcdef";
    std::string s;
    for (size_t i = 0; i < n; ++i) {
        s += d[p[i] >> 4];
        s += d[p[i] & 15];
    }
    return s;
}
inline std::string to_hex(const bytes& b) { return to_hex(b.data(), b.size()); }

inline std::string to_hex(const crypto::bignum& a) {
    size_t n = (a.bit_length() + 7) / 8;
    if (n == 0) return "0";
    bytes b(n);
    crypto::to_bytes(a, b.data(), n);
    std::string s = to_hex(b);
    if (s[0] == '0') s.erase(0, 1);
    return s;
}

}  // namespace fixtures
