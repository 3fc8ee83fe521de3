#include "RecordingProgram.hpp"

#include <csignal>

namespace lumora {
namespace {

// The real program quit during its conversation.
class QuitDuringConversation : public testing::RecordingProgramTest {
protected:
    // The size of the recording under way, 0 while there is none.
    static qint64 recordingSize(const QTemporaryDir& home)
    {
        qint64 size = 0;
        for (const QString& file : testing::filesBelow(home.filePath("runtime/Lumora-Conversation")))
            if (file.endsWith(u"/recording.m4a"))
                size = std::max(size, QFileInfo(file).size());
        return size;
    }
    // Waits until the recording has grown past `size`: the conversation goes on.
    static bool recordingGrowsPast(const QTemporaryDir& home, qint64 size, const QProcess& program)
    {
        return QTest::qWaitFor(
                   [&] { return recordingSize(home) > size || program.state() != QProcess::Running; }, 60000)
            && recordingSize(home) > size;
    }
    // Waits until the recording has grown twice: the conversation records (its file begins a
    // moment before the start is over, and a quit during a start does not ask).
    static bool recordingRuns(const QTemporaryDir& home, const QProcess& program)
    {
        return recordingGrowsPast(home, 0, program) && recordingGrowsPast(home, recordingSize(home), program);
    }
    // Presses Ctrl+Q in the window and waits until the program says that it asks first.
    bool quitAsks()
    {
        const qsizetype asked = output.count(askedLine);
        if (!display.xdotool(
                { "search", "--sync", "--onlyvisible", "--name", "^Corvane$", "windowfocus", "--sync" })
            || !display.xdotool({ "key", "ctrl+q" }))
            return false;
        return QTest::qWaitFor([&] { return output.count(askedLine) > asked; }, 60000);
    }

    static constexpr const char* askedLine = "Quitting waits for an answer about the conversation under way.";
};

// Quitting while a conversation records: from the menu (its Quit command's shortcut) the
// program asks first, and Escape keeps the conversation going; "Discard" then gives it up, as the
// signal a logout sends does without asking. Either way no audio is left anywhere in its runtime
// and cache folders, the reservation is cancelled, and nothing is sent under it after that (the
// control plane would refuse it as closed).
TEST_F(QuitDuringConversation, QuittingAsksAndAGiveUpLeavesNoAudioAndCancelsTheReservation)
{
    const std::pair<const char*, std::function<void(QProcess&, const QTemporaryDir&)>> quits[] = {
        { "the menu's Quit, then Discard",
            [this](QProcess& program, const QTemporaryDir& home) {
                ASSERT_TRUE(quitAsks()) << output.toStdString();
                ASSERT_TRUE(display.xdotool({ "key", "Escape" }));
                ASSERT_TRUE(recordingGrowsPast(home, recordingSize(home), program))
                    << "Escape keeps the conversation going";
                ASSERT_TRUE(quitAsks()) << output.toStdString();
                // The keyboard starts on "Finish and save"; "Discard" is the one before it.
                ASSERT_TRUE(display.xdotool({ "key", "shift+Tab" }));
                ASSERT_TRUE(display.xdotool({ "key", "space" }));
            } },
        { "SIGTERM",
            [](QProcess& program, const QTemporaryDir&) { ::kill(pid_t(program.processId()), SIGTERM); } },
    };
    for (const auto& [name, quit] : quits) {
        SCOPED_TRACE(name);
        const QTemporaryDir home;
        const auto program = launchRecording(home);
        ASSERT_NE(program, nullptr);
        ASSERT_TRUE(recordingRuns(home, *program)) << "the conversation did not start";
        ASSERT_EQ(reservationStatuses(), QStringList { "open" });

        quit(*program, home);
        ASSERT_TRUE(program->waitForFinished(60000));
        EXPECT_EQ(program->exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(program->exitCode(), 0);
        EXPECT_EQ(recordingsIn(home), QStringList());
        EXPECT_FALSE(output.contains("reservation_closed")) << output.toStdString();
        // Read once the control plane has stopped: what it recorded is then all in the file.
        EXPECT_EQ(controlPlane->stop(), 0) << controlPlane->log().toStdString();
        EXPECT_EQ(reservationStatuses(), QStringList { "cancelled" });
        EXPECT_EQ(speech->stop(), 0) << speech->log().toStdString();
    }
}

// Quitting while the conversation is being saved (its finish slowed by a control plane that is
// away) asks, in the saving form, also when the question was open before the finish began; and
// "Discard" leaves nothing of the conversation: no review, no backup record and no mark here, and
// the next launch, with the control plane back, sends nothing of it and cancels its reservation.
TEST_F(QuitDuringConversation, DiscardWhileTheConversationIsSavedLeavesNothingOfIt)
{
    for (const bool askedBeforeTheFinish : { false, true }) {
        SCOPED_TRACE(askedBeforeTheFinish ? "asked while recording" : "asked while saving");
        const QTemporaryDir home;
        const auto program = launchRecording(home);
        ASSERT_NE(program, nullptr);
        ASSERT_TRUE(recordingRuns(home, *program)) << "the conversation did not start";
        ASSERT_EQ(controlPlane->stop(), 0);
        if (askedBeforeTheFinish) {
            ASSERT_TRUE(quitAsks()) << output.toStdString();
        }
        // Finish: the review is sealed at the press.
        ::kill(pid_t(program->processId()), SIGUSR1);
        ASSERT_TRUE(QTest::qWaitFor([&] { return !reviews(home).isEmpty(); }, 60000));
        if (!askedBeforeTheFinish) {
            ASSERT_TRUE(quitAsks()) << output.toStdString();
        }
        QTest::qWait(500);
        ASSERT_EQ(program->state(), QProcess::Running);
        // "Discard" is the one before "Quit once saved", where the keyboard starts.
        ASSERT_TRUE(display.xdotool({ "key", "shift+Tab" }));
        ASSERT_TRUE(display.xdotool({ "key", "space" }));
        ASSERT_TRUE(program->waitForFinished(60000)) << "the question was gone";
        EXPECT_EQ(program->exitCode(), 0);
        EXPECT_EQ(reviews(home), QStringList());
        EXPECT_EQ(recordingsIn(home), QStringList());
        EXPECT_EQ(backupRecords(home).size(), 0);

        startControlPlane();
        ASSERT_TRUE(controlPlane->started());
        const auto next = launch(home);
        const bool settled = QTest::qWaitFor(
            [&] { return !reservationStatuses().contains(u"open"_qs) && marks(home).isEmpty(); }, 60000);
        ::kill(pid_t(next->processId()), SIGTERM);
        ASSERT_TRUE(next->waitForFinished(60000));
        EXPECT_TRUE(settled) << reservationStatuses().join(' ').toStdString() << " / "
                             << marks(home).join(' ').toStdString();
        EXPECT_EQ(reviews(home), QStringList());
        EXPECT_EQ(controlPlane->stop(), 0) << controlPlane->log().toStdString();
        EXPECT_EQ(accountConversations(), QStringList());
        EXPECT_EQ(reservationStatuses(), QStringList { "cancelled" });
        EXPECT_EQ(speech->stop(), 0) << speech->log().toStdString();
    }
}

// "Finish and save" (where the keyboard starts in the question): the conversation is finished,
// its review saved on this computer and its reservation closed as used, and then the program
// ends by itself, with no audio left.
TEST_F(QuitDuringConversation, FinishAndSaveKeepsTheReviewAndThenQuits)
{
    const QTemporaryDir home;
    const auto program = launchRecording(home);
    ASSERT_NE(program, nullptr);
    ASSERT_TRUE(recordingRuns(home, *program)) << "the conversation did not start";

    ASSERT_TRUE(quitAsks()) << output.toStdString();
    ASSERT_TRUE(display.xdotool({ "key", "space" }));
    ASSERT_TRUE(program->waitForFinished(90000)) << output.toStdString();
    EXPECT_EQ(program->exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(program->exitCode(), 0);
    EXPECT_FALSE(testing::filesBelow(home.filePath("data/Lumora/Results")).isEmpty())
        << "no review was saved";
    EXPECT_EQ(recordingsIn(home), QStringList());
    EXPECT_EQ(controlPlane->stop(), 0) << controlPlane->log().toStdString();
    EXPECT_EQ(reservationStatuses(), QStringList { "finalized" });
    EXPECT_EQ(speech->stop(), 0) << speech->log().toStdString();
}

} // namespace
} // namespace lumora
