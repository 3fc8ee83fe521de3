#include "security/Sha256.hpp"

#include "security/OpenSslHandles.hpp"

namespace lumora {

QByteArray Sha256::hash(QByteArrayView bytes)
{
    QByteArray digest(32, Qt::Uninitialized);
    unsigned int length = 0;
    // One-shot SHA-256 over memory cannot fail short of an allocation failure, which Qt
    // treats as fatal everywhere else too.
    if (EVP_Digest(bytes.data(), size_t(bytes.size()), reinterpret_cast<unsigned char*>(digest.data()),
            &length, openssl::sha256(), nullptr)
            != 1
        || length != 32)
        qFatal("SHA-256 failed");
    return digest;
}

} // namespace lumora
