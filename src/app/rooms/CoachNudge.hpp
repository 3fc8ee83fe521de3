#pragma once

#include <QObject>
#include <QString>
#include <QtQml/qqmlregistration.h>

namespace lumora {

// A coaching suggestion for one partner as a corner shows it: the coach's answer or the
// starter built from the room's own reading. A nudge without any text is no nudge.
struct CoachNudge {
    Q_GADGET
    QML_VALUE_TYPE(coachNudge)
    Q_PROPERTY(QString title MEMBER title)
    Q_PROPERTY(QString guidance MEMBER guidance)
    Q_PROPERTY(QString suggestedWords MEMBER suggestedWords)
    Q_PROPERTY(bool isEmpty READ isEmpty)

public:
    QString title;
    QString guidance;
    QString suggestedWords;

    [[nodiscard]] bool isEmpty() const
    {
        return title.isEmpty() && guidance.isEmpty() && suggestedWords.isEmpty();
    }
    bool operator==(const CoachNudge&) const = default;
};

} // namespace lumora
