#include "UpdateFeed.hpp"

#include <QJsonDocument>
#include <QJsonObject>
#include <QStringList>
#include <memory>
#include <openssl/evp.h>

namespace lumora {

namespace {

constexpr qsizetype ed25519KeySize = 32;
constexpr qsizetype ed25519SignatureSize = 64;
// What `openssl pkey -pubout` wraps around the raw key: the DER SubjectPublicKeyInfo header of
// an Ed25519 key, after which the 32 key bytes follow.
constexpr char ed25519SubjectPublicKeyInfoHeader[] = "\x30\x2a\x30\x05\x06\x03\x2b\x65\x70\x03\x21\x00";

std::optional<QByteArray> strictBase64(const QString& text)
{
    auto decoded = QByteArray::fromBase64Encoding(text.toLatin1(), QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded)
        return std::nullopt;
    return *decoded;
}

// The raw key, from its own 32 bytes or from the public key form OpenSSL prints.
std::optional<QByteArray> ed25519Key(const QString& text)
{
    const auto decoded = strictBase64(text.trimmed());
    if (!decoded)
        return std::nullopt;
    if (decoded->size() == ed25519KeySize)
        return decoded;
    const QByteArrayView header(
        ed25519SubjectPublicKeyInfoHeader, sizeof ed25519SubjectPublicKeyInfoHeader - 1);
    if (decoded->size() == header.size() + ed25519KeySize && decoded->startsWith(header))
        return decoded->right(ed25519KeySize);
    return std::nullopt;
}

bool signatureMatches(const QByteArray& key, const QByteArray& message, const QByteArray& signature)
{
    const std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> publicKey(
        EVP_PKEY_new_raw_public_key(EVP_PKEY_ED25519, nullptr,
            reinterpret_cast<const unsigned char*>(key.constData()), size_t(key.size())),
        &EVP_PKEY_free);
    if (!publicKey)
        return false;
    const std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(EVP_MD_CTX_new(), &EVP_MD_CTX_free);
    if (!context || EVP_DigestVerifyInit(context.get(), nullptr, nullptr, nullptr, publicKey.get()) != 1)
        return false;
    return EVP_DigestVerify(context.get(), reinterpret_cast<const unsigned char*>(signature.constData()),
               size_t(signature.size()), reinterpret_cast<const unsigned char*>(message.constData()),
               size_t(message.size()))
        == 1;
}

} // namespace

std::expected<UpdateRelease, UpdateFeedError> UpdateFeed::verify(
    const QByteArray& feed, const QString& publicKeyBase64)
{
    const auto key = ed25519Key(publicKeyBase64);
    if (!key)
        return std::unexpected(UpdateFeedError::badKey);

    const QJsonDocument document = QJsonDocument::fromJson(feed);
    if (!document.isObject())
        return std::unexpected(UpdateFeedError::malformed);
    const QJsonObject envelope = document.object();
    if (!envelope.value(QStringLiteral("release")).isString()
        || !envelope.value(QStringLiteral("signature")).isString())
        return std::unexpected(UpdateFeedError::malformed);
    const auto release = strictBase64(envelope.value(QStringLiteral("release")).toString());
    const auto signature = strictBase64(envelope.value(QStringLiteral("signature")).toString());
    if (!release || !signature)
        return std::unexpected(UpdateFeedError::malformed);
    if (signature->size() != ed25519SignatureSize || !signatureMatches(*key, *release, *signature))
        return std::unexpected(UpdateFeedError::badSignature);

    const QJsonDocument releaseDocument = QJsonDocument::fromJson(*release);
    if (!releaseDocument.isObject())
        return std::unexpected(UpdateFeedError::malformed);
    const QJsonObject values = releaseDocument.object();
    const QString version = values.value(QStringLiteral("version")).toString();
    const QUrl downloadURL(values.value(QStringLiteral("downloadURL")).toString(), QUrl::StrictMode);
    const QDateTime publishedAt
        = QDateTime::fromString(values.value(QStringLiteral("publishedAt")).toString(), Qt::ISODate);
    // A moment without its offset would be read in whatever zone the computer is in.
    if (version.isEmpty() || !version.front().isDigit() || !downloadURL.isValid()
        || downloadURL.scheme() != QLatin1String("https") || downloadURL.host().isEmpty()
        || !publishedAt.isValid() || publishedAt.timeSpec() == Qt::LocalTime)
        return std::unexpected(UpdateFeedError::malformed);
    return UpdateRelease { version, downloadURL, publishedAt.toUTC() };
}

int UpdateFeed::compareVersions(const QString& a, const QString& b)
{
    auto numbers = [](const QString& version) {
        QList<qint64> parts;
        for (const QString& part : version.split(QLatin1Char('.'))) {
            qsizetype digits = 0;
            while (digits < part.size() && part.at(digits).isDigit() && digits < 15)
                ++digits;
            if (digits == 0)
                break;
            parts.append(part.left(digits).toLongLong());
            if (digits != part.size())
                break;
        }
        return parts;
    };
    const QList<qint64> left = numbers(a);
    const QList<qint64> right = numbers(b);
    for (qsizetype index = 0; index < std::max(left.size(), right.size()); ++index) {
        const qint64 x = index < left.size() ? left.at(index) : 0;
        const qint64 y = index < right.size() ? right.at(index) : 0;
        if (x != y)
            return x < y ? -1 : 1;
    }
    return 0;
}

} // namespace lumora
