#pragma once
#include <cstddef>
#include <cstdint>

namespace crypto {

// One DES key with its own CBC chains: one for encryption, one for decryption.
struct des_key_context {
    uint32_t subkeys[32];  // two words per round, arranged for the combined S-and-P tables
    uint32_t enc_chain[2];
    uint32_t dec_chain[2];
};

// 8 key bytes (parity ignored); both chains become zero.
void des_set_key(des_key_context& c, const uint8_t key[8]);
// Subkeys only; the chains are left as they are.
void des_set_subkeys(des_key_context& c, const uint8_t key[8]);
void des_encrypt_block(const des_key_context& c, uint32_t block[2]);
void des_decrypt_block(const des_key_context& c, uint32_t block[2]);

// CBC in place over the n / 8 whole blocks, big-endian words; SSH lengths are multiples of 8, and a partial
// tail is left alone rather than processed past the end.
void des_cbc_encrypt(des_key_context& c, uint8_t* buf, std::size_t n);
void des_cbc_decrypt(des_key_context& c, uint8_t* buf, std::size_t n);

// SSH-1 triple DES: three complete CBC passes, each with its own chain. Encrypt runs E(k[0]), D(k[1]), E(k[2]);
// decrypt runs D(k[2]), E(k[1]), D(k[0]).
void des3_ssh1_encrypt(des_key_context k[3], uint8_t* buf, std::size_t n);
void des3_ssh1_decrypt(des_key_context k[3], uint8_t* buf, std::size_t n);

// SSH-2 3des-cbc: one EDE chain per direction, kept in k[0] (enc_chain when encrypting, dec_chain when decrypting).
void des3_ede_cbc_encrypt(des_key_context k[3], uint8_t* buf, std::size_t n);
void des3_ede_cbc_decrypt(des_key_context k[3], uint8_t* buf, std::size_t n);

}  // namespace crypto
