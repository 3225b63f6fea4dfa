#include "crypto/evp.h"

#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/ec.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/obj_mac.h>
#include <openssl/param_build.h>

#include <algorithm>
#include <climits>
#include <cstring>

#include "crypto/bytes.h"
#include "crypto/openssl_ptr.h"
#include "crypto/wipe.h"

namespace crypto::evp {

namespace {

using namespace crypto::openssl;

// Largest slice handed to one OpenSSL update call (they take int lengths).
constexpr std::size_t max_slice = std::size_t(1) << 30;
// Largest packet the AEAD modes accept in one call; SSH packets are far smaller.
constexpr std::size_t max_aead_bytes = std::size_t(1) << 30;

// Algorithms are fetched once: an implicit fetch on every packet would take a global lock each time.
const EVP_MD* md_of(hash_kind k) {
    static EVP_MD* const mds[] = {EVP_MD_fetch(nullptr, "SHA1", nullptr), EVP_MD_fetch(nullptr, "SHA256", nullptr),
                                  EVP_MD_fetch(nullptr, "SHA384", nullptr), EVP_MD_fetch(nullptr, "SHA512", nullptr)};
    return mds[static_cast<int>(k)];
}

const char* md_name(hash_kind k) {
    static const char* const names[] = {"SHA1", "SHA256", "SHA384", "SHA512"};
    return names[static_cast<int>(k)];
}

EVP_CIPHER* cipher_named(const char* name) { return EVP_CIPHER_fetch(nullptr, name, nullptr); }

const EVP_CIPHER* aes_ctr_cipher(std::size_t key_len) {
    static EVP_CIPHER* const c[] = {cipher_named("AES-128-CTR"), cipher_named("AES-192-CTR"),
                                    cipher_named("AES-256-CTR")};
    return key_len == 16 ? c[0] : key_len == 24 ? c[1] : key_len == 32 ? c[2] : nullptr;
}

const EVP_CIPHER* aes_gcm_cipher(std::size_t key_len) {
    static EVP_CIPHER* const c[] = {cipher_named("AES-128-GCM"), cipher_named("AES-192-GCM"),
                                    cipher_named("AES-256-GCM")};
    return key_len == 16 ? c[0] : key_len == 24 ? c[1] : key_len == 32 ? c[2] : nullptr;
}

const EVP_CIPHER* chacha_cipher() {
    static EVP_CIPHER* const c = cipher_named("ChaCha20");
    return c;
}

EVP_MAC* hmac_alg() {
    static EVP_MAC* const m = EVP_MAC_fetch(nullptr, "HMAC", nullptr);
    return m;
}

EVP_MAC* poly1305_alg() {
    static EVP_MAC* const m = EVP_MAC_fetch(nullptr, "POLY1305", nullptr);
    return m;
}

// In place, in slices OpenSSL's int lengths can carry.
bool cipher_update(EVP_CIPHER_CTX* ctx, std::uint8_t* buf, std::size_t n) {
    while (n > 0) {
        const std::size_t part = n < max_slice ? n : max_slice;
        int outl = 0;
        if (EVP_CipherUpdate(ctx, buf, &outl, buf, static_cast<int>(part)) != 1 || std::size_t(outl) != part)
            return false;
        buf += part;
        n -= part;
    }
    return true;
}

std::vector<std::uint8_t> strip_leading_zeros(const std::uint8_t* p, std::size_t n) {
    std::size_t i = 0;
    while (i < n && p[i] == 0) ++i;
    return std::vector<std::uint8_t>(p + i, p + n);
}

// ---- bounded reader over SSH blobs

constexpr std::size_t max_blob_field = 16384 / 8 + 1;  // the largest RSA modulus plus a sign byte

struct blob {
    std::span<const std::uint8_t> rest;

    bool string(std::span<const std::uint8_t>& out, std::size_t max = max_blob_field) {
        if (rest.size() < 4) return false;
        const std::uint32_t n = load_be(rest.data());
        if (n > max || n > rest.size() - 4) return false;
        out = rest.subspan(4, n);
        rest = rest.subspan(4 + n);
        return true;
    }
    bool text(std::string_view& out) {
        std::span<const std::uint8_t> s;
        if (!string(s, 64)) return false;
        out = std::string_view(reinterpret_cast<const char*>(s.data()), s.size());
        return true;
    }
    // A non-negative mpint, returned without its leading zero bytes.
    bool mpint(std::span<const std::uint8_t>& out) {
        if (!string(out)) return false;
        if (!out.empty() && (out[0] & 0x80)) return false;
        while (!out.empty() && out[0] == 0) out = out.subspan(1);
        return true;
    }
    bool at_end() const { return rest.empty(); }
};

// ---- key construction

struct curve {
    int bits;
    std::string_view key_name, ssh_curve;
    const char* group;
    int nid;
    std::size_t coord;  // bytes of one coordinate
    hash_kind hash;
};
constexpr curve curves[] = {
    {256, "ecdsa-sha2-nistp256", "nistp256", "P-256", NID_X9_62_prime256v1, 32, hash_kind::sha256},
    {384, "ecdsa-sha2-nistp384", "nistp384", "P-384", NID_secp384r1, 48, hash_kind::sha384},
    {521, "ecdsa-sha2-nistp521", "nistp521", "P-521", NID_secp521r1, 66, hash_kind::sha512},
};
const curve* curve_by_bits(int bits) {
    for (const curve& c : curves)
        if (c.bits == bits) return &c;
    return nullptr;
}
const curve* curve_by_name(std::string_view key_name) {
    for (const curve& c : curves)
        if (c.key_name == key_name) return &c;
    return nullptr;
}

bool public_key_valid(EVP_PKEY* key) {
    pkey_ctx_ptr ctx(EVP_PKEY_CTX_new_from_pkey(nullptr, key, nullptr));
    return ctx && EVP_PKEY_public_check(ctx.get()) == 1;
}

// An EC public key from its uncompressed point; nullptr unless the point is on the curve.
pkey_ptr ec_public(const curve& c, std::span<const std::uint8_t> point) {
    if (point.size() != 1 + 2 * c.coord || point[0] != 0x04) return nullptr;
    param_bld_ptr bld(OSSL_PARAM_BLD_new());
    if (!bld || OSSL_PARAM_BLD_push_utf8_string(bld.get(), OSSL_PKEY_PARAM_GROUP_NAME, c.group, 0) != 1 ||
        OSSL_PARAM_BLD_push_octet_string(bld.get(), OSSL_PKEY_PARAM_PUB_KEY, point.data(), point.size()) != 1)
        return nullptr;
    pkey_ptr key = from_params("EC", bld.get(), EVP_PKEY_PUBLIC_KEY);
    if (!key || !public_key_valid(key.get())) return nullptr;
    return key;
}

// Derives with our key and the peer's; the raw secret goes to out (wiped by the caller). The callers check the
// peer's value themselves (EC points on the curve, MODP 1 < f < p-1, no zero secret), as OpenSSH does: OpenSSL's
// own check of a MODP value is a full-length exponentiation, three times the exchange's own work with group 18.
bool derive(EVP_PKEY* ours, EVP_PKEY* peer, std::vector<std::uint8_t>& out) {
    pkey_ctx_ptr ctx(EVP_PKEY_CTX_new_from_pkey(nullptr, ours, nullptr));
    std::size_t len = 0;
    if (!ctx || EVP_PKEY_derive_init(ctx.get()) != 1 || EVP_PKEY_derive_set_peer_ex(ctx.get(), peer, 0) != 1 ||
        EVP_PKEY_derive(ctx.get(), nullptr, &len) != 1 || len == 0 || len > 1024)
        return false;
    out.assign(len, 0);
    if (EVP_PKEY_derive(ctx.get(), out.data(), &len) != 1) return false;
    out.resize(len);
    return true;
}

// The secret agreed with the peer's key in minimal big-endian form, the raw copy wiped. Empty when the peer's key
// is missing, the secret is not `length` bytes (0: any length) or it is zero (as a small-order X25519 point gives;
// OpenSSL refuses those too, but that is not ours to assume).
std::optional<std::vector<std::uint8_t>> agree(EVP_PKEY* ours, EVP_PKEY* theirs, std::size_t length) {
    std::vector<std::uint8_t> raw;
    std::optional<std::vector<std::uint8_t>> k;
    if (theirs && derive(ours, theirs, raw) && (length == 0 || raw.size() == length)) {
        k = strip_leading_zeros(raw.data(), raw.size());
        if (k->empty()) k.reset();
    }
    wipe(raw.data(), raw.size());
    return k;
}

// ---- the three kinds of key exchange share

class x25519_share final : public kex_share {
public:
    explicit x25519_share(pkey_ptr key) : key_(std::move(key)) {}
    bool init() {
        std::size_t len = sizeof pub_;
        return EVP_PKEY_get_raw_public_key(key_.get(), pub_, &len) == 1 && len == sizeof pub_;
    }
    std::span<const std::uint8_t> public_value() const override { return pub_; }
    std::optional<std::vector<std::uint8_t>> shared(std::span<const std::uint8_t> peer) override {
        error_queue_guard guard;
        if (peer.size() != 32) return std::nullopt;
        try {
            pkey_ptr theirs(EVP_PKEY_new_raw_public_key(EVP_PKEY_X25519, nullptr, peer.data(), peer.size()));
            return agree(key_.get(), theirs.get(), 32);
        } catch (...) {
            return std::nullopt;
        }
    }

private:
    pkey_ptr key_;
    std::uint8_t pub_[32] = {};
};

class ecdh_share final : public kex_share {
public:
    ecdh_share(const curve& c, pkey_ptr key) : curve_(c), key_(std::move(key)) {}
    bool init() {
        if (EVP_PKEY_get_octet_string_param(key_.get(), OSSL_PKEY_PARAM_ENCODED_PUBLIC_KEY, pub_, sizeof pub_,
                                            &pub_len_) != 1)
            return false;
        return pub_len_ == 1 + 2 * curve_.coord && pub_[0] == 0x04;
    }
    std::span<const std::uint8_t> public_value() const override { return {pub_, pub_len_}; }
    std::optional<std::vector<std::uint8_t>> shared(std::span<const std::uint8_t> peer) override {
        error_queue_guard guard;
        try {
            return agree(key_.get(), ec_public(curve_, peer).get(), curve_.coord);
        } catch (...) {
            return std::nullopt;
        }
    }

private:
    const curve& curve_;
    pkey_ptr key_;
    std::uint8_t pub_[1 + 2 * 66] = {};
    std::size_t pub_len_ = 0;
};

struct modp_group {
    int number;
    const char* name;
    BIGNUM* (*prime)(BIGNUM*);
    std::size_t bytes;
    int priv_bits;  // twice the strength the exchange hash asks for, as OpenSSH chooses
};
constexpr modp_group modp_groups[] = {
    {14, "modp_2048", BN_get_rfc3526_prime_2048, 256, 512},
    {16, "modp_4096", BN_get_rfc3526_prime_4096, 512, 1024},
    {18, "modp_8192", BN_get_rfc3526_prime_8192, 1024, 1024},
};
const modp_group* modp_by_number(int n) {
    for (const modp_group& g : modp_groups)
        if (g.number == n) return &g;
    return nullptr;
}

class modp_share final : public kex_share {
public:
    modp_share(const modp_group& g, pkey_ptr key) : group_(g), key_(std::move(key)) {}
    bool init() {
        BIGNUM* y = nullptr;
        p_.reset(group_.prime(nullptr));
        if (!p_ || EVP_PKEY_get_bn_param(key_.get(), OSSL_PKEY_PARAM_PUB_KEY, &y) != 1) return false;
        bn_ptr pub(y);
        const int n = BN_num_bytes(pub.get());
        if (n <= 0 || std::size_t(n) > group_.bytes) return false;
        pub_.resize(std::size_t(n));
        return BN_bn2bin(pub.get(), pub_.data()) == n;
    }
    std::span<const std::uint8_t> public_value() const override { return pub_; }
    std::optional<std::vector<std::uint8_t>> shared(std::span<const std::uint8_t> peer) override {
        error_queue_guard guard;
        while (!peer.empty() && peer[0] == 0) peer = peer.subspan(1);
        if (peer.empty() || peer.size() > group_.bytes) return std::nullopt;
        try {
            bn_ptr f(BN_bin2bn(peer.data(), int(peer.size()), nullptr));
            bn_ptr p_minus_1(BN_dup(p_.get()));
            if (!f || !p_minus_1 || BN_sub_word(p_minus_1.get(), 1) != 1) return std::nullopt;
            if (BN_cmp(f.get(), BN_value_one()) <= 0 || BN_cmp(f.get(), p_minus_1.get()) >= 0) return std::nullopt;
            param_bld_ptr bld(OSSL_PARAM_BLD_new());
            if (!bld || OSSL_PARAM_BLD_push_utf8_string(bld.get(), OSSL_PKEY_PARAM_GROUP_NAME, group_.name, 0) != 1 ||
                OSSL_PARAM_BLD_push_BN(bld.get(), OSSL_PKEY_PARAM_PUB_KEY, f.get()) != 1)
                return std::nullopt;
            return agree(key_.get(), from_params("DH", bld.get(), EVP_PKEY_PUBLIC_KEY).get(), 0);
        } catch (...) {
            return std::nullopt;
        }
    }

private:
    const modp_group& group_;
    pkey_ptr key_;
    bn_ptr p_;
    std::vector<std::uint8_t> pub_;
};

// A group the host chose (RFC 4419): plain BIGNUM arithmetic, the exponent under the constant-time flag.
class group_share final : public kex_share {
public:
    bool init(std::span<const std::uint8_t> p, std::span<const std::uint8_t> g, int priv_bits) {
        p_.reset(BN_bin2bn(p.data(), int(p.size()), nullptr));
        bn_ptr gb(BN_bin2bn(g.data(), int(g.size()), nullptr)), e(BN_new());
        x_.reset(BN_new());
        ctx_.reset(BN_CTX_new());
        if (!p_ || !gb || !e || !x_ || !ctx_ || priv_bits < 2 || priv_bits >= BN_num_bits(p_.get())) return false;
        // The top bit set keeps the exponent at its full length; 2^(priv_bits-1) > 1 rules out the trivial ones.
        if (BN_priv_rand_ex(x_.get(), priv_bits, BN_RAND_TOP_ONE, BN_RAND_BOTTOM_ANY, 0, ctx_.get()) != 1) return false;
        BN_set_flags(x_.get(), BN_FLG_CONSTTIME);
        if (BN_mod_exp(e.get(), gb.get(), x_.get(), p_.get(), ctx_.get()) != 1) return false;
        bytes_ = std::size_t(BN_num_bytes(p_.get()));
        pub_.resize(std::size_t(BN_num_bytes(e.get())));
        return !pub_.empty() && BN_bn2bin(e.get(), pub_.data()) == int(pub_.size());
    }
    std::span<const std::uint8_t> public_value() const override { return pub_; }
    std::optional<std::vector<std::uint8_t>> shared(std::span<const std::uint8_t> peer) override {
        error_queue_guard guard;
        while (!peer.empty() && peer[0] == 0) peer = peer.subspan(1);
        if (peer.empty() || peer.size() > bytes_) return std::nullopt;
        try {
            bn_ptr f(BN_bin2bn(peer.data(), int(peer.size()), nullptr)), p_minus_1(BN_dup(p_.get())), k(BN_new());
            if (!f || !p_minus_1 || !k || BN_sub_word(p_minus_1.get(), 1) != 1) return std::nullopt;
            if (BN_cmp(f.get(), BN_value_one()) <= 0 || BN_cmp(f.get(), p_minus_1.get()) >= 0) return std::nullopt;
            if (BN_mod_exp(k.get(), f.get(), x_.get(), p_.get(), ctx_.get()) != 1 || BN_is_zero(k.get()))
                return std::nullopt;
            std::vector<std::uint8_t> out(std::size_t(BN_num_bytes(k.get())));
            if (BN_bn2bin(k.get(), out.data()) != int(out.size())) {
                wipe(out.data(), out.size());
                return std::nullopt;
            }
            return out;
        } catch (...) {
            return std::nullopt;
        }
    }

private:
    bn_ptr p_, x_;
    bn_ctx_ptr ctx_;
    std::vector<std::uint8_t> pub_;
    std::size_t bytes_ = 0;
};

template <class Share, class... A>
std::unique_ptr<kex_share> finish(pkey_ptr key, A&&... a) {
    if (!key) return nullptr;
    auto s = std::make_unique<Share>(std::forward<A>(a)..., std::move(key));
    if (!s->init()) return nullptr;
    return s;
}

// ---- signatures

bool digest_verify(EVP_PKEY* key, const EVP_MD* md, std::span<const std::uint8_t> sig,
                   std::span<const std::uint8_t> data) {
    md_ctx_ptr ctx(EVP_MD_CTX_new());
    return ctx && EVP_DigestVerifyInit(ctx.get(), nullptr, md, nullptr, key) == 1 &&
           EVP_DigestVerify(ctx.get(), sig.data(), sig.size(), data.data(), data.size()) == 1;
}

// The signature blob: string alg (which must be the negotiated one), string signature, nothing after.
bool signature_body(std::span<const std::uint8_t> sig_blob, std::string_view alg, std::span<const std::uint8_t>& out) {
    blob b{sig_blob};
    std::string_view name;
    return b.text(name) && name == alg && b.string(out) && b.at_end();
}

bool verify_ed25519(std::span<const std::uint8_t> key_blob, std::span<const std::uint8_t> sig_blob,
                    std::span<const std::uint8_t> data) {
    blob k{key_blob};
    std::string_view name;
    std::span<const std::uint8_t> pub, sig;
    if (!k.text(name) || name != "ssh-ed25519" || !k.string(pub) || pub.size() != 32 || !k.at_end()) return false;
    if (!signature_body(sig_blob, "ssh-ed25519", sig) || sig.size() != 64) return false;
    pkey_ptr key(EVP_PKEY_new_raw_public_key(EVP_PKEY_ED25519, nullptr, pub.data(), pub.size()));
    return key && digest_verify(key.get(), nullptr, sig, data);
}

bool verify_ecdsa(const curve& c, std::span<const std::uint8_t> key_blob, std::span<const std::uint8_t> sig_blob,
                  std::span<const std::uint8_t> data) {
    blob k{key_blob};
    std::string_view name, curve_name;
    std::span<const std::uint8_t> point, body, r, s;
    if (!k.text(name) || name != c.key_name || !k.text(curve_name) || curve_name != c.ssh_curve || !k.string(point) ||
        !k.at_end())
        return false;
    if (!signature_body(sig_blob, c.key_name, body)) return false;
    blob rs{body};
    if (!rs.mpint(r) || !rs.mpint(s) || !rs.at_end() || r.empty() || s.empty() || r.size() > c.coord ||
        s.size() > c.coord)
        return false;
    pkey_ptr key = ec_public(c, point);
    if (!key) return false;
    ecdsa_sig_ptr sig(ECDSA_SIG_new());
    BIGNUM* br = BN_bin2bn(r.data(), int(r.size()), nullptr);
    BIGNUM* bs = BN_bin2bn(s.data(), int(s.size()), nullptr);
    if (!sig || !br || !bs || ECDSA_SIG_set0(sig.get(), br, bs) != 1) {
        BN_free(br);
        BN_free(bs);
        return false;
    }
    unsigned char* der = nullptr;
    const int der_len = i2d_ECDSA_SIG(sig.get(), &der);
    if (der_len <= 0) return false;
    const bool ok = digest_verify(key.get(), md_of(c.hash), {der, std::size_t(der_len)}, data);
    OPENSSL_free(der);
    return ok;
}

constexpr int rsa_min_bits = 1024, rsa_max_bits = 16384, rsa_max_e_bits = 64;

struct rsa_fields {
    std::span<const std::uint8_t> e, n;
};
std::optional<rsa_fields> read_rsa_key(std::span<const std::uint8_t> key_blob) {
    blob k{key_blob};
    std::string_view name;
    rsa_fields f;
    if (!k.text(name) || name != "ssh-rsa" || !k.mpint(f.e) || !k.mpint(f.n) || !k.at_end()) return std::nullopt;
    return f;
}

bool verify_rsa(hash_kind h, std::string_view alg, std::span<const std::uint8_t> key_blob,
                std::span<const std::uint8_t> sig_blob, std::span<const std::uint8_t> data) {
    auto f = read_rsa_key(key_blob);
    std::span<const std::uint8_t> sig;
    if (!f || !signature_body(sig_blob, alg, sig)) return false;
    bn_ptr n(BN_bin2bn(f->n.data(), int(f->n.size()), nullptr));
    bn_ptr e(BN_bin2bn(f->e.data(), int(f->e.size()), nullptr));
    if (!n || !e) return false;
    const int bits = BN_num_bits(n.get());
    if (bits < rsa_min_bits || bits > rsa_max_bits || !BN_is_odd(n.get())) return false;
    if (BN_num_bits(e.get()) > rsa_max_e_bits || !BN_is_odd(e.get()) || BN_is_one(e.get())) return false;
    // OpenSSH pads a signature that came out shorter than the modulus; one longer is malformed.
    const std::size_t mod_bytes = std::size_t(BN_num_bytes(n.get()));
    if (sig.empty() || sig.size() > mod_bytes) return false;
    std::vector<std::uint8_t> padded(mod_bytes, 0);
    std::memcpy(padded.data() + (mod_bytes - sig.size()), sig.data(), sig.size());
    param_bld_ptr bld(OSSL_PARAM_BLD_new());
    if (!bld || OSSL_PARAM_BLD_push_BN(bld.get(), OSSL_PKEY_PARAM_RSA_N, n.get()) != 1 ||
        OSSL_PARAM_BLD_push_BN(bld.get(), OSSL_PKEY_PARAM_RSA_E, e.get()) != 1)
        return false;
    pkey_ptr key = from_params("RSA", bld.get(), EVP_PKEY_PUBLIC_KEY);
    return key && digest_verify(key.get(), md_of(h), padded, data);
}

bool printable_name(std::string_view s) {
    if (s.empty()) return false;
    for (char c : s)
        if (c <= ' ' || c > '~') return false;
    return true;
}

}  // namespace

// ---- hashes

std::size_t digest_length(hash_kind k) {
    switch (k) {
    case hash_kind::sha1: return 20;
    case hash_kind::sha256: return 32;
    case hash_kind::sha384: return 48;
    case hash_kind::sha512: return 64;
    }
    return 0;
}

hash_context::hash_context(hash_kind k) : kind_(k), ctx_(EVP_MD_CTX_new()) {
    ok_ = ctx_ && md_of(k) && EVP_DigestInit_ex2(ctx_, md_of(k), nullptr) == 1;
}

hash_context::hash_context(const hash_context& o) : kind_(o.kind_), ctx_(EVP_MD_CTX_new()) {
    ok_ = o.ok_ && ctx_ && EVP_MD_CTX_copy_ex(ctx_, o.ctx_) == 1;
}

hash_context& hash_context::operator=(const hash_context& o) {
    if (this == &o) return *this;
    kind_ = o.kind_;
    if (!ctx_) ctx_ = EVP_MD_CTX_new();
    ok_ = o.ok_ && ctx_ && EVP_MD_CTX_copy_ex(ctx_, o.ctx_) == 1;
    return *this;
}

hash_context::~hash_context() { EVP_MD_CTX_free(ctx_); }  // frees the digest state cleansed

void hash_context::update(const void* p, std::size_t n) {
    if (ok_ && n > 0) ok_ = EVP_DigestUpdate(ctx_, p, n) == 1;
}

void hash_context::absorb_string(const void* p, std::size_t n) {
    std::uint8_t len[4];
    store_be(len, static_cast<std::uint32_t>(n));
    if (n > 0xffffffffu) ok_ = false;  // has no SSH string form
    update(len, 4);
    update(p, n);
}

std::size_t hash_context::final(std::uint8_t* out) {
    const std::size_t len = digest_length(kind_);
    unsigned int got = 0;
    const bool ok = ok_ && EVP_DigestFinal_ex(ctx_, out, &got) == 1 && got == len;
    ok_ = false;
    if (!ok) {
        std::memset(out, 0, len);
        ERR_clear_error();
        return 0;
    }
    return len;
}

std::size_t digest(hash_kind k, const void* p, std::size_t n, std::uint8_t* out) {
    hash_context h(k);
    h.update(p, n);
    return h.final(out);
}

// ---- HMAC

hmac::hmac(hash_kind k, const std::uint8_t* key, std::size_t key_len) : kind_(k) {
    error_queue_guard guard;
    constexpr std::size_t max_key = 1024;
    if (key_len > max_key || (!key && key_len > 0) || !hmac_alg()) return;
    ctx_ = EVP_MAC_CTX_new(hmac_alg());
    if (!ctx_) return;
    OSSL_PARAM params[] = {OSSL_PARAM_construct_utf8_string(OSSL_MAC_PARAM_DIGEST, const_cast<char*>(md_name(k)), 0),
                           OSSL_PARAM_construct_end()};
    static const std::uint8_t no_key = 0;
    if (EVP_MAC_init(ctx_, key ? key : &no_key, key_len, params) != 1) {
        EVP_MAC_CTX_free(ctx_);
        ctx_ = nullptr;
    }
}

hmac::~hmac() { EVP_MAC_CTX_free(ctx_); }  // the key pads go with the context, cleansed

std::size_t hmac::length() const { return digest_length(kind_); }

bool hmac::run(std::uint32_t seq, const std::uint8_t* data, std::size_t n, std::uint8_t* out) const {
    if (!ctx_ || (!data && n > 0)) return false;
    std::uint8_t s[4];
    store_be(s, seq);
    std::size_t got = 0;
    // A null key re-initialises with the key already set, without hashing it again.
    return EVP_MAC_init(ctx_, nullptr, 0, nullptr) == 1 && EVP_MAC_update(ctx_, s, 4) == 1 &&
           (n == 0 || EVP_MAC_update(ctx_, data, n) == 1) && EVP_MAC_final(ctx_, out, &got, max_digest_length) == 1 &&
           got == length();
}

void hmac::compute(std::uint32_t seq, const std::uint8_t* data, std::size_t n, std::uint8_t* out) const {
    if (!run(seq, data, n, out)) {
        std::memset(out, 0, length());
        ERR_clear_error();
    }
}

bool hmac::verify(std::uint32_t seq, const std::uint8_t* data, std::size_t n, const std::uint8_t* mac) const {
    std::uint8_t want[max_digest_length];
    const bool ran = run(seq, data, n, want);
    const bool ok = ran && equal_const_time(want, mac, length());
    wipe(want, sizeof want);
    if (!ran) ERR_clear_error();
    return ok;
}

// ---- AES-CTR

aes_ctr::aes_ctr(const std::uint8_t* key, std::size_t key_len, const std::uint8_t iv[16]) {
    error_queue_guard guard;
    const EVP_CIPHER* c = aes_ctr_cipher(key_len);
    if (!c || !key || !iv) return;
    ctx_ = EVP_CIPHER_CTX_new();
    if (ctx_ && EVP_EncryptInit_ex2(ctx_, c, key, iv, nullptr) != 1) {
        EVP_CIPHER_CTX_free(ctx_);
        ctx_ = nullptr;
    }
}

aes_ctr::~aes_ctr() { EVP_CIPHER_CTX_free(ctx_); }  // cleanses the key schedule

void aes_ctr::apply(std::uint8_t* buf, std::size_t n) {
    if (n == 0) return;
    if (!ctx_ || !cipher_update(ctx_, buf, n)) {
        wipe(buf, n);
        ERR_clear_error();
    }
}

// ---- AES-GCM

aes_gcm::aes_gcm(const std::uint8_t* key, std::size_t key_len, const std::uint8_t iv[12]) {
    error_queue_guard guard;
    const EVP_CIPHER* c = aes_gcm_cipher(key_len);
    if (!c || !key || !iv) return;
    std::memcpy(iv_, iv, sizeof iv_);
    ctx_ = EVP_CIPHER_CTX_new();
    if (ctx_ && EVP_CipherInit_ex2(ctx_, c, key, nullptr, 1, nullptr) != 1) {
        EVP_CIPHER_CTX_free(ctx_);
        ctx_ = nullptr;
    }
}

aes_gcm::~aes_gcm() {
    EVP_CIPHER_CTX_free(ctx_);
    wipe(iv_, sizeof iv_);
}

bool aes_gcm::crypt(bool enc, std::span<const std::uint8_t> aad, std::uint8_t* buf, std::size_t n, std::uint8_t* tag) {
    error_queue_guard guard;
    int outl = 0;
    std::uint8_t tail[16];
    bool ok = ctx_ && aad.size() <= max_aad && n <= max_aead_bytes && (buf || n == 0) &&
              EVP_CipherInit_ex2(ctx_, nullptr, nullptr, iv_, enc ? 1 : 0, nullptr) == 1 &&
              (aad.empty() || EVP_CipherUpdate(ctx_, nullptr, &outl, aad.data(), int(aad.size())) == 1) &&
              cipher_update(ctx_, buf, n);
    if (ok && !enc) ok = EVP_CIPHER_CTX_ctrl(ctx_, EVP_CTRL_AEAD_SET_TAG, 16, tag) == 1;
    if (ok) ok = EVP_CipherFinal_ex(ctx_, tail, &outl) == 1 && outl == 0;
    if (ok && enc) ok = EVP_CIPHER_CTX_ctrl(ctx_, EVP_CTRL_AEAD_GET_TAG, 16, tag) == 1;
    // The invocation counter moves on whatever happened: a packet's IV is never used twice.
    for (int i = 11; i >= 4; --i)
        if (++iv_[i] != 0) break;
    return ok;
}

void aes_gcm::seal(const std::uint8_t aad[4], std::uint8_t* buf, std::size_t n, std::uint8_t tag[16]) {
    seal(std::span<const std::uint8_t>(aad, 4), buf, n, tag);
}

bool aes_gcm::open(const std::uint8_t aad[4], std::uint8_t* buf, std::size_t n, const std::uint8_t tag[16]) {
    return open(std::span<const std::uint8_t>(aad, 4), buf, n, tag);
}

void aes_gcm::seal(std::span<const std::uint8_t> aad, std::uint8_t* buf, std::size_t n, std::uint8_t tag[16]) {
    if (!crypt(true, aad, buf, n, tag)) {
        if (buf) wipe(buf, n);
        wipe(tag, 16);
    }
}

bool aes_gcm::open(std::span<const std::uint8_t> aad, std::uint8_t* buf, std::size_t n, const std::uint8_t tag[16]) {
    std::uint8_t t[16];
    std::memcpy(t, tag, 16);
    const bool ok = crypt(false, aad, buf, n, t);
    if (!ok && buf) wipe(buf, n);  // unauthenticated plaintext is not handed on
    return ok;
}

// ---- chacha20-poly1305@openssh.com

namespace {
// OpenSSL's ChaCha20 IV is the 64-bit block counter (little-endian) followed by the 64-bit nonce.
void chacha_iv(std::uint8_t iv[16], std::uint32_t counter, std::uint32_t seq) {
    std::memset(iv, 0, 16);
    store_le(iv, counter);
    store_be(iv + 12, seq);
}

bool chacha_run(EVP_CIPHER_CTX* ctx, std::uint32_t counter, std::uint32_t seq, std::uint8_t* buf, std::size_t n) {
    std::uint8_t iv[16];
    chacha_iv(iv, counter, seq);
    return EVP_CipherInit_ex2(ctx, nullptr, nullptr, iv, 1, nullptr) == 1 && cipher_update(ctx, buf, n);
}

EVP_CIPHER_CTX* chacha_keyed(const std::uint8_t* key) {
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    std::uint8_t iv[16] = {};
    if (ctx && (!chacha_cipher() || EVP_CipherInit_ex2(ctx, chacha_cipher(), key, iv, 1, nullptr) != 1)) {
        EVP_CIPHER_CTX_free(ctx);
        ctx = nullptr;
    }
    return ctx;
}
}  // namespace

chacha20_poly1305::chacha20_poly1305(const std::uint8_t key[64]) {
    error_queue_guard guard;
    if (!key || !poly1305_alg()) return;
    main_ = chacha_keyed(key);
    header_ = chacha_keyed(key + 32);
    poly_ = EVP_MAC_CTX_new(poly1305_alg());
    if (!main_ || !header_ || !poly_) {
        EVP_CIPHER_CTX_free(main_);
        EVP_CIPHER_CTX_free(header_);
        EVP_MAC_CTX_free(poly_);
        main_ = header_ = nullptr;
        poly_ = nullptr;
    }
}

chacha20_poly1305::~chacha20_poly1305() {
    EVP_CIPHER_CTX_free(main_);
    EVP_CIPHER_CTX_free(header_);
    EVP_MAC_CTX_free(poly_);
}

std::uint32_t chacha20_poly1305::decrypt_length(std::uint32_t seq, const std::uint8_t enc_len[4]) const {
    error_queue_guard guard;
    std::uint8_t b[4];
    std::memcpy(b, enc_len, 4);
    // An unusable object yields the largest length, which every packet layer refuses.
    if (!header_ || !chacha_run(header_, 0, seq, b, 4)) return 0xffffffffu;
    return load_be(b);
}

bool chacha20_poly1305::poly_key(std::uint32_t seq, std::uint8_t out[32]) {
    std::memset(out, 0, 32);
    return chacha_run(main_, 0, seq, out, 32);
}

bool chacha20_poly1305::tag_of(const std::uint8_t key[32], const std::uint8_t* p, std::size_t n, std::uint8_t out[16]) {
    std::size_t got = 0;
    return EVP_MAC_init(poly_, key, 32, nullptr) == 1 && EVP_MAC_update(poly_, p, n) == 1 &&
           EVP_MAC_final(poly_, out, &got, 16) == 1 && got == 16;
}

void chacha20_poly1305::seal(std::uint32_t seq, std::uint8_t* pkt, std::size_t n, std::uint8_t tag[16]) {
    error_queue_guard guard;
    std::uint8_t key[32];
    const bool sealed = ok() && n <= max_aead_bytes && poly_key(seq, key) && chacha_run(header_, 0, seq, pkt, 4) &&
                        chacha_run(main_, 1, seq, pkt + 4, n) && tag_of(key, pkt, 4 + n, tag);
    wipe(key, sizeof key);
    if (!sealed) {
        if (n <= max_aead_bytes) wipe(pkt, 4 + n);
        wipe(tag, 16);
    }
}

bool chacha20_poly1305::open(std::uint32_t seq, std::uint8_t* pkt, std::size_t n, const std::uint8_t tag[16]) {
    error_queue_guard guard;
    std::uint8_t key[32], want[16];
    const bool authentic = ok() && n <= max_aead_bytes && poly_key(seq, key) && tag_of(key, pkt, 4 + n, want) &&
                           equal_const_time(want, tag, 16);
    wipe(key, sizeof key);
    wipe(want, sizeof want);
    return authentic && chacha_run(main_, 1, seq, pkt + 4, n);
}

// ---- key exchange

std::unique_ptr<kex_share> make_x25519() {
    error_queue_guard guard;
    try {
        return finish<x25519_share>(pkey_ptr(EVP_PKEY_Q_keygen(nullptr, nullptr, "X25519")));
    } catch (...) {
        return nullptr;
    }
}

std::unique_ptr<kex_share> make_x25519(std::span<const std::uint8_t> priv) {
    error_queue_guard guard;
    if (priv.size() != 32) return nullptr;
    try {
        return finish<x25519_share>(
            pkey_ptr(EVP_PKEY_new_raw_private_key(EVP_PKEY_X25519, nullptr, priv.data(), priv.size())));
    } catch (...) {
        return nullptr;
    }
}

std::unique_ptr<kex_share> make_ecdh(int bits) {
    error_queue_guard guard;
    const curve* c = curve_by_bits(bits);
    if (!c) return nullptr;
    try {
        return finish<ecdh_share>(pkey_ptr(EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", c->group)), *c);
    } catch (...) {
        return nullptr;
    }
}

std::unique_ptr<kex_share> make_ecdh(int bits, std::span<const std::uint8_t> priv) {
    error_queue_guard guard;
    const curve* c = curve_by_bits(bits);
    if (!c || priv.empty() || priv.size() > c->coord) return nullptr;
    try {
        ec_group_ptr group(EC_GROUP_new_by_curve_name(c->nid));
        bn_ptr d(BN_bin2bn(priv.data(), int(priv.size()), nullptr));
        if (!group || !d || BN_is_zero(d.get()) || BN_cmp(d.get(), EC_GROUP_get0_order(group.get())) >= 0)
            return nullptr;
        ec_point_ptr q(EC_POINT_new(group.get()));
        std::uint8_t pub[1 + 2 * 66];
        if (!q || EC_POINT_mul(group.get(), q.get(), d.get(), nullptr, nullptr, nullptr) != 1 ||
            EC_POINT_point2oct(group.get(), q.get(), POINT_CONVERSION_UNCOMPRESSED, pub, sizeof pub, nullptr) !=
                1 + 2 * c->coord)
            return nullptr;
        param_bld_ptr bld(OSSL_PARAM_BLD_new());
        if (!bld || OSSL_PARAM_BLD_push_utf8_string(bld.get(), OSSL_PKEY_PARAM_GROUP_NAME, c->group, 0) != 1 ||
            OSSL_PARAM_BLD_push_BN(bld.get(), OSSL_PKEY_PARAM_PRIV_KEY, d.get()) != 1 ||
            OSSL_PARAM_BLD_push_octet_string(bld.get(), OSSL_PKEY_PARAM_PUB_KEY, pub, 1 + 2 * c->coord) != 1)
            return nullptr;
        return finish<ecdh_share>(from_params("EC", bld.get(), EVP_PKEY_KEYPAIR), *c);
    } catch (...) {
        return nullptr;
    }
}

std::unique_ptr<kex_share> make_modp(int group) {
    error_queue_guard guard;
    const modp_group* g = modp_by_number(group);
    if (!g) return nullptr;
    try {
        pkey_ctx_ptr ctx(EVP_PKEY_CTX_new_from_name(nullptr, "DH", nullptr));
        int priv_bits = g->priv_bits;
        OSSL_PARAM params[] = {
            OSSL_PARAM_construct_utf8_string(OSSL_PKEY_PARAM_GROUP_NAME, const_cast<char*>(g->name), 0),
            OSSL_PARAM_construct_int(OSSL_PKEY_PARAM_DH_PRIV_LEN, &priv_bits), OSSL_PARAM_construct_end()};
        EVP_PKEY* key = nullptr;
        if (!ctx || EVP_PKEY_keygen_init(ctx.get()) != 1 || EVP_PKEY_CTX_set_params(ctx.get(), params) != 1 ||
            EVP_PKEY_generate(ctx.get(), &key) != 1)
            return nullptr;
        return finish<modp_share>(pkey_ptr(key), *g);
    } catch (...) {
        return nullptr;
    }
}

std::unique_ptr<kex_share> make_modp(int group, std::span<const std::uint8_t> priv) {
    error_queue_guard guard;
    const modp_group* g = modp_by_number(group);
    if (!g || priv.empty() || priv.size() > g->bytes) return nullptr;
    try {
        bn_ptr p(g->prime(nullptr)), x(BN_bin2bn(priv.data(), int(priv.size()), nullptr)), two(BN_new()), y(BN_new()),
            p_minus_1(nullptr);
        bn_ctx_ptr bctx(BN_CTX_new());
        if (!p || !x || !two || !y || !bctx || BN_set_word(two.get(), 2) != 1) return nullptr;
        p_minus_1.reset(BN_dup(p.get()));
        if (!p_minus_1 || BN_sub_word(p_minus_1.get(), 1) != 1 || BN_cmp(x.get(), BN_value_one()) <= 0 ||
            BN_cmp(x.get(), p_minus_1.get()) >= 0)
            return nullptr;
        BN_set_flags(x.get(), BN_FLG_CONSTTIME);
        if (BN_mod_exp(y.get(), two.get(), x.get(), p.get(), bctx.get()) != 1) return nullptr;
        param_bld_ptr bld(OSSL_PARAM_BLD_new());
        if (!bld || OSSL_PARAM_BLD_push_utf8_string(bld.get(), OSSL_PKEY_PARAM_GROUP_NAME, g->name, 0) != 1 ||
            OSSL_PARAM_BLD_push_BN(bld.get(), OSSL_PKEY_PARAM_PRIV_KEY, x.get()) != 1 ||
            OSSL_PARAM_BLD_push_BN(bld.get(), OSSL_PKEY_PARAM_PUB_KEY, y.get()) != 1)
            return nullptr;
        return finish<modp_share>(from_params("DH", bld.get(), EVP_PKEY_KEYPAIR), *g);
    } catch (...) {
        return nullptr;
    }
}

int bit_length(std::span<const std::uint8_t> p) {
    while (!p.empty() && p[0] == 0) p = p.subspan(1);
    if (p.empty()) return 0;
    int top = 0;
    for (unsigned v = p[0]; v; v >>= 1) ++top;
    return int(std::min<std::size_t>(p.size() - 1, INT_MAX / 8 - 8)) * 8 + top;
}

group_fault check_group(std::span<const std::uint8_t> p, std::span<const std::uint8_t> g, int min_bits, int max_bits) {
    const int bits = bit_length(p);
    if (bits < min_bits) return group_fault::too_small;
    if (bits > max_bits) return group_fault::too_large;
    if ((p.back() & 1) == 0) return group_fault::even_modulus;
    error_queue_guard guard;
    bn_ptr pb(BN_bin2bn(p.data(), int(p.size()), nullptr)), gb(BN_bin2bn(g.data(), int(g.size()), nullptr));
    if (!pb || !gb || BN_sub_word(pb.get(), 1) != 1) return group_fault::bad_generator;
    if (BN_cmp(gb.get(), BN_value_one()) <= 0 || BN_cmp(gb.get(), pb.get()) >= 0) return group_fault::bad_generator;
    return group_fault::none;
}

std::unique_ptr<kex_share> make_group_share(std::span<const std::uint8_t> p, std::span<const std::uint8_t> g,
                                            int priv_bits) {
    error_queue_guard guard;
    if (check_group(p, g, 1024, 16384) != group_fault::none) return nullptr;
    try {
        auto s = std::make_unique<group_share>();
        if (!s->init(p, g, priv_bits)) return nullptr;
        return s;
    } catch (...) {
        return nullptr;
    }
}

// ---- host keys

bool verify_host_signature(std::string_view alg, std::span<const std::uint8_t> key_blob,
                           std::span<const std::uint8_t> sig_blob, std::span<const std::uint8_t> data) {
    error_queue_guard guard;
    try {
        if (alg == "ssh-ed25519") return verify_ed25519(key_blob, sig_blob, data);
        if (const curve* c = curve_by_name(alg)) return verify_ecdsa(*c, key_blob, sig_blob, data);
        if (alg == "rsa-sha2-256") return verify_rsa(hash_kind::sha256, alg, key_blob, sig_blob, data);
        if (alg == "rsa-sha2-512") return verify_rsa(hash_kind::sha512, alg, key_blob, sig_blob, data);
        if (alg == "ssh-rsa") return verify_rsa(hash_kind::sha1, alg, key_blob, sig_blob, data);
        return false;
    } catch (...) {
        return false;
    }
}

std::string key_type(std::span<const std::uint8_t> key_blob) {
    try {
        blob b{key_blob};
        std::string_view name;
        if (!b.text(name) || !printable_name(name)) return {};
        std::span<const std::uint8_t> f;
        bool ok = true;
        if (name == "ssh-rsa") {
            ok = read_rsa_key(key_blob).has_value();
        } else if (name == "ssh-ed25519") {
            ok = b.string(f) && f.size() == 32 && b.at_end();
        } else if (name == "ssh-dss") {
            for (int i = 0; i < 4 && ok; ++i) ok = b.mpint(f);
            ok = ok && b.at_end();
        } else if (const curve* c = curve_by_name(name)) {
            std::string_view curve_name;
            ok = b.text(curve_name) && curve_name == c->ssh_curve && b.string(f) && f.size() == 1 + 2 * c->coord &&
                 f[0] == 0x04 && b.at_end();
        }
        return ok ? std::string(name) : std::string();
    } catch (...) {
        return {};
    }
}

}  // namespace crypto::evp
