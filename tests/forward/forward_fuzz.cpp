// The forward list and the SOCKS request parser on any input. The first byte chooses; for SOCKS it also sets the
// piece size the rest arrives in.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "forward/forward_rule.h"
#include "forward/socks_request.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const std::uint8_t mode = data[0];
    ++data;
    --size;
    if (mode & 1) {
        const auto list = fwd::parse_forwards({reinterpret_cast<const char*>(data), size});
        if (list.rules.size() > fwd::max_forwards) std::abort();
        for (const auto& s : list.rules)
            if (fwd::parse_forward(fwd::format_forward(s)) != s) std::abort();
        return 0;
    }
    fwd::socks_request r;
    const std::size_t piece = std::size_t(mode >> 1) + 1;
    for (std::size_t at = 0; at < size; at += piece) {
        const std::size_t n = piece < size - at ? piece : size - at;
        std::size_t used = 0;
        const auto st = r.feed({data + at, n}, used);
        if (used > n || r.reply().size() > 16) std::abort();
        r.clear_reply();
        if (st == fwd::socks_request::step::connect) {
            if (r.host().empty() || r.port() == 0) std::abort();
            if (r.granted().size() != (r.version() == 4 ? 8u : 10u)) std::abort();
            break;
        }
        if (st == fwd::socks_request::step::refused) break;
    }
    return 0;
}
