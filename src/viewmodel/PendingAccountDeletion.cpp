#include "viewmodel/PendingAccountDeletion.hpp"

#include <QNetworkReply>
#include <QSettings>

namespace lumora {

namespace {

QString nameOf(PendingAccountDeletion::Stage stage)
{
    return stage == PendingAccountDeletion::Stage::answered ? QStringLiteral("answered")
                                                            : QStringLiteral("requested");
}

} // namespace

QString PendingAccountDeletion::preferenceKey()
{
    return QStringLiteral("lumora.pendingAccountDeletion");
}

std::optional<PendingAccountDeletion::Stage> PendingAccountDeletion::stored(const QSettings& preferences)
{
    const QString value = preferences.value(preferenceKey()).toString();
    for (const Stage stage : { Stage::requested, Stage::answered }) {
        if (value == nameOf(stage))
            return stage;
    }
    return std::nullopt;
}

bool PendingAccountDeletion::store(QSettings& preferences, std::optional<Stage> stage)
{
    if (stage)
        preferences.setValue(preferenceKey(), nameOf(*stage));
    else
        preferences.remove(preferenceKey());
    preferences.sync();
    return preferences.status() == QSettings::NoError;
}

PendingAccountDeletion::Answer PendingAccountDeletion::answerTo(
    const std::expected<void, ControlPlaneFailure>& reply)
{
    if (reply)
        return Answer::gone;
    if (const auto* refusal = std::get_if<ControlPlaneError>(&reply.error()); refusal && refusal->status())
        return *refusal->status() == 401 ? Answer::gone : Answer::kept;
    // Failures before the request could go out: no connection, no TLS session, no signature.
    if (const auto* transport = std::get_if<TransportError>(&reply.error())) {
        for (const QNetworkReply::NetworkError unsent : { QNetworkReply::ConnectionRefusedError,
                 QNetworkReply::HostNotFoundError, QNetworkReply::SslHandshakeFailedError }) {
            if (transport->code == unsent)
                return Answer::unsent;
        }
    }
    if (std::holds_alternative<CryptoError>(reply.error()))
        return Answer::unsent;
    return Answer::unknown;
}

} // namespace lumora
