#include "RecordingProgram.hpp"

#include <QFile>
#include <csignal>
#include <sys/mount.h>

namespace lumora {
namespace {

// The program's data folder on a small file system of its own (a tmpfs, which only the superuser
// may mount), filled up by the test when it chooses.
class FullDiskAtTheFinish : public testing::RecordingProgramTest {
protected:
    void SetUp() override
    {
        RecordingProgramTest::SetUp();
        if (IsSkipped())
            return;
        ASSERT_TRUE(QDir(home.path()).mkpath("data"));
        if (::mount("tmpfs", QFile::encodeName(dataFolder()).constData(), "tmpfs", 0, "size=4m,mode=0700")
            != 0)
            GTEST_SKIP() << "needs to mount a tmpfs (the superuser)";
        mounted = true;
    }
    void TearDown() override
    {
        if (mounted)
            ::umount2(QFile::encodeName(dataFolder()).constData(), MNT_DETACH);
    }

    [[nodiscard]] QString dataFolder() const { return home.filePath("data"); }
    [[nodiscard]] QString fillerPath() const { return home.filePath("data/filler"); }

    // Writes into the data folder until it has no room left.
    bool fill() const
    {
        QFile filler(fillerPath());
        if (!filler.open(QIODevice::WriteOnly))
            return false;
        const QByteArray block(4096, 'x');
        while (filler.write(block) == block.size() && filler.flush()) { }
        return true;
    }

    QTemporaryDir home;
    bool mounted = false;
    static constexpr const char* unsealedLine
        = "The conversation is kept, paused, for another Finish: the disk is full";
};

// Finish with the data folder full: nothing is sealed, and nothing of the conversation is lost;
// its recording stays, it is not "saved", and no reservation is closed. Once there is room again,
// Finish seals and saves it as usual and it reaches the account.
TEST_F(FullDiskAtTheFinish, TheConversationIsKeptForAnotherFinishOnceThereIsRoom)
{
    ASSERT_TRUE(signIn(home));
    const auto program = launch(home, { "--start-conversation" });
    ASSERT_TRUE(recordingStarted(*program, home)) << "the conversation did not start";
    ASSERT_TRUE(fill());

    ::kill(pid_t(program->processId()), SIGUSR1);
    ASSERT_TRUE(QTest::qWaitFor([&] { return output.contains(unsealedLine); }, 60000))
        << output.toStdString();
    QTest::qWait(1000);
    EXPECT_EQ(program->state(), QProcess::Running);
    EXPECT_EQ(reviews(home), QStringList());
    EXPECT_FALSE(recordingsIn(home).filter(u".m4a"_qs).isEmpty()) << "the recording went";
    EXPECT_EQ(reservationStatuses(), QStringList { "open" });

    ASSERT_TRUE(QFile::remove(fillerPath()));
    ::kill(pid_t(program->processId()), SIGUSR1);
    const bool saved = QTest::qWaitFor(
        [&] {
            return reservationStatuses() == QStringList { "finalized" } && accountConversations().size() == 1;
        },
        60000);
    ::kill(pid_t(program->processId()), SIGTERM);
    ASSERT_TRUE(program->waitForFinished(60000));
    EXPECT_TRUE(saved) << output.toStdString();
    EXPECT_EQ(reviews(home).size(), 1);
    EXPECT_EQ(recordingsIn(home), QStringList());
    EXPECT_EQ(controlPlane->stop(), 0) << controlPlane->log().toStdString();
}

} // namespace
} // namespace lumora
