#pragma once

#include <QObject>
#include <QQmlComponent>
#include <QtQml/qqmlregistration.h>

class QJSEngine;
class QQmlEngine;

namespace lumora {

// The drop shadows' effects, for an item's `layer.effect`. They are made only where the
// renderer runs shaders: under the software renderer they are null and their effects module
// is never loaded, which keeps some 8 MB out of a window at rest.
class Shadows : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_SINGLETON
    // Under a standard content card: a soft navy shadow just below it.
    Q_PROPERTY(QQmlComponent* card READ card CONSTANT)
    // Under a card floating over a room: wide and dark.
    Q_PROPERTY(QQmlComponent* overlay READ overlay CONSTANT)

public:
    static Shadows* create(QQmlEngine* engine, QJSEngine* scriptEngine);

    [[nodiscard]] QQmlComponent* card() const { return m_card; }
    [[nodiscard]] QQmlComponent* overlay() const { return m_overlay; }

private:
    Shadows() = default;

    QQmlComponent* m_card = nullptr;
    QQmlComponent* m_overlay = nullptr;
};

} // namespace lumora
