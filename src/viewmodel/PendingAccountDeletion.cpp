#include "viewmodel/PendingAccountDeletion.hpp"

#include <QSettings>
#include <algorithm>

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
    const std::expected<void, ControlPlaneFailure>& reply, Attempt attempt)
{
    if (reply)
        return Answer::gone;
    const bool first = attempt == Attempt::first;
    if (const auto* refusal = std::get_if<ControlPlaneError>(&reply.error())) {
        const std::optional<int> status = refusal->status();
        const QString code = refusal->code().value_or(QString());
        if (status == 401 && code == u"unknown_device")
            return Answer::gone;
        // The account's deletion takes its devices with it: a device the control plane still
        // knows as revoked belongs to an account that is still there, which this device can no
        // longer delete, now or by any request of it still under way.
        if (status == 401 && code == u"device_revoked")
            return Answer::kept;
        // The control plane's own refusal of the request as it was sent (its form, its size, its
        // address). Sent again by the network library, the same request would have been refused
        // alike, or refused as a replay. A gateway's answer carries no such code; a time-out
        // (408) or a rate limit (429) may stand for a request that went on.
        const bool refusedAsSent = refusal->kind() == ControlPlaneError::Kind::rejectedWithCode && status
            && *status >= 400 && *status < 500 && *status != 401 && *status != 408 && *status != 429;
        return first && refusedAsSent ? Answer::kept : Answer::unknown;
    }
    // Failures before the request could go out: no signature, or no connection made for it (the
    // first request goes on a connection of its own, so that this is known).
    if (const auto* transport = std::get_if<TransportError>(&reply.error());
        transport && !transport->connected)
        return first ? Answer::unsent : Answer::unknown;
    if (std::holds_alternative<CryptoError>(reply.error()))
        return first ? Answer::unsent : Answer::unknown;
    return Answer::unknown;
}

std::chrono::milliseconds PendingAccountDeletion::retryDelay(int unanswered, std::chrono::milliseconds first)
{
    return first * (1 << std::clamp(unanswered, 0, 5));
}

} // namespace lumora
