#pragma once

#include <QString>
#include <expected>
#include <optional>

namespace lumora {

// The command-line options that connect the control plane to the real speech and
// analysis services. Without a key file the built-in stand-ins answer: tokens signed
// with --speech-token-secret, and the rule-based analyzer.
struct ProviderOptions {
    static constexpr const char* defaultDeepgramUrl = "https://api.deepgram.com";
    static constexpr const char* defaultAnthropicUrl = "https://api.anthropic.com";
    static constexpr const char* defaultAnthropicModel = "claude-sonnet-4-5";

    std::optional<QString> deepgramKeyFile;
    QString deepgramUrl = QString::fromLatin1(defaultDeepgramUrl);
    std::optional<QString> anthropicKeyFile;
    QString anthropicModel = QString::fromLatin1(defaultAnthropicModel);
    QString anthropicUrl = QString::fromLatin1(defaultAnthropicUrl);

    // Whether `name` is one of these options (each takes a value).
    static bool isOption(QStringView name);
    // Stores one option's value; an error text when the value is unusable.
    std::expected<void, QString> set(QStringView name, const QString& value);
    static QString helpText();
};

} // namespace lumora
