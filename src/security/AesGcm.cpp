#include "security/AesGcm.hpp"

#include "security/SecureRandom.hpp"

#include <algorithm>
#include <limits>
#include <memory>
#include <openssl/evp.h>

namespace lumora {
namespace {

using CipherContext = std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)>;

const EVP_CIPHER* cipherFor(const SymmetricKey& key)
{
    switch (key.bytes().size()) {
    case 16:
        return EVP_aes_128_gcm();
    case 24:
        return EVP_aes_192_gcm();
    case 32:
        return EVP_aes_256_gcm();
    default:
        return nullptr;
    }
}

unsigned char* bytesOf(QByteArray& array, qsizetype offset = 0)
{
    return reinterpret_cast<unsigned char*>(array.data()) + offset;
}

const unsigned char* bytesOf(QByteArrayView view, qsizetype offset = 0)
{
    return reinterpret_cast<const unsigned char*>(view.data()) + offset;
}

} // namespace

std::expected<QByteArray, CryptoError> AesGcm::seal(
    const SymmetricKey& key, QByteArrayView plaintext, QByteArrayView associatedData)
{
    const EVP_CIPHER* cipher = cipherFor(key);
    if (!cipher)
        return std::unexpected(CryptoError::invalidKey);
    if (plaintext.size() > std::numeric_limits<int>::max() - overhead
        || associatedData.size() > std::numeric_limits<int>::max())
        return std::unexpected(CryptoError::invalidInput);
    auto nonce = SecureRandom::bytes(nonceSize);
    if (!nonce)
        return std::unexpected(nonce.error());

    QByteArray box(plaintext.size() + overhead, Qt::Uninitialized);
    std::copy(nonce->cbegin(), nonce->cend(), box.begin());
    CipherContext context(EVP_CIPHER_CTX_new(), &EVP_CIPHER_CTX_free);
    int written = 0;
    int finalWritten = 0;
    int associated = 0;
    if (!context || EVP_EncryptInit_ex2(context.get(), cipher, key.bytes().data(), bytesOf(box), nullptr) != 1
        || (!associatedData.isEmpty()
            && EVP_EncryptUpdate(
                   context.get(), nullptr, &associated, bytesOf(associatedData), int(associatedData.size()))
                != 1)
        || EVP_EncryptUpdate(
               context.get(), bytesOf(box, nonceSize), &written, bytesOf(plaintext), int(plaintext.size()))
            != 1
        || EVP_EncryptFinal_ex(context.get(), bytesOf(box, nonceSize + written), &finalWritten) != 1
        || written + finalWritten != plaintext.size()
        || EVP_CIPHER_CTX_ctrl(
               context.get(), EVP_CTRL_GCM_GET_TAG, int(tagSize), bytesOf(box, nonceSize + plaintext.size()))
            != 1)
        return std::unexpected(CryptoError::primitiveFailed);
    return box;
}

std::expected<QByteArray, CryptoError> AesGcm::open(
    const SymmetricKey& key, QByteArrayView combined, QByteArrayView associatedData)
{
    const EVP_CIPHER* cipher = cipherFor(key);
    if (!cipher)
        return std::unexpected(CryptoError::invalidKey);
    if (combined.size() < overhead || combined.size() > std::numeric_limits<int>::max()
        || associatedData.size() > std::numeric_limits<int>::max())
        return std::unexpected(CryptoError::invalidInput);

    const qsizetype cipherSize = combined.size() - overhead;
    QByteArray plaintext(cipherSize, Qt::Uninitialized);
    // GCM_SET_TAG wants a writable buffer.
    QByteArray tag = combined.sliced(nonceSize + cipherSize).toByteArray();
    CipherContext context(EVP_CIPHER_CTX_new(), &EVP_CIPHER_CTX_free);
    int written = 0;
    int finalWritten = 0;
    int associated = 0;
    if (!context
        || EVP_DecryptInit_ex2(context.get(), cipher, key.bytes().data(), bytesOf(combined), nullptr) != 1
        || (!associatedData.isEmpty()
            && EVP_DecryptUpdate(
                   context.get(), nullptr, &associated, bytesOf(associatedData), int(associatedData.size()))
                != 1)
        || EVP_DecryptUpdate(
               context.get(), bytesOf(plaintext), &written, bytesOf(combined, nonceSize), int(cipherSize))
            != 1
        || EVP_CIPHER_CTX_ctrl(context.get(), EVP_CTRL_GCM_SET_TAG, int(tagSize), tag.data()) != 1)
        return std::unexpected(CryptoError::primitiveFailed);
    if (EVP_DecryptFinal_ex(context.get(), bytesOf(plaintext, written), &finalWritten) <= 0)
        return std::unexpected(CryptoError::authenticationFailed);
    return plaintext;
}

} // namespace lumora
