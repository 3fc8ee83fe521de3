#include "AwaitTask.hpp"
#include "ControlPlaneProcess.hpp"
#include "DevelopmentSignIn.hpp"
#include "SpeechStandInProcess.hpp"
#include "XvfbDisplay.hpp"
#include "security/AccountSessionStore.hpp"
#include "security/DeviceIdentity.hpp"
#include "security/KeychainKeyStore.hpp"

#include <QDeadlineTimer>
#include <QDirIterator>
#include <QFile>
#include <QNetworkAccessManager>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>
#include <gtest/gtest.h>

namespace lumora {
namespace {

using testing::ControlPlaneProcess;
using testing::SpeechStandInProcess;
using testing::TestCertificates;
using testing::XvfbDisplay;

// Every file below `folder`, however deep.
QStringList filesBelow(const QString& folder)
{
    QStringList files;
    QDirIterator walk(folder, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (walk.hasNext())
        files.append(walk.next());
    return files;
}

// The statuses of every usage reservation the control plane keeps.
QStringList reservationStatuses(const QString& database)
{
    QStringList statuses;
    {
        QSqlDatabase connection = QSqlDatabase::addDatabase(u"QSQLITE"_qs, u"reservations"_qs);
        connection.setDatabaseName(database);
        EXPECT_TRUE(connection.open());
        QSqlQuery query(u"SELECT status FROM usage_reservations"_qs, connection);
        while (query.next())
            statuses.append(query.value(0).toString());
    }
    QSqlDatabase::removeDatabase(u"reservations"_qs);
    return statuses;
}

// The real program (the development build, which reaches local servers) on an X display of its
// own, signed in to the real control plane and recording from the virtual microphone while the
// speech stand-in hears it; the computer's keychain is the test session's Secret Service.
class QuitDuringConversation : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!qEnvironmentVariableIsSet("LUMORA_TEST_SESSION")
            || !qEnvironmentVariableIsSet("LUMORA_TEST_MICROPHONE"))
            GTEST_SKIP() << "needs scripts/with-test-session and scripts/with-virtual-microphone";
        if (QStandardPaths::findExecutable(u"xdotool"_qs).isEmpty() || display.name().isEmpty())
            GTEST_SKIP() << "needs Xvfb and xdotool";
        ASSERT_TRUE(certificates.valid());
        QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
        tls.addCaCertificates(QSslCertificate::fromPath(certificates.caCertificate()));
        QSslConfiguration::setDefaultConfiguration(tls);
    }

    // Servers of their own, the device signed in with a saved session and the recording
    // agreement accepted: the program starts a conversation once it has restored the account.
    std::unique_ptr<QProcess> launchRecording(const QTemporaryDir& home)
    {
        const QStringList serverTls { "--tls-cert", certificates.serverCertificate(), "--tls-key",
            certificates.serverKey() };
        speech = std::make_unique<SpeechStandInProcess>(serverTls);
        controlPlane = std::make_unique<ControlPlaneProcess>(
            QStringList { "--dev-sign-in", "--speech-token-secret", speech->secretPath() } + serverTls);
        if (!speech->started() || !controlPlane->started()) {
            ADD_FAILURE() << "the servers did not start";
            return nullptr;
        }
        const auto keychain = std::make_shared<KeychainKeyStore>(u"com.lumora.native"_qs);
        const auto identity = test::awaitTask(DeviceIdentity::load(keychain));
        if (!identity) {
            ADD_FAILURE() << "no device key";
            return nullptr;
        }
        const DeviceRegistration registration
            = testing::developmentSignIn(manager, controlPlane->baseUrl(), *identity, "Quinn and Rae");
        if (!test::awaitTask(
                AccountSessionStore(keychain).save({ registration.accountID, registration.deviceID }))) {
            ADD_FAILURE() << "the session could not be saved";
            return nullptr;
        }
        for (const char* folder : { "data", "config/Lumora", "runtime", "cache" })
            QDir(home.path()).mkpath(QString::fromLatin1(folder));
        QFile::setPermissions(
            home.filePath("runtime"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QFile preferences(home.filePath("config/Lumora/Lumora.conf"));
        if (preferences.open(QIODevice::WriteOnly))
            preferences.write("[General]\nlumora.recordingAgreementVersion=2\n");
        preferences.close();

        auto program = std::make_unique<QProcess>();
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("DISPLAY", display.name());
        environment.remove("QT_QPA_PLATFORM");
        environment.insert("XDG_DATA_HOME", home.filePath("data"));
        environment.insert("XDG_CONFIG_HOME", home.filePath("config"));
        environment.insert("XDG_RUNTIME_DIR", home.filePath("runtime"));
        environment.insert("XDG_CACHE_HOME", home.filePath("cache"));
        environment.insert("LUMORA_DEVELOPMENT_CA", certificates.caCertificate());
        environment.insert("LUMORA_CONTROL_PLANE_URL", controlPlane->baseUrl().toString());
        environment.insert("LUMORA_SPEECH_SERVICE_URL", speech->baseUrl().toString());
        // The sanitizers' leak report at the end would replace the exit code read here; the
        // graphics stack keeps its allocations to the end of the process.
        const QString options = environment.value("ASAN_OPTIONS");
        environment.insert(
            "ASAN_OPTIONS", options.isEmpty() ? "detect_leaks=0" : options + ":detect_leaks=0");
        program->setProcessEnvironment(environment);
        program->setProcessChannelMode(QProcess::ForwardedChannels);
        program->start(QStringLiteral(LUMORA_DEVELOPMENT_PROGRAM), { "--start-conversation" });
        EXPECT_TRUE(program->waitForStarted(5000));
        return program;
    }

    XvfbDisplay display;
    TestCertificates certificates;
    std::unique_ptr<SpeechStandInProcess> speech;
    std::unique_ptr<ControlPlaneProcess> controlPlane;
    QNetworkAccessManager manager;
};

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
        const QString recordings = home.filePath("runtime/Lumora-Conversation");
        QDeadlineTimer deadline(60000);
        bool recording = false;
        while (!recording && !deadline.hasExpired() && program->state() == QProcess::Running) {
            for (const QString& file : filesBelow(recordings))
                recording = recording || (file.endsWith(u"/recording.m4a") && QFileInfo(file).size() > 0);
            QTest::qWait(100);
        }
        ASSERT_TRUE(recording) << "the conversation did not start";
        ASSERT_EQ(reservationStatuses(controlPlane->databasePath()), QStringList { "open" });

        quit(*program);
        ASSERT_TRUE(program->waitForFinished(20000));
        EXPECT_EQ(program->exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(program->exitCode(), 0);
        for (const char* folder : { "runtime", "cache", "data" })
            for (const QString& file : filesBelow(home.filePath(QString::fromLatin1(folder))))
                EXPECT_FALSE(file.endsWith(u".m4a") || file.contains(u"/Lumora-Conversation/"))
                    << file.toStdString();
        // Read once the control plane has stopped: what it recorded is then all in the file.
        EXPECT_EQ(controlPlane->stop(), 0) << controlPlane->log().toStdString();
        EXPECT_EQ(reservationStatuses(controlPlane->databasePath()), QStringList { "cancelled" });
        EXPECT_EQ(speech->stop(), 0) << speech->log().toStdString();
    }
}

} // namespace
} // namespace lumora
