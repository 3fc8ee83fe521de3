#include "common/HttpServer.hpp"
#include "common/SpeechToken.hpp"
#include "controlplane/ContentSeal.hpp"
#include "controlplane/ControlPlaneOptions.hpp"
#include "controlplane/ControlPlaneService.hpp"
#include "controlplane/ControlPlaneStore.hpp"
#include "controlplane/ConversationContentStore.hpp"
#include "controlplane/IdText.hpp"
#include "controlplane/NonceWriter.hpp"
#include "controlplane/ProvenDevices.hpp"
#include "controlplane/ProviderCalls.hpp"
#include "controlplane/ProviderSetup.hpp"
#include "controlplane/SignInEndpoints.hpp"
#include "controlplane/SignInStartStore.hpp"
#include "controlplane/SignInWriter.hpp"

#include <QCoreApplication>
#include <QDateTime>
#include <QStandardPaths>
#include <chrono>
#include <condition_variable>
#include <expected>
#include <functional>
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
// that the freshness check of every instance refuses anyway and the sign-in requests that can
// no longer lead anywhere (those of networks that go on starting are forgotten as they start).
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
            if (second % 60 == 0) {
                (*store)->forgetNoncesOlderThan(RequestAuthenticator::nonceLifetime);
                SignInStartStore::forgetFinished(**store, secondsNow(), SignInEndpoints::signInLifetime);
            }
            (*store)->checkpoint();
        } catch (const StoreFailure& failure) {
            qWarning("database upkeep failed: %s", failure.what());
        }
        std::unique_lock waiting(lock);
        wake.wait_for(waiting, stop, std::chrono::seconds(1), [] { return false; });
    }
}

// The longest body the server reads of any request; an endpoint may take less.
constexpr std::size_t requestBodyLimit = 2 * 1024 * 1024;
// The longest body of a call whose head does not hold up, and of every open call (the sign-in
// steps, some hundreds of bytes; an identity token, a few KiB): shorter than what a body must
// bring in its first seconds, it must be whole within two.
constexpr std::size_t openCallBodyLimit = 8 * 1024;

// The service's settings from the options, every secret and key read (key files others can
// read refused) and the providers connected; what stops the start otherwise. The nonce writer
// comes later, once the database has its tables.
std::expected<lumora::ControlPlaneServiceSettings, std::string> serviceSettings(
    const lumora::ControlPlaneOptions& options)
{
    using namespace lumora;
    ControlPlaneServiceSettings settings;
    settings.devSignIn = options.devSignIn;
    settings.pairing = options.pairing;
    if (options.speechTokenSecret) {
        auto secret = speechtoken::readSecret(options.speechTokenSecret->toStdString());
        if (!secret)
            return std::unexpected(secret.error());
        settings.conversation.speechTokenSecret = std::move(*secret);
    }
    const ProviderLog providerLog = [](const std::string& line) { std::clog << line + "\n" << std::flush; };
    settings.conversation.callRates = options.limits.rates;
    settings.storageQuota = options.limits.storageQuota;
    settings.signIn = options.limits.signIns;
    if (const auto connected
        = connectProviders(options.providers, settings.conversation, providerLog, options.limits.promptBytes);
        !connected)
        return std::unexpected(connected.error());
    for (const auto& [operation, rate] : options.usageRates)
        settings.conversation.usageRatesMicrosPerMinute[operation] = rate;
    if (settings.conversation.speechGrants || settings.conversation.analyzer)
        settings.conversation.providerCalls = std::make_shared<ProviderCalls>(options.providerCalls);

    std::vector<std::string> previousKeys;
    for (const QString& file : options.previousContentKeyFiles)
        previousKeys.push_back(file.toStdString());
    auto seal = ContentSeal::fromKeyFiles(options.contentKeyFile->toStdString(), previousKeys);
    if (!seal)
        return std::unexpected(seal.error());
    settings.contentSeal = std::make_shared<const ContentSeal>(std::move(*seal));
    if (options.deletionRequestLifetime)
        settings.conversationDeletionLifetime = *options.deletionRequestLifetime;
    return settings;
}

// Opens the database, which applies its migrations, before any request, and seals the stored
// conversations that an earlier key sealed again under the current one.
std::expected<void, std::string> prepareDatabase(const QString& database, const lumora::ContentSeal& seal)
{
    using namespace lumora;
    auto store = ControlPlaneStore::open(database, &seal);
    if (!store)
        return std::unexpected(store.error().toStdString());
    try {
        const auto resealed = ConversationContentStore(**store, seal).resealUnderCurrentKey();
        if (!resealed)
            return std::unexpected(resealed.error().toStdString());
        if (*resealed > 0)
            std::clog << "sealed " << *resealed << " stored conversations again under the current content key"
                      << std::endl;
    } catch (const StoreFailure& failure) {
        return std::unexpected(std::string(failure.what()));
    }
    return {};
}

// The service of the calling thread, made at its first request with a database connection of
// its own: Qt SQL connections belong to the thread that opened them. Null when the database
// cannot be opened.
const lumora::ControlPlaneService* threadService(
    const lumora::ControlPlaneServiceSettings& settings, const QString& database)
{
    using namespace lumora;
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
}

// What the server takes from the options; requests are served by the threads that read
// them, as many as there are cores, with as many connections as the descriptors allow.
lumora::HttpServerOptions serverOptions(
    const lumora::ControlPlaneOptions& options, std::function<const lumora::ControlPlaneService*()> service)
{
    using namespace lumora;
    HttpServerOptions server;
    server.listen = options.listen;
    if (options.tlsCertificate)
        server.tls = TlsFiles { options.tlsCertificate->toStdString(), options.tlsKey->toStdString() };
    server.bodyLimit = requestBodyLimit;
    server.uncheckedBodyLimit = openCallBodyLimit;
    server.headTimeout = std::chrono::seconds(options.requestHeadSeconds);
    server.bodyMemoryLimit = static_cast<std::size_t>(options.bodyMemoryMiB) * 1024 * 1024;
    // A sixteenth of it for the bodies of calls that name no device (the sign-in steps, heads
    // that do not hold up), and a sixteenth of that for those from one address: some two
    // thousand of the longest at the default, a hundred from one address. The signed calls'
    // bodies keep the rest, each account's at most two of the longest however many devices it
    // has, and those from one network as many until their signature is checked (unless their
    // device has proven itself from that address lately): whoever names a device takes nothing
    // from its account. When many ask, the shares shrink.
    server.openBodyMemory = server.bodyMemoryLimit / 16;
    server.openBodyMemoryPerAddress = server.openBodyMemory / 16;
    // The account a signed head names, whose the body is once its signature holds, or at once
    // when the device has proven itself from the client's address lately.
    server.headCheck = [service = std::move(service)](const HttpRequest& head) -> HeadVerdict {
        const ControlPlaneService* current = service();
        if (!current)
            return HeadVerdict { errorResponse(503, "storage_unavailable"), {} };
        auto owner = current->checkBeforeBody(head);
        if (!owner)
            return HeadVerdict { std::move(owner.error()), {} };
        return HeadVerdict { std::nullopt, idText(owner->account).toStdString(), owner->proven };
    };
    return server;
}

// Says why the server does not start; the exit status.
int refuse(const std::string& reason, int status = 1)
{
    std::cerr << "lumora-control-plane: " << reason << "\n";
    return status;
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
    if (!options)
        return refuse(options.error().toStdString(), 2);
    if (options->help) {
        std::cout << ControlPlaneOptions::helpText().toStdString();
        return 0;
    }
    if (!options->contentKeyFile)
        return refuse(
            "--content-key-file FILE is required: the key stored conversations are sealed with (see "
            "--help)",
            2);

    auto settings = serviceSettings(*options);
    if (!settings)
        return refuse(settings.error());
    const QString database = options->database;
    if (const auto prepared = prepareDatabase(database, *settings->contentSeal); !prepared)
        return refuse(prepared.error());
    settings->nonces = std::make_shared<NonceWriter>(database);
    settings->provenDevices = std::make_shared<ProvenDevices>();
    settings->signInStarts = std::make_shared<SignInWriter>(
        database, settings->signIn, SignInEndpoints::signInLifetime, secondsNow);
    // The settings are complete once the server listens and the port it was given is known;
    // requests are handled only from runUntilSignalled on.
    const auto service = [&settings = *settings, &database] { return threadService(settings, database); };
    const auto handle = [service](const HttpRequest& request) {
        const ControlPlaneService* current = service();
        return current ? current->handle(request) : errorResponse(503, "storage_unavailable");
    };
    const HttpServerOptions listenOptions = serverOptions(*options, service);
    auto server = HttpServer::listen(listenOptions, handle, std::clog);
    if (!server)
        return refuse(server.error());
    const QString listening = QString::fromLatin1(listenOptions.tls ? "https" : "http")
        + QStringLiteral("://")
        + QString::fromStdString(ListenAddress { options->listen.host, (*server)->port() }.text());
    settings->publicUrl = options->publicUrl.value_or(QUrl(listening));
    const std::jthread upkeep(keepUp, database);
    // Scripts and tests wait for this line to learn the port (also when 0 was asked for).
    std::cout << "listening on " << listening.toStdString() << std::endl;
    (*server)->runUntilSignalled();
    std::clog << "stopped" << std::endl;
    return 0;
}
