#pragma once
// Owning handles for the libcrypto objects the project uses, freed (and cleared where OpenSSL can) when they go.
// Only for the files that talk to OpenSSL directly; everything else goes through crypto/evp.h.
#include <openssl/bio.h>
#include <openssl/bn.h>
#include <openssl/ec.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/param_build.h>

#include <memory>

namespace crypto::openssl {

template <auto F>
struct deleter {
    template <class T>
    void operator()(T* p) const {
        F(p);
    }
};

using pkey_ptr = std::unique_ptr<EVP_PKEY, deleter<EVP_PKEY_free>>;
using pkey_ctx_ptr = std::unique_ptr<EVP_PKEY_CTX, deleter<EVP_PKEY_CTX_free>>;
using md_ctx_ptr = std::unique_ptr<EVP_MD_CTX, deleter<EVP_MD_CTX_free>>;
using cipher_ctx_ptr = std::unique_ptr<EVP_CIPHER_CTX, deleter<EVP_CIPHER_CTX_free>>;
using cipher_ptr = std::unique_ptr<EVP_CIPHER, deleter<EVP_CIPHER_free>>;
using bn_ptr = std::unique_ptr<BIGNUM, deleter<BN_clear_free>>;
using bn_ctx_ptr = std::unique_ptr<BN_CTX, deleter<BN_CTX_free>>;
using param_bld_ptr = std::unique_ptr<OSSL_PARAM_BLD, deleter<OSSL_PARAM_BLD_free>>;
using params_ptr = std::unique_ptr<OSSL_PARAM, deleter<OSSL_PARAM_free>>;
using ec_group_ptr = std::unique_ptr<EC_GROUP, deleter<EC_GROUP_free>>;
using ec_point_ptr = std::unique_ptr<EC_POINT, deleter<EC_POINT_clear_free>>;
using ecdsa_sig_ptr = std::unique_ptr<ECDSA_SIG, deleter<ECDSA_SIG_free>>;
using bio_ptr = std::unique_ptr<BIO, deleter<BIO_free>>;

// A key of `type` ("RSA", "EC", "DH") from built parameters, `selection` saying which halves they hold.
inline pkey_ptr from_params(const char* type, OSSL_PARAM_BLD* bld, int selection) {
    params_ptr params(OSSL_PARAM_BLD_to_param(bld));
    pkey_ctx_ptr ctx(EVP_PKEY_CTX_new_from_name(nullptr, type, nullptr));
    EVP_PKEY* key = nullptr;
    if (!params || !ctx || EVP_PKEY_fromdata_init(ctx.get()) != 1 ||
        EVP_PKEY_fromdata(ctx.get(), &key, selection, params.get()) != 1)
        return nullptr;
    return pkey_ptr(key);
}

// OpenSSL's error queue is per thread and never read here: whatever a failed call left is dropped on the way out
// so that it cannot be mistaken for a later failure elsewhere.
struct error_queue_guard {
    ~error_queue_guard() { ERR_clear_error(); }
};

}  // namespace crypto::openssl
