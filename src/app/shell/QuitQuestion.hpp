#pragma once

#include "rooms/RoomModel.hpp"

#include <QObject>
#include <QPointer>
#include <QString>
#include <QtQml/qqmlregistration.h>

namespace lumora {

// Whether quitting asks first, and what it says. Quitting throws away a conversation that is
// recording or paused, and one that is being finished loses its review, so then the window asks:
// finish and save, discard, or keep going. Otherwise it quits at once.
class QuitQuestion : public QObject {
    Q_OBJECT
    QML_ELEMENT
    Q_PROPERTY(lumora::RoomModel* room READ room WRITE setRoom NOTIFY roomChanged REQUIRED)
    Q_PROPERTY(bool asks READ asks NOTIFY changed)
    Q_PROPERTY(QString title READ title NOTIFY changed)
    Q_PROPERTY(QString message READ message NOTIFY changed)
    Q_PROPERTY(QString saveText READ saveText NOTIFY changed)

public:
    using QObject::QObject;

    [[nodiscard]] RoomModel* room() const { return m_room; }
    void setRoom(RoomModel* room);

    [[nodiscard]] bool asks() const;
    [[nodiscard]] QString title() const;
    [[nodiscard]] QString message() const;
    // The button that keeps the conversation: it finishes one that records, or waits for the
    // finish under way, and quits once the review is saved.
    [[nodiscard]] QString saveText() const;
    // Whether the quit the user asked for waits for an answer; noted in the log when it does.
    Q_INVOKABLE bool asksBeforeQuitting() const;
    // Whether the quit asked for while the question is open goes ahead without an answer: the
    // conversation it asked about has ended with its review saved, which the room's finish notice
    // says (the session the room names is no proof: the account's refresh after the finish names
    // the finished one again). One that ended unsaved leaves the question to the user.
    Q_INVOKABLE bool quitsUnanswered() const;

signals:
    void roomChanged();
    void changed();

private:
    [[nodiscard]] bool saving() const;

    QPointer<RoomModel> m_room;
};

} // namespace lumora
