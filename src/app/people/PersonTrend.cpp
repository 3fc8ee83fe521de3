#include "PersonTrend.hpp"

#include "display/DisplayFormats.hpp"

namespace lumora {

namespace {

const SpeakerStats* statsOf(int side, const DerivedSessionResult& result)
{
    for (const SpeakerStats& stats : result.stats) {
        if (stats.speaker == side)
            return &stats;
    }
    return nullptr;
}

// Rows come from the newest reviews only: a review in which the seat did not speak shows no
// row, and none further back takes its place.
constexpr qsizetype newestShown = 5;

} // namespace

QList<SpeakerStats> PersonTrend::stats(int side, const QList<DerivedSessionResult>& results)
{
    QList<SpeakerStats> found;
    for (const DerivedSessionResult& result : results) {
        if (const SpeakerStats* stats = statsOf(side, result))
            found.append(*stats);
    }
    return found;
}

qint64 PersonTrend::averageShare(const QList<SpeakerStats>& stats)
{
    if (stats.isEmpty())
        return 0;
    double sum = 0;
    for (const SpeakerStats& seat : stats)
        sum += DisplayFormats::fraction(seat.share);
    return DisplayFormats::percent(sum / double(stats.size()));
}

ConversationPresentation::WarmHard PersonTrend::tally(int side, const QList<DerivedSessionResult>& results)
{
    QList<BehaviorAnnotation> annotations;
    QList<ProcessFoulAnnotation> fouls;
    for (const DerivedSessionResult& result : results) {
        annotations.append(result.annotations);
        if (result.fouls)
            fouls.append(*result.fouls);
    }
    return ConversationPresentation::warmHard(annotations, fouls, side);
}

QString PersonTrend::ratio(ConversationPresentation::WarmHard tally)
{
    if (tally.hard == 0)
        return tally.warm == 0 ? QStringLiteral("\u2014") : QStringLiteral("\u221e:1");
    return QString::asprintf("%.1f:1", double(tally.warm) / double(tally.hard));
}

PersonTrend PersonTrend::of(int side, const QList<DerivedSessionResult>& results, const DateTexts& dates)
{
    const QList<SpeakerStats> seatStats = stats(side, results);
    PersonTrend trend;
    trend.line = QStringLiteral("%1 conversations \u00b7 avg share %2% \u00b7 warm : hard %3")
                     .arg(seatStats.size())
                     .arg(averageShare(seatStats))
                     .arg(ratio(tally(side, results)));
    for (const DerivedSessionResult& result : results.first(std::min(results.size(), newestShown))) {
        if (const SpeakerStats* seat = statsOf(side, result)) {
            trend.rows.append({ dates.date(result.completedAt), DisplayFormats::fraction(seat->share),
                QString::number(DisplayFormats::percent(seat->share)) + QStringLiteral("%") });
        }
    }
    return trend;
}

} // namespace lumora
