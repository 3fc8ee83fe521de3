#include "persistence/PrivateFiles.hpp"

#include "../security/TestKeyStore.hpp"
#include "TestFiles.hpp"
#include "persistence/ConversationBackupStore.hpp"
#include "persistence/DataFolderLock.hpp"
#include "persistence/EncryptedResultStore.hpp"
#include "persistence/LaunchSentinel.hpp"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <csignal>
#include <fcntl.h>
#include <functional>
#include <gtest/gtest.h>
#include <iostream>
#include <sys/file.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <unistd.h>

using namespace lumora;
using lumora::test::awaitTask;

namespace {

DerivedSessionResult review(const QString& summary)
{
    DerivedSessionResult r;
    r.id = QUuid(u"{55555555-5555-4555-8555-555555555555}"_qs);
    r.completedAt = QDateTime::fromSecsSinceEpoch(1'700'000'000, Qt::UTC);
    r.duration = 30;
    r.summary = summary;
    return r;
}

// A folder on a 64 KiB file system of its own (needs root to mount; absent otherwise).
struct SmallDisk {
    QTemporaryDir mountPoint;
    bool mounted
        = ::mount("tmpfs", QFile::encodeName(mountPoint.path()).constData(), "tmpfs", 0, "size=64k") == 0;
    ~SmallDisk()
    {
        if (mounted)
            ::umount2(QFile::encodeName(mountPoint.path()).constData(), MNT_DETACH);
    }
};

// Ways a disk refuses a write part-way: each makes writes fail until `allow` is called.
struct Refusal {
    const char* name;
    std::function<void(const QString& folder)> refuse;
    std::function<void(const QString& folder)> allow;
};

void fill(const QString& folder)
{
    QFile filler(folder + u"/filler"_qs);
    ASSERT_TRUE(filler.open(QIODevice::WriteOnly | QIODevice::Unbuffered));
    const QByteArray block(1024, 'f');
    while (filler.write(block) == block.size()) { }
}

rlimit savedLimit {};

} // namespace

// The preferences (the partners' names among them) are the owner's alone, whether the file is
// new or an earlier build left it readable by everyone, and stay so when Qt rewrites them.
TEST(PrivateFiles, APreferencesFileIsMadeOwnerOnlyAndStaysSo)
{
    QTemporaryDir folder;
    const QString fresh = folder.filePath("config/Lumora/Lumora.conf");
    const QString earlier = folder.filePath("earlier.conf");
    test::overwrite(earlier, "[General]\ncorvane.participantName.left=Ada\n");
    ASSERT_TRUE(QFile::setPermissions(
        earlier, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther));
    for (const QString& path : { fresh, earlier }) {
        SCOPED_TRACE(path.toStdString());
        ASSERT_TRUE(privatefiles::makeOwnerOnly(path).has_value());
        EXPECT_EQ(test::modeOf(path), 0600);
        QSettings preferences(path, QSettings::IniFormat);
        preferences.setValue("corvane.participantName.right", "Bo");
        preferences.sync();
        EXPECT_EQ(preferences.status(), QSettings::NoError);
        EXPECT_EQ(test::modeOf(path), 0600) << "rewritten";
    }
    EXPECT_EQ(QSettings(earlier, QSettings::IniFormat).value("corvane.participantName.left"), "Ada");

    // A link in its place is not followed.
    const QString target = folder.filePath("elsewhere");
    test::overwrite(target, "x");
    ASSERT_TRUE(QFile::setPermissions(target, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadOther));
    ASSERT_TRUE(QFile::link(target, folder.filePath("linked.conf")));
    EXPECT_FALSE(privatefiles::makeOwnerOnly(folder.filePath("linked.conf")).has_value());
    EXPECT_EQ(test::modeOf(target), 0604);
}

// A full disk once made a save report success and left an empty file in place of the good one.
TEST(PrivateFiles, AWriteTheDiskRefusesFailsAndLeavesTheEarlierFileReadable)
{
    const Refusal refusals[] = {
        { "full disk", fill, [](const QString& folder) { QFile::remove(folder + u"/filler"_qs); } },
        { "file size limit",
            [](const QString&) {
                std::signal(SIGXFSZ, SIG_IGN);
                ::getrlimit(RLIMIT_FSIZE, &savedLimit);
                rlimit limit = savedLimit;
                limit.rlim_cur = 4096;
                ::setrlimit(RLIMIT_FSIZE, &limit);
            },
            [](const QString&) { ::setrlimit(RLIMIT_FSIZE, &savedLimit); } },
    };
    for (const Refusal& refusal : refusals) {
        SCOPED_TRACE(refusal.name);
        SmallDisk disk;
        QTemporaryDir ordinary;
        if (std::string_view(refusal.name) == "full disk" && !disk.mounted) {
            // Mounting needs root; the injected failure below still covers the same path.
            std::cout << "No small disk could be mounted here; full-disk case not run\n";
            continue;
        }
        const QString folder
            = (disk.mounted ? disk.mountPoint.path() : ordinary.path()) + u"/Lumora/Results"_qs;
        auto keys = std::make_shared<test::TestKeyStore>();
        const auto store = EncryptedResultStore::create(folder, keys).value();
        const DerivedSessionResult good = review(u"good"_qs);
        ASSERT_TRUE(awaitTask(store->save(good)).has_value());
        const QString plain = folder + u"/plain"_qs;
        ASSERT_TRUE(privatefiles::writeFile(plain, "good").has_value());

        // Larger than what is left, smaller than a write buffer: only the flush could fail.
        const DerivedSessionResult larger = review(QString(8000, u'n'));
        refusal.refuse(folder);
        const auto saved = awaitTask(store->save(larger));
        const auto written = privatefiles::writeFile(plain, QByteArray(8000, 'n'));
        refusal.allow(folder);
        ASSERT_FALSE(saved.has_value());
        EXPECT_TRUE(std::holds_alternative<FileSystemError>(saved.error()));
        EXPECT_FALSE(written.has_value());
        EXPECT_EQ(awaitTask(store->load(good.id)).value().result, good);
        EXPECT_EQ(test::contents(plain), "good");
        EXPECT_TRUE(QDir(folder).entryList({ u"*.tmp-*"_qs }, QDir::Files | QDir::Hidden).isEmpty());

        ASSERT_TRUE(awaitTask(store->save(larger)).has_value());
        EXPECT_EQ(awaitTask(store->load(good.id)).value().result, larger);
    }
}

TEST(DataFolderLock, ASecondProcessOpensNoStoreWhileTheFirstHoldsItsFolder)
{
    QTemporaryDir temporary;
    const QString data = temporary.path() + u"/Lumora"_qs;
    auto keys = std::make_shared<test::TestKeyStore>();
    const auto lockFile
        = [](const QString& folder) { return QFile::encodeName(folder + u'/' + DataFolderLock::fileName()); };
    // Another process's lock is another open file, which flock keeps apart even in this one.
    const auto takenElsewhere = [&](const QString& folder) {
        EXPECT_TRUE(QDir().mkpath(folder));
        const int other = ::open(lockFile(folder).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        EXPECT_EQ(::flock(other, LOCK_EX), 0);
        return other;
    };
    const std::pair<QString, std::function<std::optional<FileSystemError>(const QString&)>> stores[] = {
        { u"Results"_qs,
            [&](const QString& folder) {
                auto store = EncryptedResultStore::create(folder, keys);
                return store ? std::nullopt : std::optional(store.error());
            } },
        { u"Backup"_qs,
            [&](const QString& folder) {
                auto store = ConversationBackupStore::create(folder, keys);
                return store ? std::nullopt : std::optional(store.error());
            } },
        { u"Diagnostics"_qs,
            [&](const QString& folder) {
                auto sentinel = LaunchSentinel::create(folder);
                return sentinel ? std::nullopt : std::optional(sentinel.error());
            } },
    };
    for (const auto& [name, open] : stores) {
        SCOPED_TRACE(name.toStdString());
        const QString folder = data + u'/' + name;
        const int other = takenElsewhere(folder);
        const auto refused = open(folder);
        ASSERT_TRUE(refused.has_value());
        EXPECT_EQ(refused->reason, DataFolderLock::inUseReason());
        EXPECT_FALSE(QFile::exists(folder + u"/launch-active"_qs));
        ::close(other);
        EXPECT_EQ(open(folder), std::nullopt);
    }

    // This process's stores of one folder share its one lock, and another process is refused
    // until the last of them is gone.
    const QString results = data + u"/Results"_qs;
    auto first = EncryptedResultStore::create(results, keys);
    auto second = EncryptedResultStore::create(results, keys);
    ASSERT_TRUE(first.has_value() && second.has_value());
    EXPECT_EQ(test::modeOf(QString::fromLocal8Bit(lockFile(results))), 0600);
    const int again = ::open(lockFile(results).constData(), O_RDWR | O_CLOEXEC);
    ASSERT_GE(again, 0);
    EXPECT_NE(::flock(again, LOCK_EX | LOCK_NB), 0);
    first->reset();
    EXPECT_NE(::flock(again, LOCK_EX | LOCK_NB), 0);
    second->reset();
    EXPECT_EQ(::flock(again, LOCK_EX | LOCK_NB), 0);
    ::close(again);
}

// A process ended between an atomic write's temporary file and its rename leaves the file
// behind; the next store to take the folder removes it, and nothing else.
TEST(DataFolderLock, TakingAFolderRemovesWhatInterruptedWritesLeft)
{
    QTemporaryDir temporary;
    auto keys = std::make_shared<test::TestKeyStore>();
    const QString suffix = privatefiles::temporarySuffix();
    const std::pair<QString, std::function<bool(const QString&)>> stores[] = {
        { u"Results"_qs,
            [&](const QString& folder) { return EncryptedResultStore::create(folder, keys).has_value(); } },
        { u"Backup"_qs,
            [&](const QString& folder) {
                return ConversationBackupStore::create(folder, keys).has_value();
            } },
        { u"Diagnostics"_qs,
            [&](const QString& folder) { return LaunchSentinel::create(folder).has_value(); } },
    };
    for (const auto& [name, open] : stores) {
        SCOPED_TRACE(name.toStdString());
        const QString folder = temporary.path() + u'/' + name;
        ASSERT_TRUE(QDir().mkpath(folder));
        const QStringList leftovers { u"state.json"_qs + suffix + u"Ab12Cd"_qs,
            u"."_qs + suffix + u"zzzzzz"_qs };
        const QStringList others { u"notes"_qs + suffix + u"12"_qs, u"a"_qs + suffix + u"Ab12Cd.json"_qs,
            u"plain.json"_qs };
        for (const QString& file : leftovers + others)
            ASSERT_TRUE(privatefiles::writeFile(folder + u'/' + file, "left"));
        const QString folderLike = folder + u"/old"_qs + suffix + u"Xy34Zw"_qs;
        ASSERT_TRUE(QDir().mkpath(folderLike));
        ASSERT_TRUE(open(folder));
        for (const QString& file : leftovers)
            EXPECT_FALSE(QFile::exists(folder + u'/' + file)) << file.toStdString();
        for (const QString& file : others)
            EXPECT_TRUE(QFile::exists(folder + u'/' + file)) << file.toStdString();
        EXPECT_TRUE(QFileInfo(folderLike).isDir());
    }
}

// Run only by the test below, in a process of its own, on the folder it names.
TEST(DataFolderLock, DISABLED_SecondProcessTriesTheBackupStore)
{
    const QString folder = qEnvironmentVariable("LUMORA_TEST_BACKUP_FOLDER");
    ASSERT_FALSE(folder.isEmpty());
    const auto store = ConversationBackupStore::create(folder, std::make_shared<test::TestKeyStore>());
    std::cout << (store ? std::string("opened") : "refused: " + store.error().reason.toStdString())
              << std::endl;
}

TEST(DataFolderLock, AnotherInstanceCannotOpenTheBackupStoreThisOneUses)
{
    QTemporaryDir temporary;
    const QString folder = temporary.path() + u"/Lumora/Backup"_qs;
    const auto secondProcess = [&folder] {
        QProcess child;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(u"LUMORA_TEST_BACKUP_FOLDER"_qs, folder);
        child.setProcessEnvironment(environment);
        child.start(QCoreApplication::applicationFilePath(),
            { u"--gtest_also_run_disabled_tests"_qs,
                u"--gtest_filter=DataFolderLock.DISABLED_SecondProcessTriesTheBackupStore"_qs });
        EXPECT_TRUE(child.waitForFinished(30000));
        return child.readAllStandardOutput();
    };
    {
        const auto store = ConversationBackupStore::create(folder, std::make_shared<test::TestKeyStore>());
        ASSERT_TRUE(store.has_value());
        EXPECT_TRUE(secondProcess().contains("refused: " + DataFolderLock::inUseReason().toUtf8()));
    }
    EXPECT_TRUE(secondProcess().contains("opened"));
}
