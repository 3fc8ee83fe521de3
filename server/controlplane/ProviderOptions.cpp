#include "controlplane/ProviderOptions.hpp"

#include "controlplane/HttpsClient.hpp"

namespace lumora {

namespace {

constexpr auto maximumModelNameLength = 200;

} // namespace

bool ProviderOptions::isOption(QStringView name)
{
    return name == u"--deepgram-api-key-file" || name == u"--deepgram-url"
        || name == u"--anthropic-api-key-file" || name == u"--anthropic-model" || name == u"--anthropic-url";
}

std::expected<void, QString> ProviderOptions::set(QStringView name, const QString& value)
{
    if (name.endsWith(u"-url")) {
        if (const auto target = HttpsTarget::parse(value.toStdString()); !target)
            return std::unexpected(
                QStringLiteral("%1: %2").arg(name, QString::fromStdString(target.error())));
        (name == u"--deepgram-url" ? deepgramUrl : anthropicUrl) = value;
    } else if (name == u"--anthropic-model") {
        const bool visible
            = std::ranges::all_of(value, [](QChar c) { return c.unicode() > 0x20 && c.unicode() < 0x7f; });
        if (value.isEmpty() || value.size() > maximumModelNameLength || !visible)
            return std::unexpected(QStringLiteral("--anthropic-model needs a model name"));
        anthropicModel = value;
    } else if (name == u"--deepgram-api-key-file") {
        deepgramKeyFile = value;
    } else {
        anthropicKeyFile = value;
    }
    return {};
}

QString ProviderOptions::helpText()
{
    return QStringLiteral(
        "\n"
        "The real speech and analysis services (without their keys the control plane answers\n"
        "on its own):\n"
        "  --deepgram-api-key-file FILE\n"
        "                        the speech provider's API key (an owner-only file); speech tokens\n"
        "                        are then short-lived grants of the provider instead of ones\n"
        "                        signed with --speech-token-secret\n"
        "  --deepgram-url URL    the speech provider's base URL (default https://api.deepgram.com)\n"
        "  --anthropic-api-key-file FILE\n"
        "                        the analysis service's API key (an owner-only file); analysis and\n"
        "                        nudges then come from its model, with the rule-based analyzer as\n"
        "                        the fallback\n"
        "  --anthropic-model NAME\n"
        "                        the model asked (default claude-sonnet-4-5)\n"
        "  --anthropic-url URL   the analysis service's base URL (default https://api.anthropic.com)\n");
}

} // namespace lumora
