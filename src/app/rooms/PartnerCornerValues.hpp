#pragma once

#include "CoachNudge.hpp"

#include <QString>
#include <QtQml/qqmlregistration.h>

namespace lumora {

// What the room hands one partner corner, read whole: its display side and the seat whose data
// it shows, the seat's name, talk statistics and coaching, as the corner takes them. During a rehearsal the
// names are the script's and there is no coaching.
class PartnerCornerValues {
    Q_GADGET
    QML_VALUE_TYPE(partnerCornerValues)
    Q_PROPERTY(int displaySide MEMBER displaySide)
    Q_PROPERTY(int canonicalSide MEMBER canonicalSide)
    Q_PROPERTY(QString name MEMBER name)
    Q_PROPERTY(bool hasTurns MEMBER hasTurns)
    Q_PROPERTY(bool active MEMBER active)
    Q_PROPERTY(bool rehearsal MEMBER rehearsal)
    Q_PROPERTY(double share MEMBER share)
    Q_PROPERTY(int turns MEMBER turns)
    Q_PROPERTY(double longestTurn MEMBER longestTurn)
    Q_PROPERTY(QString suggestion MEMBER suggestion)
    Q_PROPERTY(QString starter MEMBER starter)
    Q_PROPERTY(lumora::CoachNudge nudge MEMBER nudge)
    Q_PROPERTY(bool nudgeLoading MEMBER nudgeLoading)
    Q_PROPERTY(QString nudgeError MEMBER nudgeError)

public:
    int displaySide = 0;
    int canonicalSide = 0;
    QString name;
    bool hasTurns = false;
    bool active = false;
    // A rehearsal plays: its corners have no coaching to ask for.
    bool rehearsal = false;
    // The seat's statistics; zeros while it has none.
    double share = 0;
    int turns = 0;
    double longestTurn = 0;
    // The live analysis's nudge for the seat, empty without one.
    QString suggestion;
    // The current agenda step's opening words.
    QString starter;
    // The on-demand coaching answer (empty without one), whether one is being fetched, and its
    // failure text.
    CoachNudge nudge;
    bool nudgeLoading = false;
    QString nudgeError;

    bool operator==(const PartnerCornerValues&) const = default;
};

} // namespace lumora
