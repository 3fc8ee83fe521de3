#include "viewmodel/PendingAccountDeletion.hpp"

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

} // namespace lumora
