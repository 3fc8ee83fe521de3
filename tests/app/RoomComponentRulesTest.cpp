#include "CoachingRules.hpp"
#include "EmotionalArcChart.hpp"
#include "GaugeTexts.hpp"
#include "PartnerCornerState.hpp"
#include "PatternTexts.hpp"
#include "RoomFormats.hpp"
#include "RoundStrokeRaster.hpp"
#include "SignalSummary.hpp"
#include "SignalSummaryModel.hpp"
#include "SpeedometerGauge.hpp"
#include "SpeedometerGeometry.hpp"
#include "TalkShareRing.hpp"
#include "ThemePalette.hpp"
#include "domain/BehaviorCodePresentation.hpp"
#include "domain/ConversationPresentation.hpp"

#include <QAbstractItemModelTester>
#include <QImage>
#include <QJsonObject>
#include <QPainter>
#include <QSignalSpy>
#include <cmath>
#include <gtest/gtest.h>
#include <limits>

namespace lumora {
namespace {

constexpr double nan = std::numeric_limits<double>::quiet_NaN();
constexpr double infinity = std::numeric_limits<double>::infinity();

BehaviorAnnotation moment(qint64 speaker, BehaviorCode code, double confidence = 0.9, double start = 0)
{
    return { 0, speaker, code, confidence, start, start + 1 };
}

ProcessFoulAnnotation foul(qint64 speaker, ProcessFoul kind, double confidence = 0.9, double start = 0)
{
    return { 0, speaker, kind, confidence, start, start + 1 };
}

// As a stored file or the analysis service may hand it: the speaker index as it came.
BehaviorAnnotation decoded(qint64 speaker, const char* code, double confidence = 0.9)
{
    return BehaviorAnnotation::fromJson(
        QJsonObject { { "turnIndex", 0 }, { "speaker", speaker }, { "code", code },
            { "confidence", confidence }, { "start", 0 }, { "end", 1 } })
        .value();
}

QStringList labelsOf(const QList<CompactSignal>& items)
{
    QStringList labels;
    for (const CompactSignal& item : items)
        labels.append(item.label + QStringLiteral(" ") + QString::number(item.count));
    return labels;
}

TEST(GaugeTexts, TalliesRatioAndNeedleFollowTheTwoCounts)
{
    const struct {
        qint64 warm, hard;
        double fraction;
        const char16_t* hardTally;
        const char16_t* warmTally;
        const char* ratio;
        const char* reading;
    } cases[] {
        { 0, 0, 0.5, u"0", u"+0", "Waiting for warm and hard moments", "balanced" },
        { 3, 0, 1.0, u"0", u"+3", "3:0 warm / hard", "warm to hard ratio" },
        { 0, 2, 0.0, u"\u22122", u"+0", "0.0:1 warm / hard", "warm to hard ratio" },
        { 5, 2, 5.0 / 7, u"\u22122", u"+5", "2.5:1 warm / hard", "warm to hard ratio" },
        { 1, 3, 0.25, u"\u22123", u"+1", "0.3:1 warm / hard", "warm to hard ratio" },
        { 3, 2, 0.6, u"\u22122", u"+3", "1.5:1 warm / hard", "warm to hard ratio" },
        { 12, 1, 12.0 / 13, u"\u22121", u"+12", "12.0:1 warm / hard", "warm to hard ratio" },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.warm << " warm, " << c.hard << " hard");
        EXPECT_DOUBLE_EQ(GaugeTexts::warmFraction(c.warm, c.hard), c.fraction);
        EXPECT_EQ(GaugeTexts::hardTally(c.hard), QString::fromUtf16(c.hardTally));
        EXPECT_EQ(GaugeTexts::warmTally(c.warm), QString::fromUtf16(c.warmTally));
        EXPECT_EQ(GaugeTexts::ratioLabel(c.warm, c.hard), c.ratio);
        EXPECT_EQ(GaugeTexts::balanceDescription(c.warm, c.hard),
            QStringLiteral("%1 hard, %2 warm, %3").arg(c.hard).arg(c.warm).arg(c.reading));
        EXPECT_EQ(GaugeTexts::personalDescription(c.warm, c.hard),
            QStringLiteral("%1 hard moments, %2 warm moments, %3").arg(c.hard).arg(c.warm).arg(c.ratio));
    }
    // 5 warm and 2 hard stand just inside the middle zone, short of the warm one.
    EXPECT_GT(GaugeTexts::warmFraction(5, 2), SpeedometerGeometry::hardZoneEnd);
    EXPECT_LT(GaugeTexts::warmFraction(5, 2), SpeedometerGeometry::warmZoneStart);
}

TEST(SpeedometerGeometry, CentreRadiusAndNeedleInAnyFrame)
{
    const struct {
        QRectF frame;
        QPointF centre;
        double radius;
    } frames[] {
        { { 0, 0, 152, 64 }, { 76, 59 }, 56 }, // the shared gauge: the height decides
        { { 0, 0, 84, 40 }, { 42, 35 }, 32 }, // a seat's gauge
        { { 0, 0, 400, 50 }, { 200, 45 }, 42 }, // much wider than high
        { { 0, 0, 60, 300 }, { 30, 295 }, 24 }, // much higher than wide: the width decides
        { { 10, 20, 152, 64 }, { 86, 79 }, 56 }, // placed anywhere
        { { 0, 0, 10, 6 }, { 5, 1 }, 0 }, // too small for a dial
    };
    for (const auto& f : frames) {
        SCOPED_TRACE(testing::Message() << f.frame.width() << "x" << f.frame.height());
        EXPECT_EQ(SpeedometerGeometry::centre(f.frame), f.centre);
        EXPECT_DOUBLE_EQ(SpeedometerGeometry::radius(f.frame), f.radius);
    }

    // The needle is 15 short of the radius: 41 long in the shared gauge.
    const QRectF shared(0, 0, 152, 64);
    const struct {
        double value;
        QPointF tip;
    } needles[] {
        { 0, { 76 - 41, 59 } }, // far left
        { 0.5, { 76, 59 - 41 } }, // straight up
        { 1, { 76 + 41, 59 } }, // far right
        { -0.3, { 76 - 41, 59 } }, // limited to 0...1
        { 1.7, { 76 + 41, 59 } },
        { nan, { 76 - 41, 59 } },
        { 0.25, { 76 - 41 * std::sqrt(0.5), 59 - 41 * std::sqrt(0.5) } },
    };
    for (const auto& n : needles) {
        const QPointF tip = SpeedometerGeometry::needleTip(shared, n.value);
        EXPECT_NEAR(tip.x(), n.tip.x(), 1e-9) << n.value;
        EXPECT_NEAR(tip.y(), n.tip.y(), 1e-9) << n.value;
    }
    // A frame too small for a needle keeps it at the hub rather than pointing backwards.
    EXPECT_EQ(
        SpeedometerGeometry::needleTip({ 0, 0, 30, 20 }, 0), SpeedometerGeometry::centre({ 0, 0, 30, 20 }));
}

TEST(EmotionalArcChart, ScalesTimeAndScoreForBothStyles)
{
    const struct {
        double duration, span;
    } spans[] { { 0.4, 1 }, { 1, 1 }, { 0, 1 }, { -5, 1 }, { 1.5, 1.5 }, { 90, 90 }, { nan, 1 },
        { infinity, 1 } };
    for (const auto& s : spans)
        EXPECT_DOUBLE_EQ(EmotionalArcChart::span(s.duration), s.span) << s.duration;

    const struct {
        EmotionalArcChart::Style style;
        double score, y;
    } heights[] {
        { EmotionalArcChart::Live, 0, 50 },
        { EmotionalArcChart::Live, 4, 8 },
        { EmotionalArcChart::Live, -4, 92 },
        { EmotionalArcChart::Live, -1, 60.5 },
        { EmotionalArcChart::Review, 0, 50 },
        { EmotionalArcChart::Review, 4, 10 },
        { EmotionalArcChart::Review, -4, 90 },
        { EmotionalArcChart::Review, 2.5, 25 },
    };
    for (const auto& h : heights)
        EXPECT_NEAR(EmotionalArcChart::y(h.style, h.score, 100), h.y, 1e-9) << h.style << " " << h.score;

    // Time over the span: with 90 seconds a point at 45 lies at half the width; a duration
    // of a second or less scales by 1, so a moment at 3 s lies three widths out.
    const QList<EmotionalArcPoint> points { { 0, 0, 0 }, { 1, 45, -1 }, { 2, 90, -1 } };
    EXPECT_EQ(EmotionalArcChart::line(points, 90, { 300, 100 }, EmotionalArcChart::Live),
        QPolygonF({ { 0, 50 }, { 150, 60.5 }, { 300, 60.5 } }));
    EXPECT_EQ(
        EmotionalArcChart::line({ { 0, 0, 0 }, { 1, 3, 1 } }, 0.4, { 200, 100 }, EmotionalArcChart::Review),
        QPolygonF({ { 0, 50 }, { 600, 40 } }));
    // A point whose time or score is not a number or infinite is left out.
    const QList<EmotionalArcPoint> broken { { 0, 0, 0 }, { 1, nan, 1 }, { 2, infinity, 1 }, { 3, 10, nan },
        { 4, 1e308, 1 }, { 5, 20, 2 } };
    EXPECT_EQ(EmotionalArcChart::line(broken, 40, { 100, 100 }, EmotionalArcChart::Live),
        QPolygonF({ { 0, 50 }, { 50, 29 } }));
}

TEST(EmotionalArcChart, ALineIsCutWhereItLeavesTheChart)
{
    // Past the right edge: the last segment ends on the edge, at the height it has there.
    EXPECT_EQ(EmotionalArcChart::partsBetween(QPolygonF({ { 0, 50 }, { 100, 40 }, { 300, 80 } }), 0, 200),
        QList<QPolygonF>({ QPolygonF({ { 0, 50 }, { 100, 40 }, { 200, 60 } }) }));
    // Out and back in: two parts; a segment wholly outside draws nothing.
    EXPECT_EQ(EmotionalArcChart::partsBetween(
                  QPolygonF({ { 50, 0 }, { 150, 100 }, { 250, 100 }, { 50, 0 }, { -100, 0 } }), 0, 100),
        QList<QPolygonF>(
            { QPolygonF({ { 50, 0 }, { 100, 50 } }), QPolygonF({ { 100, 25 }, { 50, 0 }, { 0, 0 } }) }));
    EXPECT_TRUE(EmotionalArcChart::partsBetween(QPolygonF({ { 300, 1 }, { 400, 2 } }), 0, 200).isEmpty());
}

TEST(EmotionalArcChart, ReadsTheCurrentScoreWithItsSignAndColour)
{
    const struct {
        double score;
        const char* text;
        bool warm;
    } scores[] { { 0, "+0.0", true }, { -1.36, "-1.4", false }, { 1, "+1.0", true }, { -0.18, "-0.2", false },
        { 4, "+4.0", true }, { -0.01, "-0.0", false } };
    for (const auto& s : scores) {
        EXPECT_EQ(EmotionalArcChart::scoreText(s.score), s.text) << s.score;
        EXPECT_EQ(EmotionalArcChart::isWarm(s.score), s.warm) << s.score;
        EXPECT_EQ(EmotionalArcChart::description(s.score),
            QStringLiteral("Emotional arc, current score ") + s.text);
    }

    // A warm moment and then a hard one: 1 × 0.82 − 1 leaves −0.18; a moment below the
    // floor changes nothing.
    EmotionalArcChart chart;
    QSignalSpy changed(&chart, &EmotionalArcChart::pointsChanged);
    EXPECT_EQ(chart.scoreText(), "+0.0");
    chart.setDuration(30);
    chart.setMoments({ { moment(0, BehaviorCode::repair, 0.9, 5), moment(1, BehaviorCode::criticism, 0.9, 12),
                           moment(1, BehaviorCode::contempt, 0.49, 20) },
        {} });
    EXPECT_EQ(chart.scoreText(), "-0.2");
    EXPECT_FALSE(chart.warm());
    EXPECT_EQ(chart.points().size(), 4);
    EXPECT_EQ(chart.points().constLast().time, 30);
    EXPECT_EQ(changed.count(), 2);
}

// Paints an item at its size onto white and answers the colour at each of `points`.
template <typename Item> QList<QColor> paintedAt(Item& item, QSizeF size, const QList<QPointF>& points)
{
    item.setSize(size);
    QImage image(size.toSize(), QImage::Format_ARGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    item.paint(&painter);
    painter.end();
    QList<QColor> colours;
    for (const QPointF& point : points)
        colours.append(image.pixelColor(point.toPoint()));
    return colours;
}

TEST(RoundStrokeRaster, CoversWhatQPainterStrokesWithRoundEnds)
{
    // Against QPainter's own stroke of the same line, 2.2 wide with round caps and joins: the
    // ink laid down and every pixel's coverage agree within what sampling four places per
    // column can tell apart.
    const QSize size(160, 60);
    QPolygonF zigzag;
    for (int index = 0; index < 120; ++index)
        zigzag.append({ 10 + index * 1.1, index % 3 ? 20.0 + index % 7 : 42.0 });
    const struct {
        const char* name;
        QPolygonF line;
    } lines[] {
        { "flat", QPolygonF({ { 8, 30 }, { 150, 30 } }) },
        { "a step", QPolygonF({ { 8, 30 }, { 60.3, 30 }, { 61.1, 45.6 }, { 150, 45.6 } }) },
        { "steep and gentle", QPolygonF({ { 8, 50 }, { 40, 10 }, { 41, 50 }, { 150, 35.3 } }) },
        { "many short steps", zigzag },
        { "out of the image", QPolygonF({ { 100, 30 }, { 400, 5 }, { 1e9, 5 } }) },
    };
    const QGradientStops white { { 0, Qt::white }, { 1, Qt::white } };
    for (const auto& l : lines) {
        SCOPED_TRACE(l.name);
        const QImage ours = RoundStrokeRaster::render(l.line, 2.2, size, 0, 160, white);
        QImage theirs(size, QImage::Format_ARGB32_Premultiplied);
        theirs.fill(Qt::transparent);
        QPainter painter(&theirs);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(QPen(Qt::white, 2.2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        painter.drawPolyline(l.line);
        painter.end();
        double inkOurs = 0, inkTheirs = 0, apart = 0;
        int inked = 0;
        for (int y = 0; y < size.height(); ++y) {
            for (int x = 0; x < size.width(); ++x) {
                const int a = qAlpha(ours.pixel(x, y));
                const int b = qAlpha(theirs.pixel(x, y));
                inkOurs += a;
                inkTheirs += b;
                apart += std::abs(a - b);
                inked += a > 0 || b > 0;
            }
        }
        EXPECT_NEAR(inkOurs / inkTheirs, 1, 0.04);
        EXPECT_LT(apart / inked / 255, 0.05);
    }
    // Nothing to draw: a single point, no width.
    EXPECT_EQ(RoundStrokeRaster::render({ { 20, 20 } }, 2.2, size, 0, 160, white).pixel(20, 20), 0u);
    EXPECT_EQ(
        RoundStrokeRaster::render({ { 0, 20 }, { 100, 20 } }, 0, size, 0, 160, white).pixel(20, 20), 0u);

    // The colour follows x through the stops, padded beyond them.
    const QImage line = RoundStrokeRaster::render(QPolygonF({ { 0, 30 }, { 160, 30 } }), 4, size, 20, 140,
        { { 0, Qt::red }, { 0.5, Qt::green }, { 1, Qt::blue } });
    EXPECT_EQ(line.pixelColor(5, 30), QColor(Qt::red));
    EXPECT_GT(line.pixelColor(80, 30).green(), 245);
    EXPECT_LT(line.pixelColor(80, 30).red(), 10);
    EXPECT_EQ(line.pixelColor(155, 30), QColor(Qt::blue));
}

TEST(TalkShareRing, GrowsClockwiseFromTheTopAndDrawsNothingAtNoShare)
{
    // A ring 72 across in an item with room for its stroke: the circle's radius is 36.
    TalkShareRing ring;
    ring.setColor(Qt::red);
    const double middle = 36 + TalkShareRing::strokeMargin();
    const QSizeF size(2 * middle, 2 * middle);
    // Just right of the top, the right, the bottom, the left, just left of the top.
    const QList<QPointF> around { { middle + 4, middle - 36 }, { middle + 36, middle },
        { middle, middle + 36 }, { middle - 36, middle }, { middle - 8, middle - 36 } };
    auto red = [](const QColor& c) { return c.red() > 200 && c.green() < 80; };
    const struct {
        double share;
        bool reaches[5];
    } cases[] {
        { 0, { false, false, false, false, false } },
        { nan, { false, false, false, false, false } },
        { 0.3, { true, true, false, false, false } },
        { 0.6, { true, true, true, false, false } },
        { 1, { true, true, true, true, true } },
        { 7, { true, true, true, true, true } },
    };
    for (const auto& c : cases) {
        ring.setShare(c.share);
        const QList<QColor> colours = paintedAt(ring, size, around);
        for (int index = 0; index < 5; ++index)
            EXPECT_EQ(red(colours[index]), c.reaches[index]) << c.share << " at " << index;
    }
    EXPECT_DOUBLE_EQ(TalkShareRing::sweep(0.427), 0.427 * 360);
}

TEST(SpeedometerGauge, TheNeedlePointsAtTheWarmFraction)
{
    // In a shared gauge's frame, 30 points out from the hub: left, up, right.
    SpeedometerGauge gauge;
    const double margin = SpeedometerGauge::strokeMargin();
    const QSizeF size(152 + 2 * margin, 64 + 2 * margin);
    const QPointF hub(76 + margin, 59 + margin);
    const QList<QPointF> needleReach { hub + QPointF(-30, 0), hub + QPointF(0, -30), hub + QPointF(30, 0) };
    auto inked = [](const QColor& c) { return c.lightness() < 120; };
    const struct {
        double value;
        bool at[3];
    } cases[] { { 0, { true, false, false } }, { 0.5, { false, true, false } },
        { 1, { false, false, true } } };
    for (const auto& c : cases) {
        gauge.setValue(c.value);
        const QList<QColor> colours = paintedAt(gauge, size, needleReach);
        for (int index = 0; index < 3; ++index)
            EXPECT_EQ(inked(colours[index]), c.at[index]) << c.value << " at " << index;
    }
}

TEST(PatternTexts, ChipLabelsCountsAndTruncatedPercentages)
{
    const struct {
        std::optional<qint64> count;
        std::optional<double> confidence;
        const char16_t* label;
    } cases[] {
        { std::nullopt, std::nullopt, u"Protest" },
        { 3, std::nullopt, u"Protest \u00D73" },
        { 3, 0.9, u"Protest \u00D73" }, // a count wins
        { std::nullopt, 0.826, u"Protest \u00B7 82%" },
        { std::nullopt, 0.999, u"Protest \u00B7 99%" },
        { std::nullopt, 1.0, u"Protest \u00B7 100%" },
        { std::nullopt, 0.29, u"Protest \u00B7 28%" }, // 0.29 × 100 lies just below 29
        { std::nullopt, 0.5, u"Protest \u00B7 50%" },
        { std::nullopt, nan, u"Protest \u00B7 0%" },
        { std::nullopt, infinity, u"Protest \u00B7 100%" },
        { std::nullopt, 1e300, u"Protest \u00B7 100%" },
        { std::nullopt, -2, u"Protest \u00B7 0%" },
    };
    for (const auto& c : cases)
        EXPECT_EQ(PatternTexts::chipLabel("Protest", c.count, c.confidence), QString::fromUtf16(c.label));

    // From QML: codes and fouls by their wire values, a value below 0 not given.
    EXPECT_EQ(PatternTexts::behaviorChipLabel("criticism", -1, 0.82), u"Protest \u00B7 82%");
    EXPECT_EQ(PatternTexts::behaviorChipLabel("repair", -1, -1), "Turning toward");
    EXPECT_EQ(PatternTexts::foulChipLabel("kitchen_sinking", 3, -1), u"Piling on \u00D73");
    EXPECT_EQ(PatternTexts::foulChipLabel("dredging_past", 0, -1), u"Old wound \u00D70");
    EXPECT_EQ(PatternTexts::behaviorChipLabel("kitchen_sinking", -1, 0.9), "");
    EXPECT_EQ(PatternTexts::foulChipLabel("kitchenSinking", -1, 0.9), "");
    EXPECT_TRUE(PatternTexts::isWarmCode("repair"));
    EXPECT_TRUE(PatternTexts::isWarmCode("positive"));
    EXPECT_FALSE(PatternTexts::isWarmCode("criticism"));
    EXPECT_FALSE(PatternTexts::isWarmCode("Repair"));

    const struct {
        double share;
        const char* percent;
    } rings[] { { 0, "0%" }, { 0.427, "42%" }, { 0.57, "56%" }, { 1, "100%" }, { nan, "0%" },
        { 1e300, "100%" }, { -0.5, "0%" } };
    for (const auto& r : rings) {
        EXPECT_EQ(PatternTexts::ringPercent(r.share), r.percent) << r.share;
        EXPECT_EQ(PatternTexts::ringDescription(r.share),
            QString(r.percent).chopped(1) + QStringLiteral(" percent of talk time"));
    }
}

TEST(RoomFormats, SeatColoursCountsAndClock)
{
    EXPECT_EQ(RoomFormats::seatColor(0), ThemePalette::positive());
    EXPECT_EQ(RoomFormats::seatColor(1), ThemePalette::information());
    EXPECT_EQ(RoomFormats::seatColor(2), ThemePalette::information());
    EXPECT_EQ(RoomFormats::clock(75.9), "1:15");
    EXPECT_EQ(RoomFormats::count(7), "7");
}

TEST(SignalSummary, CountsOneSpeakerAboveTheFloorMostFrequentFirst)
{
    using enum BehaviorCode;
    const struct {
        const char* name;
        QList<BehaviorAnnotation> annotations;
        QList<ProcessFoulAnnotation> fouls;
        QStringList items;
        const char* moments;
        const char* more;
    } cases[] {
        { "nothing of this seat", { moment(1, criticism) }, { foul(1, ProcessFoul::globalizing) }, {},
            "0 moments", "" },
        { "ties by label: Piling on before Protest, a higher count first",
            { moment(0, criticism), moment(0, positive), moment(0, criticism), moment(0, positive),
                moment(0, positive) },
            { foul(0, ProcessFoul::kitchenSinking), foul(0, ProcessFoul::kitchenSinking) },
            { "Connection 3", "Piling on 2", "Protest 2" }, "7 moments", "" },
        { "Defending before Protest", { moment(0, criticism), moment(0, defensiveness) }, {},
            { "Defending 1", "Protest 1" }, "2 moments", "" },
        { "the floor is at least 0.5",
            { moment(0, contempt, 0.5), moment(0, repair, 0.4999), moment(0, repair, 0) }, {},
            { "Wounding 1" }, "1 moment", "" },
        { "speaker 2 is not seat 0",
            { decoded(2, "criticism"), decoded(-1, "criticism"), decoded(0, "stonewalling") }, {},
            { "Withdrawing 1" }, "1 moment", "" },
        { "four kinds: three rows and one more",
            { moment(0, criticism), moment(0, contempt), moment(0, criticism) },
            { foul(0, ProcessFoul::mindReading), foul(0, ProcessFoul::dredgingPast) },
            { "Protest 2", "Old wound 1", "Story-making 1", "Wounding 1" }, "5 moments", "+1 more patterns" },
        { "five kinds: two more", { moment(0, criticism), moment(0, repair), moment(0, positive) },
            { foul(0, ProcessFoul::globalizing), foul(0, ProcessFoul::mindReading) },
            { "Always / never 1", "Connection 1", "Protest 1", "Story-making 1", "Turning toward 1" },
            "5 moments", "+2 more patterns" },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const QList<CompactSignal> items = SignalSummary::items(c.annotations, c.fouls, 0);
        EXPECT_EQ(labelsOf(items), c.items);
        EXPECT_EQ(SignalSummary::momentsText(items), c.moments);
        EXPECT_EQ(SignalSummary::moreText(items), c.more);
    }

    // Identity, colour and dash of each kind of row.
    const QList<CompactSignal> rows
        = SignalSummary::items({ moment(1, repair), moment(1, repair), moment(1, stonewalling) },
            { foul(1, ProcessFoul::kitchenSinking) }, 1);
    ASSERT_EQ(rows.size(), 3);
    EXPECT_EQ(
        rows[0], (CompactSignal { "behavior-repair", "Turning toward", 2, ThemePalette::positive(), false }));
    EXPECT_EQ(
        rows[1], (CompactSignal { "foul-kitchenSinking", "Piling on", 1, ThemePalette::attention(), true }));
    EXPECT_EQ(rows[2],
        (CompactSignal { "behavior-stonewalling", "Withdrawing", 1, ThemePalette::attention(), false }));
}

TEST(SignalSummary, TheModelShowsThreeRowsAndFollowsItsSeat)
{
    using enum BehaviorCode;
    SignalSummaryModel model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::Warning);
    QSignalSpy texts(&model, &SignalSummaryModel::itemsChanged);
    EXPECT_EQ(model.rowCount(), 0);
    EXPECT_EQ(model.momentsText(), "0 moments");

    model.setMoments({ { moment(0, criticism), moment(0, contempt), moment(0, defensiveness),
                           moment(0, positive), moment(1, repair) },
        {} });
    ASSERT_EQ(model.rowCount(), 3);
    EXPECT_EQ(model.moreText(), "+1 more patterns");
    const QModelIndex first = model.index(0);
    EXPECT_EQ(first.data(SignalSummaryModel::LabelRole), "Connection");
    EXPECT_EQ(first.data(SignalSummaryModel::CountTextRole).toString(), u"\u00D71");
    EXPECT_EQ(first.data(SignalSummaryModel::ColorRole).value<QColor>(), ThemePalette::positive());
    EXPECT_EQ(first.data(SignalSummaryModel::DashedRole), false);

    // A new count changes its row in place: the list keeps the rows it has drawn.
    QSignalSpy resets(&model, &QAbstractItemModel::modelReset);
    QSignalSpy changes(&model, &QAbstractItemModel::dataChanged);
    QSignalSpy removals(&model, &QAbstractItemModel::rowsRemoved);
    RoomMoments more = model.moments();
    more.annotations.append(moment(0, positive));
    model.setMoments(more);
    ASSERT_EQ(model.rowCount(), 3);
    EXPECT_EQ(model.index(0).data(SignalSummaryModel::CountTextRole).toString(), u"\u00D72");
    EXPECT_EQ(changes.count(), 1);

    model.setSide(1);
    ASSERT_EQ(model.rowCount(), 1);
    EXPECT_EQ(removals.count(), 1);
    EXPECT_EQ(resets.count(), 0);
    EXPECT_EQ(model.index(0).data(SignalSummaryModel::LabelRole), "Turning toward");
    EXPECT_EQ(model.moreText(), "");
    EXPECT_EQ(texts.count(), 3);
    // The same moments again change nothing.
    model.setMoments(model.moments());
    EXPECT_EQ(texts.count(), 3);
}

TEST(CoachingRules, LatestCodeOfExactlyThisSpeakerSkippingPositiveOnes)
{
    using enum BehaviorCode;
    const struct {
        const char* name;
        QList<BehaviorAnnotation> annotations;
        std::optional<BehaviorCode> latest;
    } cases[] {
        { "none", {}, std::nullopt },
        { "a later positive is skipped, a repair is taken",
            { moment(0, criticism), moment(0, repair), moment(1, contempt), moment(0, positive) }, repair },
        { "only positive ones", { moment(0, positive) }, std::nullopt },
        { "confidence plays no part", { moment(0, defensiveness), moment(0, stonewalling, 0.1) },
            stonewalling },
        { "speaker 2 never counts for seat 0", { decoded(0, "contempt"), decoded(2, "criticism") },
            contempt },
        { "the other seat's", { moment(1, criticism) }, std::nullopt },
    };
    for (const auto& c : cases)
        EXPECT_EQ(CoachingRules::latestCoach(c.annotations, 0), c.latest) << c.name;
}

TEST(CoachingRules, TheStarterFollowsTheLatestCodeAndTheLiveSuggestion)
{
    const CoachNudge none = CoachingRules::genericStarter(std::nullopt, {}, "I feel…");
    EXPECT_EQ(none,
        (CoachNudge { "Your next move",
            "Stay with the current step and make one clear move before adding more.", "I feel…" }));
    for (BehaviorCode code : { BehaviorCode::criticism, BehaviorCode::contempt, BehaviorCode::defensiveness,
             BehaviorCode::stonewalling, BehaviorCode::repair }) {
        const CoachNudge starter = CoachingRules::genericStarter(code, {}, "What I need is…");
        EXPECT_EQ(starter.title, coachingTitle(code).value()) << toString(code).toStdString();
        EXPECT_EQ(starter.guidance, coachingBody(code).value()) << toString(code).toStdString();
        EXPECT_EQ(starter.suggestedWords, "What I need is…");
    }
    // A live suggestion replaces the guidance only.
    const CoachNudge suggested
        = CoachingRules::genericStarter(BehaviorCode::criticism, "Slow down.", "I feel…");
    EXPECT_EQ(suggested.title, "There’s a longing under that");
    EXPECT_EQ(suggested.guidance, "Slow down.");
    EXPECT_EQ(CoachingRules::genericStarter(std::nullopt, "Slow down.", "").title, "Your next move");
}

TEST(CoachingRules, GetUnstuckAndThePopoverStates)
{
    const struct {
        bool active, hasTurns, loading, rehearsal, enabled;
    } buttons[] { { true, true, false, false, true }, { false, true, false, false, false },
        { true, false, false, false, false }, { true, true, true, false, false },
        { false, false, true, false, false }, { true, true, false, true, false } };
    for (const auto& b : buttons)
        EXPECT_EQ(CoachingRules::canGetUnstuck(b.active, b.hasTurns, b.loading, b.rehearsal), b.enabled)
            << b.active << b.hasTurns << b.loading << b.rehearsal;
    EXPECT_EQ(CoachingRules::getUnstuckLabel(false), "Get unstuck");
    EXPECT_EQ(CoachingRules::getUnstuckLabel(true), "Reading the thread…");

    const CoachNudge answer { "Name the fear", "Say what scares you.", "I worry that…" };
    const CoachNudge starter = CoachingRules::genericStarter(std::nullopt, {}, "I feel…");
    using enum CoachingRules::PopoverState;
    const struct {
        bool loading;
        CoachNudge nudge;
        CoachingRules::PopoverState state;
        const char* symbol;
        const char* caption;
        const char* title;
    } states[] {
        { true, answer, Loading, "ellipsis", "reading", "Reading the conversation…" },
        { true, {}, Loading, "ellipsis", "reading", "Reading the conversation…" },
        { false, answer, ProviderNudge, "sparkles", "right now", "Name the fear" },
        { false, {}, GenericStarter, "sparkles", "a place to start", "Your next move" },
        { false, { {}, {}, "only words" }, ProviderNudge, "sparkles", "right now", "" },
    };
    for (const auto& s : states) {
        SCOPED_TRACE(s.title);
        EXPECT_EQ(CoachingRules::popoverState(s.loading, s.nudge), s.state);
        EXPECT_EQ(CoachingRules::headerSymbol(s.state), s.symbol);
        EXPECT_EQ(CoachingRules::caption(s.state), s.caption);
        EXPECT_EQ(CoachingRules::title(s.state, s.nudge, starter), s.title);
    }
    EXPECT_EQ(CoachingRules::shownNudge(ProviderNudge, answer, starter), answer);
    EXPECT_EQ(CoachingRules::shownNudge(GenericStarter, answer, starter), starter);
    EXPECT_EQ(CoachingRules::quoted("I feel…"), "“I feel…”");
}

TEST(PartnerCornerState, ReadsItsOwnSpeakerOnce)
{
    using enum BehaviorCode;
    PartnerCornerState corner;
    QSignalSpy reading(&corner, &PartnerCornerState::readingChanged);
    EXPECT_EQ(corner.genericStarter().title, "Your next move");

    const RoomMoments moments { { moment(0, repair), moment(1, criticism, 0.3), moment(1, contempt),
                                    moment(1, positive), decoded(3, "defensiveness") },
        { foul(1, ProcessFoul::globalizing), foul(0, ProcessFoul::mindReading, 0.2) } };
    corner.setMoments(moments);
    corner.setCanonicalSide(1);
    corner.setStarter("I feel…");
    EXPECT_EQ(corner.warm(), 1);
    EXPECT_EQ(corner.hard(), 2);
    EXPECT_EQ(corner.latestCoach(), "contempt");
    EXPECT_EQ(corner.genericStarter(), CoachingRules::genericStarter(contempt, {}, "I feel…"));

    corner.setSuggestion("Breathe first.");
    EXPECT_EQ(corner.genericStarter().guidance, "Breathe first.");
    corner.setCanonicalSide(0);
    EXPECT_EQ(corner.latestCoach(), "repair");
    EXPECT_EQ(corner.warm(), 1);
    EXPECT_EQ(corner.hard(), 0);
    EXPECT_EQ(reading.count(), 5);
    corner.setMoments(moments);
    EXPECT_EQ(reading.count(), 5);
}

} // namespace
} // namespace lumora
