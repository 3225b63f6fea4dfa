#include "ssh/packet_cipher.h"

#include <algorithm>

#include "crypto/bytes.h"
#include "crypto/cipher.h"
#include "crypto/evp.h"

namespace ssh {

std::uint32_t packet_cipher::length(std::uint32_t, std::uint8_t* p) { return crypto::load_be(p); }

namespace {

std::size_t padding_block(const cipher_method& c) { return std::max<std::size_t>(c.block, 8); }

// The cipher under a MAC: the project's own CBC ciphers (the fixed suite's) or libcrypto's AES-CTR.
class stream_part {
public:
    bool init(const cipher_method& c, const std::uint8_t* iv, const std::uint8_t* key) {
        switch (c.kind) {
        case cipher_kind::des3_cbc: own_ = &crypto::ssh2_3des_cbc; break;
        case cipher_kind::blowfish_cbc: own_ = &crypto::ssh2_blowfish_cbc; break;
        case cipher_kind::aes_ctr: ctr_ = std::make_unique<crypto::evp::aes_ctr>(key, c.key_len, iv); return ctr_->ok();
        case cipher_kind::aes_gcm:
        case cipher_kind::chacha: return false;
        }
        own_->set_key(ctx_, key);
        own_->set_iv(ctx_, iv);
        return true;
    }
    void encrypt(std::uint8_t* p, std::size_t n) {
        if (ctr_)
            ctr_->apply(p, n);
        else
            own_->encrypt(ctx_, p, n);
    }
    void decrypt(std::uint8_t* p, std::size_t n) {
        if (ctr_)
            ctr_->apply(p, n);
        else
            own_->decrypt(ctx_, p, n);
    }

private:
    const crypto::ssh2_cipher* own_ = nullptr;
    crypto::cipher_context ctx_;
    std::unique_ptr<crypto::evp::aes_ctr> ctr_;
};

// hmac-sha1 (and its -etm form) on the project's own code, the SHA-2 MACs on libcrypto.
class mac_part {
public:
    bool init(const mac_method& m, const std::uint8_t* key) {
        length_ = m.length;
        if (m.hash == crypto::evp::hash_kind::sha1) {
            crypto::ssh2_hmac_sha1.set_key(sha1_, key);
            return true;
        }
        hmac_ = std::make_unique<crypto::evp::hmac>(m.hash, key, m.key_len);
        return hmac_->ok();
    }
    std::size_t length() const { return length_; }
    // The MAC of (seq, p[0..n)) written at p + n.
    void make(std::uint32_t seq, std::uint8_t* p, std::size_t n) const {
        if (hmac_)
            hmac_->compute(seq, p, n, p + n);
        else
            crypto::ssh2_hmac_sha1.make(sha1_, p, n, seq);
    }
    bool verify(std::uint32_t seq, const std::uint8_t* p, std::size_t n) const {
        return hmac_ ? hmac_->verify(seq, p, n, p + n) : crypto::ssh2_hmac_sha1.verify(sha1_, p, n, seq);
    }

private:
    std::size_t length_ = 0;
    crypto::mac_context sha1_;
    std::unique_ptr<crypto::evp::hmac> hmac_;
};

// RFC 4253 section 6: the MAC over the plain packet, the whole packet encrypted, its first block read for the length.
class classic_framing final : public packet_cipher {
public:
    bool init(const cipher_method& c, const mac_method& m, const std::uint8_t* iv, const std::uint8_t* key,
              const std::uint8_t* mac_key) {
        block_ = padding_block(c);
        head_ = c.block;
        return stream_.init(c, iv, key) && mac_.init(m, mac_key);
    }
    std::size_t block() const override { return block_; }
    std::size_t trailer() const override { return mac_.length(); }
    std::size_t head() const override { return head_; }
    std::uint32_t length(std::uint32_t, std::uint8_t* p) override {
        stream_.decrypt(p, head_);
        return crypto::load_be(p);
    }
    bool open(std::uint32_t, std::uint8_t* p, std::uint32_t len) override {
        const std::size_t whole = std::size_t(len) + 4;
        if (whole > head_) stream_.decrypt(p + head_, whole - head_);
        return true;
    }
    bool verify_plain(std::uint32_t seq, const std::uint8_t* p, std::uint32_t len) const override {
        return mac_.verify(seq, p, std::size_t(len) + 4);
    }
    std::size_t mac_plain(std::uint32_t seq, std::uint8_t* p, std::size_t n) override {
        mac_.make(seq, p, n);
        return mac_.length();
    }
    void seal(std::uint32_t, std::uint8_t* p, std::size_t n) override { stream_.encrypt(p, n); }

private:
    std::size_t block_ = 8, head_ = 8;
    stream_part stream_;
    mac_part mac_;
};

// The length in clear, the MAC over the encrypted packet, checked before anything is decrypted.
class etm_framing final : public packet_cipher {
public:
    bool init(const cipher_method& c, const mac_method& m, const std::uint8_t* iv, const std::uint8_t* key,
              const std::uint8_t* mac_key) {
        block_ = padding_block(c);
        return stream_.init(c, iv, key) && mac_.init(m, mac_key);
    }
    std::size_t block() const override { return block_; }
    std::size_t trailer() const override { return mac_.length(); }
    bool length_apart() const override { return true; }
    bool length_fits(std::uint32_t len) const override { return len % block_ == 0; }
    bool open(std::uint32_t seq, std::uint8_t* p, std::uint32_t len) override {
        if (!mac_.verify(seq, p, std::size_t(len) + 4)) return false;
        stream_.decrypt(p + 4, len);
        return true;
    }
    void seal(std::uint32_t seq, std::uint8_t* p, std::size_t n) override {
        stream_.encrypt(p + 4, n - 4);
        mac_.make(seq, p, n);
    }

private:
    std::size_t block_ = 8;
    stream_part stream_;
    mac_part mac_;
};

class gcm_framing final : public packet_cipher {
public:
    bool init(const cipher_method& c, const std::uint8_t* iv, const std::uint8_t* key) {
        block_ = padding_block(c);
        tag_ = c.tag;
        gcm_ = std::make_unique<crypto::evp::aes_gcm>(key, c.key_len, iv);
        return gcm_->ok();
    }
    std::size_t block() const override { return block_; }
    std::size_t trailer() const override { return tag_; }
    bool length_apart() const override { return true; }
    bool length_fits(std::uint32_t len) const override { return len % block_ == 0; }
    bool open(std::uint32_t, std::uint8_t* p, std::uint32_t len) override {
        return gcm_->open(p, p + 4, len, p + 4 + len);
    }
    void seal(std::uint32_t, std::uint8_t* p, std::size_t n) override { gcm_->seal(p, p + 4, n - 4, p + n); }

private:
    std::size_t block_ = 16, tag_ = 16;
    std::unique_ptr<crypto::evp::aes_gcm> gcm_;
};

class chacha_framing final : public packet_cipher {
public:
    bool init(const cipher_method& c, const std::uint8_t* key) {
        block_ = padding_block(c);
        tag_ = c.tag;
        chacha_ = std::make_unique<crypto::evp::chacha20_poly1305>(key);
        return chacha_->ok();
    }
    std::size_t block() const override { return block_; }
    std::size_t trailer() const override { return tag_; }
    bool length_apart() const override { return true; }
    std::uint32_t length(std::uint32_t seq, std::uint8_t* p) override { return chacha_->decrypt_length(seq, p); }
    bool length_fits(std::uint32_t len) const override { return len % block_ == 0; }
    bool open(std::uint32_t seq, std::uint8_t* p, std::uint32_t len) override {
        if (!chacha_->open(seq, p, len, p + 4 + len)) return false;
        crypto::store_be(p, len);  // the log and the payload reader see the plain length
        return true;
    }
    void seal(std::uint32_t seq, std::uint8_t* p, std::size_t n) override { chacha_->seal(seq, p, n - 4, p + n); }

private:
    std::size_t block_ = 8, tag_ = 16;
    std::unique_ptr<crypto::evp::chacha20_poly1305> chacha_;
};

}  // namespace

std::unique_ptr<packet_cipher> make_packet_cipher(const cipher_method& c, const mac_method* m, const std::uint8_t* iv,
                                                  const std::uint8_t* key, const std::uint8_t* mac_key) {
    if (c.kind == cipher_kind::aes_gcm) {
        auto g = std::make_unique<gcm_framing>();
        return g->init(c, iv, key) ? std::move(g) : nullptr;
    }
    if (c.kind == cipher_kind::chacha) {
        auto x = std::make_unique<chacha_framing>();
        return x->init(c, key) ? std::move(x) : nullptr;
    }
    if (!m) return nullptr;
    if (m->etm) {
        auto e = std::make_unique<etm_framing>();
        return e->init(c, *m, iv, key, mac_key) ? std::move(e) : nullptr;
    }
    auto k = std::make_unique<classic_framing>();
    return k->init(c, *m, iv, key, mac_key) ? std::move(k) : nullptr;
}

}  // namespace ssh
