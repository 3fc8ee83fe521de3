#pragma once

#include <QPointer>
#include <QQuickItem>
#include <QtQml/qqmlregistration.h>

namespace lumora {

class KeyboardKeeper;

// Where the keyboard goes when the control it is on goes or turns disabled (`from`): on to
// `to`, the control that carries the task on, once that shows and is enabled. `to` with
// `takesStrayKeyboard` also takes a keyboard that is on no control whenever it shows. The
// window's KeyboardKeeper moves the keyboard; a hand-off says where.
class FocusHandOff : public QQuickItem {
    Q_OBJECT
    QML_ELEMENT
    Q_PROPERTY(QQuickItem* from READ from WRITE setFrom NOTIFY fromChanged)
    Q_PROPERTY(QQuickItem* to READ to WRITE setTo NOTIFY toChanged)
    Q_PROPERTY(bool takesStrayKeyboard READ takesStrayKeyboard WRITE setTakesStrayKeyboard NOTIFY
            takesStrayKeyboardChanged)

public:
    explicit FocusHandOff(QQuickItem* parent = nullptr);
    ~FocusHandOff() override;

    [[nodiscard]] QQuickItem* from() const { return m_from; }
    void setFrom(QQuickItem* from);
    [[nodiscard]] QQuickItem* to() const { return m_to; }
    void setTo(QQuickItem* to);
    [[nodiscard]] bool takesStrayKeyboard() const { return m_takesStrayKeyboard; }
    void setTakesStrayKeyboard(bool takes);
    // `to` shows and is enabled.
    [[nodiscard]] bool ready() const;

signals:
    void fromChanged();
    void toChanged();
    void takesStrayKeyboardChanged();

protected:
    void itemChange(ItemChange change, const ItemChangeData& data) override;

private:
    void noteReady();

    QPointer<QQuickItem> m_from;
    QPointer<QQuickItem> m_to;
    bool m_takesStrayKeyboard = false;
    bool m_ready = false;
    QPointer<KeyboardKeeper> m_keeper;
    QList<QMetaObject::Connection> m_watched;
};

} // namespace lumora
