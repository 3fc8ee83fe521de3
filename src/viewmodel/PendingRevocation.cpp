#include "viewmodel/PendingRevocation.hpp"

#include <QSettings>

namespace lumora {

QString PendingRevocation::preferenceKey()
{
    return QStringLiteral("lumora.pendingRevocation");
}

std::optional<QUuid> PendingRevocation::stored(const QSettings& preferences)
{
    const QVariant value = preferences.value(preferenceKey());
    if (value.typeId() != QMetaType::QString)
        return std::nullopt;
    const QUuid device = QUuid::fromString(value.toString());
    if (device.isNull())
        return std::nullopt;
    return device;
}

bool PendingRevocation::store(QSettings& preferences, const std::optional<QUuid>& device)
{
    if (device)
        preferences.setValue(preferenceKey(), device->toString(QUuid::WithoutBraces));
    else
        preferences.remove(preferenceKey());
    preferences.sync();
    return preferences.status() == QSettings::NoError;
}

bool PendingRevocation::provesRevoked(const std::expected<void, ControlPlaneFailure>& reply)
{
    if (reply)
        return true;
    const auto* refusal = std::get_if<ControlPlaneError>(&reply.error());
    return refusal && refusal->status() == 401 && refusal->code() == u"device_revoked";
}

} // namespace lumora
