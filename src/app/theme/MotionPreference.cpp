#include "MotionPreference.hpp"

#include <QFileInfo>
#include <QProcess>
#include <QQmlEngine>
#include <QSettings>
#include <QStandardPaths>
#include <utility>

namespace lumora {

MotionPreference::~MotionPreference()
{
    // A question still out is not waited for.
    if (m_gnomeQuery) {
        m_gnomeQuery->disconnect(this);
        m_gnomeQuery->kill();
        m_gnomeQuery->waitForFinished(1000);
    }
}

void MotionPreference::setReduceMotion(bool reduce)
{
    if (m_reduceMotion == reduce)
        return;
    m_reduceMotion = reduce;
    emit reduceMotionChanged();
}

MotionPreference* MotionPreference::of(QQmlEngine& engine)
{
    const int type = qmlTypeId("Lumora.Theme", 1, 0, "MotionPreference");
    return type < 0 ? nullptr : engine.singletonInstance<MotionPreference*>(type);
}

bool MotionPreference::isRequested(const QByteArray& variable)
{
    return variable.trimmed() == "1";
}

std::optional<bool> MotionPreference::fromKdeGlobals(const QString& path)
{
    if (!QFileInfo::exists(path))
        return std::nullopt;
    const QSettings globals(path, QSettings::IniFormat);
    const QVariant factor = globals.value(QStringLiteral("KDE/AnimationDurationFactor"));
    bool isNumber = false;
    const double value = factor.toDouble(&isNumber);
    if (!isNumber)
        return std::nullopt;
    return value <= 0;
}

std::optional<bool> MotionPreference::fromGnomeAnimations(const QByteArray& output)
{
    const QByteArray answer = output.trimmed();
    if (answer == "false")
        return true;
    if (answer == "true")
        return false;
    return std::nullopt;
}

void MotionPreference::followDesktop()
{
    if (isRequested(qgetenv("LUMORA_REDUCE_MOTION"))) {
        setReduceMotion(true);
        return;
    }
    const QString kdeGlobals
        = QStandardPaths::locate(QStandardPaths::GenericConfigLocation, QStringLiteral("kdeglobals"));
    if (!kdeGlobals.isEmpty() && fromKdeGlobals(kdeGlobals).value_or(false))
        setReduceMotion(true);

    if (m_gnomeQuery)
        return;
    // Without gsettings (or without GNOME's schema) the question fails and nothing changes.
    m_gnomeQuery = new QProcess(this);
    connect(m_gnomeQuery, &QProcess::finished, this, [this](int exitCode, QProcess::ExitStatus status) {
        if (status == QProcess::NormalExit && exitCode == 0
            && fromGnomeAnimations(m_gnomeQuery->readAllStandardOutput()).value_or(false))
            setReduceMotion(true);
        std::exchange(m_gnomeQuery, nullptr)->deleteLater();
    });
    connect(m_gnomeQuery, &QProcess::errorOccurred, this, [this](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart)
            std::exchange(m_gnomeQuery, nullptr)->deleteLater();
    });
    m_gnomeQuery->setStandardErrorFile(QProcess::nullDevice());
    m_gnomeQuery->start(QStringLiteral("gsettings"),
        { QStringLiteral("get"), QStringLiteral("org.gnome.desktop.interface"),
            QStringLiteral("enable-animations") });
}

} // namespace lumora
