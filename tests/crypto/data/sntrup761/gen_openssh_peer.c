/* Writes openssh_peer.txt from OpenSSH's own sntrup761.c, fed an AES-256-CTR key stream as its random bytes.
 * Not part of the build; run by hand with the file taken alone out of openssh-portable (its own includes.h and
 * crypto_api.h must not be found beside it):
 *   mkdir peer shim && git -C $OPENSSH show 0ef0f5a839831c213f24e3f2ae434765c607fb50:sntrup761.c > peer/sntrup761.c
 *   echo '#define USE_SNTRUP761X25519 1' > shim/includes.h && : > shim/crypto_api.h
 *   cc -O2 -Ishim -Ipeer gen_openssh_peer.c -lcrypto -o gen && ./gen   (then prepend openssh_peer.txt's header)
 * Everything OpenSSH's crypto_api.h would give the file is defined here, before it is included. */
#include <stdint.h>
#include <stdio.h>
#include <string.h>
#include <openssl/evp.h>

typedef int8_t crypto_int8;
typedef uint8_t crypto_uint8;
typedef int16_t crypto_int16;
typedef uint16_t crypto_uint16;
typedef int32_t crypto_int32;
typedef uint32_t crypto_uint32;
typedef int64_t crypto_int64;
typedef uint64_t crypto_uint64;
#define crypto_kem_sntrup761_PUBLICKEYBYTES 1158
#define crypto_kem_sntrup761_SECRETKEYBYTES 1763
#define crypto_kem_sntrup761_CIPHERTEXTBYTES 1039
#define crypto_kem_sntrup761_BYTES 32

static EVP_CIPHER_CTX *stream;
static void stream_start(int k) {
  unsigned char key[32], iv[16] = {0};
  memset(key, k, sizeof key);
  if (stream) EVP_CIPHER_CTX_free(stream);
  stream = EVP_CIPHER_CTX_new();
  EVP_EncryptInit_ex(stream, EVP_aes_256_ctr(), NULL, key, iv);
}
static void stream_bytes(void *buf, size_t n) {
  int len;
  memset(buf, 0, n);
  EVP_EncryptUpdate(stream, buf, &len, buf, (int)n);
}
#define randombytes(buf, n) stream_bytes((buf), (n))
static int crypto_hash_sha512(unsigned char *out, const unsigned char *in, unsigned long long n) {
  return EVP_Digest(in, n, out, NULL, EVP_sha512(), NULL) ? 0 : -1;
}
int crypto_kem_sntrup761_enc(unsigned char *c, unsigned char *k, const unsigned char *pk);
int crypto_kem_sntrup761_dec(unsigned char *k, const unsigned char *c, const unsigned char *sk);
int crypto_kem_sntrup761_keypair(unsigned char *pk, unsigned char *sk);

#include "sntrup761.c"

static void put_hex(const char *name, const unsigned char *b, size_t n) {
  printf("%s = ", name);
  for (size_t i = 0; i < n; ++i) printf("%02x", b[i]);
  printf("\n");
}
static void put_sha256(const char *name, const unsigned char *b, size_t n) {
  unsigned char d[32];
  EVP_Digest(b, n, d, NULL, EVP_sha256(), NULL);
  put_hex(name, d, 32);
}

int main(void) {
  static unsigned char pk[1158], sk[1763], ct[1039], ss[32], ss2[32], r_enc[Small_bytes], cache[32];
  const int fills[] = {-1, -1, 0x00, 0xff};
  for (int k = 1; k <= 4; ++k) {
    stream_start(k);
    crypto_kem_sntrup761_keypair(pk, sk);
    crypto_kem_sntrup761_enc(ct, ss, pk);
    crypto_kem_sntrup761_dec(ss2, ct, sk);
    if (memcmp(ss, ss2, 32)) return 1;
    printf("kind = pair\nstream = %d\n", k);
    put_sha256("pk_sha256", pk, sizeof pk);
    put_sha256("sk_sha256", sk, sizeof sk);
    put_sha256("ct_sha256", ct, sizeof ct);
    put_hex("ss", ss, 32);
    printf("\n");
  }
  for (int i = 0; i < 4; ++i) {
    stream_start(16 + i);
    if (fills[i] < 0) stream_bytes(pk, sizeof pk); else memset(pk, fills[i], sizeof pk);
    crypto_kem_sntrup761_enc(ct, ss, pk);
    printf("kind = enc\nstream = %d\n", 16 + i);
    if (fills[i] >= 0) printf("fill = %02x\n", fills[i]);
    put_sha256("ct_sha256", ct, sizeof ct);
    put_hex("ss", ss, 32);
    printf("\n");
  }
  for (int i = 0; i < 4; ++i) {
    stream_start(32 + i);
    crypto_kem_sntrup761_keypair(pk, sk);
    if (fills[i] < 0) stream_bytes(ct, sizeof ct); else memset(ct, fills[i], sizeof ct);
    crypto_kem_sntrup761_dec(ss, ct, sk);
    printf("kind = dec\nstream = %d\n", 32 + i);
    if (fills[i] >= 0) printf("fill = %02x\n", fills[i]);
    put_hex("ss", ss, 32);
    printf("\n");
  }
  for (int extra = -1; extra <= 1; extra += 2) {  /* an r of weight w - 1, then w + 1 */
    const int k = extra < 0 ? 48 : 49;
    stream_start(k);
    crypto_kem_sntrup761_keypair(pk, sk);
    small r[p];
    Short_random(r);
    for (int i = 0; i < p; ++i)
      if ((r[i] != 0) == (extra < 0)) { r[i] = extra < 0 ? 0 : 1; break; }
    int weight = 0;
    for (int i = 0; i < p; ++i) weight += r[i] != 0;
    Hash_prefix(cache, 4, pk, sizeof pk);
    Hide(ct, r_enc, r, pk, cache);
    crypto_kem_sntrup761_dec(ss, ct, sk);
    printf("%skind = weight\nweight = %d\nstream = %d\n", extra < 0 ? "" : "\n", weight, k);
    put_hex("ct", ct, sizeof ct);
    put_hex("ss", ss, 32);
  }
  return 0;
}
