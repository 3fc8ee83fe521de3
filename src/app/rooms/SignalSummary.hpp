#pragma once

#include "domain/BehaviorAnnotation.hpp"
#include "domain/ProcessFoulAnnotation.hpp"

#include <QColor>
#include <QList>
#include <QString>

namespace lumora {

// One kind of moment a seat has shown, and how often.
struct CompactSignal {
    // "behavior-" or "foul-" and the kind's case name, for example "foul-kitchenSinking".
    QString id;
    QString label;
    qint64 count = 0;
    // Warm codes in the warm colour, hard codes and every foul in the hard one.
    QColor color;
    // Process fouls, which the summary draws fainter.
    bool dashed = false;

    bool operator==(const CompactSignal&) const = default;
};

// A seat's recurring patterns: the behaviour codes and process fouls of exactly that speaker
// index at or above the confidence floor, most frequent first, then by label.
struct SignalSummary {
    // The rows a summary shows; the rest are reported as a number.
    static constexpr qsizetype shownRows = 3;

    static QList<CompactSignal> items(
        const QList<BehaviorAnnotation>& annotations, const QList<ProcessFoulAnnotation>& fouls, qint64 side);
    // "N moments" over every item, shown or not ("1 moment").
    static QString momentsText(const QList<CompactSignal>& items);
    // "+N more patterns" for the items beyond the shown rows; empty when all show.
    static QString moreText(const QList<CompactSignal>& items);
};

} // namespace lumora
