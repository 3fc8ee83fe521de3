#pragma once

#include "CoachNudge.hpp"
#include "domain/BehaviorAnnotation.hpp"

#include <QList>
#include <QObject>
#include <QString>
#include <QtQml/qqmlregistration.h>
#include <optional>

namespace lumora {

// How a partner's corner coaches: the starter it offers while the coach has not answered,
// when "Get unstuck" can be pressed, and what the coaching popover shows in each state.
class CoachingRules : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_SINGLETON

public:
    // Decided in this order: a request in flight, then the coach's answer, else the starter.
    enum PopoverState { Loading, ProviderNudge, GenericStarter };
    Q_ENUM(PopoverState)

    using QObject::QObject;

    // The code of the last annotation of exactly that speaker index that is not a positive
    // one (a repair counts), whatever its confidence; none without one.
    static std::optional<BehaviorCode> latestCoach(const QList<BehaviorAnnotation>& annotations, qint64 side);
    // The corner's own suggestion: a title after the latest code, the live analysis's
    // suggestion as guidance when there is one (else the code's own), the step's starter as
    // the words to try.
    static CoachNudge genericStarter(
        std::optional<BehaviorCode> latest, const QString& suggestion, const QString& starter);

    // Only in a live room with at least one turn, and not while a request runs.
    // Only a live conversation with turns can be coached, one request at a time; a rehearsal's
    // script is not sent to the coach, so its corners offer none.
    Q_INVOKABLE static bool canGetUnstuck(bool active, bool hasTurns, bool loading, bool rehearsal);
    Q_INVOKABLE static QString getUnstuckLabel(bool loading);

    // A nudge without text is no answer.
    Q_INVOKABLE static lumora::CoachingRules::PopoverState popoverState(
        bool loading, const lumora::CoachNudge& nudge);
    Q_INVOKABLE static QString headerSymbol(lumora::CoachingRules::PopoverState state);
    Q_INVOKABLE static QString caption(lumora::CoachingRules::PopoverState state);
    // The nudge the popover shows: the coach's answer or the starter; nothing while loading.
    Q_INVOKABLE static lumora::CoachNudge shownNudge(lumora::CoachingRules::PopoverState state,
        const lumora::CoachNudge& nudge, const lumora::CoachNudge& starter);
    Q_INVOKABLE static QString title(lumora::CoachingRules::PopoverState state,
        const lumora::CoachNudge& nudge, const lumora::CoachNudge& starter);
    // The words to try between typographic double quotation marks.
    Q_INVOKABLE static QString quoted(const QString& words);
};

} // namespace lumora
