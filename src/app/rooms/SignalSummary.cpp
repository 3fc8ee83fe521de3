#include "SignalSummary.hpp"

#include "domain/BehaviorCodePresentation.hpp"
#include "domain/ConversationSignals.hpp"
#include "domain/ProcessFoulPresentation.hpp"
#include "theme/ThemePalette.hpp"

#include <algorithm>
#include <array>

namespace lumora {

namespace {

// The case names that identify a row (the wire's raw values differ for fouls).
QString caseName(ProcessFoul foul)
{
    switch (foul) {
    case ProcessFoul::kitchenSinking:
        return QStringLiteral("kitchenSinking");
    case ProcessFoul::globalizing:
        return QStringLiteral("globalizing");
    case ProcessFoul::dredgingPast:
        return QStringLiteral("dredgingPast");
    case ProcessFoul::mindReading:
        return QStringLiteral("mindReading");
    }
    return {};
}

// How many moments of each kind `side` has, by the kind's place in its list of cases.
template <typename Kind, typename Moment, typename KindOf>
auto countsOf(const QList<Moment>& moments, qint64 side, KindOf kindOf)
{
    std::array<qint64, EnumTraits<Kind>::allCases.size()> counts {};
    for (const Moment& moment : moments) {
        if (moment.speaker == side && ConversationSignals::meetsConfidenceFloor(moment.confidence))
            ++counts[static_cast<std::size_t>(kindOf(moment))];
    }
    return counts;
}

} // namespace

QList<CompactSignal> SignalSummary::items(
    const QList<BehaviorAnnotation>& annotations, const QList<ProcessFoulAnnotation>& fouls, qint64 side)
{
    QList<CompactSignal> items;
    const auto codeCounts
        = countsOf<BehaviorCode>(annotations, side, [](const BehaviorAnnotation& a) { return a.code; });
    for (BehaviorCode code : EnumTraits<BehaviorCode>::allCases) {
        if (const qint64 count = codeCounts[static_cast<std::size_t>(code)]; count > 0) {
            items.append({ QStringLiteral("behavior-") + toString(code), displayName(code), count,
                isWarm(code) ? ThemePalette::positive() : ThemePalette::attention(), false });
        }
    }
    const auto foulCounts
        = countsOf<ProcessFoul>(fouls, side, [](const ProcessFoulAnnotation& f) { return f.foul; });
    for (ProcessFoul foul : EnumTraits<ProcessFoul>::allCases) {
        if (const qint64 count = foulCounts[static_cast<std::size_t>(foul)]; count > 0) {
            items.append({ QStringLiteral("foul-") + caseName(foul), displayName(foul), count,
                ThemePalette::attention(), true });
        }
    }
    // Labels are unique, so the order is total; labels compare by UTF-16 code unit.
    std::sort(items.begin(), items.end(), [](const CompactSignal& a, const CompactSignal& b) {
        return a.count != b.count ? a.count > b.count : a.label < b.label;
    });
    return items;
}

QString SignalSummary::momentsText(const QList<CompactSignal>& items)
{
    qint64 total = 0;
    for (const CompactSignal& item : items)
        total += item.count;
    return total == 1 ? QStringLiteral("1 moment") : QStringLiteral("%1 moments").arg(total);
}

QString SignalSummary::moreText(const QList<CompactSignal>& items)
{
    if (items.size() <= shownRows)
        return {};
    return QStringLiteral("+%1 more patterns").arg(items.size() - shownRows);
}

} // namespace lumora
