#include "ConversationRoomState.hpp"
#include "FakeShell.hpp"
#include "ObjectSearch.hpp"
#include "Sections.hpp"
#include "ShellSessionAdapter.hpp"
#include "ViewModelFixture.hpp"
#include "WindowHarness.hpp"

#include <QAbstractItemModelTester>
#include <QAccessible>
#include <QImage>
#include <QQuickItem>
#include <QQuickWindow>
#include <QTest>
#include <algorithm>
#include <array>
#include <gtest/gtest.h>

namespace lumora {
namespace {

SpeakerTurn turn(qint64 speaker, double start, double end, const char* text)
{
    return SpeakerTurn(speaker, start, end, QString::fromUtf8(text));
}

// The room as the window shows it on the Conversation section.
class RoomWindowTest : public ::testing::Test {
protected:
    ConversationRoomState& room() const
    {
        auto* state = qobject_cast<ConversationRoomState*>(shell.find("roomState"));
        EXPECT_NE(state, nullptr);
        return *state;
    }
    void resize(int width, int height = 760) { shell.resize(QSize(width, height)); }
    QRectF sceneRect(const QString& name) const
    {
        auto* item = qobject_cast<QQuickItem*>(shell.find(name));
        return item ? item->mapRectToScene(QRectF(0, 0, item->width(), item->height())) : QRectF();
    }
    QString cardTitle() const { return shell.find("setupCard")->property("title").toString(); }
    static QRectF sceneRectOf(const QQuickItem* item)
    {
        return item->mapRectToScene(QRectF(0, 0, item->width(), item->height()));
    }
    // The items of that name under `root` that are drawn (shown, with a size), in tree order.
    static QList<QQuickItem*> drawn(QQuickItem* root, const QString& name)
    {
        QList<QQuickItem*> found;
        QList<QQuickItem*> pending { root };
        while (!pending.isEmpty()) {
            QQuickItem* item = pending.takeFirst();
            if (item->objectName() == name && item->isVisible() && item->width() > 0 && item->height() > 0)
                found.append(item);
            pending.append(item->childItems());
        }
        return found;
    }
    QList<QQuickItem*> drawn(const QString& name) const { return drawn(shell.window()->contentItem(), name); }
    // The transcript's rows, top to bottom.
    QList<QQuickItem*> transcriptRows() const
    {
        auto* list = qobject_cast<QQuickItem*>(shell.find("transcript"));
        QList<QQuickItem*> rows;
        if (!list)
            return rows;
        for (QQuickItem* child : list->property("contentItem").value<QQuickItem*>()->childItems()) {
            if (child->property("displaySide").isValid() && child->isVisible())
                rows.append(child);
        }
        std::sort(rows.begin(), rows.end(), [](QQuickItem* a, QQuickItem* b) { return a->y() < b->y(); });
        return rows;
    }
    void clickAt(QPointF point)
    {
        QTest::mouseClick(shell.window(), Qt::LeftButton, Qt::NoModifier, point.toPoint());
    }
    // Presses a button of the stage's row once it takes presses again: for a moment after the
    // row changes, a press where the pointer rests is not taken.
    void clickRow(const QString& name)
    {
        ASSERT_TRUE(QTest::qWaitFor([&] { return room().takesRowPress(); }, 60000));
        shell.click(name);
    }

    testing::ViewModelHome home;
    testing::FakeShell fakes;
    testing::FakeShellSession& session = fakes.session;
    // Last, so that the window goes before the objects it reads.
    testing::WindowHarness shell;
};

// The smoke launch's room, idle: wide from 980, compact and scrolling below; at the narrow end
// of the wide arrangement the centre column shrinks instead of pushing the right corner out.
TEST_F(RoomWindowTest, SmokeLaunchShowsTheIdleRoomAtEachWidth)
{
    const auto viewModel = home.viewModel({ "--ui-smoke" });
    ShellSessionAdapter smoke(*viewModel, [] { return QDateTime::currentDateTimeUtc(); });
    ASSERT_NE(shell.openWindow(smoke), nullptr);
    for (const int width : { 1200, 980, 979 }) {
        SCOPED_TRACE(width);
        resize(width);
        const bool wide = width >= 980;
        EXPECT_EQ(shell.has("wideRoom"), wide);
        EXPECT_EQ(shell.has("compactRoom"), !wide);
        EXPECT_TRUE(shell.shows("emptyRoom"));
        EXPECT_FALSE(shell.shows("statusPill")) << "nothing runs";
        EXPECT_FALSE(shell.shows("swapSidesButton")) << "no turns";
        EXPECT_EQ(shell.text("primaryButton"), "Start conversation");
        EXPECT_TRUE(shell.shows("rehearsalButton"));
        const QRectF right = sceneRect("rightCorner");
        EXPECT_LE(right.right(), width - (wide ? 32 : 24) + 0.5);
        EXPECT_EQ(qRound(right.width()), wide ? 224 : qRound(right.width()));
        shell.screenshot(QStringLiteral("room-smoke-idle-%1").arg(width));
    }
    shell.close();
}

// States only a running conversation reaches, through the fake: rows with an interjection and
// findings, swapped sides, pause, processing, a failure in the banner, the hidden message, and
// the check-in room taking the room's place without losing the room's state.
TEST_F(RoomWindowTest, RunningStatesThroughTheFake)
{
    testing::FakeRoomModel& model = session.roomModel;
    model.state.participantNames = { "Ada", "Bob" };
    ASSERT_NE(shell.openWindow(session), nullptr);
    QAbstractItemModelTester tester(room().rows(), QAbstractItemModelTester::FailureReportingMode::Fatal);

    model.update([](auto& s) {
        s.isRecording = true;
        s.elapsed = 75;
        s.currentSessionID = "one";
        s.selectedAgendaStep = 1;
        s.liveStepNote = "naming the loop, not the person";
        s.turns = { turn(0, 2, 12, "I want to talk about dinner <tonight> & why it matters to me."),
            turn(1, 12, 13, "Okay."), turn(0, 13, 30, "Because it is the one hour we have together."),
            turn(1, 31, 52, "I hear you. I check my phone more than I want to admit.") };
        s.annotations = { BehaviorAnnotation(0, 0, BehaviorCode::criticism, 0.8, 2, 12),
            BehaviorAnnotation(3, 1, BehaviorCode::repair, 0.9, 31, 52) };
        s.fouls = { ProcessFoulAnnotation(0, 0, ProcessFoul::globalizing, 0.7, 2, 12) };
    });
    EXPECT_TRUE(shell.shows("statusPill"));
    EXPECT_EQ(shell.text("statusLabel"), "Listening");
    EXPECT_EQ(shell.text("statusClock"), "1:15");
    EXPECT_EQ(shell.text("primaryButton"), "Finish conversation");
    EXPECT_FALSE(shell.shows("rehearsalButton"));
    EXPECT_EQ(shell.text("pauseButton"), "Pause");
    EXPECT_TRUE(shell.shows("swapSidesButton"));
    EXPECT_FALSE(shell.shows("emptyRoom"));
    EXPECT_EQ(shell.text("agendaNote"), "naming the loop, not the person");
    EXPECT_EQ(room().rows()->count(), 2);
    shell.screenshot("room-fake-recording");
    // The agenda's steps and its note stay inside the centre column, clear of the corners.
    const QRectF column = sceneRect("centreColumn");
    for (const char* part : { "agendaStep0", "agendaStep5", "stepGuidance", "stepStarter", "agendaNote" }) {
        const QRectF rect = sceneRect(part);
        EXPECT_GE(rect.left(), column.left() - 0.5) << part;
        EXPECT_LE(rect.right(), column.right() + 0.5) << part;
    }
    // A new step changes what the step buttons show, not the buttons: made anew at each change,
    // they cost a frame's time in the middle of a conversation.
    QObject* firstStep = shell.find("agendaStep0");
    model.update([](auto& s) { s.selectedAgendaStep = 2; });
    EXPECT_EQ(shell.find("agendaStep0"), firstStep);
    EXPECT_TRUE(firstStep->property("passed").toBool());
    EXPECT_TRUE(shell.find("agendaStep2")->property("current").toBool());
    EXPECT_FALSE(firstStep->property("current").toBool());
    model.update([](auto& s) { s.selectedAgendaStep = 0; });
    EXPECT_TRUE(firstStep->property("current").toBool());

    shell.click("swapSidesButton");
    EXPECT_TRUE(model.state.sidesSwapped);
    EXPECT_EQ(room().leftCorner().canonicalSide, 1);
    EXPECT_EQ(room().leftCorner().name, "Ada") << "names stay with their seats";
    shell.screenshot("room-fake-recording-swapped");

    clickRow("pauseButton");
    EXPECT_EQ(model.pauses, 1);
    model.update([](auto& s) {
        s.isRecording = false;
        s.isPaused = true;
    });
    EXPECT_EQ(shell.text("statusLabel"), "Paused");
    EXPECT_EQ(shell.text("pauseButton"), "Resume");
    shell.screenshot("room-fake-paused");

    model.update([](auto& s) {
        s.isPaused = false;
        s.isProcessing = true;
    });
    EXPECT_EQ(shell.text("statusLabel"), "Reading It Back");
    EXPECT_TRUE(shell.shows("statusClock")) << "the clock stays while processing";
    EXPECT_TRUE(shell.shows("processingNote"));
    EXPECT_FALSE(shell.shows("rehearsalButton"));
    shell.screenshot("room-fake-processing");

    model.update([](auto& s) {
        s.isProcessing = false;
        s.errorMessage = "Processing failed. The temporary recording was deleted. Everything else you said "
                         "stays out of the record, and nothing reached the account.";
    });
    EXPECT_TRUE(shell.shows("errorBanner"));
    shell.screenshot("room-fake-error-banner");
    shell.click("errorBannerDismiss");
    EXPECT_EQ(model.state.errorMessage, QString());
    EXPECT_FALSE(shell.shows("errorBanner"));

    // A single click on the brand mark does nothing; a double click reveals the message. The
    // click is handled as it is delivered, and QTest stamps the next press far enough after it
    // that the two never count as one double click, so nothing needs to pass in between.
    auto* mark = qobject_cast<QQuickItem*>(shell.find("brandMark"));
    const QPoint centre = mark->mapToScene(QPointF(22, 22)).toPoint();
    QTest::mouseClick(shell.window(), Qt::LeftButton, Qt::NoModifier, centre);
    EXPECT_FALSE(room().showThreadMessage());
    QTest::mouseDClick(shell.window(), Qt::LeftButton, Qt::NoModifier, centre);
    EXPECT_TRUE(room().showThreadMessage());
    EXPECT_TRUE(shell.shows("hiddenMessage"));
    shell.screenshot("room-fake-hidden-message");

    // The check-in room takes the room's place; the room's own state waits for it.
    model.update([](auto& s) { s.checkinPack = CheckinPack {}; });
    EXPECT_TRUE(shell.shows("checkinRoom"));
    EXPECT_FALSE(shell.shows("conversationRoom"));
    EXPECT_EQ(model.agendaSteps.value(model.agendaSteps.size() - 1, -1), 0) << "idle: the agenda goes back";
    model.update([](auto& s) { s.checkinPack.reset(); });
    EXPECT_TRUE(shell.shows("conversationRoom"));
    EXPECT_TRUE(room().showThreadMessage());
    shell.click("closeHiddenMessageButton");
    EXPECT_FALSE(shell.shows("hiddenMessage"));
}

// The live transcript draws each row's findings: one chip per annotation, then one per foul,
// from the row's own edge; a row without findings keeps no room for chips.
TEST_F(RoomWindowTest, TranscriptRowsShowTheirFindingsAsChips)
{
    testing::FakeRoomModel& model = session.roomModel;
    model.state.participantNames = { "Ada", "Bob" };
    ASSERT_NE(shell.openWindow(session), nullptr);
    model.update([](auto& s) {
        s.isRecording = true;
        s.elapsed = 40;
        s.turns = { turn(0, 0, 5, "You never put the phone down at dinner."), turn(1, 5, 9, "I hear that."),
            turn(1, 9, 14, "Tell me more about what it is like."),
            turn(0, 15, 20, "And last year it was the same, every single night.") };
        s.annotations = { BehaviorAnnotation(0, 0, BehaviorCode::criticism, 0.826, 0, 5),
            BehaviorAnnotation(0, 0, BehaviorCode::positive, 0.6, 0, 5) };
        s.fouls = { ProcessFoulAnnotation(0, 0, ProcessFoul::globalizing, 0.7, 0, 5),
            ProcessFoulAnnotation(3, 0, ProcessFoul::dredgingPast, 0.9, 15, 20) };
    });
    for (const QSize size : { QSize(920, 680), QSize(1180, 760), QSize(1440, 900) }) {
        SCOPED_TRACE(size.width());
        shell.resize(size);
        const QList<QQuickItem*> rows = transcriptRows();
        ASSERT_EQ(rows.size(), 3);
        // Each chip is drawn in capitals, and read as written by a screen reader, from the item
        // over it.
        const auto chipTexts = [](QQuickItem* chip) {
            const QAccessibleInterface* face = QAccessible::queryAccessibleInterface(chip);
            return face ? face->text(QAccessible::Name).toUpper() : QString();
        };
        EXPECT_EQ(drawn(rows[0], "chips").value(0)->property("texts").toStringList(),
            (QStringList { QStringLiteral("PROTEST \u00B7 82%"), QStringLiteral("CONNECTION \u00B7 60%"),
                QStringLiteral("ALWAYS / NEVER \u00B7 70%") }));

        // Annotations first, then the foul, in reading order from the left edge.
        const QList<QQuickItem*> behaviours = drawn(rows[0], "behaviorChip");
        const QList<QQuickItem*> fouls = drawn(rows[0], "foulChip");
        ASSERT_EQ(behaviours.size(), 2);
        ASSERT_EQ(fouls.size(), 1);
        EXPECT_EQ(chipTexts(behaviours[0]), u"PROTEST \u00B7 82%");
        EXPECT_EQ(chipTexts(behaviours[1]), u"CONNECTION \u00B7 60%");
        EXPECT_EQ(chipTexts(fouls[0]), u"ALWAYS / NEVER \u00B7 70%");
        const QRectF row = sceneRectOf(rows[0]);
        const QRectF paragraph = sceneRectOf(drawn(rows[0], "paragraph").value(0));
        // A paragraph has no links: the pointer's hover, walked after every frame, skips it.
        EXPECT_FALSE(drawn(rows[0], "paragraph").value(0)->acceptHoverEvents());
        double left = row.left();
        for (QQuickItem* chip : { behaviours[0], behaviours[1], fouls[0] }) {
            const QRectF rect = sceneRectOf(chip);
            EXPECT_GT(rect.width(), 40);
            EXPECT_GE(rect.left(), left);
            EXPECT_GE(rect.top(), paragraph.bottom()) << "under the paragraph";
            EXPECT_LE(rect.bottom(), row.bottom() + 0.5) << "inside its row";
            left = rect.right();
        }

        // The right side's row has no findings, and ends with its paragraph.
        EXPECT_TRUE(drawn(rows[1], "behaviorChip").isEmpty());
        EXPECT_TRUE(drawn(rows[1], "foulChip").isEmpty());
        EXPECT_NEAR(
            sceneRectOf(rows[1]).bottom(), sceneRectOf(drawn(rows[1], "paragraph").value(0)).bottom(), 1);

        // A foul alone is a chip too.
        EXPECT_TRUE(drawn(rows[2], "behaviorChip").isEmpty());
        ASSERT_EQ(drawn(rows[2], "foulChip").size(), 1);
        EXPECT_EQ(chipTexts(drawn(rows[2], "foulChip")[0]), u"OLD WOUND \u00B7 90%");

        shell.screenshot(QStringLiteral("room-transcript-chips-%1").arg(size.width()));

        // A foul's capsule is outlined in dashes: along its straight top edge the line breaks
        // off and starts again (where the chip is in the window, at the widest size).
        const QImage frame = shell.window()->grabWindow();
        const QRect foul = sceneRectOf(fouls[0]).toAlignedRect();
        if (!frame.rect().contains(foul)) {
            EXPECT_LT(size.width(), 1440);
            continue;
        }
        const QColor inside = frame.pixelColor(foul.center().x(), foul.top() + 3);
        int dashes = 0;
        bool onLine = false;
        for (int x = foul.left() + foul.height(); x < foul.right() - foul.height(); ++x) {
            const QColor edge = frame.pixelColor(x, foul.top());
            const bool line = std::abs(edge.lightness() - inside.lightness()) > 12;
            dashes += line && !onLine ? 1 : 0;
            onLine = line;
        }
        EXPECT_GE(dashes, foul.width() / 10) << "dashes along " << foul.width() << " px";
    }

    // A new analysis that adds a finding to a row adds its chip, and counts it in its seat's
    // patterns: the row's other chips and the patterns' rows keep the items they have.
    const auto firstPattern = [&] {
        QQuickItem* item = nullptr;
        QMetaObject::invokeMethod(testing::findUnder(shell.find("leftCorner"), "summaryRows"), "itemAt",
            Q_RETURN_ARG(QQuickItem*, item), Q_ARG(int, 0));
        return item;
    };
    QQuickItem* const chipBefore = drawn(transcriptRows()[0], "behaviorChip").value(0);
    QQuickItem* const patternBefore = firstPattern();
    ASSERT_NE(patternBefore, nullptr);
    model.update([](auto& s) {
        s.annotations.append(BehaviorAnnotation(0, 0, BehaviorCode::repair, 0.5, 0, 5));
        s.fouls.append(ProcessFoulAnnotation(1, 1, ProcessFoul::mindReading, 0.8, 5, 9));
    });
    shell.waitForFrame();
    const QList<QQuickItem*> behaviours = drawn(transcriptRows()[0], "behaviorChip");
    ASSERT_EQ(behaviours.size(), 3);
    EXPECT_EQ(behaviours[0], chipBefore);
    EXPECT_EQ(firstPattern(), patternBefore);
    // The right side's chips end where its paragraph ends.
    const QList<QQuickItem*> rightFouls = drawn(transcriptRows()[1], "foulChip");
    ASSERT_EQ(rightFouls.size(), 1);
    EXPECT_NEAR(sceneRectOf(rightFouls[0]).right(),
        sceneRectOf(drawn(transcriptRows()[1], "paragraph").value(0)).right(), 1);
}

// A fresh profile whose people close the setup sheet before signing in: "Start conversation"
// opens the sheet again at its sign-in card, and so it does after a restart.
TEST_F(RoomWindowTest, AFreshProfileThatClosedTheSetupSheetCanStillSignIn)
{
    // A release build's control plane, which nothing answers here.
    home.info["LMControlPlaneURL"] = "https://127.0.0.1:9";
    {
        const auto viewModel = home.viewModel();
        ShellSessionAdapter fresh(*viewModel, [] { return QDateTime::currentDateTimeUtc(); });
        ASSERT_NE(shell.openWindow(fresh), nullptr);
        EXPECT_TRUE(shell.shows("setupSheet"));
        shell.click("agreeButton");
        EXPECT_EQ(cardTitle(), "Your private Corvane account");
        shell.click("setupCloseButton");
        EXPECT_FALSE(shell.shows("setupSheet"));

        shell.click("primaryButton");
        EXPECT_TRUE(shell.shows("setupSheet"));
        EXPECT_EQ(cardTitle(), "Your private Corvane account");
        EXPECT_TRUE(shell.shows("signInButton"));
        shell.screenshot("room-start-opens-sign-in");
        shell.close();
    }
    const auto restarted = home.viewModel();
    ShellSessionAdapter again(*restarted, [] { return QDateTime::currentDateTimeUtc(); });
    ASSERT_NE(shell.openWindow(again), nullptr);
    EXPECT_FALSE(shell.shows("setupSheet")) << "the agreement is kept";
    shell.click("primaryButton");
    EXPECT_TRUE(shell.shows("setupSheet"));
    EXPECT_EQ(cardTitle(), "Your private Corvane account");
    shell.close();
}

} // namespace
} // namespace lumora

namespace lumora {
namespace {

// "Watch a rehearsal" in the smoke launch: the real clock ticks; the test then drives the ticks
// itself to the break (tick 79, 47.4 s) and on to the end, instead of waiting two minutes.
TEST_F(RoomWindowTest, TheRehearsalRunsToItsBreakAndOnToItsEnd)
{
    const auto viewModel = home.viewModel({ "--ui-smoke" });
    ShellSessionAdapter smoke(*viewModel, [] { return QDateTime::currentDateTimeUtc(); });
    ASSERT_NE(shell.openWindow(smoke), nullptr);
    ConversationRoomState& state = room();
    const qsizetype results = viewModel->results().size();
    shell.click("rehearsalButton");
    EXPECT_TRUE(QTest::qWaitFor([&] { return state.rehearsalElapsed() > 0; }, 60000))
        << "the room's clock ticks";
    clickRow("primaryButton");
    EXPECT_FALSE(state.rehearsalActive());

    clickRow("rehearsalButton");
    for (int tick = 0; tick < 79; ++tick)
        state.tickRehearsal();
    EXPECT_DOUBLE_EQ(state.rehearsalElapsed(), 47.4);
    EXPECT_TRUE(shell.shows("breakOverlay"));
    EXPECT_EQ(shell.text("breathingLabel"), "breathe in") << "still with reduce motion";
    EXPECT_EQ(qRound(shell.find("breathingRing")->property("width").toReal()), 130);
    EXPECT_EQ(viewModel->selectedAgendaStep(), 1);
    EXPECT_EQ(shell.text("statusLabel"), "Rehearsal");
    EXPECT_EQ(state.speakerNames(), (QStringList { "Alex", "Jordan" }));
    EXPECT_GT(state.warmCount() + state.hardCount(), 0) << "the gauges count the script";
    EXPECT_FALSE(drawn("behaviorChip").isEmpty()) << "the script's findings show as chips";
    EXPECT_FALSE(drawn("foulChip").isEmpty());
    EXPECT_FALSE(shell.find("getUnstuck")->property("enabled").toBool()) << "a script is not coached";
    shell.screenshot("room-rehearsal-break");

    shell.click("keepTalkingButton");
    EXPECT_FALSE(shell.shows("breakOverlay"));
    for (int tick = 79; tick < 239; ++tick)
        state.tickRehearsal();
    EXPECT_DOUBLE_EQ(state.rehearsalElapsed(), 143);
    EXPECT_EQ(shell.text("statusLabel"), "Rehearsal complete");
    EXPECT_EQ(shell.text("primaryButton"), "Close rehearsal");
    EXPECT_EQ(state.primaryAccessibilityLabel(), "Close rehearsal") << "a screen reader says what it reads";
    EXPECT_EQ(state.turnCount(), 16);
    shell.screenshot("room-rehearsal-complete");
    clickRow("primaryButton");
    EXPECT_FALSE(state.rehearsalActive());
    EXPECT_TRUE(viewModel->liveTurns().isEmpty()) << "nothing is recorded";
    EXPECT_EQ(viewModel->results().size(), results) << "nothing is saved";
    shell.close();
}

// The overlays over the room, through the fake: the repeated cycle with and without the
// analysis's words, Escape and the backdrop dismissing it; the floor prompt at two and three
// minutes; the break on flooding, which Escape closes as "Keep talking" does.
TEST_F(RoomWindowTest, GuidanceOverlaysThroughTheFake)
{
    testing::FakeRoomModel& model = session.roomModel;
    ASSERT_NE(shell.openWindow(session), nullptr);
    ConversationRoomState& state = room();
    const char* lines[] = { "apple river stone", "cloud marble tiger", "garden violin candle",
        "window forest pepper", "rocket meadow lantern", "harbor pencil orchid", "silver canyon ribbon",
        "dragon button island", "castle feather mirror", "thunder saddle lemon", "planet whisker barrel" };
    model.update([](auto& s) {
        s.isRecording = true;
        s.elapsed = 100;
        s.liveCircularity = CircularityEvidence { true, 0.9, "dinner",
            "You have each restated the dinner point three times without reflecting the other.",
            "\u201cWhat I really want at dinner is to feel chosen.\u201d" };
    });
    for (int n = 0; n < 11; ++n)
        model.say(n % 2, n * 8, n * 8 + 6, lines[n]);
    ASSERT_TRUE(shell.shows("cycleOverlay"));
    EXPECT_TRUE(shell.shows("cycleRationale"));
    EXPECT_EQ(shell.text("cycleOpening"), "\u201cWhat I really want at dinner is to feel chosen.\u201d");
    shell.screenshot("room-cycle-evidence");
    shell.press(Qt::Key_Escape);
    EXPECT_FALSE(shell.shows("cycleOverlay"));
    EXPECT_EQ(state.circularityGate().suppressedUntil, 520) << "Escape dismisses, never acknowledges";

    // Only the local heuristic: no rationale and the default sentence. (The clock moves on after
    // the second partner's first turn, so that no floor prompt shows for the first partner's.)
    const QString point = QStringLiteral("the same dinner point again and again");
    model.say(1, 600, 601, point);
    model.update([](auto& s) {
        s.elapsed = 600;
        s.liveCircularity = CircularityEvidence { true, 0.9, "", "", "" };
    });
    for (int n = 1; n < 4; ++n)
        model.say(1, 600 + n, 601 + n, point);
    ASSERT_TRUE(shell.shows("cycleOverlay"));
    EXPECT_FALSE(shell.shows("cycleRationale"));
    EXPECT_EQ(shell.text("cycleOpening"),
        "\u201cUnderneath this, what I\u2019m really trying to tell you is\u2026\u201d");
    shell.screenshot("room-cycle-default");
    QTest::mouseClick(shell.window(), Qt::LeftButton, Qt::NoModifier, QPoint(20, 700));
    EXPECT_FALSE(shell.shows("cycleOverlay")) << "a tap on the backdrop dismisses";
    EXPECT_EQ(model.circularityClears, 2);

    // One partner has held the floor past three minutes by the time nothing else is in the way:
    // the two-minute prompt comes first, and the extra minute is up a minute after it showed.
    model.update([](auto& s) { s.elapsed = 600 + 181; });
    ASSERT_TRUE(shell.shows("floorOverlay"));
    EXPECT_EQ(shell.text("floorHeadline"), "You\u2019ve held the floor for two minutes.");
    EXPECT_EQ(shell.text("floorGuidance"),
        "Name the softer truth underneath, then pause so Speaker 1 can reach back.");
    shell.screenshot("room-floor-first");
    model.update([](auto& s) { s.elapsed = 600 + 240; });
    EXPECT_EQ(shell.text("floorHeadline"), "You\u2019ve held the floor for two minutes.");
    model.update([](auto& s) { s.elapsed = 600 + 241; });
    EXPECT_EQ(shell.text("floorHeadline"), "The extra minute is up.");
    EXPECT_EQ(shell.text("floorButton"), "Pass the floor");
    EXPECT_EQ(shell.text("floorGuidance"), "Turn toward Speaker 1\u2019s response.");
    shell.screenshot("room-floor-final");
    // Passing the floor ends the prompts of this run: the first one does not come back saying
    // two minutes were held.
    shell.click("floorButton");
    EXPECT_TRUE(state.dismissedFinalFloor());
    EXPECT_FALSE(shell.shows("floorOverlay"));
    model.update([](auto& s) { s.elapsed = 600 + 245; });
    EXPECT_FALSE(shell.shows("floorOverlay"));

    // Flooding raises the break over everything.
    model.flood(850);
    ASSERT_TRUE(shell.shows("breakOverlay"));
    shell.screenshot("room-break");
    shell.press(Qt::Key_Escape);
    EXPECT_FALSE(shell.shows("breakOverlay"));
    EXPECT_EQ(model.finishes, 0) << "Escape keeps talking";
    EXPECT_DOUBLE_EQ(state.breakSuppressedUntil(), 845 + 150);
}

// A press on a guidance card is the card's own: the headline of the break or of the repeated
// cycle closes nothing, the dimmed backdrop closes its overlay without pressing what lies under
// it, and the floor card keeps its clicks from the corner beneath it. The start error banner
// and the hidden message lie above the overlays, so their buttons stay theirs during a break.
TEST_F(RoomWindowTest, GuidanceCardsKeepTheirClicksUnderTheBannerAndTheHiddenMessage)
{
    testing::FakeRoomModel& model = session.roomModel;
    ASSERT_NE(shell.openWindow(session), nullptr);
    ConversationRoomState& state = room();
    model.update([](auto& s) {
        s.isRecording = true;
        s.elapsed = 30;
        s.errorMessage = "Live guidance is temporarily unavailable. Please try again.";
        for (qint64 i = 0; i < 4; ++i)
            s.annotations.append(BehaviorAnnotation(i % 2, i % 2, BehaviorCode::contempt, 0.9, 0, 1));
    });
    model.say(0, 0, 5, "You never listen");
    model.say(1, 5, 9, "You always say that");
    ASSERT_TRUE(shell.shows("breakOverlay"));

    shell.click("breakHeadline");
    EXPECT_TRUE(shell.shows("breakOverlay")) << "the headline is no backdrop";
    EXPECT_DOUBLE_EQ(state.breakSuppressedUntil(), 0);

    // Over the break: the banner, its message and its close button; then the hidden message.
    EXPECT_TRUE(shell.shows("errorBanner"));
    shell.click("errorBannerMessage");
    EXPECT_TRUE(shell.shows("breakOverlay"));
    shell.screenshot("room-break-under-banner");
    shell.click("errorBannerDismiss");
    EXPECT_EQ(model.state.errorMessage, QString());
    EXPECT_TRUE(shell.shows("breakOverlay"));
    state.revealThreadMessage();
    ASSERT_TRUE(shell.shows("hiddenMessage"));
    shell.click("closeHiddenMessageButton");
    EXPECT_FALSE(state.showThreadMessage());
    EXPECT_TRUE(shell.shows("breakOverlay"));

    // The backdrop over "Finish conversation", where the largest window shows it beside the
    // card: the break closes, nothing is finished.
    resize(1440, 900);
    const QRectF finish = sceneRect("primaryButton");
    ASSERT_TRUE(shell.window()->contentItem()->contains(finish.center()));
    ASSERT_FALSE(sceneRect("breakCard").contains(finish.center()));
    clickAt(finish.center());
    EXPECT_FALSE(shell.shows("breakOverlay"));
    EXPECT_EQ(model.finishes, 0);
    EXPECT_DOUBLE_EQ(state.breakSuppressedUntil(), 30 + 150);

    // The repeated cycle (while the break is held off): its headline keeps it, the backdrop
    // dismisses it.
    model.update([](auto& s) {
        s.elapsed = 170;
        s.liveCircularity = CircularityEvidence { true, 0.9, "dinner", "", "" };
    });
    const char* lines[] = { "apple river stone", "cloud marble tiger", "garden violin candle",
        "window forest pepper", "rocket meadow lantern", "harbor pencil orchid", "silver canyon ribbon",
        "dragon button island", "castle feather mirror", "thunder saddle lemon" };
    for (int n = 0; n < 10 && !shell.shows("cycleOverlay"); ++n)
        model.say(n % 2, 100 + n * 5, 104 + n * 5, lines[n]);
    ASSERT_TRUE(shell.shows("cycleOverlay"));
    shell.click("cycleHeadline");
    EXPECT_TRUE(shell.shows("cycleOverlay"));
    EXPECT_EQ(model.circularityClears, 0);
    clickAt(QPointF(20, shell.window()->height() - 20));
    EXPECT_FALSE(shell.shows("cycleOverlay"));
    EXPECT_EQ(model.circularityClears, 1);

    // The floor card over a corner's "Get unstuck", where the narrowest window puts it.
    resize(920, 680);
    model.say(0, 160, 170, "and another thing about the whole week");
    model.update([](auto& s) { s.elapsed = 160 + 125; });
    EXPECT_FALSE(shell.shows("breakOverlay"));
    EXPECT_FALSE(shell.shows("cycleOverlay"));
    ASSERT_TRUE(shell.shows("floorOverlay"));
    const QRectF floorCard = sceneRect("floorOverlay");
    QRectF under;
    for (QQuickItem* button : drawn("getUnstuck"))
        under = under.isEmpty() ? floorCard.intersected(sceneRectOf(button)) : under;
    ASSERT_FALSE(under.isEmpty()) << "no corner button lies under the floor card";
    shell.screenshot("room-floor-over-corner-920");
    clickAt(under.center());
    EXPECT_TRUE(model.nudgeRequests.isEmpty());
    EXPECT_TRUE(shell.shows("floorOverlay"));
}

// After a finish the room says what became of the conversation, under the banner, until it is
// dismissed or its review opened in History. A review kept on this computer is said there once,
// not also as a failure in the banner.
TEST_F(RoomWindowTest, AFinishedConversationSaysSoWithTheWayToItsReview)
{
    testing::FakeRoomModel& model = session.roomModel;
    ASSERT_NE(shell.openWindow(session), nullptr);
    EXPECT_FALSE(shell.shows("finishNotice"));
    const QString fallback = "Conversation ready to review. The final transcript could not be made, so the "
                             "review uses the live transcript.";
    model.update([&](auto& s) { s.finishNotice = fallback; });
    for (const QSize size : { QSize(920, 680), QSize(1180, 760), QSize(1440, 900) }) {
        SCOPED_TRACE(size.width());
        shell.resize(size);
        ASSERT_TRUE(shell.shows("finishNotice"));
        EXPECT_EQ(shell.text("finishNoticeMessage"), fallback);
        const QRectF notice = sceneRect("finishNotice");
        EXPECT_GE(notice.left(), 24 - 0.5);
        EXPECT_LE(notice.right(), size.width() - 24 + 0.5);
        EXPECT_GT(sceneRect("finishNoticeAction").width(), 100) << "the way to the review is drawn";
        EXPECT_LE(sceneRect("finishNoticeAction").right(), notice.right());
        shell.screenshot(QStringLiteral("room-finish-notice-%1").arg(size.width()));
    }
    shell.click("finishNoticeDismiss");
    EXPECT_FALSE(shell.shows("finishNotice"));

    const QString keptHere = "Your conversation is saved on this computer and ready to review. It reaches "
                             "your account as soon as it can.";
    model.update([&](auto& s) {
        s.finishNotice = keptHere;
        s.errorMessage = keptHere;
    });
    EXPECT_TRUE(shell.shows("finishNotice"));
    EXPECT_FALSE(shell.shows("errorBanner")) << "said once";
    shell.screenshot("room-finish-notice-kept-here");
    shell.click("finishNoticeAction");
    EXPECT_EQ(shell.content()->property("section").toInt(), Sections::History);
    EXPECT_EQ(model.state.finishNotice, QString());
    EXPECT_EQ(model.state.errorMessage, QString());
}

// "Finish conversation" pressed twice: the row that now offers "Start conversation" and
// "Weekly check-in" takes no press for a moment where the pointer rests, and the keyboard's
// focus leaves the button that finished, so that nothing records that nobody asked for.
TEST_F(RoomWindowTest, FinishPressedTwiceStartsNothing)
{
    testing::FakeRoomModel& model = session.roomModel;
    ASSERT_NE(shell.openWindow(session), nullptr);
    ConversationRoomState& state = room();
    model.update([](auto& s) {
        s.isRecording = true;
        s.elapsed = 30;
    });
    ASSERT_TRUE(QTest::qWaitFor([&] { return state.takesRowPress(); }, 60000));
    const QPointF finish = sceneRect("primaryButton").center();
    clickAt(finish);
    ASSERT_EQ(model.finishes, 1);
    // The view model begins the finish: the button now reads "Start conversation".
    model.update([](auto& s) {
        s.isRecording = false;
        s.isProcessing = true;
        s.startReadiness = RoomModel::TemporarilyUnavailable;
    });
    EXPECT_EQ(shell.text("primaryButton"), "Start conversation");
    QTest::mouseDClick(shell.window(), Qt::LeftButton, Qt::NoModifier, finish.toPoint());
    EXPECT_EQ(model.toggles, 0);
    EXPECT_EQ(model.state.errorMessage, QString()) << "no \"Try Start conversation again\"";

    // The finish ends; the check-in and rehearsal entries come back, one of them under the
    // pointer that has not moved.
    model.update([](auto& s) {
        s.isProcessing = false;
        s.startReadiness = RoomModel::Ready;
    });
    ASSERT_TRUE(shell.shows("checkinButton"));
    const bool underPointer
        = std::ranges::any_of(std::array { "primaryButton", "checkinButton", "rehearsalButton" },
            [&](const char* entry) { return sceneRect(entry).contains(finish); });
    ASSERT_TRUE(underPointer);
    clickAt(finish);
    EXPECT_EQ(model.toggles, 0);
    EXPECT_EQ(model.checkinOpens, 0);
    EXPECT_FALSE(state.rehearsalActive());

    // A pointer moved to a button aims anew.
    QTest::mouseMove(shell.window(), sceneRect("checkinButton").center().toPoint() + QPoint(0, 20));
    QTest::mouseMove(shell.window(), sceneRect("checkinButton").center().toPoint());
    clickAt(sceneRect("checkinButton").center());
    EXPECT_EQ(model.checkinOpens, 1);

    // Space on "Finish conversation": the focus leaves the row, and a second Space records nothing
    // even once the moment is over.
    model.update([](auto& s) { s.isRecording = true; });
    ASSERT_TRUE(QTest::qWaitFor([&] { return state.takesRowPress(); }, 60000));
    auto* primary = qobject_cast<QQuickItem*>(shell.find("primaryButton"));
    primary->forceActiveFocus();
    shell.press(Qt::Key_Space);
    ASSERT_EQ(model.finishes, 2);
    EXPECT_FALSE(primary->hasActiveFocus());
    model.update([](auto& s) { s.isRecording = false; });
    ASSERT_TRUE(QTest::qWaitFor([&] { return state.takesRowPress(); }, 60000));
    shell.press(Qt::Key_Space);
    EXPECT_EQ(model.toggles, 0);
}

} // namespace
} // namespace lumora
