#pragma once

#include "AwaitTask.hpp"
#include "ControlPlaneProcess.hpp"
#include "DevelopmentSignIn.hpp"
#include "SpeechStandInProcess.hpp"
#include "XvfbDisplay.hpp"
#include "persistence/ConversationBackupStore.hpp"
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
#include <gtest/gtest.h>
#include <vector>

namespace lumora::testing {

// Every file below `folder`, however deep.
inline QStringList filesBelow(const QString& folder)
{
    QStringList files;
    QDirIterator walk(folder, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (walk.hasNext())
        files.append(walk.next());
    return files;
}

// The first column of every row a query of the control plane's database gives. Read with a
// connection of its own, closed at once: the server's own stay as they are.
inline QStringList databaseColumn(const QString& database, const QString& query)
{
    QStringList values;
    {
        QSqlDatabase connection = QSqlDatabase::addDatabase(u"QSQLITE"_qs, u"inspection"_qs);
        connection.setDatabaseName(database);
        connection.setConnectOptions(u"QSQLITE_OPEN_READONLY"_qs);
        EXPECT_TRUE(connection.open());
        QSqlQuery rows(query, connection);
        while (rows.next())
            values.append(rows.value(0).toString());
    }
    QSqlDatabase::removeDatabase(u"inspection"_qs);
    return values;
}

// The real program (the development build, which reaches local servers) on an X display of its
// own, signed in to the real control plane and recording from the virtual microphone while the
// speech stand-in hears it; the computer's keychain is the test session's Secret Service.
class RecordingProgramTest : public ::testing::Test {
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

    [[nodiscard]] QStringList serverTls() const
    {
        return { "--tls-cert", certificates.serverCertificate(), "--tls-key", certificates.serverKey() };
    }

    // A control plane trusting the speech stand-in, over a fresh database the first time and
    // over that one again after.
    void startControlPlane()
    {
        QStringList arguments
            = QStringList { "--dev-sign-in", "--speech-token-secret", speech->secretPath() } + serverTls();
        if (!database.isEmpty())
            arguments << "--database" << u"sqlite:"_qs + database;
        if (controlPlane)
            stoppedControlPlanes.push_back(std::move(controlPlane));
        controlPlane = std::make_unique<ControlPlaneProcess>(arguments);
        if (database.isEmpty())
            database = controlPlane->databasePath();
    }

    // Servers of their own, the device signed in with a saved session and the recording
    // agreement accepted in `home`: the program starts a conversation once it has restored the
    // account. SIGUSR1 then presses Finish.
    std::unique_ptr<QProcess> launchRecording(
        const QTemporaryDir& home, const QStringList& speechArguments = {})
    {
        if (!signIn(home, speechArguments))
            return nullptr;
        return launch(home, { "--start-conversation" });
    }

    // Servers of their own, and `home` signed in to an account of its own (a saved session in
    // the test session's keychain, the recording agreement accepted); false when that failed.
    bool signIn(const QTemporaryDir& home, const QStringList& speechArguments = {})
    {
        speech = std::make_unique<SpeechStandInProcess>(speechArguments + serverTls());
        database.clear();
        startControlPlane();
        if (!speech->started() || !controlPlane->started()) {
            ADD_FAILURE() << "the servers did not start";
            return false;
        }
        const auto identity = test::awaitTask(DeviceIdentity::load(keychain()));
        if (!identity) {
            ADD_FAILURE() << "no device key";
            return false;
        }
        const DeviceRegistration registration
            = developmentSignIn(manager, controlPlane->baseUrl(), *identity, "Quinn and Rae");
        if (!test::awaitTask(
                AccountSessionStore(keychain()).save({ registration.accountID, registration.deviceID }))) {
            ADD_FAILURE() << "the session could not be saved";
            return false;
        }
        for (const char* folder : { "data", "config/Lumora", "runtime", "cache" })
            QDir(home.path()).mkpath(QString::fromLatin1(folder));
        QFile::setPermissions(
            home.filePath("runtime"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QFile preferences(preferencesPath(home));
        if (preferences.open(QIODevice::WriteOnly))
            preferences.write("[General]\nlumora.recordingAgreementVersion=2\n");
        preferences.close();
        return true;
    }

    // The program's keychain: the test session's Secret Service, as the program sees it.
    static std::shared_ptr<KeychainKeyStore> keychain()
    {
        return std::make_shared<KeychainKeyStore>(u"com.lumora.native"_qs);
    }

    static QString preferencesPath(const QTemporaryDir& home)
    {
        return home.filePath("config/Lumora/Lumora.conf");
    }

    // The program in `home`, reaching the servers as they are now.
    std::unique_ptr<QProcess> launch(const QTemporaryDir& home, const QStringList& arguments = {})
    {
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
        // What the program says is kept in `output`, for the tests to read and to show.
        environment.insert("QT_LOGGING_RULES", "com.lumora.native.*.info=true");
        program->setProcessEnvironment(environment);
        program->setProcessChannelMode(QProcess::MergedChannels);
        output.clear();
        QObject::connect(program.get(), &QProcess::readyRead, program.get(),
            [this, read = program.get()] { output += read->readAll(); });
        program->start(QStringLiteral(LUMORA_DEVELOPMENT_PROGRAM), arguments);
        EXPECT_TRUE(program->waitForStarted(60000));
        return program;
    }

    // Whether the program in `home` got to record some audio within a minute.
    static bool recordingStarted(QProcess& program, const QTemporaryDir& home)
    {
        const QString recordings = home.filePath("runtime/Lumora-Conversation");
        QDeadlineTimer deadline(60000);
        while (!deadline.hasExpired() && program.state() == QProcess::Running) {
            for (const QString& file : filesBelow(recordings)) {
                if (file.endsWith(u"/recording.m4a") && QFileInfo(file).size() > 0)
                    return true;
            }
            QTest::qWait(100);
        }
        return false;
    }

    // The audio and the conversation folders anywhere in the program's own folders.
    static QStringList recordingsIn(const QTemporaryDir& home)
    {
        QStringList found;
        for (const char* folder : { "runtime", "cache", "data" })
            for (const QString& file : filesBelow(home.filePath(QString::fromLatin1(folder))))
                if (file.endsWith(u".m4a") || file.contains(u"/Lumora-Conversation/"))
                    found.append(file);
        return found;
    }

    // The statuses of every usage reservation the control plane keeps.
    [[nodiscard]] QStringList reservationStatuses() const
    {
        return databaseColumn(database, u"SELECT status FROM usage_reservations"_qs);
    }

    // The conversations the account holds.
    [[nodiscard]] QStringList accountConversations() const
    {
        return databaseColumn(database, u"SELECT id FROM content_conversations"_qs);
    }

    // The sealed reviews in `home`.
    static QStringList reviews(const QTemporaryDir& home)
    {
        return QDir(home.filePath("data/Lumora/Results")).entryList({ "*.lmr" }, QDir::Files);
    }

    // The marks of conversations whose end is not settled, in `home`.
    static QStringList marks(const QTemporaryDir& home)
    {
        return QDir(home.filePath("data/Lumora/Marks")).entryList({ "*.mark" }, QDir::Files);
    }

    // The backup records in `home`, read while no program runs there.
    static QList<ConversationBackupRecord> backupRecords(const QTemporaryDir& home)
    {
        const auto store = ConversationBackupStore::create(home.filePath("data/Lumora/Backup"), keychain());
        if (!store) {
            ADD_FAILURE() << "the backup state could not be opened";
            return {};
        }
        const auto read = test::awaitTask((*store)->records());
        if (!read) {
            ADD_FAILURE() << "the backup records could not be read";
            return {};
        }
        return read->records;
    }

    XvfbDisplay display;
    // What the program last launched has said so far.
    QByteArray output;
    TestCertificates certificates;
    std::unique_ptr<SpeechStandInProcess> speech;
    std::unique_ptr<ControlPlaneProcess> controlPlane;
    // The control plane's database, and the stopped ones whose folder holds it.
    QString database;
    std::vector<std::unique_ptr<ControlPlaneProcess>> stoppedControlPlanes;
    QNetworkAccessManager manager;
};

} // namespace lumora::testing
