#pragma once

// Owning handles for the OpenSSL objects of the crypto layer; only its .cpp files include this.

#include <memory>
#include <openssl/bn.h>
#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/param_build.h>

namespace lumora::openssl {

template <auto Free> struct Deleter {
    template <typename T> void operator()(T* object) const { Free(object); }
};

using BigNumber = std::unique_ptr<BIGNUM, Deleter<BN_clear_free>>;
using BigNumberContext = std::unique_ptr<BN_CTX, Deleter<BN_CTX_free>>;
using Group = std::unique_ptr<EC_GROUP, Deleter<EC_GROUP_free>>;
using Point = std::unique_ptr<EC_POINT, Deleter<EC_POINT_free>>;
using Signature = std::unique_ptr<ECDSA_SIG, Deleter<ECDSA_SIG_free>>;
using DigestContext = std::unique_ptr<EVP_MD_CTX, Deleter<EVP_MD_CTX_free>>;
using KeyContext = std::unique_ptr<EVP_PKEY_CTX, Deleter<EVP_PKEY_CTX_free>>;
using ParamBuilder = std::unique_ptr<OSSL_PARAM_BLD, Deleter<OSSL_PARAM_BLD_free>>;
using Params = std::unique_ptr<OSSL_PARAM, Deleter<OSSL_PARAM_free>>;

inline void freeBuffer(unsigned char* buffer)
{
    OPENSSL_free(buffer);
}
using Buffer = std::unique_ptr<unsigned char, Deleter<freeBuffer>>;

inline std::shared_ptr<EVP_PKEY> sharedKey(EVP_PKEY* key)
{
    return { key, &EVP_PKEY_free };
}

// SHA-256 fetched once: EVP_sha256() is looked up among the providers on every use, which
// costs as much as hashing a request's few hundred bytes. Never freed, like the library's own
// tables, which live until the process ends.
inline const EVP_MD* sha256()
{
    static const EVP_MD* const fetched = EVP_MD_fetch(nullptr, "SHA2-256", nullptr);
    return fetched ? fetched : EVP_sha256();
}

inline constexpr char curveName[] = "prime256v1";
inline constexpr int uncompressedPointSize = 65;

// Builds an EVP key of the curve from its encoded public point and, for a key pair, the
// private scalar. OpenSSL decodes the point and refuses one that is not on the curve.
inline std::shared_ptr<EVP_PKEY> keyFromData(const unsigned char* point, const BIGNUM* scalar)
{
    ParamBuilder builder(OSSL_PARAM_BLD_new());
    if (!builder || OSSL_PARAM_BLD_push_utf8_string(builder.get(), "group", curveName, 0) != 1
        || OSSL_PARAM_BLD_push_octet_string(builder.get(), "pub", point, uncompressedPointSize) != 1
        || (scalar && OSSL_PARAM_BLD_push_BN(builder.get(), "priv", scalar) != 1))
        return nullptr;
    Params params(OSSL_PARAM_BLD_to_param(builder.get()));
    KeyContext context(EVP_PKEY_CTX_new_from_name(nullptr, "EC", nullptr));
    EVP_PKEY* key = nullptr;
    if (!params || !context || EVP_PKEY_fromdata_init(context.get()) != 1
        || EVP_PKEY_fromdata(
               context.get(), &key, scalar ? EVP_PKEY_KEYPAIR : EVP_PKEY_PUBLIC_KEY, params.get())
            != 1)
        return nullptr;
    return sharedKey(key);
}

} // namespace lumora::openssl
