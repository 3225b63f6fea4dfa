#pragma once
// Private keys for public-key sign-on: OpenSSH's own key files ("openssh-key-v1", plain or passphrase-protected
// with bcrypt_pbkdf) and PEM / PKCS#8 RSA and ECDSA keys. The key material and every signature come from
// OpenSSL's libcrypto; nothing here throws.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

typedef struct evp_pkey_st EVP_PKEY;

namespace ssh {

// A private key held in memory (libcrypto EVP_PKEY inside); move-only; libcrypto wipes the key when it goes.
class private_key {
public:
    private_key(private_key&&) noexcept;
    private_key& operator=(private_key&&) noexcept;
    ~private_key();
    private_key(const private_key&) = delete;
    private_key& operator=(const private_key&) = delete;

    // "ssh-ed25519", "ecdsa-sha2-nistp256", "ecdsa-sha2-nistp384", "ecdsa-sha2-nistp521" or "ssh-rsa".
    std::string_view type() const { return type_; }
    // The SSH public key blob.
    std::span<const std::uint8_t> public_blob() const { return blob_; }
    // The SSH signature blob (string alg, string signature; ECDSA: mpint r, mpint s inside) over data. alg is
    // type(), or for RSA keys "rsa-sha2-256", "rsa-sha2-512" or "ssh-rsa". Empty on failure.
    std::optional<std::vector<std::uint8_t>> sign(std::string_view alg, std::span<const std::uint8_t> data) const;
    // The size in bits (RSA modulus, curve order, 256 for ed25519).
    int bits() const { return bits_; }

    // Takes ownership of a key libcrypto made; nullopt unless it is an ed25519, P-256/384/521 or RSA key whose
    // size is one SSH allows (RSA 1024..16384 bits).
    static std::optional<private_key> adopt(EVP_PKEY* key);

private:
    private_key() = default;
    void release();
    EVP_PKEY* key_ = nullptr;
    std::string type_;
    std::vector<std::uint8_t> blob_;
    int bits_ = 0;
};

// cancelled: the caller's cancel flag stopped the key derivation.
enum class key_status {
    ok,
    missing,
    bad_permissions,
    needs_passphrase,
    wrong_passphrase,
    unsupported,
    malformed,
    cancelled
};

struct key_load {
    key_status status = key_status::missing;
    std::optional<private_key> key;         // when ok
    std::vector<std::uint8_t> public_blob;  // when ok, or known without the passphrase (openssh-key-v1 keeps it
                                            // in clear; else from FILE.pub when present)
    std::string reason;                     // for the user, when not ok
};

// Largest key file read, and the most bcrypt_pbkdf rounds a key file may ask for (more would hold the sign-on for
// minutes; ssh-keygen's default is 16).
constexpr std::size_t max_key_file_bytes = std::size_t(1) << 20;
constexpr unsigned max_kdf_rounds = 4096;

// Reads a key file: a regular file (never a FIFO or a folder) of at most max_key_file_bytes, refused with
// bad_permissions when group or others have any access to it, as OpenSSH refuses it. With an empty passphrase an
// encrypted key gives needs_passphrase (with public_blob when known). Setting *cancel (from any thread) ends a
// running key derivation within one bcrypt round, with status cancelled.
key_load load_private_key(const std::string& path, std::string_view passphrase = {},
                          const std::atomic<bool>* cancel = nullptr);
// The same for a file's text, without the file checks and without FILE.pub. A key asking for more than max_rounds
// bcrypt rounds is unsupported, passphrase or not.
key_load parse_private_key(std::span<const std::uint8_t> text, std::string_view passphrase,
                           unsigned max_rounds = max_kdf_rounds, const std::atomic<bool>* cancel = nullptr);

// bcrypt_pbkdf as OpenSSH uses it. Empty on bad arguments (rounds 0, empty passphrase or salt, salt over 1 MiB,
// output empty or over 1024 bytes) and when *cancel is found set between two rounds.
std::optional<std::vector<std::uint8_t>> bcrypt_pbkdf(std::string_view pass, std::span<const std::uint8_t> salt,
                                                      unsigned rounds, std::size_t out_len,
                                                      const std::atomic<bool>* cancel = nullptr);

// The blob of a public key file ("type base64 [comment]", as FILE.pub and FILE-cert.pub hold it): a regular file
// of at most 64 KiB whose type names what the blob holds; empty otherwise.
std::vector<std::uint8_t> read_public_key_file(const std::string& path);

// ~/.ssh/id_ed25519, id_ecdsa, id_rsa (in that order); empty without HOME.
std::vector<std::string> default_key_files();

}  // namespace ssh
