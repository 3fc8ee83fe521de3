#include "ViewModelFixture.hpp"
#include "persistence/EncryptedResultStore.hpp"
#include "persistence/RecordingAgreementStore.hpp"
#include "security/DeviceIdentity.hpp"

#include <QDir>
#include <QJsonValue>
#include <QRegularExpression>
#include <QSemaphore>
#include <QThreadPool>

namespace lumora {
namespace {

using testing::ViewModelHome;

struct LaunchCase {
    const char* name;
    QStringList arguments;
    // Absent: the Info resource has no "LMControlPlaneURL".
    std::optional<QJsonValue> controlPlaneURL;
    bool agreementStored;
    bool configurationAvailable;
    bool agreementAccepted;
};

TEST(SessionViewModelConstruction, LaunchModesAndControlPlaneConfiguration)
{
    // A loopback port where nothing listens: the start-up's device recovery fails at once.
    const QString https = QStringLiteral("https://127.0.0.1:1/base");
    const QString unreachable = QStringLiteral("That request could not be completed.");
    const LaunchCase cases[] {
        { "https, agreement not yet given", {}, https, false, true, false },
        { "https, agreement given", {}, https, true, true, true },
        { "no URL", {}, std::nullopt, true, false, true },
        { "plain http", {}, QStringLiteral("http://control.lumora.test"), false, false, false },
        { "scheme in capitals", {}, QStringLiteral("HTTPS://control.lumora.test"), false, false, false },
        { "not a URL", {}, QStringLiteral("control plane"), false, false, false },
        { "https without a host", {}, QStringLiteral("https:relative"), false, false, false },
        { "not a string", {}, QJsonValue(443), false, false, false },
        { "agreement preview hides a given agreement", { "--ui-agreement" }, std::nullopt, true, true,
            false },
        { "agreement and sign-in previews", { "--ui-agreement", "--ui-sign-in" }, std::nullopt, false, true,
            true },
        { "smoke", { "--ui-smoke" }, std::nullopt, false, true, true },
        { "sign-in preview keeps a good URL", { "--ui-sign-in" }, https, false, true, true },
        { "arguments compare whole", { "--ui-smoke=1", "ui-sign-in" }, std::nullopt, false, false, false },
    };
    for (const LaunchCase& row : cases) {
        SCOPED_TRACE(row.name);
        ViewModelHome home;
        home.info.remove("LMControlPlaneURL");
        if (row.controlPlaneURL)
            home.info.insert("LMControlPlaneURL", *row.controlPlaneURL);
        if (row.agreementStored) {
            ASSERT_TRUE(
                RecordingAgreementStore(*home.preferences, RecordingAgreementStore::standardKey()).accept());
        }

        const auto model = home.viewModel(row.arguments);
        EXPECT_EQ(model->configurationAvailable(), row.configurationAvailable);
        EXPECT_EQ(model->baseURL().has_value(), row.controlPlaneURL == QJsonValue(https));
        EXPECT_EQ(model->recordingAgreementAccepted(), row.agreementAccepted);
        // Without a launch mode the start-up tries to recover this device from the control plane;
        // smoke mode signs in offline.
        const bool recovers = row.arguments.isEmpty() && row.controlPlaneURL == QJsonValue(https);
        const bool smoke = row.arguments.contains("--ui-smoke");
        EXPECT_EQ(model->statusText(),
            recovers    ? unreachable
                : smoke ? QStringLiteral("Start a private conversation")
                        : QStringLiteral("Sign in to begin"));
        EXPECT_EQ(model->errorMessage(), recovers ? std::optional(unreachable) : std::nullopt);
        EXPECT_EQ(model->isSignedIn(), smoke);
        EXPECT_EQ(model->participantNames(), (QStringList { "Person 1", "Person 2" }));
        EXPECT_EQ(model->checkinReminder(), CheckinReminderSettings::standard());
        EXPECT_EQ(model->appVersion(), "1.4+37");
        ASSERT_TRUE(model->isStartUpFinished());
        EXPECT_TRUE(model->identity().has_value());
        EXPECT_TRUE(model->resultStore() && model->backupStore() && model->temporaryStore());
        EXPECT_TRUE(model->launchSentinel().has_value());
        EXPECT_EQ(model->resultStore()->directory(), QDir(home.path("data/Lumora/Results")).absolutePath());

        // Only a real launch keeps its device key in the keychain; a preview makes one in memory.
        const auto stored = test::awaitTask(home.keychain->values.data(DeviceIdentity::storeAccount()));
        ASSERT_TRUE(stored.has_value());
        EXPECT_EQ(stored->bytes.has_value(),
            row.arguments.filter(QRegularExpression("^--ui-(smoke|sign-in|agreement)$")).isEmpty());
    }
}

TEST(SessionViewModelConstruction, TheInfoResourceIsCompiledIn)
{
    const InfoResource info = InfoResource::bundled();
    EXPECT_TRUE(info.string(InfoResource::shortVersionKey).has_value());
    EXPECT_TRUE(info.signInHost().has_value());
    EXPECT_TRUE(info.speechServiceURL().has_value());
}

TEST(SessionViewModelConstruction, AppVersionFallsBackForMissingValues)
{
    ViewModelHome home;
    home.info = QJsonObject { { "CFBundleVersion", 12 } };
    EXPECT_EQ(home.viewModel()->appVersion(), "development+local");
}

enum class Breakage {
    none,
    keychainRefusesDeviceKey,
    noDataFolder,
    resultsFolder,
    diagnosticsFolder,
    temporaryRoot
};

struct StorageCase {
    const char* name;
    QStringList arguments;
    Breakage breakage;
    bool failureShown;
    bool storesBuilt; // result and backup stores
    bool sentinel;
    bool temporaryStore;
};

TEST(SessionViewModelConstruction, StorageThatCannotBePreparedStopsTheStartUp)
{
    const StorageCase cases[] {
        { "everything builds", {}, Breakage::none, false, true, true, true },
        { "keychain refuses the device key", {}, Breakage::keychainRefusesDeviceKey, true, false, false,
            true },
        { "a preview keeps its device key in memory", { "--ui-sign-in" }, Breakage::keychainRefusesDeviceKey,
            false, true, true, true },
        { "no data folder", {}, Breakage::noDataFolder, true, false, false, true },
        { "no data folder, sign-in preview: silent", { "--ui-sign-in" }, Breakage::noDataFolder, false, false,
            false, true },
        { "no data folder, agreement preview: silent", { "--ui-agreement" }, Breakage::noDataFolder, false,
            false, false, true },
        { "no data folder, smoke: shown", { "--ui-smoke" }, Breakage::noDataFolder, true, false, false,
            true },
        { "results folder taken", {}, Breakage::resultsFolder, true, false, false, true },
        { "diagnostics folder taken: no sentinel, nothing said", {}, Breakage::diagnosticsFolder, false, true,
            false, true },
        { "temporary root taken", {}, Breakage::temporaryRoot, true, false, false, false },
    };
    for (const StorageCase& row : cases) {
        SCOPED_TRACE(row.name);
        ViewModelHome home;
        // A recording left over from two days ago, which the start-up sweeps away.
        ASSERT_TRUE(QDir().mkpath(home.path("tmp/Lumora-Conversation")));
        const QString leftOver = home.path("tmp/Lumora-Conversation/recording.m4a");
        QFile marker(leftOver);
        ASSERT_TRUE(marker.open(QIODevice::WriteOnly));
        ASSERT_TRUE(marker.setFileTime(home.now.addDays(-2), QFileDevice::FileModificationTime));
        marker.close();

        switch (row.breakage) {
        case Breakage::none:
            break;
        case Breakage::keychainRefusesDeviceKey:
            home.keychain->failingReads.insert(DeviceIdentity::storeAccount());
            break;
        case Breakage::noDataFolder:
            home.block("data");
            home.applicationSupport = home.path("data/share");
            break;
        case Breakage::resultsFolder:
            ASSERT_TRUE(QDir().mkpath(home.path("data/Lumora")));
            home.block("data/Lumora/Results");
            break;
        case Breakage::diagnosticsFolder:
            ASSERT_TRUE(QDir().mkpath(home.path("data/Lumora")));
            home.block("data/Lumora/Diagnostics");
            break;
        case Breakage::temporaryRoot:
            home.block("taken");
            home.temporaryRoot = home.path("taken");
            break;
        }

        const auto model = home.viewModel(row.arguments);
        ASSERT_TRUE(model->isStartUpFinished());
        EXPECT_EQ(model->errorMessage(),
            row.failureShown ? std::optional(QStringLiteral("Secure local storage could not be prepared."))
                             : std::nullopt);
        EXPECT_EQ(model->statusText(), "Sign in to begin");
        EXPECT_EQ(model->resultStore() != nullptr, row.storesBuilt);
        EXPECT_EQ(model->backupStore() != nullptr, row.storesBuilt);
        EXPECT_EQ(model->launchSentinel().has_value(), row.sentinel);
        EXPECT_EQ(model->temporaryStore().has_value(), row.temporaryStore);
        // A recording left by a crash goes whatever else fails: only the temporary folder itself
        // is needed.
        EXPECT_EQ(QFile::exists(leftOver), !row.temporaryStore) << leftOver.toStdString();
    }
}

} // namespace
} // namespace lumora

namespace lumora {
namespace {

// The start-up sweep removes what ended conversations left on a pool thread, not on the GUI
// thread: with the pool held busy, the start-up has come to the sweep and this thread's loop
// turns while every folder is still there; once the pool is free, they go.
TEST(SessionViewModelConstruction, TheStartUpSweepRunsAwayFromTheGUIThread)
{
    ViewModelHome home;
    const QDir root(home.temporaryRoot);
    ASSERT_TRUE(QDir().mkpath(home.temporaryRoot));
    QStringList folders;
    for (int i = 0; i < 20; ++i) {
        folders.append(QUuid::createUuid().toString(QUuid::WithoutBraces));
        ASSERT_TRUE(root.mkdir(folders.last()));
        QFile recording(root.filePath(folders.last() + u"/recording.m4a"_qs));
        ASSERT_TRUE(recording.open(QIODevice::WriteOnly));
    }
    QThreadPool& pool = *QThreadPool::globalInstance();
    const int threads = pool.maxThreadCount();
    pool.setMaxThreadCount(1);
    QSemaphore busy;
    pool.start([&busy] { busy.acquire(); });

    auto model = std::make_unique<SessionViewModel>(home.environment());
    while (!model->isStartUpFinished())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    QCoreApplication::processEvents();
    EXPECT_EQ(root.entryList(QDir::Dirs | QDir::NoDotAndDotDot).size(), folders.size());

    busy.release();
    pool.setMaxThreadCount(threads);
    testing::settle(*model);
    EXPECT_TRUE(root.isEmpty());
}

} // namespace
} // namespace lumora

namespace lumora {
namespace {

// After a crash or a kill while a conversation recorded, the next start removes its audio and
// says, once, that the conversation was lost; one whose finish had sealed its review keeps that
// review, and nothing is said. The reservation noted beside the recording, as earlier versions
// did, is taken over as a mark with the application's data, to be closed once an account answers.
TEST(SessionViewModelConstruction, ARecordingLeftByACrashIsRemovedAndItsLossToldOnce)
{
    ViewModelHome home;
    const QUuid reservation = QUuid::createUuid();
    const auto leaveRecording = [&](const QUuid& session) {
        const QString folder = home.temporaryRoot + u'/' + session.toString(QUuid::WithoutBraces);
        EXPECT_TRUE(QDir().mkpath(folder));
        QFile recording(folder + u"/recording.m4a"_qs);
        EXPECT_TRUE(recording.open(QIODevice::WriteOnly) && recording.write("audio") == 5);
        QFile note(folder + u"/reservation"_qs);
        EXPECT_TRUE(note.open(QIODevice::WriteOnly) && note.write(reservation.toByteArray()) > 0);
        return recording.fileName();
    };
    const QUuid lostSession = QUuid::createUuid();
    const QString lost = leaveRecording(lostSession);
    // A minute later: the note is kept as long as its reservation may be open.
    home.now = QDateTime::currentDateTimeUtc().addSecs(60);
    auto model = home.viewModel();
    EXPECT_EQ(model->errorMessage(), SessionViewModel::lostRecordingMessage());
    EXPECT_FALSE(QFile::exists(lost));
    EXPECT_TRUE(QDir(home.temporaryRoot).isEmpty());
    using Mark = ConversationMarks::Mark;
    EXPECT_EQ(model->marks()->list().value(),
        (QList<Mark> { { lostSession, reservation, ConversationMarks::State::reservationOpen } }));
    ASSERT_TRUE(model->marks()->removeAll());
    model.reset();
    model = home.viewModel();
    EXPECT_EQ(model->errorMessage(), std::nullopt) << "said once";
    model.reset();

    DerivedSessionResult sealed;
    sealed.id = QUuid::createUuid();
    sealed.completedAt = home.now;
    sealed.summary = u"Heard live."_qs;
    {
        const auto results = EncryptedResultStore::create(home.path("data/Lumora/Results"), home.keychain);
        ASSERT_TRUE(results.has_value());
        ASSERT_TRUE(test::awaitTask((*results)->save(sealed)).has_value());
    }
    const QString cutShort = leaveRecording(sealed.id);
    model = home.viewModel();
    EXPECT_EQ(model->errorMessage(), std::nullopt);
    EXPECT_FALSE(QFile::exists(cutShort));
    ASSERT_EQ(model->results().size(), 1);
    EXPECT_EQ(model->results().first().id, sealed.id);
}

} // namespace
} // namespace lumora
