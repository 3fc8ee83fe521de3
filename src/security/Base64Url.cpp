#include "security/Base64Url.hpp"

namespace lumora {
namespace {

bool isUrlAlphabet(QChar c)
{
    const char16_t u = c.unicode();
    return (u >= 'A' && u <= 'Z') || (u >= 'a' && u <= 'z') || (u >= '0' && u <= '9') || u == '-' || u == '_';
}

} // namespace

QString Base64Url::encoded(QByteArrayView bytes)
{
    return QString::fromLatin1(
        bytes.toByteArray().toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals));
}

std::optional<QByteArray> Base64Url::decoded(QStringView text)
{
    if (text.size() % 4 == 1)
        return std::nullopt;
    for (QChar c : text) {
        if (!isUrlAlphabet(c))
            return std::nullopt;
    }
    auto result = QByteArray::fromBase64Encoding(
        text.toLatin1(), QByteArray::Base64UrlEncoding | QByteArray::AbortOnBase64DecodingErrors);
    if (!result)
        return std::nullopt;
    // Reject texts whose unused trailing bits are set: each byte string has one encoding.
    if (Base64Url::encoded(*result) != text)
        return std::nullopt;
    return std::move(*result);
}

} // namespace lumora
