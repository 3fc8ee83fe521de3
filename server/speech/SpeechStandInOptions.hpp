#pragma once

#include "common/ListenAddress.hpp"

#include <QString>
#include <QStringList>
#include <expected>
#include <optional>

namespace lumora {

// How the pre-recorded request is answered.
enum class PrerecordedReply { transcript, unauthorized, serverError, emptyNoContent, malformed };

// The command line of lumora-speech-standin: where it listens, how it verifies tokens,
// what it "hears", and the hooks with which tests make it misbehave.
struct SpeechStandInOptions {
    ListenAddress listen { "127.0.0.1", 8444 };
    std::optional<QString> tlsCertificate;
    std::optional<QString> tlsKey;
    QString speechTokenSecret;
    std::optional<QString> script;
    std::optional<QString> frameLog;
    // Test hooks.
    bool stayOpenAfterCloseStream = false;
    std::optional<qint64> dropAfterFrames;
    std::optional<int> refuseHandshake;
    qint64 prerecordedDelayMilliseconds = 0;
    PrerecordedReply prerecordedReply = PrerecordedReply::transcript;
    // The first this many pre-recorded requests are answered with 500, whatever the reply.
    qint64 prerecordedFailures = 0;
    // How long a live stream may send no audio before it makes way at the connection cap.
    qint64 silentStreamMilliseconds = 10'000;
    bool help = false;

    static std::expected<SpeechStandInOptions, QString> parse(const QStringList& arguments);
    static QString helpText();
};

} // namespace lumora
