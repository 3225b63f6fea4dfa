#include "crypto/cipher.h"

#include "crypto/bytes.h"
#include "crypto/wipe.h"

namespace crypto {

cipher_context::cipher_context() { clear(); }
cipher_context::~cipher_context() { clear(); }
void cipher_context::clear() {
    wipe(des, sizeof des);
    wipe(&blowfish, sizeof blowfish);
}

mac_context::~mac_context() { clear(); }
void mac_context::clear() { wipe(&keys, sizeof keys); }

namespace {

inline void set_chain(uint32_t chain[2], const uint8_t iv[8]) {
    chain[0] = load_be(iv);
    chain[1] = load_be(iv + 4);
}

void ssh1_des_set_key(cipher_context& c, const uint8_t key[32]) { des_set_key(c.des[0], key); }
void ssh1_des_encrypt(cipher_context& c, uint8_t* buf, std::size_t n) { des_cbc_encrypt(c.des[0], buf, n); }
void ssh1_des_decrypt(cipher_context& c, uint8_t* buf, std::size_t n) { des_cbc_decrypt(c.des[0], buf, n); }

void ssh1_3des_set_key(cipher_context& c, const uint8_t key[32]) {
    for (int i = 0; i < 3; ++i) des_set_key(c.des[i], key + 8 * i);
}
void ssh1_3des_encrypt(cipher_context& c, uint8_t* buf, std::size_t n) { des3_ssh1_encrypt(c.des, buf, n); }
void ssh1_3des_decrypt(cipher_context& c, uint8_t* buf, std::size_t n) { des3_ssh1_decrypt(c.des, buf, n); }

void ssh1_blowfish_set_key(cipher_context& c, const uint8_t key[32]) {
    blowfish_set_key(c.blowfish, key, 32);
    c.blowfish.chain[0] = c.blowfish.chain[1] = 0;
}
void ssh1_blowfish_encrypt(cipher_context& c, uint8_t* buf, std::size_t n) {
    blowfish_cbc_encrypt_le(c.blowfish, buf, n);
}
void ssh1_blowfish_decrypt(cipher_context& c, uint8_t* buf, std::size_t n) {
    blowfish_cbc_decrypt_le(c.blowfish, buf, n);
}

// One EDE chain per direction: des[0].enc_chain when encrypting, des[0].dec_chain when decrypting.
void des3_set_iv(cipher_context& c, const uint8_t iv[8]) {
    set_chain(c.des[0].enc_chain, iv);
    set_chain(c.des[0].dec_chain, iv);
}
void des3_set_key(cipher_context& c, const uint8_t* key) {
    for (int i = 0; i < 3; ++i) des_set_subkeys(c.des[i], key + 8 * i);
}
void des3_encrypt(cipher_context& c, uint8_t* buf, std::size_t n) { des3_ede_cbc_encrypt(c.des, buf, n); }
void des3_decrypt(cipher_context& c, uint8_t* buf, std::size_t n) { des3_ede_cbc_decrypt(c.des, buf, n); }

void bf_set_iv(cipher_context& c, const uint8_t iv[8]) { set_chain(c.blowfish.chain, iv); }
void bf_set_key(cipher_context& c, const uint8_t* key) { blowfish_set_key(c.blowfish, key, 16); }
void bf_encrypt(cipher_context& c, uint8_t* buf, std::size_t n) { blowfish_cbc_encrypt_be(c.blowfish, buf, n); }
void bf_decrypt(cipher_context& c, uint8_t* buf, std::size_t n) { blowfish_cbc_decrypt_be(c.blowfish, buf, n); }

void mac_set_key(mac_context& m, const uint8_t key[20]) { hmac_sha1_set_key(m.keys, key, 20); }
void mac_make(const mac_context& m, uint8_t* buf, std::size_t n, uint32_t seq) {
    hmac_sha1_compute(m.keys, seq, buf, n, buf + n);
}
bool mac_verify(const mac_context& m, const uint8_t* buf, std::size_t n, uint32_t seq) {
    uint8_t mac[20];
    hmac_sha1_compute(m.keys, seq, buf, n, mac);
    const bool ok = equal_const_time(mac, buf + n, 20);
    wipe(mac, sizeof mac);
    return ok;
}

}  // namespace

const ssh1_cipher ssh1_des = {ssh1_des_set_key, ssh1_des_encrypt, ssh1_des_decrypt, 8};
const ssh1_cipher ssh1_3des = {ssh1_3des_set_key, ssh1_3des_encrypt, ssh1_3des_decrypt, 8};
const ssh1_cipher ssh1_blowfish = {ssh1_blowfish_set_key, ssh1_blowfish_encrypt, ssh1_blowfish_decrypt, 8};

const ssh2_cipher ssh2_3des_cbc = {des3_set_iv, des3_set_key, des3_encrypt, des3_decrypt, "3des-cbc", 8, 168, 24};
const ssh2_cipher ssh2_blowfish_cbc = {bf_set_iv, bf_set_key, bf_encrypt, bf_decrypt, "blowfish-cbc", 8, 128, 16};

const ssh2_mac ssh2_hmac_sha1 = {mac_set_key, mac_make, mac_verify, "hmac-sha1", 20};

}  // namespace crypto
