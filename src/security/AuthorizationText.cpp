#include "security/AuthorizationText.hpp"

#include "security/Base64Url.hpp"

namespace lumora::authorization {

QString lowerUuid(const QUuid& id)
{
    return id.toString(QUuid::WithoutBraces).toLower();
}

std::optional<QList<QStringView>> fields(QStringView value, QStringView scheme, qsizetype count)
{
    if (!value.startsWith(scheme) || value.size() <= scheme.size() || value[scheme.size()] != u' ')
        return std::nullopt;
    QList<QStringView> parts = value.sliced(scheme.size() + 1).split(u':');
    if (parts.size() != count)
        return std::nullopt;
    return parts;
}

std::optional<QUuid> uuid(QStringView text)
{
    const QUuid id = QUuid::fromString(text);
    if (text.size() != 36 || id.isNull() || lowerUuid(id) != text)
        return std::nullopt;
    return id;
}

std::optional<qint64> timestamp(QStringView text)
{
    bool ok = false;
    const qint64 value = text.toLongLong(&ok);
    if (!ok || QString::number(value) != text)
        return std::nullopt;
    return value;
}

std::optional<QString> signature(QStringView text)
{
    const auto raw = Base64Url::decoded(text);
    if (!raw || raw->size() != 64)
        return std::nullopt;
    return text.toString();
}

} // namespace lumora::authorization
