#include "common/HttpServer.hpp"
#include "common/SpeechToken.hpp"
#include "controlplane/ControlPlaneOptions.hpp"
#include "controlplane/ControlPlaneService.hpp"
#include "controlplane/ControlPlaneStore.hpp"
#include "controlplane/ProviderSetup.hpp"

#include <QCoreApplication>
#include <QDateTime>
#include <QStandardPaths>
#include <iostream>
#include <memory>

int main(int argc, char** argv)
{
    using namespace lumora;
    // The Qt application object is needed for the SQL driver plugins; Asio runs the loop.
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("lumora-control-plane"));

    const QString defaultDatabase = QStringLiteral("sqlite:")
        + QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation)
        + QStringLiteral("/Lumora/control-plane.sqlite");
    auto options = ControlPlaneOptions::parse(QCoreApplication::arguments().mid(1), defaultDatabase);
    if (!options) {
        std::cerr << "lumora-control-plane: " << options.error().toStdString() << "\n";
        return 2;
    }
    if (options->help) {
        std::cout << ControlPlaneOptions::helpText().toStdString();
        return 0;
    }

    ControlPlaneServiceSettings settings;
    settings.devSignIn = options->devSignIn;
    settings.pairing = options->pairing;
    if (options->speechTokenSecret) {
        auto secret = speechtoken::readSecret(options->speechTokenSecret->toStdString());
        if (!secret) {
            std::cerr << "lumora-control-plane: " << secret.error() << "\n";
            return 1;
        }
        settings.conversation.speechTokenSecret = std::move(*secret);
    }
    // Keys are read (and key files others can read refused) before anything starts.
    const ProviderLog providerLog = [](const std::string& line) { std::clog << line + "\n" << std::flush; };
    if (const auto connected = connectProviders(options->providers, settings.conversation, providerLog);
        !connected) {
        std::cerr << "lumora-control-plane: " << connected.error() << "\n";
        return 1;
    }
    for (const auto& [operation, rate] : options->usageRates)
        settings.conversation.usageRatesMicrosPerMinute[operation] = rate;

    auto store = ControlPlaneStore::open(options->database);
    if (!store) {
        std::cerr << "lumora-control-plane: " << store.error().toStdString() << "\n";
        return 1;
    }
    if (options->deletionRequestLifetime)
        settings.conversationDeletionLifetime = *options->deletionRequestLifetime;
    // Made once the server listens, when the port it was given is known; requests are
    // handled only from runUntilSignalled on.
    std::unique_ptr<ControlPlaneService> service;

    HttpServerOptions serverOptions { options->listen, std::nullopt, 2 * 1024 * 1024, 0 };
    if (options->tlsCertificate)
        serverOptions.tls
            = TlsFiles { options->tlsCertificate->toStdString(), options->tlsKey->toStdString() };
    auto server = HttpServer::listen(
        serverOptions, [&service](const HttpRequest& request) { return service->handle(request); },
        std::clog);
    if (!server) {
        std::cerr << "lumora-control-plane: " << server.error() << "\n";
        return 1;
    }
    const QString listening = QString::fromLatin1(serverOptions.tls ? "https" : "http")
        + QStringLiteral("://")
        + QString::fromStdString(ListenAddress { options->listen.host, (*server)->port() }.text());
    settings.publicUrl = options->publicUrl.value_or(QUrl(listening));
    service = std::make_unique<ControlPlaneService>(
        **store, std::move(settings), [] { return QDateTime::currentSecsSinceEpoch(); });
    // Scripts and tests wait for this line to learn the port (also when 0 was asked for).
    std::cout << "listening on " << listening.toStdString() << std::endl;
    (*server)->runUntilSignalled();
    std::clog << "stopped" << std::endl;
    return 0;
}
