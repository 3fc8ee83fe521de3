#include "controlplane/ContentSeal.hpp"

#include "common/OwnerOnlyFile.hpp"
#include "controlplane/ControlPlaneStore.hpp"
#include "controlplane/IdText.hpp"
#include "security/AesGcm.hpp"
#include "security/Sha256.hpp"

#include <algorithm>

namespace lumora {

namespace {

constexpr qsizetype keySize = 32;

// A name for the key that tells keys apart without saying anything about them.
QString keyIDOf(const SymmetricKey& key)
{
    const QByteArray named = QByteArrayLiteral("lumora content key\n") + key.bytes().toByteArray();
    return QString::fromLatin1(Sha256::hash(named).left(8).toHex());
}

QByteArray associatedData(ContentSeal::Field field, const QUuid& conversation, const QUuid& account)
{
    const char* name = field == ContentSeal::Field::body ? "body" : "title";
    return QByteArrayLiteral("lumora content v1\n") + name + '\n' + idText(conversation).toLatin1() + '\n'
        + idText(account).toLatin1();
}

std::expected<SymmetricKey, std::string> readKeyFile(const std::string& path)
{
    auto text = readOwnerOnlyFile(path, "content key file", 1024);
    if (!text)
        return std::unexpected(text.error());
    const auto decoded = QByteArray::fromBase64Encoding(
        QByteArray::fromStdString(*text), QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded || decoded.decoded.size() != keySize)
        return std::unexpected("the content key file " + path
            + " must hold the base64 of 32 random bytes alone on one line (openssl rand -base64 32)");
    return SymmetricKey(SecretBytes(decoded.decoded));
}

} // namespace

ContentSeal::ContentSeal(SymmetricKey current, const QList<SymmetricKey>& previous)
{
    m_keys.append(Key { keyIDOf(current), std::move(current) });
    for (const SymmetricKey& key : previous)
        m_keys.append(Key { keyIDOf(key), key });
}

std::expected<ContentSeal, std::string> ContentSeal::fromKeyFiles(
    const std::string& current, const std::vector<std::string>& previous)
{
    auto key = readKeyFile(current);
    if (!key)
        return std::unexpected(key.error());
    QList<SymmetricKey> earlier;
    for (const std::string& path : previous) {
        auto read = readKeyFile(path);
        if (!read)
            return std::unexpected(read.error());
        earlier.append(std::move(*read));
    }
    return ContentSeal(std::move(*key), earlier);
}

bool ContentSeal::knows(const QString& keyID) const
{
    return std::ranges::any_of(m_keys, [&](const Key& key) { return key.id == keyID; });
}

QByteArray ContentSeal::seal(
    Field field, const QUuid& conversation, const QUuid& account, QByteArrayView plaintext) const
{
    auto sealed = AesGcm::seal(m_keys.front().key, plaintext, associatedData(field, conversation, account));
    if (!sealed)
        throw StoreFailure("a conversation could not be sealed");
    return *sealed;
}

std::optional<QByteArray> ContentSeal::open(Field field, const QUuid& conversation, const QUuid& account,
    const QString& keyID, QByteArrayView sealed) const
{
    const auto key
        = std::ranges::find_if(m_keys, [&](const Key& candidate) { return candidate.id == keyID; });
    if (key == m_keys.end())
        return std::nullopt;
    auto opened = AesGcm::open(key->key, sealed, associatedData(field, conversation, account));
    if (!opened)
        return std::nullopt;
    return *opened;
}

} // namespace lumora
