#include "controlplane/ControlPlaneOptions.hpp"

#include <algorithm>

namespace lumora {

namespace {

// Splits "--name=value" into its two halves; other arguments come back whole.
std::pair<QString, std::optional<QString>> splitArgument(const QString& argument)
{
    const auto equals = argument.indexOf(u'=');
    if (!argument.startsWith(u"--") || equals < 0)
        return { argument, std::nullopt };
    return { argument.left(equals), argument.mid(equals + 1) };
}

// "OPERATION=MICROS": an operation name and a whole, non-negative rate.
std::expected<std::pair<QString, qint64>, QString> parseUsageRate(const QString& text)
{
    constexpr qint64 maximumRate = 1'000'000'000;
    const auto equals = text.indexOf(u'=');
    bool number = false;
    const qint64 rate = equals > 0 ? text.mid(equals + 1).toLongLong(&number) : 0;
    if (!number || rate < 0 || rate > maximumRate)
        return std::unexpected(
            QStringLiteral("--usage-rate wants OPERATION=MICROS_PER_MINUTE, found \"%1\"").arg(text));
    return std::pair { text.left(equals), rate };
}

// The address clients use to reach the server: scheme, host and port only, since the
// server's own paths are appended to it.
std::expected<QUrl, QString> parsePublicUrl(const QString& text)
{
    const QUrl url(text, QUrl::StrictMode);
    const bool bare = url.path().isEmpty() || url.path() == u"/";
    if (!url.isValid() || (url.scheme() != u"https" && url.scheme() != u"http") || url.host().isEmpty()
        || !bare || url.hasQuery() || url.hasFragment() || !url.userInfo().isEmpty())
        return std::unexpected(
            QStringLiteral("--public-url wants http(s)://HOST[:PORT], found \"%1\"").arg(text));
    return url.adjusted(QUrl::StripTrailingSlash);
}

// The options that bound what clients may hold at once, each a whole number from 1 up.
struct Limit {
    const char* name;
    qint64 most;
};
constexpr Limit limits[] = { { "--provider-calls", 4096 }, { "--provider-calls-per-account", 4096 },
    { "--request-head-timeout", 300 }, { "--body-memory-limit", 1024 * 1024 } };

bool isLimit(const QString& name)
{
    return std::ranges::any_of(
        limits, [&](const Limit& limit) { return name == QLatin1StringView(limit.name); });
}

std::expected<void, QString> setLimit(ControlPlaneOptions& options, const QString& name, const QString& text)
{
    const auto limit = std::ranges::find_if(
        limits, [&](const Limit& each) { return name == QLatin1StringView(each.name); });
    bool ok = false;
    const qint64 value = text.toLongLong(&ok);
    if (!ok || value < 1 || value > limit->most)
        return std::unexpected(
            QStringLiteral("%1 needs a whole number from 1 to %2").arg(name).arg(limit->most));
    if (name == u"--provider-calls") {
        options.providerCalls.total = static_cast<int>(value);
        options.providerCalls.keptForSpeech = options.providerCalls.total / 4;
    } else if (name == u"--provider-calls-per-account")
        options.providerCalls.perAccount = static_cast<int>(value);
    else if (name == u"--request-head-timeout")
        options.requestHeadSeconds = static_cast<int>(value);
    else
        options.bodyMemoryMiB = value;
    return {};
}

} // namespace

std::expected<ControlPlaneOptions, QString> ControlPlaneOptions::parse(
    const QStringList& arguments, const QString& defaultDatabase)
{
    ControlPlaneOptions options;
    options.database = defaultDatabase;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        auto [name, inlineValue] = splitArgument(arguments.at(i));
        const auto value = [&]() -> std::expected<QString, QString> {
            if (inlineValue)
                return *inlineValue;
            if (i + 1 >= arguments.size())
                return std::unexpected(QStringLiteral("%1 needs a value").arg(name));
            return arguments.at(++i);
        };
        const bool takesValue = name == u"--listen" || name == u"--database" || name == u"--tls-cert"
            || name == u"--tls-key" || name == u"--speech-token-secret" || name == u"--usage-rate"
            || name == u"--content-key-file" || name == u"--previous-content-key-file"
            || name == u"--pairing-invite-lifetime" || name == u"--pairing-confirm-window"
            || name == u"--deletion-request-lifetime" || name == u"--public-url"
            || ProviderOptions::isOption(name) || isLimit(name) || LimitOptions::isOption(name);
        if (!takesValue && inlineValue)
            return std::unexpected(QStringLiteral("%1 takes no value").arg(name));
        if (takesValue) {
            auto text = value();
            if (!text)
                return std::unexpected(text.error());
            if (ProviderOptions::isOption(name)) {
                if (const auto set = options.providers.set(name, *text); !set)
                    return std::unexpected(set.error());
            } else if (isLimit(name)) {
                if (const auto set = setLimit(options, name, *text); !set)
                    return std::unexpected(set.error());
            } else if (LimitOptions::isOption(name)) {
                if (const auto set = options.limits.set(name, *text); !set)
                    return std::unexpected(set.error());
            } else if (name == u"--listen") {
                auto listen = ListenAddress::parse(text->toStdString());
                if (!listen)
                    return std::unexpected(QString::fromStdString(listen.error()));
                options.listen = *listen;
            } else if (name == u"--database") {
                options.database = *text;
            } else if (name == u"--public-url") {
                auto url = parsePublicUrl(*text);
                if (!url)
                    return std::unexpected(url.error());
                options.publicUrl = *url;
            } else if (name == u"--speech-token-secret") {
                options.speechTokenSecret = *text;
            } else if (name == u"--content-key-file") {
                options.contentKeyFile = *text;
            } else if (name == u"--previous-content-key-file") {
                options.previousContentKeyFiles.append(*text);
            } else if (name == u"--usage-rate") {
                const auto rate = parseUsageRate(*text);
                if (!rate)
                    return std::unexpected(rate.error());
                options.usageRates[rate->first] = rate->second;
            } else if (name.startsWith(u"--pairing-")) {
                bool ok = false;
                const qint64 seconds = text->toLongLong(&ok);
                // At most a year, which also keeps deadlines far from overflowing.
                if (!ok || seconds < 0 || seconds > 365 * 24 * 3600)
                    return std::unexpected(
                        QStringLiteral("%1 needs a number of seconds up to a year").arg(name));
                (name == u"--pairing-invite-lifetime" ? options.pairing.invite : options.pairing.confirmation)
                    = seconds;
            } else if (name == u"--deletion-request-lifetime") {
                bool ok = false;
                const qint64 seconds = text->toLongLong(&ok);
                if (!ok || seconds < 1)
                    return std::unexpected(QStringLiteral(
                        "--deletion-request-lifetime needs a whole number of seconds, at least 1"));
                options.deletionRequestLifetime = seconds;
            } else if (name == u"--tls-cert") {
                options.tlsCertificate = *text;
            } else {
                options.tlsKey = *text;
            }
        } else if (name == u"--allow-plain-http") {
            options.allowPlainHttp = true;
        } else if (name == u"--dev-sign-in") {
            options.devSignIn = true;
        } else if (name == u"--help" || name == u"-h") {
            options.help = true;
            return options;
        } else {
            return std::unexpected(QStringLiteral("unknown argument %1 (see --help)").arg(name));
        }
    }
    if (options.tlsCertificate.has_value() != options.tlsKey.has_value())
        return std::unexpected(QStringLiteral("--tls-cert and --tls-key go together"));
    if (!options.tlsCertificate && !options.allowPlainHttp && !options.listen.isLoopback())
        return std::unexpected(QStringLiteral("plain HTTP is only served on loopback; give --tls-cert and "
                                              "--tls-key, or --allow-plain-http behind a TLS proxy"));
    if (options.devSignIn && !options.listen.isLoopback())
        return std::unexpected(QStringLiteral(
            "--dev-sign-in lets anyone sign in to any account; it is only offered on a loopback address"));
    return options;
}

QString ControlPlaneOptions::helpText()
{
    const QString text = QStringLiteral(
        "Usage: lumora-control-plane [options]\n"
        "\n"
        "  --listen HOST:PORT    address to listen on (default 127.0.0.1:8443; port 0 picks one)\n"
        "  --database URL        sqlite:PATH (default: a file in the user's data folder) or\n"
        "                        postgresql://USER@HOST:PORT/DB (password from PGPASSWORD)\n"
        "  --tls-cert FILE       PEM certificate chain; with --tls-key serves HTTPS\n"
        "  --tls-key FILE        PEM private key, owner-only (chmod 600)\n"
        "  --allow-plain-http    serve plain HTTP on a non-loopback address (behind a TLS proxy)\n"
        "  --dev-sign-in         offer the development sign-in page instead of Sign in with Apple\n"
        "                        (only on a loopback address)\n"
        "  --public-url URL      http(s)://HOST[:PORT] at which clients reach the server, when\n"
        "                        that is not the listening address (default: that address)\n"
        "  --content-key-file FILE\n"
        "                        key that stored conversations (documents and titles) are sealed\n"
        "                        with: the base64 of 32 random bytes (openssl rand -base64 32),\n"
        "                        owner-only; required to serve\n"
        "  --previous-content-key-file FILE\n"
        "                        a key conversations were sealed with before; those are sealed\n"
        "                        again with --content-key-file at start (may be given again)\n"
        "  --speech-token-secret FILE\n"
        "                        secret (at least 32 bytes) that speech-provider tokens are signed\n"
        "                        with; the speech stand-in verifies them with the same file\n"
        "  --usage-rate OPERATION=MICROS\n"
        "                        estimated cost per minute of audio of a usage operation\n"
        "                        (live_transcription 7700, final_transcription 4300 by default;\n"
        "                        may be given once per operation)\n"
        "  --pairing-invite-lifetime SECONDS\n"
        "                        how long a partner code stays usable (default 86400)\n"
        "  --pairing-confirm-window SECONDS\n"
        "                        how long a redeemed code waits for confirmation (default 900)\n"
        "  --deletion-request-lifetime SECONDS\n"
        "                        how long a conversation deletion waits for the partner's\n"
        "                        approval before it lapses (default 604800, seven days)\n"
        "  --request-head-timeout SECONDS\n"
        "                        a request's head must be in this long after the connection\n"
        "                        opens (a later request's, after its first byte; default 5)\n"
        "  --body-memory-limit MIB\n"
        "                        request bodies being read or handled at once, all connections\n"
        "                        together, counted as their bytes arrive; a sixteenth of it is\n"
        "                        for bodies no known device signs (a sixteenth of that from one\n"
        "                        address), 4 MiB for one account's; a body past its share is\n"
        "                        refused with 503 (default 256)\n"
        "  --provider-calls N    calls to the speech and analysis services under way at once, a\n"
        "                        quarter of them kept for speech tokens (default 32); past it a\n"
        "                        speech token answers 503 and an analysis or nudge comes from the\n"
        "                        rule-based analyzer\n"
        "  --provider-calls-per-account N\n"
        "                        the same for one account while few accounts call; more share\n"
        "                        the places evenly (default 4)\n"
        "  --help                show this text\n");
    return text + ProviderOptions::helpText() + LimitOptions::helpText();
}

} // namespace lumora
