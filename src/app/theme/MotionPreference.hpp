#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QtQml/qqmlregistration.h>
#include <optional>

class QProcess;
class QQmlEngine;

namespace lumora {

// Whether the views animate. With reduce motion on, pressed controls do not scale and
// nothing moves by itself. One per QML engine: the application follows the user's wish or
// the desktop's animation setting, window tests turn it on.
class MotionPreference : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_SINGLETON
    Q_PROPERTY(bool reduceMotion READ reduceMotion WRITE setReduceMotion NOTIFY reduceMotionChanged)

public:
    using QObject::QObject;
    ~MotionPreference() override;

    [[nodiscard]] bool reduceMotion() const { return m_reduceMotion; }
    void setReduceMotion(bool reduce);

    // The engine's instance; null before the theme module has been imported.
    static MotionPreference* of(QQmlEngine& engine);

    // LUMORA_REDUCE_MOTION: "1" asks for reduced motion; anything else leaves it to the desktop.
    static bool isRequested(const QByteArray& variable);
    // KDE: the animation speed factor in kdeglobals ([KDE] AnimationDurationFactor); 0 turns
    // animations off. Nothing when the file or the key is missing.
    static std::optional<bool> fromKdeGlobals(const QString& path);
    // GNOME: what `gsettings get org.gnome.desktop.interface enable-animations` printed.
    static std::optional<bool> fromGnomeAnimations(const QByteArray& output);

    // Follows the user's wish and the desktop: the variable and KDE's file are read now,
    // GNOME's setting is asked in the background and turns reduce motion on when it arrives.
    void followDesktop();

signals:
    void reduceMotionChanged();

private:
    bool m_reduceMotion = false;
    QProcess* m_gnomeQuery = nullptr;
};

} // namespace lumora
