#include "persistence/FileSealer.hpp"

#include "persistence/PrivateFiles.hpp"
#include "security/AesGcm.hpp"
#include "security/SecureKeyStore.hpp"

namespace lumora {

FileSealer::FileSealer(std::shared_ptr<SecureKeyStore> keyStore, QString keyAccount)
    : m_keyStore(std::move(keyStore))
    , m_keyAccount(std::move(keyAccount))
{
}

QCoro::Task<FileSealer::Result<SymmetricKey>> FileSealer::key()
{
    const auto stored = co_await m_keyStore->data(m_keyAccount);
    if (!stored)
        co_return std::unexpected(stored.error());
    if (stored->bytes)
        co_return SymmetricKey(SecretBytes(*stored->bytes));
    auto key = SymmetricKey::random256();
    if (!key)
        co_return std::unexpected(key.error());
    const auto written = co_await m_keyStore->set(key->bytes().toByteArray(), m_keyAccount);
    if (!written)
        co_return std::unexpected(written.error());
    co_return std::move(*key);
}

FileSealer::Result<void> FileSealer::writeFile(
    const QString& path, const SymmetricKey& key, QByteArrayView plaintext)
{
    const auto sealed = AesGcm::seal(key, plaintext);
    if (!sealed)
        return std::unexpected(sealed.error());
    if (sealed->size() != plaintext.size() + AesGcm::overhead)
        return std::unexpected(ResultStoreError::invalidEnvelope);
    if (auto written = privatefiles::writeFile(path, *sealed); !written)
        return std::unexpected(written.error());
    return {};
}

FileSealer::Result<QByteArray> FileSealer::readFile(const QString& path, const SymmetricKey& key)
{
    const auto sealed = privatefiles::readFile(path);
    if (!sealed)
        return std::unexpected(sealed.error());
    auto plaintext = AesGcm::open(key, *sealed);
    if (!plaintext)
        return std::unexpected(plaintext.error());
    return std::move(*plaintext);
}

} // namespace lumora
