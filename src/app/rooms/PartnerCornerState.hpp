#pragma once

#include "CoachNudge.hpp"
#include "RoomMoments.hpp"

#include <QObject>
#include <QtQml/qqmlregistration.h>

namespace lumora {

// What a partner's corner reads from the room's moments for its seat, worked out once per
// change: the seat's warm and hard counts, the latest code to coach on and the starter the
// popover offers while the coach has not answered.
class PartnerCornerState : public QObject {
    Q_OBJECT
    QML_ELEMENT
    Q_PROPERTY(lumora::RoomMoments moments READ moments WRITE setMoments NOTIFY momentsChanged)
    // The speaker index whose moments count (compared exactly, not folded into a seat).
    Q_PROPERTY(int canonicalSide READ canonicalSide WRITE setCanonicalSide NOTIFY canonicalSideChanged)
    // The live analysis's suggestion for the seat; empty without one.
    Q_PROPERTY(QString suggestion READ suggestion WRITE setSuggestion NOTIFY suggestionChanged)
    // The current agenda step's starter.
    Q_PROPERTY(QString starter READ starter WRITE setStarter NOTIFY starterChanged)
    Q_PROPERTY(int warm READ warm NOTIFY readingChanged)
    Q_PROPERTY(int hard READ hard NOTIFY readingChanged)
    // The latest code's value on the wire ("criticism"); empty without one.
    Q_PROPERTY(QString latestCoach READ latestCoach NOTIFY readingChanged)
    Q_PROPERTY(lumora::CoachNudge genericStarter READ genericStarter NOTIFY readingChanged)

public:
    explicit PartnerCornerState(QObject* parent = nullptr);

    [[nodiscard]] const RoomMoments& moments() const { return m_moments; }
    void setMoments(const RoomMoments& moments);
    [[nodiscard]] int canonicalSide() const { return m_side; }
    void setCanonicalSide(int side);
    [[nodiscard]] const QString& suggestion() const { return m_suggestion; }
    void setSuggestion(const QString& suggestion);
    [[nodiscard]] const QString& starter() const { return m_starter; }
    void setStarter(const QString& starter);

    [[nodiscard]] int warm() const { return m_warm; }
    [[nodiscard]] int hard() const { return m_hard; }
    [[nodiscard]] const QString& latestCoach() const { return m_latestCoach; }
    [[nodiscard]] const CoachNudge& genericStarter() const { return m_genericStarter; }

signals:
    void momentsChanged();
    void canonicalSideChanged();
    void suggestionChanged();
    void starterChanged();
    void readingChanged();

private:
    void read();

    RoomMoments m_moments;
    int m_side = 0;
    QString m_suggestion;
    QString m_starter;
    int m_warm = 0;
    int m_hard = 0;
    QString m_latestCoach;
    CoachNudge m_genericStarter;
};

} // namespace lumora
