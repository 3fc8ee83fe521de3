#include "viewmodel/InfoResource.hpp"

#include <QFile>
#include <QJsonDocument>

namespace lumora {

InfoResource InfoResource::bundled()
{
    QFile file(QStringLiteral(":/lumora/Info.json"));
    if (!file.open(QIODevice::ReadOnly))
        return InfoResource {};
    return InfoResource { QJsonDocument::fromJson(file.readAll()).object() };
}

std::optional<QString> InfoResource::string(const char* key) const
{
    const QJsonValue value = m_values.value(QLatin1String(key));
    if (!value.isString())
        return std::nullopt;
    return value.toString();
}

std::optional<QUrl> InfoResource::url(const char* key) const
{
    const auto text = string(key);
    if (!text)
        return std::nullopt;
    const QUrl parsed(*text, QUrl::StrictMode);
    if (!parsed.isValid() || parsed.isRelative() || parsed.host().isEmpty())
        return std::nullopt;
    return parsed;
}

std::optional<QUrl> InfoResource::controlPlaneURL() const
{
    const auto parsed = url(controlPlaneURLKey);
    // QUrl lower-cases the scheme, so the case-sensitive test reads the text as written.
    if (!parsed || !string(controlPlaneURLKey)->startsWith(QLatin1String("https:")))
        return std::nullopt;
    return parsed;
}

QString InfoResource::appVersion() const
{
    return string(shortVersionKey).value_or(QStringLiteral("development")) + QLatin1Char('+')
        + string(buildVersionKey).value_or(QStringLiteral("local"));
}

std::optional<QUrl> InfoResource::updateFeedURL() const
{
    return url(updateFeedURLKey);
}

std::optional<QUrl> InfoResource::speechServiceURL() const
{
    return url(speechServiceURLKey);
}

std::optional<QUrl> InfoResource::theoryPageURL() const
{
    return url(theoryPageURLKey);
}

} // namespace lumora
