#pragma once
// OpenSSH certificates (the *-cert-v01@openssh.com key types): a public key, who may use it and when, signed by a
// certificate authority's key. Read with every length checked; the CA's signature is checked by the same verifier
// as host keys. Nothing here reads a clock: callers hand the time in.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace ssh {

// An RSA CA of 16384 bits signing an RSA key of 16384 bits needs about 4.2 KiB; options and principals share the
// rest.
constexpr std::size_t certificate_max_bytes = 32 * 1024;
constexpr std::size_t certificate_max_principals = 256;  // as OpenSSH

enum class certificate_kind : std::uint32_t { user = 1, host = 2 };

struct certificate_option {
    std::string name;
    std::vector<std::uint8_t> data;
};

struct certificate {
    std::string type;               // "ssh-ed25519-cert-v01@openssh.com", ...
    std::string key_type;           // "ssh-ed25519", ...
    std::vector<std::uint8_t> key;  // the certified key as a plain public key blob
    std::uint64_t serial = 0;
    certificate_kind kind = certificate_kind::user;
    std::string key_id;
    std::vector<std::string> principals;
    std::uint64_t valid_after = 0;
    std::uint64_t valid_before = 0;  // exclusive; all ones: forever
    std::vector<certificate_option> critical_options;
    std::vector<certificate_option> extensions;
    std::vector<std::uint8_t> ca_key;  // the signature key blob
    std::string signature_algorithm;   // the name inside the CA's signature
    bool signature_valid = false;      // the CA's signature covers every byte before it
};

// Nullopt unless the blob is a certificate of a known type, read whole (nothing after the signature), with a
// certified key that is itself well-formed, at most certificate_max_principals principals and option lists in
// OpenSSH's form (name/data pairs, data a string of its own). A signature that fails still gives the certificate,
// with signature_valid false, so that callers can say what failed.
std::optional<certificate> parse_certificate(std::span<const std::uint8_t> blob);

// The plain type for a certificate type name ("ssh-ed25519" for "ssh-ed25519-cert-v01@openssh.com"); empty when the
// name is none of them.
std::string_view certificate_plain_type(std::string_view cert_type);
bool is_certificate_type(std::string_view type);
// What a publickey request names for a certificate whose signature is made with plain_alg ("rsa-sha2-512" ->
// "rsa-sha2-512-cert-v01@openssh.com"); empty for an algorithm no certificate name exists for.
std::string certificate_algorithm(std::string_view plain_alg);

// The other way: what a host's signature is made with under a negotiated certificate algorithm ("rsa-sha2-512" for
// "rsa-sha2-512-cert-v01@openssh.com"); empty when the name is no certificate algorithm.
std::string certificate_signature_algorithm(std::string_view cert_alg);
// The certificate algorithms a client offers for host keys, most preferred first, comma-separated.
std::string certificate_host_key_algorithms();

// The reason a certificate cannot stand for `name` at `now` (seconds since 1970), empty when it can: the kind, the
// validity window, the principals (an empty list is refused, as OpenSSH refuses it) and the CA's signature. Host
// certificates with critical options are refused: none are defined for hosts.
std::string certificate_problem(const certificate& c, certificate_kind kind, std::string_view name, std::uint64_t now);

}  // namespace ssh
