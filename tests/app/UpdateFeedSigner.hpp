#pragma once

#include <QByteArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <memory>
#include <openssl/evp.h>

namespace lumora::testing {

// An Ed25519 key pair made for one test, and feeds signed with it.
class UpdateFeedSigner {
public:
    UpdateFeedSigner()
        : m_key(nullptr, &EVP_PKEY_free)
    {
        EVP_PKEY* key = nullptr;
        std::unique_ptr<EVP_PKEY_CTX, decltype(&EVP_PKEY_CTX_free)> context(
            EVP_PKEY_CTX_new_id(EVP_PKEY_ED25519, nullptr), &EVP_PKEY_CTX_free);
        EVP_PKEY_keygen_init(context.get());
        EVP_PKEY_keygen(context.get(), &key);
        m_key.reset(key);
    }

    [[nodiscard]] QString publicKeyBase64() const
    {
        QByteArray raw(32, '\0');
        size_t length = size_t(raw.size());
        EVP_PKEY_get_raw_public_key(m_key.get(), reinterpret_cast<unsigned char*>(raw.data()), &length);
        return QString::fromLatin1(raw.toBase64());
    }

    [[nodiscard]] QByteArray sign(const QByteArray& message) const
    {
        QByteArray signature(64, '\0');
        size_t length = size_t(signature.size());
        std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(EVP_MD_CTX_new(), &EVP_MD_CTX_free);
        EVP_DigestSignInit(context.get(), nullptr, nullptr, nullptr, m_key.get());
        EVP_DigestSign(context.get(), reinterpret_cast<unsigned char*>(signature.data()), &length,
            reinterpret_cast<const unsigned char*>(message.constData()), size_t(message.size()));
        return signature;
    }

    static QByteArray release(const QString& version, const QString& downloadURL,
        const QString& publishedAt = "2026-02-09T19:30:00Z")
    {
        return QJsonDocument(QJsonObject {
                                 { "version", version },
                                 { "downloadURL", downloadURL },
                                 { "publishedAt", publishedAt },
                             })
            .toJson(QJsonDocument::Compact);
    }

    static QByteArray envelope(const QByteArray& release, const QByteArray& signature)
    {
        return QJsonDocument(QJsonObject { { "release", QString::fromLatin1(release.toBase64()) },
                                 { "signature", QString::fromLatin1(signature.toBase64()) } })
            .toJson(QJsonDocument::Compact);
    }

    [[nodiscard]] QByteArray feed(const QString& version, const QString& downloadURL,
        const QString& publishedAt = "2026-02-09T19:30:00Z") const
    {
        const QByteArray body = release(version, downloadURL, publishedAt);
        return envelope(body, sign(body));
    }

    // A feed whose release was changed after it was signed: it announces version 9.9.0.
    [[nodiscard]] QByteArray tamperedFeed(const QString& version, const QString& downloadURL,
        const QString& publishedAt = "2026-02-09T19:30:00Z") const
    {
        const QByteArray body = release(version, downloadURL, publishedAt);
        return envelope(QByteArray(body).replace(version.toUtf8(), "9.9.0"), sign(body));
    }

private:
    std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> m_key;
};

} // namespace lumora::testing
