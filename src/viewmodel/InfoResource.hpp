#pragma once

#include <QJsonObject>
#include <QString>
#include <QUrl>
#include <optional>

namespace lumora {

// The application's fixed configuration: a JSON object compiled into the program at configure
// time (see this folder's CMakeLists.txt) and read only here. Tests build one from their own
// values.
class InfoResource {
public:
    static constexpr auto controlPlaneURLKey = "LMControlPlaneURL";
    static constexpr auto updateFeedURLKey = "SUFeedURL";
    static constexpr auto updatePublicKeyKey = "SUPublicEDKey";
    static constexpr auto shortVersionKey = "CFBundleShortVersionString";
    static constexpr auto buildVersionKey = "CFBundleVersion";
    static constexpr auto signInHostKey = "LMSignInHost";
    static constexpr auto speechServiceURLKey = "LMSpeechServiceURL";
    static constexpr auto theoryPageURLKey = "LMTheoryPageURL";

    // The resource compiled into this build; empty when it cannot be read.
    static InfoResource bundled();

    explicit InfoResource(QJsonObject values = {})
        : m_values(std::move(values))
    {
    }

    [[nodiscard]] const QJsonObject& values() const { return m_values; }
    // The value under `key` when it is a string.
    [[nodiscard]] std::optional<QString> string(const char* key) const;

    // "LMControlPlaneURL" when it is a string that parses as an absolute URL with a host whose
    // scheme is written exactly "https" (lower case); otherwise none.
    [[nodiscard]] std::optional<QUrl> controlPlaneURL() const;
    // Short version, "+", build: "development" and "local" stand in for a missing one.
    [[nodiscard]] QString appVersion() const;
    [[nodiscard]] std::optional<QUrl> updateFeedURL() const;
    [[nodiscard]] std::optional<QString> updatePublicKey() const { return string(updatePublicKeyKey); }
    [[nodiscard]] std::optional<QString> signInHost() const { return string(signInHostKey); }
    [[nodiscard]] std::optional<QUrl> speechServiceURL() const;
    [[nodiscard]] std::optional<QUrl> theoryPageURL() const;

private:
    std::optional<QUrl> url(const char* key) const;

    QJsonObject m_values;
};

} // namespace lumora
