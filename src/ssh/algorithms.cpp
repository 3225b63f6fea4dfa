#include "ssh/algorithms.h"

namespace ssh {

namespace {

using crypto::evp::hash_kind;

// OpenSSH 10's order: the post-quantum hybrids first.
constexpr kex_method kex_rows[] = {
    {"mlkem768x25519-sha256", kex_kind::mlkem768_x25519, hash_kind::sha256, 0, true},
    {"sntrup761x25519-sha512", kex_kind::sntrup761_x25519, hash_kind::sha512, 0, true},
    {"sntrup761x25519-sha512@openssh.com", kex_kind::sntrup761_x25519, hash_kind::sha512, 0, true},
    {"curve25519-sha256", kex_kind::x25519, hash_kind::sha256, 0},
    {"curve25519-sha256@libssh.org", kex_kind::x25519, hash_kind::sha256, 0},
    {"ecdh-sha2-nistp256", kex_kind::ecdh, hash_kind::sha256, 256},
    {"ecdh-sha2-nistp384", kex_kind::ecdh, hash_kind::sha384, 384},
    {"ecdh-sha2-nistp521", kex_kind::ecdh, hash_kind::sha512, 521},
    {"diffie-hellman-group-exchange-sha256", kex_kind::gex, hash_kind::sha256, 0},
    {"diffie-hellman-group16-sha512", kex_kind::modp, hash_kind::sha512, 16},
    {"diffie-hellman-group18-sha512", kex_kind::modp, hash_kind::sha512, 18},
    {"diffie-hellman-group14-sha256", kex_kind::modp, hash_kind::sha256, 14},
    {"diffie-hellman-group14-sha1", kex_kind::modp, hash_kind::sha1, 14},
    {"diffie-hellman-group1-sha1", kex_kind::group1, hash_kind::sha1, 1},
};

constexpr std::string_view host_key_rows[] = {
    "ssh-ed25519",
    "ecdsa-sha2-nistp256",
    "ecdsa-sha2-nistp384",
    "ecdsa-sha2-nistp521",
    "rsa-sha2-512",
    "rsa-sha2-256",
    "ssh-rsa",
    "ssh-dss",
};

constexpr cipher_method cipher_rows[] = {
    {"chacha20-poly1305@openssh.com", cipher_kind::chacha, 64, 0, 8, 16},
    {"aes256-gcm@openssh.com", cipher_kind::aes_gcm, 32, 12, 16, 16},
    {"aes128-gcm@openssh.com", cipher_kind::aes_gcm, 16, 12, 16, 16},
    {"aes256-ctr", cipher_kind::aes_ctr, 32, 16, 16, 0},
    {"aes192-ctr", cipher_kind::aes_ctr, 24, 16, 16, 0},
    {"aes128-ctr", cipher_kind::aes_ctr, 16, 16, 16, 0},
    {"3des-cbc", cipher_kind::des3_cbc, 24, 8, 8, 0},
    {"blowfish-cbc", cipher_kind::blowfish_cbc, 16, 8, 8, 0},
};

constexpr mac_method mac_rows[] = {
    {"hmac-sha2-256-etm@openssh.com", hash_kind::sha256, 32, 32, true},
    {"hmac-sha2-512-etm@openssh.com", hash_kind::sha512, 64, 64, true},
    {"hmac-sha2-256", hash_kind::sha256, 32, 32, false},
    {"hmac-sha2-512", hash_kind::sha512, 64, 64, false},
    {"hmac-sha1-etm@openssh.com", hash_kind::sha1, 20, 20, true},
    {"hmac-sha1", hash_kind::sha1, 20, 20, false},
};

template <class Row>
const Row* find_row(std::span<const Row> rows, std::string_view name) {
    for (const Row& r : rows)
        if (r.name == name) return &r;
    return nullptr;
}

template <class Rows, class Name>
std::string join(const Rows& rows, Name name) {
    std::string out;
    for (const auto& r : rows) {
        if (!out.empty()) out += ',';
        out += name(r);
    }
    return out;
}

}  // namespace

std::span<const kex_method> kex_methods() { return kex_rows; }
std::span<const std::string_view> host_key_algorithms() { return host_key_rows; }
std::span<const cipher_method> cipher_methods() { return cipher_rows; }
std::span<const mac_method> mac_methods() { return mac_rows; }

const kex_method* find_kex(std::string_view name) { return find_row(kex_methods(), name); }
const cipher_method* find_cipher(std::string_view name) { return find_row(cipher_methods(), name); }
const mac_method* find_mac(std::string_view name) { return find_row(mac_methods(), name); }

std::string client_kex_methods() {
    return join(kex_rows, [](const kex_method& k) { return k.name; });
}
std::string client_kex_list() {
    return client_kex_methods() + "," + std::string(ext_info_client) + "," + std::string(strict_kex_client);
}
std::string client_host_key_list() {
    return join(host_key_rows, [](std::string_view n) { return n; });
}
std::string client_cipher_list() {
    return join(cipher_rows, [](const cipher_method& c) { return c.name; });
}
std::string client_mac_list() {
    return join(mac_rows, [](const mac_method& m) { return m.name; });
}

bool name_list_has(std::string_view list, std::string_view name) {
    while (!list.empty()) {
        const auto comma = list.find(',');
        const std::string_view item = list.substr(0, comma);
        if (item == name) return true;
        if (comma == std::string_view::npos) break;
        list.remove_prefix(comma + 1);
    }
    return false;
}

std::optional<std::string_view> negotiate(std::string_view client, std::string_view server) {
    while (!client.empty()) {
        const auto comma = client.find(',');
        const std::string_view item = client.substr(0, comma);
        if (!item.empty() && name_list_has(server, item)) return item;
        if (comma == std::string_view::npos) break;
        client.remove_prefix(comma + 1);
    }
    return std::nullopt;
}

}  // namespace ssh
