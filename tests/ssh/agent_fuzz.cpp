// libFuzzer target over the agent reply parsers. The first byte picks the parser; the rest is the reply body.
// Besides not crashing, what is accepted must hold to the stated limits.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

#include "ssh/agent.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    const std::span<const std::uint8_t> reply(data + 1, size - 1);
    if (data[0] & 1) {
        const auto sig = ssh::parse_agent_signature(reply);
        if (sig && (sig->size() + 5 > reply.size() || sig->size() < 10)) std::abort();
    } else {
        const auto ids = ssh::parse_agent_identities(reply);
        if (ids && ids->size() > ssh::agent_max_identities) std::abort();
        if (ids)
            for (const auto& id : *ids)
                if (id.blob.empty() || id.blob.size() + id.comment.size() + 8 > reply.size()) std::abort();
    }
    return 0;
}
