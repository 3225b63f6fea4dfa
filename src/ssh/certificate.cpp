#include "ssh/certificate.h"

#include "crypto/evp.h"
#include "ssh/wire.h"

namespace ssh {

namespace {

// One row per certificate type: its plain key type and how many length-prefixed fields the key takes after the
// nonce (ed25519: the point; ECDSA: curve and point; RSA: e and n).
struct cert_row {
    std::string_view type;
    std::string_view plain;
    int key_fields;
};
constexpr cert_row cert_rows[] = {
    {"ssh-ed25519-cert-v01@openssh.com", "ssh-ed25519", 1},
    {"ecdsa-sha2-nistp256-cert-v01@openssh.com", "ecdsa-sha2-nistp256", 2},
    {"ecdsa-sha2-nistp384-cert-v01@openssh.com", "ecdsa-sha2-nistp384", 2},
    {"ecdsa-sha2-nistp521-cert-v01@openssh.com", "ecdsa-sha2-nistp521", 2},
    {"ssh-rsa-cert-v01@openssh.com", "ssh-rsa", 2},
};

const cert_row* find_row(std::string_view type) {
    for (const cert_row& r : cert_rows)
        if (r.type == type) return &r;
    return nullptr;
}

constexpr std::string_view cert_suffix = "-cert-v01@openssh.com";

std::optional<std::uint64_t> u64(wire_reader& r) {
    const auto hi = r.u32();
    const auto lo = r.u32();
    if (!hi || !lo) return std::nullopt;
    return std::uint64_t(*hi) << 32 | *lo;
}

// name/data pairs, the data a string of its own inside (OpenSSH wraps even empty values).
bool read_options(std::span<const std::uint8_t> s, std::vector<certificate_option>& out) {
    wire_reader r(s);
    while (r.ok() && r.remaining() > 0) {
        const auto name = r.text(256);
        const auto data = r.string(certificate_max_bytes);
        if (!name || !data || name->empty()) return false;
        out.push_back({std::string(*name), {data->begin(), data->end()}});
    }
    return r.ok();
}

bool read_principals(std::span<const std::uint8_t> s, std::vector<std::string>& out) {
    wire_reader r(s);
    while (r.ok() && r.remaining() > 0) {
        const auto p = r.text(1024);
        if (!p || out.size() >= certificate_max_principals) return false;
        out.emplace_back(*p);
    }
    return r.ok();
}

}  // namespace

std::string_view certificate_plain_type(std::string_view cert_type) {
    const cert_row* row = find_row(cert_type);
    return row ? row->plain : std::string_view();
}

bool is_certificate_type(std::string_view type) { return find_row(type) != nullptr; }

std::string certificate_algorithm(std::string_view plain_alg) {
    if (plain_alg == "rsa-sha2-256" || plain_alg == "rsa-sha2-512") return std::string(plain_alg).append(cert_suffix);
    for (const cert_row& r : cert_rows)
        if (r.plain == plain_alg) return std::string(r.type);
    return {};
}

std::string certificate_signature_algorithm(std::string_view cert_alg) {
    if (cert_alg == "rsa-sha2-256-cert-v01@openssh.com" || cert_alg == "rsa-sha2-512-cert-v01@openssh.com")
        return std::string(cert_alg.substr(0, cert_alg.size() - cert_suffix.size()));
    return std::string(certificate_plain_type(cert_alg));
}

std::string certificate_host_key_algorithms() {
    // The SHA-2 RSA names before the SHA-1 one, as for plain keys.
    std::string out;
    for (const cert_row& r : cert_rows) {
        if (r.plain == "ssh-rsa") out += "rsa-sha2-512-cert-v01@openssh.com,rsa-sha2-256-cert-v01@openssh.com,";
        out.append(r.type).append(",");
    }
    out.pop_back();
    return out;
}

std::optional<certificate> parse_certificate(std::span<const std::uint8_t> blob) {
    if (blob.size() > certificate_max_bytes) return std::nullopt;
    wire_reader r(blob);
    const auto type = r.text(64);
    const cert_row* row = type ? find_row(*type) : nullptr;
    if (!row) return std::nullopt;
    certificate c;
    c.type.assign(row->type);
    c.key_type.assign(row->plain);
    r.string(256);  // nonce
    const std::size_t key_at = blob.size() - r.remaining();
    for (int i = 0; i < row->key_fields; ++i) r.string(certificate_max_bytes);
    if (!r.ok()) return std::nullopt;
    const std::span<const std::uint8_t> key_fields = blob.subspan(key_at, blob.size() - r.remaining() - key_at);
    const auto serial = u64(r);
    const auto kind = r.u32();
    const auto key_id = r.text(1024);
    const auto principals = r.string(certificate_max_bytes);
    const auto after = u64(r);
    const auto before = u64(r);
    const auto critical = r.string(certificate_max_bytes);
    const auto extensions = r.string(certificate_max_bytes);
    r.string(certificate_max_bytes);  // reserved
    const auto ca_key = r.string(certificate_max_bytes);
    const std::size_t signed_len = blob.size() - r.remaining();
    const auto signature = r.string(certificate_max_bytes);
    if (!r.at_end() || !r.ok()) return std::nullopt;
    if (*kind != std::uint32_t(certificate_kind::user) && *kind != std::uint32_t(certificate_kind::host))
        return std::nullopt;

    // The certified key as its own blob: the type name, then the fields as they stand in the certificate.
    c.key.resize(4 + row->plain.size() + key_fields.size());
    wire_writer w(c.key.data(), c.key.size());
    w.string(row->plain);
    w.raw(key_fields.data(), key_fields.size());
    if (w.overflow() || crypto::evp::key_type(c.key) != row->plain) return std::nullopt;

    c.serial = *serial;
    c.kind = certificate_kind(*kind);
    c.key_id.assign(*key_id);
    c.valid_after = *after;
    c.valid_before = *before;
    if (!read_principals(*principals, c.principals) || !read_options(*critical, c.critical_options) ||
        !read_options(*extensions, c.extensions))
        return std::nullopt;
    c.ca_key.assign(ca_key->begin(), ca_key->end());
    wire_reader sig(*signature);
    if (const auto alg = sig.text(64)) c.signature_algorithm.assign(*alg);
    c.signature_valid =
        !c.signature_algorithm.empty() &&
        crypto::evp::verify_host_signature(c.signature_algorithm, c.ca_key, *signature, blob.subspan(0, signed_len));
    return c;
}

std::string certificate_problem(const certificate& c, certificate_kind kind, std::string_view name, std::uint64_t now) {
    if (!c.signature_valid) return "its certificate authority's signature does not verify";
    if (c.kind != kind)
        return kind == certificate_kind::host ? "it is a user certificate, not a host certificate"
                                              : "it is a host certificate, not a user certificate";
    if (now < c.valid_after) return "it is not valid yet";
    if (now >= c.valid_before) return "it has expired";
    if (c.principals.empty()) return "it names no principal";
    bool named = false;
    for (const std::string& p : c.principals) named = named || p == name;
    if (!named) return "it is not issued for " + std::string(name);
    if (kind == certificate_kind::host && !c.critical_options.empty())
        return "it carries the critical option " + c.critical_options.front().name + ", which hosts do not have";
    return {};
}

}  // namespace ssh
