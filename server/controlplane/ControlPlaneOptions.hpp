#pragma once

#include "common/ListenAddress.hpp"
#include "controlplane/LimitOptions.hpp"
#include "controlplane/PairingLifetimes.hpp"
#include "controlplane/ProviderCalls.hpp"
#include "controlplane/ProviderOptions.hpp"

#include <QString>
#include <QStringList>
#include <QUrl>
#include <expected>
#include <map>
#include <optional>

namespace lumora {

// The command line of lumora-control-plane. Scripts and tests rely on it, so options are
// only ever added, never renamed.
struct ControlPlaneOptions {
    ListenAddress listen { "127.0.0.1", 8443 };
    QString database; // "sqlite:PATH" or "postgresql://USER@HOST:PORT/DB"
    std::optional<QString> tlsCertificate;
    std::optional<QString> tlsKey;
    bool allowPlainHttp = false;
    bool devSignIn = false;
    // Where clients reach the server when that is not the listening address (behind a proxy):
    // "http" or "https", a host and optionally a port, nothing else.
    std::optional<QUrl> publicUrl;
    // The file holding the secret that speech-provider tokens are signed with.
    std::optional<QString> speechTokenSecret;
    // The file holding the key that stored conversations are sealed with (required to serve),
    // and files of keys they were sealed with before, while they are sealed again.
    std::optional<QString> contentKeyFile;
    QStringList previousContentKeyFiles;
    // Usage rates in micros per minute of audio that replace the built-in ones.
    std::map<QString, qint64> usageRates;
    PairingLifetimes pairing;
    // Seconds after which a deletion waiting for the partner lapses; the service's default
    // when not given.
    std::optional<qint64> deletionRequestLifetime;
    // The real speech and analysis services, when their keys are given.
    ProviderOptions providers;
    // What one client, or all of them, may hold of the server at once.
    ProviderCallLimits providerCalls;
    int requestHeadSeconds = 5;
    qint64 bodyMemoryMiB = 256;
    LimitOptions limits;
    bool help = false;

    // `arguments` excludes the program name. `defaultDatabase` is used when --database is
    // not given. Plain HTTP is refused on a non-loopback address unless --allow-plain-http;
    // the development sign-in is refused on any address but loopback.
    static std::expected<ControlPlaneOptions, QString> parse(
        const QStringList& arguments, const QString& defaultDatabase);
    static QString helpText();
};

} // namespace lumora
