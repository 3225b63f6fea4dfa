#pragma once
// The SSH-2 algorithm tables: one row per name, in the client's order of preference. The proposal lists and the
// lookup both come from these rows, so they cannot drift apart. The fixed legacy suite is the same rows with one
// name per list, never negotiated.
#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "crypto/evp.h"

namespace ssh {

// gex: the host picks the group (RFC 4419). The hybrids pair a post-quantum KEM with X25519; their K is a hash
// of both secrets, sent as a string instead of an mpint.
enum class kex_kind { group1, modp, x25519, ecdh, gex, sntrup761_x25519, mlkem768_x25519 };
struct kex_method {
    std::string_view name;
    kex_kind kind;
    crypto::evp::hash_kind hash;
    int param = 0;              // MODP group number or curve size
    bool post_quantum = false;  // holds against a future quantum computer recording the session now
};

enum class cipher_kind { des3_cbc, blowfish_cbc, aes_ctr, aes_gcm, chacha };
struct cipher_method {
    std::string_view name;
    cipher_kind kind;
    std::size_t key_len;
    std::size_t iv_len;
    std::size_t block;  // padding block
    std::size_t tag;    // AEAD tag length; 0 when a MAC is negotiated
};

struct mac_method {
    std::string_view name;
    crypto::evp::hash_kind hash;
    std::size_t key_len;
    std::size_t length;
    bool etm;  // MAC over the encrypted packet, length in clear
};

std::span<const kex_method> kex_methods();
std::span<const std::string_view> host_key_algorithms();
std::span<const cipher_method> cipher_methods();
std::span<const mac_method> mac_methods();

const kex_method* find_kex(std::string_view name);
const cipher_method* find_cipher(std::string_view name);
const mac_method* find_mac(std::string_view name);

// Pseudo-algorithms of the key-exchange list.
inline constexpr std::string_view strict_kex_client = "kex-strict-c-v00@openssh.com";
inline constexpr std::string_view strict_kex_server = "kex-strict-s-v00@openssh.com";
inline constexpr std::string_view ext_info_client = "ext-info-c";

// The client's proposal of the negotiated mode, comma-separated, every row of the tables in order (the key
// exchange list ends with ext-info-c and the strict-kex marker).
std::string client_kex_list();
// The key exchange methods alone: what negotiation may choose (a pseudo-algorithm is a signal, never a method).
std::string client_kex_methods();
std::string client_host_key_list();
std::string client_cipher_list();
std::string client_mac_list();

// RFC 4253 section 7.1: the first name on the client's list that the server's list also holds.
std::optional<std::string_view> negotiate(std::string_view client, std::string_view server);
bool name_list_has(std::string_view list, std::string_view name);

}  // namespace ssh
