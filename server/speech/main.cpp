#include "common/HttpServer.hpp"
#include "common/SpeechToken.hpp"
#include "speech/SpeechStandIn.hpp"

#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
#include <iostream>

extern "C" {
#include <libavutil/log.h>
}

int main(int argc, char** argv)
{
    using namespace lumora;
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("lumora-speech-standin"));
    // An upload that is not audio is answered with 400; libavformat need not say why.
    av_log_set_level(AV_LOG_QUIET);

    auto options = SpeechStandInOptions::parse(QCoreApplication::arguments().mid(1));
    if (!options) {
        std::cerr << "lumora-speech-standin: " << options.error().toStdString() << "\n";
        return 2;
    }
    if (options->help) {
        std::cout << SpeechStandInOptions::helpText().toStdString();
        return 0;
    }
    auto secret = speechtoken::readSecret(options->speechTokenSecret.toStdString());
    if (!secret) {
        std::cerr << "lumora-speech-standin: " << secret.error() << "\n";
        return 1;
    }
    SpeechScript script = SpeechScript::builtIn();
    if (options->script) {
        QFile file(*options->script);
        if (!file.open(QIODevice::ReadOnly)) {
            std::cerr << "lumora-speech-standin: cannot read " << options->script->toStdString() << "\n";
            return 1;
        }
        auto parsed = SpeechScript::parse(file.readAll());
        if (!parsed) {
            std::cerr << "lumora-speech-standin: " << options->script->toStdString() << ": "
                      << parsed.error().toStdString() << "\n";
            return 1;
        }
        script = std::move(*parsed);
    }

    // One handler thread: the stand-in answers one HTTP request at a time, as it always has.
    // A recording is read only for a request whose token holds, and two at most at once.
    constexpr std::size_t recordingLimit = 256 * 1024 * 1024;
    HttpServerOptions serverOptions { options->listen, std::nullopt, recordingLimit, 0, 1, 0 };
    serverOptions.bodyMemoryPerOwner = 2 * recordingLimit;
    serverOptions.bodyMemoryLimit = serverOptions.bodyMemoryPerOwner + serverOptions.openBodyMemory;
    if (options->tlsCertificate)
        serverOptions.tls
            = TlsFiles { options->tlsCertificate->toStdString(), options->tlsKey->toStdString() };
    auto standIn = std::make_shared<SpeechStandIn>(
        *options, std::move(script), std::move(*secret), [] { return QDateTime::currentSecsSinceEpoch(); });
    // Every recording whose token holds takes from one share: the stand-in has one user. The
    // token in the head vouches for the recording.
    serverOptions.headCheck = [standIn](const HttpRequest& head) {
        auto refusal = standIn->checkHead(head);
        return HeadVerdict { refusal, refusal ? std::string() : std::string("recording"), true };
    };
    if (const auto error = standIn->openFrameLog()) {
        std::cerr << "lumora-speech-standin: " << *error << "\n";
        return 1;
    }
    auto server = HttpServer::listen(
        serverOptions, [standIn](const HttpRequest& request) { return standIn->handle(request); }, std::clog,
        standIn);
    if (!server) {
        std::cerr << "lumora-speech-standin: " << server.error() << "\n";
        return 1;
    }
    // Scripts and tests wait for this line to learn the port (also when 0 was asked for).
    std::cout << "listening on " << (serverOptions.tls ? "https" : "http") << "://"
              << ListenAddress { options->listen.host, (*server)->port() }.text() << std::endl;
    (*server)->runUntilSignalled();
    std::clog << "stopped" << std::endl;
    return 0;
}
