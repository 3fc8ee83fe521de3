#include "speech/SpeechStandInOptions.hpp"

namespace lumora {

namespace {

std::optional<qint64> wholeNumber(const QString& text, qint64 minimum, qint64 maximum)
{
    bool ok = false;
    const qint64 value = text.toLongLong(&ok);
    if (!ok || value < minimum || value > maximum)
        return std::nullopt;
    return value;
}

} // namespace

std::expected<SpeechStandInOptions, QString> SpeechStandInOptions::parse(const QStringList& arguments)
{
    SpeechStandInOptions options;
    bool haveSecret = false;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString name = arguments.at(i);
        if (name == u"--help" || name == u"-h") {
            options.help = true;
            return options;
        }
        if (name == u"--stay-open-after-close-stream") {
            options.stayOpenAfterCloseStream = true;
            continue;
        }
        if (i + 1 >= arguments.size())
            return std::unexpected(name.startsWith(u"--")
                    ? QStringLiteral("%1 needs a value").arg(name)
                    : QStringLiteral("unknown argument %1 (see --help)").arg(name));
        const QString value = arguments.at(++i);
        if (name == u"--listen") {
            auto listen = ListenAddress::parse(value.toStdString());
            if (!listen)
                return std::unexpected(QString::fromStdString(listen.error()));
            if (!listen->isLoopback())
                return std::unexpected(QStringLiteral("the stand-in listens on loopback only"));
            options.listen = *listen;
        } else if (name == u"--tls-cert") {
            options.tlsCertificate = value;
        } else if (name == u"--tls-key") {
            options.tlsKey = value;
        } else if (name == u"--speech-token-secret") {
            options.speechTokenSecret = value;
            haveSecret = true;
        } else if (name == u"--script") {
            options.script = value;
        } else if (name == u"--frame-log") {
            options.frameLog = value;
        } else if (name == u"--drop-after-frames") {
            options.dropAfterFrames = wholeNumber(value, 1, 1'000'000'000);
            if (!options.dropAfterFrames)
                return std::unexpected(QStringLiteral("--drop-after-frames needs a count of at least 1"));
        } else if (name == u"--refuse-handshake") {
            const auto status = wholeNumber(value, 400, 599);
            if (!status)
                return std::unexpected(QStringLiteral("--refuse-handshake needs an HTTP status 400...599"));
            options.refuseHandshake = int(*status);
        } else if (name == u"--prerecorded-delay-ms") {
            const auto delay = wholeNumber(value, 0, 600'000);
            if (!delay)
                return std::unexpected(QStringLiteral("--prerecorded-delay-ms needs 0...600000"));
            options.prerecordedDelayMilliseconds = *delay;
        } else if (name == u"--prerecorded-failures") {
            const auto count = wholeNumber(value, 0, 1'000'000);
            if (!count)
                return std::unexpected(QStringLiteral("--prerecorded-failures needs 0...1000000"));
            options.prerecordedFailures = *count;
        } else if (name == u"--silent-stream-ms") {
            const auto patience = wholeNumber(value, 1, 600'000);
            if (!patience)
                return std::unexpected(QStringLiteral("--silent-stream-ms needs 1...600000"));
            options.silentStreamMilliseconds = *patience;
        } else if (name == u"--prerecorded-reply") {
            if (value == u"transcript")
                options.prerecordedReply = PrerecordedReply::transcript;
            else if (value == u"401")
                options.prerecordedReply = PrerecordedReply::unauthorized;
            else if (value == u"500")
                options.prerecordedReply = PrerecordedReply::serverError;
            else if (value == u"204")
                options.prerecordedReply = PrerecordedReply::emptyNoContent;
            else if (value == u"malformed")
                options.prerecordedReply = PrerecordedReply::malformed;
            else
                return std::unexpected(
                    QStringLiteral("--prerecorded-reply is one of transcript, 401, 500, 204, malformed"));
        } else {
            return std::unexpected(QStringLiteral("unknown argument %1 (see --help)").arg(name));
        }
    }
    if (!haveSecret)
        return std::unexpected(QStringLiteral("--speech-token-secret FILE is required"));
    if (options.tlsCertificate.has_value() != options.tlsKey.has_value())
        return std::unexpected(QStringLiteral("--tls-cert and --tls-key go together"));
    return options;
}

QString SpeechStandInOptions::helpText()
{
    return QStringLiteral(
        "Usage: lumora-speech-standin --speech-token-secret FILE [options]\n"
        "\n"
        "A stand-in for the speech provider, for tests and local runs: the live WebSocket\n"
        "GET /v1/listen and the pre-recorded POST /v1/listen, transcribed from a script.\n"
        "\n"
        "  --listen HOST:PORT    loopback address to listen on (default 127.0.0.1:8444; port 0 picks one)\n"
        "  --tls-cert FILE       PEM certificate chain; with --tls-key serves HTTPS and WSS\n"
        "  --tls-key FILE        PEM private key, owner-only (chmod 600)\n"
        "  --speech-token-secret FILE\n"
        "                        the secret the control plane signs speech tokens with\n"
        "  --script FILE         utterances to replay (JSON); default: a built-in two-speaker script\n"
        "\n"
        "Test hooks:\n"
        "  --frame-log FILE      append one line per received live frame, in order\n"
        "  --stay-open-after-close-stream\n"
        "                        keep the stream open after CloseStream instead of closing it\n"
        "  --drop-after-frames N drop the connection without a close frame after N audio frames\n"
        "  --refuse-handshake STATUS\n"
        "                        refuse every live handshake with this HTTP status\n"
        "  --prerecorded-delay-ms N\n"
        "                        wait before answering a pre-recorded request\n"
        "  --prerecorded-reply transcript|401|500|204|malformed\n"
        "                        how to answer a pre-recorded request (default transcript)\n"
        "  --prerecorded-failures N\n"
        "                        answer the first N pre-recorded requests with 500\n"
        "  --silent-stream-ms N  a live stream that sends no audio for N ms makes way for a new\n"
        "                        connection when the stand-in holds all it may (default 10000)\n"
        "  --help                show this text\n");
}

} // namespace lumora
