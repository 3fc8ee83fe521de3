#include "common/HttpServer.hpp"
#include "common/SpeechToken.hpp"
#include "controlplane/ContentSeal.hpp"
#include "controlplane/ControlPlaneOptions.hpp"
#include "controlplane/ControlPlaneService.hpp"
#include "controlplane/ControlPlaneStore.hpp"
#include "controlplane/ConversationContentStore.hpp"
#include "controlplane/IdText.hpp"
#include "controlplane/NonceWriter.hpp"
#include "controlplane/ProviderCalls.hpp"
#include "controlplane/ProviderSetup.hpp"

#include <QCoreApplication>
#include <QDateTime>
#include <QStandardPaths>
#include <chrono>
#include <condition_variable>
#include <iostream>
#include <memory>
#include <mutex>
#include <stop_token>
#include <thread>
#include <vector>

namespace {

qint64 secondsNow()
{
    return QDateTime::currentSecsSinceEpoch();
}

// The database's upkeep, on a thread and a connection of its own, never on a request's way:
// every second a checkpoint of SQLite's write-ahead log, every minute forgetting the nonces
// that the freshness check of every instance refuses anyway.
void keepUp(const std::stop_token& stop, const QString& database)
{
    using namespace lumora;
    auto store = ControlPlaneStore::open(database);
    if (!store) {
        qWarning("database upkeep: %s", qPrintable(store.error()));
        return;
    }
    std::mutex lock;
    std::condition_variable_any wake;
    for (int second = 0; !stop.stop_requested(); ++second) {
        try {
            if (second % 60 == 0)
                (*store)->forgetNoncesOlderThan(RequestAuthenticator::nonceLifetime);
            (*store)->checkpoint();
        } catch (const StoreFailure& failure) {
            qWarning("database upkeep failed: %s", failure.what());
        }
        std::unique_lock waiting(lock);
        wake.wait_for(waiting, stop, std::chrono::seconds(1), [] { return false; });
    }
}

} // namespace

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

    if (!options->contentKeyFile) {
        std::cerr << "lumora-control-plane: --content-key-file FILE is required: the key stored conversations"
                     " are sealed with (see --help)\n";
        return 2;
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
    settings.conversation.callRates = options->limits.rates;
    settings.storageQuota = options->limits.storageQuota;
    if (const auto connected = connectProviders(
            options->providers, settings.conversation, providerLog, options->limits.promptBytes);
        !connected) {
        std::cerr << "lumora-control-plane: " << connected.error() << "\n";
        return 1;
    }
    for (const auto& [operation, rate] : options->usageRates)
        settings.conversation.usageRatesMicrosPerMinute[operation] = rate;

    std::vector<std::string> previousKeys;
    for (const QString& file : options->previousContentKeyFiles)
        previousKeys.push_back(file.toStdString());
    auto seal = ContentSeal::fromKeyFiles(options->contentKeyFile->toStdString(), previousKeys);
    if (!seal) {
        std::cerr << "lumora-control-plane: " << seal.error() << "\n";
        return 1;
    }
    settings.contentSeal = std::make_shared<const ContentSeal>(std::move(*seal));

    // Applies the migrations before any request; each handler thread then opens a connection
    // of its own.
    auto store = ControlPlaneStore::open(options->database, settings.contentSeal.get());
    if (!store) {
        std::cerr << "lumora-control-plane: " << store.error().toStdString() << "\n";
        return 1;
    }
    try {
        const auto resealed
            = ConversationContentStore(**store, *settings.contentSeal).resealUnderCurrentKey();
        if (!resealed) {
            std::cerr << "lumora-control-plane: " << resealed.error().toStdString() << "\n";
            return 1;
        }
        if (*resealed > 0)
            std::clog << "sealed " << *resealed << " stored conversations again under the current content key"
                      << std::endl;
    } catch (const StoreFailure& failure) {
        std::cerr << "lumora-control-plane: " << failure.what() << "\n";
        return 1;
    }
    store->reset();
    if (options->deletionRequestLifetime)
        settings.conversationDeletionLifetime = *options->deletionRequestLifetime;
    const QString database = options->database;
    settings.nonces = std::make_shared<NonceWriter>(database);
    if (settings.conversation.speechGrants || settings.conversation.analyzer)
        settings.conversation.providerCalls = std::make_shared<ProviderCalls>(options->providerCalls);
    // Each thread that serves requests has a database connection and a service of its own,
    // made at its first request: Qt SQL connections belong to the thread that opened them.
    // The settings are complete once the server listens and the port it was given is known;
    // requests are handled only from runUntilSignalled on.
    const auto threadService = [&settings, &database]() -> const ControlPlaneService* {
        thread_local std::unique_ptr<ControlPlaneStore> threadStore;
        thread_local std::unique_ptr<ControlPlaneService> service;
        if (!service) {
            auto opened = ControlPlaneStore::open(database);
            if (!opened) {
                qWarning("cannot open the database: %s", qPrintable(opened.error()));
                return nullptr;
            }
            threadStore = std::move(*opened);
            try {
                threadStore->leaveCheckpoints();
            } catch (const StoreFailure& failure) {
                qWarning("%s", failure.what());
            }
            service = std::make_unique<ControlPlaneService>(*threadStore, settings, secondsNow);
        }
        return service.get();
    };
    const auto handle = [threadService](const HttpRequest& request) {
        const ControlPlaneService* service = threadService();
        return service ? service->handle(request) : errorResponse(503, "storage_unavailable");
    };

    HttpServerOptions serverOptions { options->listen, std::nullopt, 2 * 1024 * 1024, 0, 0, 0 };
    serverOptions.headTimeout = std::chrono::seconds(options->requestHeadSeconds);
    serverOptions.bodyMemoryLimit = static_cast<std::size_t>(options->bodyMemoryMiB) * 1024 * 1024;
    // Each device's long bodies take at most its share of the body memory (the default, two
    // of the longest), so that whoever names one device holds back no other.
    serverOptions.headCheck = [threadService](const HttpRequest& head) -> HeadVerdict {
        const ControlPlaneService* service = threadService();
        if (!service)
            return HeadVerdict { errorResponse(503, "storage_unavailable"), {} };
        auto device = service->checkBeforeLongBody(head);
        if (!device)
            return HeadVerdict { std::move(device.error()), {} };
        return HeadVerdict { std::nullopt, idText(*device).toStdString() };
    };
    if (options->tlsCertificate)
        serverOptions.tls
            = TlsFiles { options->tlsCertificate->toStdString(), options->tlsKey->toStdString() };
    auto server = HttpServer::listen(serverOptions, handle, std::clog);
    if (!server) {
        std::cerr << "lumora-control-plane: " << server.error() << "\n";
        return 1;
    }
    const QString listening = QString::fromLatin1(serverOptions.tls ? "https" : "http")
        + QStringLiteral("://")
        + QString::fromStdString(ListenAddress { options->listen.host, (*server)->port() }.text());
    settings.publicUrl = options->publicUrl.value_or(QUrl(listening));
    const std::jthread upkeep(keepUp, database);
    // Scripts and tests wait for this line to learn the port (also when 0 was asked for).
    std::cout << "listening on " << listening.toStdString() << std::endl;
    (*server)->runUntilSignalled();
    std::clog << "stopped" << std::endl;
    return 0;
}
