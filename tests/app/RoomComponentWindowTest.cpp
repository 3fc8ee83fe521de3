#include "CoachNudge.hpp"
#include "RoomMoments.hpp"
#include "ThemePalette.hpp"
#include "TranscriptChipValue.hpp"
#include "WindowHarness.hpp"
#include "domain/ConversationMethod.hpp"
#include "domain/ConversationPresentation.hpp"
#include "domain/TurnGrouping.hpp"

#include <QAccessible>
#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>

namespace lumora {
namespace {

using testing::WindowHarness;

BehaviorAnnotation moment(qint64 speaker, BehaviorCode code, double start, double confidence = 0.9)
{
    return { 0, speaker, code, confidence, start, start + 2 };
}

ProcessFoulAnnotation foul(qint64 speaker, ProcessFoul kind, double start, double confidence = 0.9)
{
    return { 0, speaker, kind, confidence, start, start + 2 };
}

QVariantList pair(const ConversationPresentation::WarmHard& counts)
{
    return { counts.warm, counts.hard };
}

QVariantMap statsOf(const SpeakerStats& stats)
{
    return { { "share", stats.share }, { "turns", stats.turns }, { "longestTurn", stats.longestTurn } };
}

// The object of that name inside `parent`, through the object tree and the item tree alike.
QObject* inside(QObject* parent, const QString& name)
{
    QList<QObject*> pending { parent };
    while (!pending.isEmpty()) {
        QObject* object = pending.takeFirst();
        if (object->objectName() == name && object != parent)
            return object;
        pending.append(object->children());
        if (auto* item = qobject_cast<QQuickItem*>(object)) {
            for (QQuickItem* child : item->childItems())
                pending.append(child);
        }
    }
    ADD_FAILURE() << "nothing named " << name.toStdString();
    return nullptr;
}

QString textInside(QObject* parent, const QString& name)
{
    QObject* found = inside(parent, name);
    return found ? found->property("text").toString() : QString();
}

QString accessibleName(QObject* item)
{
    QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(item);
    return accessible ? accessible->text(QAccessible::Name) : QString();
}

// The room's pieces on one sheet, each given values the domain computed.
class RoomPartsSheet : public ::testing::Test {
protected:
    void SetUp() override
    {
        using enum BehaviorCode;
        const QList<QList<BehaviorAnnotation>> gaugeAnnotations {
            {},
            { moment(0, repair, 1), moment(1, positive, 2), moment(0, positive, 3),
                moment(1, criticism, 4, 0.3) },
            { moment(0, contempt, 1) },
            { moment(0, repair, 1), moment(1, positive, 2), moment(0, positive, 3), moment(0, repair, 4),
                moment(1, positive, 5), moment(1, stonewalling, 6) },
        };
        const QList<QList<ProcessFoulAnnotation>> gaugeFouls { {}, {},
            { foul(1, ProcessFoul::globalizing, 2) }, { foul(0, ProcessFoul::mindReading, 7) } };
        QVariantList counts;
        for (qsizetype index = 0; index < gaugeAnnotations.size(); ++index)
            counts.append(QVariant(pair(ConversationPresentation::warmHard(
                gaugeAnnotations[index], gaugeFouls[index], std::nullopt))));

        const RoomMoments summary { { moment(0, criticism, 1), moment(0, criticism, 2),
                                        moment(0, contempt, 3), moment(1, repair, 4),
                                        moment(0, positive, 5, 0.2) },
            { foul(0, ProcessFoul::dredgingPast, 6), foul(0, ProcessFoul::mindReading, 7) } };

        // Shares: a seat that has not spoken, 42 of 100 seconds, and the only seat that spoke.
        const QList<SpeakerStats> talk = TurnGrouping::stats(TurnGrouping::group(
            { SpeakerTurn(0, 0, 42, "I keep thinking about the weekend and what it meant"),
                SpeakerTurn(1, 42, 100, "For me it felt like one more plan made without me") }));
        const QList<SpeakerStats> alone = TurnGrouping::stats(
            TurnGrouping::group({ SpeakerTurn(0, 0, 30, "Only I have spoken so far") }));

        room = { { moment(0, criticism, 10), moment(1, defensiveness, 20), moment(0, repair, 30),
                     moment(0, positive, 40), moment(1, contempt, 50) },
            { foul(0, ProcessFoul::kitchenSinking, 45) } };
        properties = {
            { "counts", counts },
            { "protestChips", QVariant::fromValue(QList<TranscriptChipValue> { { "criticism", 0.826 } }) },
            { "pilingChips", QVariant::fromValue(QList<TranscriptChipValue> { { "kitchen_sinking", 0.9 } }) },
            { "summaryMoments", QVariant::fromValue(summary) },
            { "shares", QVariantList { 0.0, talk.at(0).share, alone.at(0).share } },
            { "arcMoments",
                QVariant::fromValue(
                    RoomMoments { { moment(0, repair, 10), moment(1, criticism, 20) }, {} }) },
            { "arcDuration", 30.0 },
            { "roomMoments", QVariant::fromValue(room) },
            { "leftStats", statsOf(talk.at(0)) },
            { "rightStats", statsOf(talk.at(1)) },
            { "starter", ConversationMethod::agenda().at(2).starter },
        };
        sheet = harness.openComponent("Lumora.Testing", "RoomPartsSheet", properties, { 1320, 820 });
        ASSERT_NE(sheet, nullptr);
    }

    QObject* piece(const char* name) { return harness.find(QString::fromLatin1(name)); }

    void click(QObject* target)
    {
        auto* item = qobject_cast<QQuickItem*>(target);
        ASSERT_NE(item, nullptr);
        ASSERT_TRUE(item->isVisible() && item->isEnabled());
        const QPointF centre = item->mapToScene(QPointF(item->width() / 2, item->height() / 2));
        QTest::mouseClick(harness.window(), Qt::LeftButton, Qt::NoModifier, centre.toPoint());
    }

    WindowHarness harness;
    QVariantMap properties;
    RoomMoments room;
    QQuickItem* sheet = nullptr;
};

TEST_F(RoomPartsSheet, GaugesChipsSummaryRingsAndArcShowTheirValues)
{
    const struct {
        const char16_t* hard;
        const char16_t* warm;
        double needle;
        const char* ratio;
        const char* reading;
    } gauges[] {
        { u"0", u"+0", 0.5, "Waiting for warm and hard moments", "balanced" },
        { u"0", u"+3", 1, "3:0 warm / hard", "warm to hard ratio" },
        { u"\u22122", u"+0", 0, "0.0:1 warm / hard", "warm to hard ratio" },
        { u"\u22122", u"+5", 5.0 / 7, "2.5:1 warm / hard", "warm to hard ratio" },
    };
    for (int index = 0; index < 4; ++index) {
        SCOPED_TRACE(index);
        QObject* shared = piece(QStringLiteral("shared%1").arg(index).toLatin1());
        QObject* personal = piece(QStringLiteral("personal%1").arg(index).toLatin1());
        const auto& g = gauges[index];
        for (QObject* gauge : { shared, personal }) {
            EXPECT_EQ(textInside(inside(gauge, "hardTally"), "tallyValue"), QString::fromUtf16(g.hard));
            EXPECT_EQ(textInside(inside(gauge, "warmTally"), "tallyValue"), QString::fromUtf16(g.warm));
            EXPECT_DOUBLE_EQ(inside(gauge, "dial")->property("value").toDouble(), g.needle);
        }
        EXPECT_EQ(textInside(personal, "ratioLabel"), g.ratio);
        EXPECT_TRUE(accessibleName(shared).endsWith(g.reading)) << accessibleName(shared).toStdString();
        EXPECT_TRUE(accessibleName(personal).endsWith(g.ratio)) << accessibleName(personal).toStdString();
    }
    // The seat gauge's card holds its line whole.
    auto* ratio = qobject_cast<QQuickItem*>(inside(piece("personal0"), "ratioLabel"));
    EXPECT_FALSE(ratio->property("truncated").toBool());

    EXPECT_EQ(piece("chips")->property("texts").toStringList(),
        (QStringList { QStringLiteral("PROTEST \u00B7 82%"), QStringLiteral("PILING ON \u00B7 90%") }));
    EXPECT_EQ(accessibleName(piece("foulChip")), u"Piling on \u00B7 90%");
    // Chips that are given no width lie on one line.
    const auto* protest = qobject_cast<QQuickItem*>(piece("behaviorChip"));
    const auto* piling = qobject_cast<QQuickItem*>(piece("foulChip"));
    EXPECT_EQ(protest->y(), piling->y());
    EXPECT_GT(piling->x(), protest->x() + protest->width());

    QObject* summary = piece("summary");
    EXPECT_EQ(textInside(summary, "summaryTotal"), "5 moments");
    EXPECT_EQ(textInside(summary, "summaryMore"), "+1 more patterns");
    EXPECT_EQ(inside(summary, "summaryRows")->property("count").toInt(), 3);

    const char* percents[] { "0%", "42%", "100%" };
    for (int index = 0; index < 3; ++index) {
        QObject* ring = piece(QStringLiteral("ring%1").arg(index).toLatin1());
        EXPECT_EQ(textInside(ring, "ringPercent"), percents[index]);
        EXPECT_EQ(accessibleName(ring), QString(percents[index]).chopped(1) + " percent of talk time");
    }

    QObject* arc = piece("arc");
    EXPECT_EQ(textInside(arc, "arcScore"), "-0.2");
    EXPECT_EQ(inside(arc, "arcScore")->property("color").value<QColor>(), ThemePalette::attention());
    EXPECT_EQ(accessibleName(arc), "Emotional arc, current score -0.2");

    // Each corner counts its own seat: the left one a protest, a foul and two warm moments.
    QObject* left = piece("leftCorner");
    EXPECT_EQ(textInside(inside(left, "cornerGauge"), "ratioLabel"), "1.0:1 warm / hard");
    EXPECT_EQ(textInside(inside(piece("rightCorner"), "cornerGauge"), "ratioLabel"), "0.0:1 warm / hard");
    EXPECT_EQ(textInside(left, "cornerTurns"), "1");
    EXPECT_EQ(textInside(left, "cornerLongest"), "0:42");
    EXPECT_EQ(textInside(inside(left, "cornerRing"), "ringPercent"), "42%");
    EXPECT_TRUE(inside(left, "cornerPatterns")->property("visible").toBool());
    EXPECT_EQ(textInside(inside(left, "cornerPatterns"), "summaryTotal"), "4 moments");

    harness.screenshot("room-parts");
}

TEST_F(RoomPartsSheet, TheCoachingPopoverFollowsTheRequest)
{
    QObject* left = piece("leftCorner");
    QObject* popover = inside(left, "coachPopover");
    QObject* button = inside(left, "getUnstuck");
    QSignalSpy asked(left, SIGNAL(getUnstuck()));
    EXPECT_EQ(textInside(left, "coachButtonText"), "Get unstuck");
    // Closed, the popover holds no content (only the repeater that makes it).
    auto* content = popover->findChild<QQuickItem*>("coachContentHolder");
    ASSERT_NE(content, nullptr);
    const auto holdsContent = [&] { return content->childItems().size() > 1; };
    EXPECT_FALSE(holdsContent());

    // Pressing opens the popover first and asks for a suggestion; the view model then marks
    // the seat as loading.
    click(button);
    EXPECT_EQ(asked.count(), 1);
    EXPECT_TRUE(left->property("showNudge").toBool());
    ASSERT_TRUE(QTest::qWaitFor([&] { return popover->property("opened").toBool(); }, 60000));
    left->setProperty("nudgeLoading", true);
    EXPECT_EQ(textInside(left, "coachButtonText"), "Reading the thread…");
    EXPECT_FALSE(button->property("enabled").toBool());
    EXPECT_DOUBLE_EQ(button->property("opacity").toDouble(), 0.42);
    EXPECT_EQ(textInside(popover, "coachCaption"), "READING");
    EXPECT_EQ(textInside(popover, "coachTitle"), "Reading the conversation…");
    EXPECT_TRUE(inside(popover, "coachReading")->property("visible").toBool());
    EXPECT_FALSE(inside(popover, "coachGuidance")->property("visible").toBool());
    harness.screenshot("room-corner-loading");

    // The coach's answer: no note and no way to ask again.
    left->setProperty("nudgeLoading", false);
    left->setProperty("nudge",
        QVariant::fromValue(CoachNudge { "Name the fear under the plan",
            "You are both guarding the same thing: time together. Say that first.",
            "I miss us when plans go by." }));
    EXPECT_EQ(textInside(popover, "coachCaption"), "RIGHT NOW");
    EXPECT_EQ(textInside(popover, "coachTitle"), "Name the fear under the plan");
    EXPECT_EQ(textInside(popover, "coachWords"), "“I miss us when plans go by.”");
    EXPECT_FALSE(inside(popover, "coachReading")->property("visible").toBool());
    EXPECT_FALSE(inside(popover, "coachNote")->property("visible").toBool());
    EXPECT_FALSE(inside(popover, "readAgain")->property("visible").toBool());
    harness.screenshot("room-corner-nudge");

    // A failure: the error above the corner's own starter, which follows the seat's latest
    // code to coach on (a repair; the later positive moment is skipped).
    const QString failure = QStringLiteral("I couldn’t read the thread just now. Try again.");
    left->setProperty("nudge", QVariant::fromValue(CoachNudge {}));
    left->setProperty("nudgeError", failure);
    EXPECT_EQ(textInside(popover, "coachCaption"), "A PLACE TO START");
    EXPECT_EQ(textInside(popover, "coachTitle"), "That was a turn toward — and it landed");
    EXPECT_EQ(textInside(popover, "coachError"), failure);
    EXPECT_TRUE(inside(popover, "coachError")->property("visible").toBool());
    EXPECT_TRUE(inside(popover, "coachNote")->property("visible").toBool());
    EXPECT_EQ(textInside(popover, "coachWords"), "“" + ConversationMethod::agenda().at(2).starter + "”");
    harness.screenshot("room-corner-starter");

    click(inside(popover, "readAgain"));
    EXPECT_EQ(asked.count(), 2);
    harness.press(Qt::Key_Escape);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !popover->property("visible").toBool(); }, 60000));
    EXPECT_FALSE(left->property("showNudge").toBool());
    EXPECT_TRUE(QTest::qWaitFor([&] { return !holdsContent(); }, 60000));
}

TEST_F(RoomPartsSheet, AnIdleRoomOrOneWithoutTurnsCannotBeCoached)
{
    QObject* right = piece("rightCorner");
    QObject* button = inside(right, "getUnstuck");
    EXPECT_TRUE(button->property("enabled").toBool());
    right->setProperty("active", false);
    EXPECT_FALSE(button->property("enabled").toBool());
    EXPECT_DOUBLE_EQ(button->property("opacity").toDouble(), 0.42);
    right->setProperty("active", true);
    right->setProperty("hasTurns", false);
    EXPECT_FALSE(button->property("enabled").toBool());

    // Without any moment in the room there is no pattern summary.
    EXPECT_TRUE(inside(right, "cornerPatterns")->property("visible").toBool());
    right->setProperty("moments", QVariant::fromValue(RoomMoments {}));
    EXPECT_FALSE(inside(right, "cornerPatterns")->property("visible").toBool());
    right->setProperty(
        "moments", QVariant::fromValue(RoomMoments { {}, { foul(0, ProcessFoul::globalizing, 1) } }));
    EXPECT_TRUE(inside(right, "cornerPatterns")->property("visible").toBool());
    EXPECT_EQ(textInside(inside(right, "cornerPatterns"), "summaryTotal"), "0 moments");
}

} // namespace
} // namespace lumora
