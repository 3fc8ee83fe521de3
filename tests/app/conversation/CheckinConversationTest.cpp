// clang-format off
// First, as SpokenConversationTest.hpp asks.
#include "ConnectedConversationTest.hpp"
// clang-format on

#include "CheckinRoomState.hpp"
#include "ConversationRoomState.hpp"
#include "Sections.hpp"
#include "ShellSessionAdapter.hpp"
#include "WindowHarness.hpp"

#include <QTest>

namespace lumora {
namespace {

// What the stand-in hears during the check-in: the first partner around the other's brief
// "Mm." (held inside the first row), then the other partner.
const test::HeardLine exchange[] = {
    { 0, 0.5, 3.5, QStringLiteral("This week felt calmer than the last one.") },
    { 1, 3.7, 4.2, QStringLiteral("Mm.") },
    { 0, 4.4, 6.5, QStringLiteral("I slept better too.") },
    { 1, 7.0, 10.0, QStringLiteral("I noticed that, and I liked our walk.") },
};

// The weekly check-in in the application's window over a view model connected to the real
// control plane (which serves this week's pack) and speech stand-in, recording from the virtual
// microphone.
class CheckinConversationTest : public test::ConnectedConversationTest {
protected:
    CheckinConversationTest()
        : ConnectedConversationTest({}, 0, 0)
    {
    }

    test::ScriptedConversation script() override { return test::quietScript(folder(), exchange); }
    QStringList extraSpeechArguments() override { return { "--prerecorded-delay-ms", "2000" }; }

    CheckinRoomState& checkin() const
    {
        auto* state = qobject_cast<CheckinRoomState*>(shell.find("checkinState"));
        EXPECT_NE(state, nullptr);
        return *state;
    }
    QString pill() const { return shell.find("checkinStatusPill")->property("label").toString(); }
    QString rowText(int row, int role) const
    {
        const CheckinTranscriptRows& rows = *checkin().rows();
        return rows.data(rows.index(row), role).toString();
    }

    // Opens this week's check-in from the conversation room.
    void open(SessionViewModel& model)
    {
        shell.click("checkinButton");
        ASSERT_TRUE(test::spinUntil([&] { return shell.shows("checkinRoom"); }, 60000))
            << model.errorMessage().value_or("").toStdString();
        ASSERT_TRUE(model.checkinPack().has_value());
    }
    // Starts recording and waits until the stand-in has heard the whole exchange.
    void record(SessionViewModel& model)
    {
        shell.click("checkinPrimaryButton");
        ASSERT_TRUE(test::spinUntil([&] { return model.isRecording() || model.errorMessage(); }, 60000));
        ASSERT_TRUE(model.isRecording()) << model.errorMessage().value_or("").toStdString();
        ASSERT_TRUE(test::spinUntil(
            [&] { return model.liveTurns().size() == qsizetype(std::size(exchange)); }, 60000));
    }
    // Finishes the check-in and waits for its saved panel.
    void finish(SessionViewModel& model)
    {
        shell.click("checkinPrimaryButton");
        ASSERT_TRUE(
            test::spinUntil([&] { return model.isCheckinFinished() || model.errorMessage(); }, 90000));
        ASSERT_TRUE(model.isCheckinFinished()) << model.errorMessage().value_or("").toStdString();
        ASSERT_TRUE(test::spinUntil([&] { return !model.isProcessing(); }, 60000));
    }

    lumora::testing::WindowHarness shell;
};

TEST_F(CheckinConversationTest, AWeeklyCheckinIsRecordedSavedAndListedAsOne)
{
    const auto model = connectedModel();
    ShellSessionAdapter session(*model, [] { return QDateTime::currentDateTimeUtc(); });
    ASSERT_NE(shell.openWindow(session), nullptr);
    auto* conversation = qobject_cast<ConversationRoomState*>(shell.find("roomState"));
    ASSERT_NE(conversation, nullptr);

    open(*model);
    const CheckinPack pack = *model->checkinPack();
    EXPECT_EQ(shell.text("sectionPosition"), QStringLiteral("SECTION 1 OF %1").arg(pack.sections.size()));
    EXPECT_EQ(shell.text("sectionTitle"), pack.sections.first().title);
    const bool hasNote = !pack.note.value_or(QString()).isEmpty();
    EXPECT_EQ(shell.shows("packNote"), hasNote);
    shell.screenshot("checkin-spoken-opened");

    record(*model);
    EXPECT_EQ(pill(), "Listening");
    EXPECT_FALSE(shell.shows("leaveCheckinButton"));
    ASSERT_EQ(checkin().rows()->count(), 2) << "the brief answer sits inside the first row";
    model->setSidesSwapped(true);
    // Swapped: the first voice's row is named by the second seat, its interjection by the first.
    const QString first = model->participantName(0);
    const QString second = model->participantName(1);
    EXPECT_EQ(rowText(0, TranscriptRows::NameRole), second);
    EXPECT_EQ(rowText(0, TranscriptRows::ParagraphRole),
        QStringLiteral("This week felt calmer than the last one. %1: “Mm.” I slept better too.").arg(first));
    EXPECT_EQ(rowText(1, TranscriptRows::NameRole), first);
    shell.screenshot("checkin-spoken-recording");

    // The next section's timer starts at the recording's time.
    ASSERT_TRUE(test::spinUntil([&] { return model->elapsed() >= 1; }, 60000));
    shell.click("nextButton");
    EXPECT_EQ(shell.text("sectionPosition"), QStringLiteral("SECTION 2 OF %1").arg(pack.sections.size()));
    EXPECT_LT(checkin().elapsedInSection(), 1.5);
    EXPECT_FALSE(shell.shows("packNote"));

    shell.click("checkinPauseButton");
    ASSERT_TRUE(model->isPaused());
    EXPECT_EQ(pill(), "Paused");
    EXPECT_EQ(shell.text("checkinPauseButton"), "Resume");
    shell.click("checkinPauseButton");
    ASSERT_TRUE(model->isRecording());

    QStringList labels;
    QObject::connect(&checkin(), &CheckinRoomState::primaryLabelChanged,
        [&, state = &checkin()] { labels.append(state->primaryLabel()); });
    finish(*model);
    EXPECT_TRUE(labels.contains("Saving…"));
    EXPECT_TRUE(shell.shows("savedPanel"));
    EXPECT_FALSE(shell.shows("savedNotice")) << "the title says it all";
    EXPECT_TRUE(shell.shows("savedCloseButton"));
    shell.screenshot("checkin-spoken-saved");

    // Listed in the history as one check-in.
    ASSERT_TRUE(test::spinUntil([&] { return model->historyEntries().size() == 1; }, 60000));
    EXPECT_TRUE(model->historyEntries().first().isCheckin());

    // Read in History, the check-in is done with: the Conversation tab leads to the room.
    shell.click("readInHistoryButton");
    EXPECT_EQ(shell.find("contentView")->property("section").toInt(), int(Sections::History));
    shell.find("contentView")->setProperty("section", int(Sections::Conversation));
    EXPECT_FALSE(shell.has("savedPanel") && shell.shows("savedPanel")) << "no way back to \"Check-in saved\"";
    EXPECT_FALSE(model->checkinPack().has_value());
    EXPECT_TRUE(shell.shows("conversationRoom"));
    EXPECT_EQ(shell.find("roomState"), conversation) << "the room kept its own state";
    EXPECT_TRUE(shell.shows("emptyRoom"));
    // The account's refresh after the finish and the history's fetch end before the window goes.
    lumora::testing::settle(*model);
    shell.close();
}

// The same check-in when the speech service cannot make the final transcript: the review is
// made from the live transcript, and the saved panel says so; closing it leaves the
// conversation room saying nothing of it.
class CheckinConversationWithoutFinalTranscriptTest : public CheckinConversationTest {
protected:
    QStringList extraSpeechArguments() override { return { "--prerecorded-reply", "500" }; }
};

TEST_F(CheckinConversationWithoutFinalTranscriptTest, TheSavedPanelSaysTheReviewUsesTheLiveTranscript)
{
    const auto model = connectedModel();
    ShellSessionAdapter session(*model, [] { return QDateTime::currentDateTimeUtc(); });
    ASSERT_NE(shell.openWindow(session), nullptr);
    open(*model);
    record(*model);
    finish(*model);
    ASSERT_TRUE(shell.shows("savedNotice"));
    EXPECT_EQ(shell.text("savedNotice"),
        "The final transcript could not be made, so the review uses the live transcript.");
    EXPECT_FALSE(shell.shows("checkinNotice"));
    shell.screenshot("checkin-spoken-saved-live-transcript");

    shell.click("savedCloseButton");
    ASSERT_TRUE(shell.shows("conversationRoom"));
    EXPECT_FALSE(shell.shows("finishNotice"));
    EXPECT_FALSE(shell.shows("errorBanner"));
    lumora::testing::settle(*model);
    shell.close();
}

} // namespace
} // namespace lumora
