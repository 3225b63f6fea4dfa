#include "crypto/cipher.h"

#include "crypto/blowfish.h"
#include "crypto/bytes.h"
#include "crypto/des.h"
#include "crypto/hmac.h"
#include "crypto/wipe.h"

namespace crypto {
namespace {

struct direction {
    des_key_context des[3];
    blowfish_context blowfish;
    hmac_sha1_keys mac;
};

direction out_state;
direction in_state;

inline void set_chain(uint32_t chain[2], const uint8_t iv[8]) {
    chain[0] = load_be(iv);
    chain[1] = load_be(iv + 4);
}

// SSH-1 DES: the outgoing first context carries both chains; the incoming one is keyed too but unused.
void ssh1_des_set_key(const uint8_t key[32]) {
    des_set_key(out_state.des[0], key);
    des_set_key(in_state.des[0], key);
}
void ssh1_des_encrypt(uint8_t* buf, std::size_t n) { des_cbc_encrypt(out_state.des[0], buf, n); }
void ssh1_des_decrypt(uint8_t* buf, std::size_t n) { des_cbc_decrypt(out_state.des[0], buf, n); }

void ssh1_3des_set_key(const uint8_t key[32]) {
    for (int i = 0; i < 3; ++i) {
        des_set_key(out_state.des[i], key + 8 * i);
        des_set_key(in_state.des[i], key + 8 * i);
    }
}
void ssh1_3des_encrypt(uint8_t* buf, std::size_t n) { des3_ssh1_encrypt(out_state.des, buf, n); }
void ssh1_3des_decrypt(uint8_t* buf, std::size_t n) { des3_ssh1_decrypt(in_state.des, buf, n); }

void ssh1_blowfish_set_key(const uint8_t key[32]) {
    blowfish_set_key(out_state.blowfish, key, 32);
    out_state.blowfish.chain[0] = out_state.blowfish.chain[1] = 0;
    in_state.blowfish = out_state.blowfish;
}
void ssh1_blowfish_encrypt(uint8_t* buf, std::size_t n) { blowfish_cbc_encrypt_le(out_state.blowfish, buf, n); }
void ssh1_blowfish_decrypt(uint8_t* buf, std::size_t n) { blowfish_cbc_decrypt_le(in_state.blowfish, buf, n); }

void des3_set_out_iv(const uint8_t iv[8]) { set_chain(out_state.des[0].enc_chain, iv); }
void des3_set_in_iv(const uint8_t iv[8]) { set_chain(in_state.des[0].dec_chain, iv); }
void des3_set_out_key(const uint8_t* key) {
    for (int i = 0; i < 3; ++i) des_set_subkeys(out_state.des[i], key + 8 * i);
}
void des3_set_in_key(const uint8_t* key) {
    for (int i = 0; i < 3; ++i) des_set_subkeys(in_state.des[i], key + 8 * i);
}
void des3_encrypt(uint8_t* buf, std::size_t n) { des3_ede_cbc_encrypt(out_state.des, buf, n); }
void des3_decrypt(uint8_t* buf, std::size_t n) { des3_ede_cbc_decrypt(in_state.des, buf, n); }

void bf_set_out_iv(const uint8_t iv[8]) { set_chain(out_state.blowfish.chain, iv); }
void bf_set_in_iv(const uint8_t iv[8]) { set_chain(in_state.blowfish.chain, iv); }
void bf_set_out_key(const uint8_t* key) { blowfish_set_key(out_state.blowfish, key, 16); }
void bf_set_in_key(const uint8_t* key) { blowfish_set_key(in_state.blowfish, key, 16); }
void bf_encrypt(uint8_t* buf, std::size_t n) { blowfish_cbc_encrypt_be(out_state.blowfish, buf, n); }
void bf_decrypt(uint8_t* buf, std::size_t n) { blowfish_cbc_decrypt_be(in_state.blowfish, buf, n); }

void mac_set_out_key(const uint8_t key[20]) { hmac_sha1_set_key(out_state.mac, key, 20); }
void mac_set_in_key(const uint8_t key[20]) { hmac_sha1_set_key(in_state.mac, key, 20); }
void mac_make(uint8_t* buf, std::size_t n, uint32_t seq) { hmac_sha1_compute(out_state.mac, seq, buf, n, buf + n); }
bool mac_verify(const uint8_t* buf, std::size_t n, uint32_t seq) {
    uint8_t mac[20];
    hmac_sha1_compute(in_state.mac, seq, buf, n, mac);
    bool ok = equal_const_time(mac, buf + n, 20);
    wipe(mac, sizeof mac);
    return ok;
}

}  // namespace

const ssh1_cipher ssh1_des = {ssh1_des_set_key, ssh1_des_encrypt, ssh1_des_decrypt, 8};
const ssh1_cipher ssh1_3des = {ssh1_3des_set_key, ssh1_3des_encrypt, ssh1_3des_decrypt, 8};
const ssh1_cipher ssh1_blowfish = {ssh1_blowfish_set_key, ssh1_blowfish_encrypt, ssh1_blowfish_decrypt, 8};

const ssh2_cipher ssh2_3des_cbc = {des3_set_out_iv, des3_set_out_key, des3_set_in_iv, des3_set_in_key,
                                   des3_encrypt,    des3_decrypt,     "3des-cbc",     8,
                                   168,             24};
const ssh2_cipher ssh2_blowfish_cbc = {bf_set_out_iv, bf_set_out_key, bf_set_in_iv,   bf_set_in_key,
                                       bf_encrypt,    bf_decrypt,     "blowfish-cbc", 8,
                                       128,           16};

const ssh2_mac ssh2_hmac_sha1 = {mac_set_out_key, mac_set_in_key, mac_make, mac_verify, "hmac-sha1", 20};

void wipe_cipher_state() {
    wipe(&out_state, sizeof out_state);
    wipe(&in_state, sizeof in_state);
}

}  // namespace crypto
