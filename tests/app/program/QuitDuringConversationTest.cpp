#include "RecordingProgram.hpp"

#include <csignal>

namespace lumora {
namespace {

using QuitDuringConversation = testing::RecordingProgramTest;

// Quitting while a conversation records, from the menu (its Quit command's shortcut) or by the
// signal a logout sends: the program gives the conversation up before it ends, so no audio is
// left anywhere in its runtime and cache folders, and the reservation is cancelled.
TEST_F(QuitDuringConversation, QuittingLeavesNoAudioAndCancelsTheReservation)
{
    const std::pair<const char*, std::function<void(QProcess&)>> quits[] = {
        { "the menu's Quit",
            [this](QProcess&) {
                ASSERT_TRUE(display.xdotool(
                    { "search", "--sync", "--onlyvisible", "--name", "^Corvane$", "windowfocus", "--sync" }));
                EXPECT_TRUE(display.xdotool({ "key", "ctrl+q" }));
            } },
        { "SIGTERM", [](QProcess& program) { ::kill(pid_t(program.processId()), SIGTERM); } },
    };
    for (const auto& [name, quit] : quits) {
        SCOPED_TRACE(name);
        const QTemporaryDir home;
        const auto program = launchRecording(home);
        ASSERT_NE(program, nullptr);
        ASSERT_TRUE(recordingStarted(*program, home)) << "the conversation did not start";
        ASSERT_EQ(reservationStatuses(), QStringList { "open" });

        quit(*program);
        ASSERT_TRUE(program->waitForFinished(20000));
        EXPECT_EQ(program->exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(program->exitCode(), 0);
        EXPECT_EQ(recordingsIn(home), QStringList());
        // Read once the control plane has stopped: what it recorded is then all in the file.
        EXPECT_EQ(controlPlane->stop(), 0) << controlPlane->log().toStdString();
        EXPECT_EQ(reservationStatuses(), QStringList { "cancelled" });
        EXPECT_EQ(speech->stop(), 0) << speech->log().toStdString();
    }
}

} // namespace
} // namespace lumora
