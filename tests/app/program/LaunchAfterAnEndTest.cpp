#include "RecordingProgram.hpp"
#include "persistence/EncryptedResultStore.hpp"

#include <QSettings>
#include <csignal>

namespace lumora {
namespace {

using testing::databaseColumn;

// What the next launch of the real program settles after a run that ended at a bad moment.
class LaunchAfterAnEnd : public testing::RecordingProgramTest {
protected:
    static void kill(QProcess& program)
    {
        program.kill();
        ASSERT_TRUE(program.waitForFinished(60000));
    }

    // Launches the program over `home` until `settled` holds (or a minute passes), then ends it
    // as a logout does and stops the control plane, whose database is then read whole.
    bool launchUntil(const QTemporaryDir& home, const std::function<bool()>& settled)
    {
        const auto program = launch(home);
        const bool done = QTest::qWaitFor(settled, 60000);
        ::kill(pid_t(program->processId()), SIGTERM);
        EXPECT_TRUE(program->waitForFinished(60000));
        EXPECT_EQ(program->exitCode(), 0);
        EXPECT_EQ(controlPlane->stop(), 0) << controlPlane->log().toStdString();
        return done;
    }

    static constexpr const char* lostLine
        = "A conversation was lost when the last run ended during it; the user is told.";
    static constexpr const char* heldLine
        = "The account answered its deletion; held before this computer's part.";
    static constexpr const char* finishedLine
        = "The deletion of the account that the last run left is finished on this computer.";
};

// A power cut (or a restart of the computer) while a conversation records: the program is killed,
// and the runtime folder with the recording is emptied. The mark kept with the application's data
// outlives it: the next launch tells that the conversation was lost and cancels its reservation;
// no mark stays to tell it again.
TEST_F(LaunchAfterAnEnd, APowerCutWhileRecordingIsToldAndItsReservationClosed)
{
    const QTemporaryDir home;
    const auto program = launchRecording(home);
    ASSERT_NE(program, nullptr);
    ASSERT_TRUE(recordingStarted(*program, home)) << "the conversation did not start";
    ASSERT_NO_FATAL_FAILURE(kill(*program));
    ASSERT_TRUE(QDir(home.filePath("runtime")).removeRecursively());
    ASSERT_TRUE(QDir(home.path()).mkdir("runtime"));
    QFile::setPermissions(home.filePath("runtime"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    ASSERT_EQ(reservationStatuses(), QStringList { "open" });

    const bool settled = launchUntil(home, [&] {
        return output.contains(lostLine) && !reservationStatuses().contains(u"open"_qs)
            && marks(home).isEmpty();
    });
    EXPECT_TRUE(settled) << output.toStdString();
    EXPECT_EQ(output.count(lostLine), 1);
    EXPECT_EQ(reservationStatuses(), QStringList { "cancelled" });
    EXPECT_EQ(marks(home), QStringList());
    EXPECT_EQ(reviews(home), QStringList());
}

// An account's deletion killed after the account answered it and before this computer's part (the
// program held there): the account is gone, and everything of it is still here. The next launch
// finishes the deletion before anything is shown: the reviews, the backup state, the keys, the
// saved session, the recording agreement, the seat names and the reminder go.
TEST_F(LaunchAfterAnEnd, AnAccountDeletionKilledAfterTheAnswerIsFinishedAtTheNextLaunch)
{
    const QTemporaryDir home;
    ASSERT_TRUE(signIn(home));
    {
        const auto saved = test::awaitTask(AccountSessionStore(keychain()).load());
        ASSERT_TRUE(saved && saved->session);
        const QUuid account = saved->session->accountID;
        const auto results = EncryptedResultStore::create(home.filePath("data/Lumora/Results"), keychain());
        const auto backup = ConversationBackupStore::create(home.filePath("data/Lumora/Backup"), keychain());
        ASSERT_TRUE(results && backup);
        for (int index = 0; index < 3; ++index) {
            DerivedSessionResult review;
            review.id = QUuid::createUuid();
            review.completedAt = QDateTime::currentDateTimeUtc().addDays(-index);
            review.summary = u"Kept on this computer."_qs;
            review.accountID = account;
            ASSERT_TRUE(test::awaitTask((*results)->save(review)));
            const ConversationBackupRecord kept { review.id, QUuid::createUuid(),
                ConversationBackupState::declined, 0, std::nullopt, std::nullopt, false, account };
            ASSERT_TRUE(test::awaitTask((*backup)->upsert(kept)));
        }
    }
    {
        QSettings preferences(preferencesPath(home), QSettings::IniFormat);
        preferences.setValue("corvane.participantName.left", "Quinn");
        preferences.setValue("corvane.participantName.right", "Rae");
        preferences.setValue(
            "corvane.checkinReminder", QByteArray(R"({"isOn":true,"weekday":1,"hour":19,"minute":0})"));
    }
    const auto program = launch(home, { "--delete-account", "--hold-after-account-deletion" });
    ASSERT_TRUE(QTest::qWaitFor([&] { return output.contains(heldLine); }, 60000)) << output.toStdString();
    ASSERT_NO_FATAL_FAILURE(kill(*program));
    EXPECT_EQ(databaseColumn(database, u"SELECT id FROM accounts"_qs), QStringList());
    ASSERT_EQ(reviews(home).size(), 3);

    EXPECT_TRUE(launchUntil(home, [&] { return output.contains(finishedLine); })) << output.toStdString();
    EXPECT_EQ(reviews(home), QStringList());
    EXPECT_EQ(QDir(home.filePath("data/Lumora/Backup")).entryList({ "backup-state*" }), QStringList());
    EXPECT_EQ(marks(home), QStringList());
    const auto keys = keychain();
    for (const QString& account : { EncryptedResultStore::keyAccount(), ConversationBackupStore::keyAccount(),
             DeviceIdentity::storeAccount() }) {
        const auto found = test::awaitTask(keys->data(account));
        ASSERT_TRUE(found.has_value());
        EXPECT_FALSE(found->bytes.has_value()) << account.toStdString();
    }
    const auto session = test::awaitTask(AccountSessionStore(keys).load());
    EXPECT_TRUE(!session || !session->session);
    QSettings preferences(preferencesPath(home), QSettings::IniFormat);
    for (const char* key : { "lumora.recordingAgreementVersion", "corvane.participantName.left",
             "corvane.participantName.right", "lumora.pendingAccountDeletion" })
        EXPECT_FALSE(preferences.contains(QString::fromLatin1(key))) << key;
    EXPECT_FALSE(preferences.value("corvane.checkinReminder").toByteArray().contains(R"("isOn":true)"));
}

} // namespace
} // namespace lumora
