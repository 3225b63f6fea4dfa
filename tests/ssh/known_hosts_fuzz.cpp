// libFuzzer target over the known_hosts reader. The first byte picks the host, port and key asked about and the size
// of the pieces the file is read in; the rest is the file. Besides not crashing, a verdict must point at a line the
// text really has, and reading in pieces must give the verdict reading the whole text gives.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "ssh/known_hosts.h"

namespace {

std::vector<std::uint8_t> blob(std::string_view type, std::uint8_t first) {
    std::vector<std::uint8_t> b{0, 0, 0, std::uint8_t(type.size())};
    for (char c : type) b.push_back(std::uint8_t(c));
    b.insert(b.end(), {0, 0, 0, 32});
    for (int i = 0; i < 32; ++i) b.push_back(std::uint8_t(first + i));
    return b;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::vector<std::uint8_t> keys[] = {blob("ssh-ed25519", 1), blob("ssh-rsa", 1)};
    static const char* const hosts[] = {"h", "host.example", "127.0.0.1", "::1"};
    if (size < 1) return 0;
    const std::uint8_t pick = data[0];
    const std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);
    const auto& key = keys[pick & 1];
    ssh::host_key_check c;
    ssh::check_host_key_text(text, "f", hosts[(pick >> 1) & 3], (pick & 8) ? 2222 : 22,
                             (pick & 1) ? "ssh-rsa" : "ssh-ed25519", key, c);
    const long lines = long(std::count(text.begin(), text.end(), '\n')) + 1;
    if (c.status == ssh::host_key_status::unknown) {
        if (c.line != 0 || !c.file.empty()) __builtin_trap();
    } else if (c.line < 1 || c.line > lines || c.file != "f") {
        __builtin_trap();
    }

    const std::size_t piece = std::size_t(pick >> 4) * 7 + 1;
    ssh::host_key_check p;
    ssh::known_hosts_reader reader("f", hosts[(pick >> 1) & 3], (pick & 8) ? 2222 : 22,
                                   (pick & 1) ? "ssh-rsa" : "ssh-ed25519", key, p);
    for (std::size_t at = 0; at < text.size(); at += piece) reader.feed(text.substr(at, piece));
    reader.finish();
    if (p.status != c.status || p.line != c.line || p.file != c.file) __builtin_trap();
    return 0;
}
