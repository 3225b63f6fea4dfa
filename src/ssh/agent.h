#pragma once
// The client side of the OpenSSH agent protocol (draft-miller-ssh-agent) over a unix socket: list the agent's
// keys and have it sign the public-key sign-on data. The SSH-2 engine calls it from the UI thread, so every
// exchange is bounded: replies over agent_max_reply are refused, at most agent_max_identities keys are taken, and
// each send and each receive gives up after the timeout. After any failure the connection is closed, since the
// stream can no longer be trusted to be in step; later calls fail at once.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace ssh {

inline constexpr std::size_t agent_max_reply = 256 * 1024;
inline constexpr std::size_t agent_max_identities = 100;
inline constexpr int agent_timeout_ms = 5000;

// Sign request flags: an "ssh-rsa" key signs with SHA-2 instead of SHA-1.
inline constexpr std::uint32_t agent_rsa_sha2_256 = 2;
inline constexpr std::uint32_t agent_rsa_sha2_512 = 4;

struct agent_identity {
    std::vector<std::uint8_t> blob;
    std::string comment;
};

struct agent_client {
    virtual ~agent_client() = default;
    virtual std::vector<agent_identity> identities() = 0;  // empty when the agent has none or fails
    // The SSH signature blob the agent returns (string alg, string signature), or nothing on failure.
    virtual std::optional<std::vector<std::uint8_t>> sign(std::span<const std::uint8_t> key_blob,
                                                          std::span<const std::uint8_t> data, std::uint32_t flags) = 0;
};

// The agent at $SSH_AUTH_SOCK, or nullptr when the variable is unset or nothing answers there.
std::unique_ptr<agent_client> connect_agent();
std::unique_ptr<agent_client> connect_agent(const std::string& socket_path, int timeout_ms = agent_timeout_ms);

// The reply parsers, given the message body after its length (type byte first). Exposed for tests and fuzzing.
// IDENTITIES_ANSWER: nothing unless well-formed; the first agent_max_identities keys are kept.
std::optional<std::vector<agent_identity>> parse_agent_identities(std::span<const std::uint8_t> reply);
// SIGN_RESPONSE: the signature blob, checked to hold a type name and a signature and nothing else.
std::optional<std::vector<std::uint8_t>> parse_agent_signature(std::span<const std::uint8_t> reply);

}  // namespace ssh
