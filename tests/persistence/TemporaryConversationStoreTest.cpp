#include "persistence/TemporaryConversationStore.hpp"

#include "FailsWith.hpp"
#include "TestFiles.hpp"
#include "domain/JsonWriting.hpp"

#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace lumora;
using lumora::test::modeOf;

namespace {

const QUuid sessionID("{6f1c2a3b-4d5e-4f60-8172-93a4b5c6d7e8}");
const QDateTime now = QDateTime::fromSecsSinceEpoch(1'800'000'000, Qt::UTC);

// Sets the entry's own modification time, `secondsBeforeNow` before `now`.
void age(const QString& path, qint64 secondsBeforeNow)
{
    const timespec times[2] = { { time_t(now.toSecsSinceEpoch() - secondsBeforeNow), 0 },
        { time_t(now.toSecsSinceEpoch() - secondsBeforeNow), 0 } };
    ASSERT_EQ(::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, AT_SYMLINK_NOFOLLOW), 0)
        << path.toStdString();
}

struct Fixture {
    QTemporaryDir temporary;
    QString rootPath = temporary.path() + u"/Lumora-Conversation"_qs;
    TemporaryConversationStore store = TemporaryConversationStore::create(rootPath).value();
};

} // namespace

TEST(TemporaryConversationStore, RootIsAPrivateFolderOfThisUser)
{
    Fixture f;
    EXPECT_EQ(f.store.root(), f.rootPath);
    EXPECT_EQ(modeOf(f.rootPath), 0700);

    ASSERT_EQ(::chmod(QFile::encodeName(f.rootPath).constData(), 0777), 0);
    ASSERT_TRUE(TemporaryConversationStore::create(f.rootPath).has_value());
    EXPECT_EQ(modeOf(f.rootPath), 0700);

    QTemporaryDir elsewhere;
    const QString linked = f.temporary.path() + u"/linked"_qs;
    ASSERT_TRUE(QFile::link(elsewhere.path(), linked));
    const QString plainFile = f.temporary.path() + u"/plain"_qs;
    test::overwrite(plainFile);
    for (const QString& root : { linked, plainFile }) {
        SCOPED_TRACE(root.toStdString());
        const auto refused = TemporaryConversationStore::create(root);
        ASSERT_FALSE(refused.has_value());
        EXPECT_THAT(refused, FailsWith(TemporaryStoreFailure(TemporaryStoreError::unsafeRoot)));
    }
    EXPECT_EQ(modeOf(elsewhere.path()), 0700);
}

TEST(TemporaryConversationStore, StandardRootIsTheUsersOwn)
{
    QTemporaryDir runtime;
    ASSERT_EQ(::chmod(QFile::encodeName(runtime.path()).constData(), 0700), 0);
    QTemporaryDir shared;
    ASSERT_EQ(::chmod(QFile::encodeName(shared.path()).constData(), 0777), 0);
    const QString cache = QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation);
    const QByteArray saved = qgetenv("XDG_RUNTIME_DIR");
    const bool wasSet = qEnvironmentVariableIsSet("XDG_RUNTIME_DIR");
    const std::pair<std::optional<QString>, QString> cases[] = {
        { runtime.path(), runtime.path() },
        { std::nullopt, cache },
        { QString(), cache },
        { u"relative/run"_qs, cache },
        { runtime.path() + u"/missing"_qs, cache },
        // A folder others may write to is no runtime folder of this user.
        { shared.path(), cache },
    };
    for (const auto& [variable, base] : cases) {
        SCOPED_TRACE(variable.value_or(u"(unset)"_qs).toStdString());
        if (variable)
            qputenv("XDG_RUNTIME_DIR", variable->toLocal8Bit());
        else
            qunsetenv("XDG_RUNTIME_DIR");
        EXPECT_EQ(TemporaryConversationStore::standardRoot(), base + u"/Lumora-Conversation"_qs);
    }
    if (wasSet)
        qputenv("XDG_RUNTIME_DIR", saved);
    else
        qunsetenv("XDG_RUNTIME_DIR");
}

TEST(TemporaryConversationStore, FilesAreWrittenOnlyInsideASessionFolder)
{
    Fixture f;
    const QString folder = f.store.createSessionDirectory(sessionID).value();
    EXPECT_EQ(folder, f.rootPath + u"/6f1c2a3b-4d5e-4f60-8172-93a4b5c6d7e8"_qs);
    EXPECT_EQ(modeOf(folder), 0700);
    const QString file = f.store.write("audio", u"recording.m4a"_qs, folder).value();
    EXPECT_EQ(file, folder + u"/recording.m4a"_qs);
    EXPECT_EQ(modeOf(file), 0600);
    EXPECT_EQ(f.store.write("again", u"recording.m4a"_qs, folder + u"/./"_qs).value(), file);

    ASSERT_TRUE(QDir(folder).mkdir(u"nested"_qs));
    for (const QString& directory :
        { folder + u"/nested"_qs, f.rootPath, f.temporary.path(), folder + u"/nested/../../../x"_qs }) {
        SCOPED_TRACE(directory.toStdString());
        EXPECT_THAT(f.store.write("x", u"a"_qs, directory),
            FailsWith(TemporaryStoreFailure(TemporaryStoreError::outsideRoot)));
    }
    for (const QString& name : { u"../escape"_qs, u".."_qs, QString() }) {
        SCOPED_TRACE(name.toStdString());
        EXPECT_THAT(f.store.write("x", name, folder),
            FailsWith(TemporaryStoreFailure(TemporaryStoreError::invalidName)));
    }
    EXPECT_FALSE(QFile::exists(f.temporary.path() + u"/escape"_qs));
    EXPECT_FALSE(QFile::exists(f.rootPath + u"/a"_qs));

    // Making the folder of the same session again starts it empty.
    EXPECT_EQ(f.store.createSessionDirectory(sessionID).value(), folder);
    EXPECT_TRUE(QDir(folder).isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden));
}

TEST(TemporaryConversationStore, RemovingSessionFolders)
{
    Fixture f;
    const QString folder = f.store.createSessionDirectory(sessionID).value();
    test::overwrite(folder + u"/recording.m4a"_qs);
    ASSERT_TRUE(f.store.removeSessionDirectory(folder).has_value());
    EXPECT_FALSE(QFileInfo::exists(folder));
    EXPECT_TRUE(f.store.removeSessionDirectory(folder).has_value());

    EXPECT_TRUE(f.store.removeSessionDirectory(f.temporary.path()).has_value());
    EXPECT_TRUE(f.store.removeSessionDirectory(f.rootPath).has_value());
    EXPECT_TRUE(QFileInfo(f.rootPath).isDir());

    QTemporaryDir outside;
    test::overwrite(outside.path() + u"/keep"_qs);
    const QString link = f.rootPath + u"/linked"_qs;
    ASSERT_TRUE(QFile::link(outside.path(), link));
    ASSERT_TRUE(f.store.removeSessionDirectory(link).has_value());
    EXPECT_FALSE(QFileInfo(link).isSymLink());
    EXPECT_TRUE(QFile::exists(outside.path() + u"/keep"_qs));
}

// A session folder that no process holds locked belongs to a conversation that has ended (a
// crash, a forced quit): it is removed whatever its age. What cannot be proven dead that way
// (files, links) goes once it is a day old.
TEST(TemporaryConversationStore, SweepRemovesEveryUnlockedFolderAndOtherEntriesADayOld)
{
    Fixture f;
    QTemporaryDir outside;
    test::overwrite(outside.path() + u"/keep"_qs);
    struct Case {
        QString name;
        enum { folder, file, link } kind;
        qint64 age;
        bool removed;
    };
    const Case cases[] = {
        { u"a-exactly-a-day"_qs, Case::folder, 86400, true },
        { u"b-a-second-short"_qs, Case::folder, 86399, true },
        { u"c-from-the-future"_qs, Case::folder, -3600, true },
        { u"d-just-left-by-a-crash"_qs, Case::folder, 5, true },
        { u"e-file-exactly-a-day"_qs, Case::file, 86400, true },
        { u"f-file-a-second-short"_qs, Case::file, 86399, false },
        // A clock set back must not keep a file forever.
        { u"g-file-from-the-future"_qs, Case::file, -3600, true },
        { u"h-old-link"_qs, Case::link, 200000, true },
        { u"i-new-link"_qs, Case::link, 10, false },
        { u".hidden-old"_qs, Case::folder, 200000, false },
    };
    for (const Case& c : cases) {
        const QString path = f.rootPath + u'/' + c.name;
        if (c.kind == Case::folder) {
            ASSERT_TRUE(QDir(f.rootPath).mkdir(c.name));
            test::overwrite(path + u"/inside"_qs);
        } else if (c.kind == Case::file) {
            test::overwrite(path);
        } else {
            ASSERT_TRUE(QFile::link(outside.path(), path));
        }
        age(path, c.age);
    }
    age(outside.path(), 300000);

    // Recordings that still run, here and in another instance, are locked and never swept,
    // however old or new their folders look.
    const QString live = f.store.createSessionDirectory(sessionID).value();
    test::overwrite(live + u"/recording.m4a"_qs);
    age(live, 200000);
    const QString otherLive = f.rootPath + u"/0a1b2c3d-4e5f-4061-8273-94a5b6c7d8e9"_qs;
    ASSERT_TRUE(QDir(f.rootPath).mkdir(QFileInfo(otherLive).fileName()));
    const int otherLock
        = ::open(QFile::encodeName(otherLive).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_EQ(::flock(otherLock, LOCK_EX), 0);
    age(otherLive, -3600);

    const QStringList removed = f.store.sweepExpired(now).value().removed;
    EXPECT_TRUE(QFile::exists(live + u"/recording.m4a"_qs));
    EXPECT_TRUE(QFileInfo(otherLive).isDir());
    ::close(otherLock);
    // Once finished (or its process gone) the folder is swept like any other.
    EXPECT_EQ(f.store.sweepExpired(now).value().removed, QStringList { otherLive });
    EXPECT_TRUE(f.store.removeSessionDirectory(live).has_value());
    const QString again = f.store.createSessionDirectory(sessionID).value();
    age(again, 200000);
    ASSERT_TRUE(f.store.removeSessionDirectory(again).has_value());
    QStringList expected;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name.toStdString());
        const QString path = f.rootPath + u'/' + c.name;
        EXPECT_EQ(QFileInfo::exists(path) || QFileInfo(path).isSymLink(), !c.removed);
        if (c.removed)
            expected.append(path);
    }
    EXPECT_EQ(removed, expected);
    EXPECT_TRUE(QFile::exists(outside.path() + u"/keep"_qs));
}

// Earlier versions left a conversation that ended without its finish (a crash, a kill) or whose
// finish could not reach the control plane with the note of its reservation in its folder: the
// recording goes at once, the note stays for whoever closes the reservation, for a day at most,
// and each session is named as having lost its recording only once.
TEST(TemporaryConversationStore, AReservationNoteOutlivesItsRecordingUntilClosedOrADayOld)
{
    Fixture f;
    const QUuid reservation("{0b1c2d3e-4f50-4162-8374-95a6b7c8d9e0}");
    const QString reservationText = uuidText(reservation, UuidCase::lower);
    const auto leftFolder = [&](const QString& name, qint64 noteAge, bool recording) {
        const QString folder = f.rootPath + u'/' + name;
        EXPECT_TRUE(QDir(f.rootPath).mkdir(name));
        test::overwrite(folder + u"/reservation"_qs, reservationText.toLatin1());
        age(folder + u"/reservation"_qs, noteAge);
        if (recording)
            test::overwrite(folder + u"/recording.m4a"_qs, "audio");
        return folder;
    };
    const QUuid killed("{11111111-2222-4333-8444-555555555555}");
    const QUuid stale("{22222222-3333-4444-8555-666666666666}");
    const QUuid toldBefore("{33333333-4444-4555-8666-777777777777}");
    const QString killedFolder = leftFolder(uuidText(killed, UuidCase::lower), 5, true);
    const QString staleFolder = leftFolder(uuidText(stale, UuidCase::lower), 86400, true);
    const QString toldFolder = leftFolder(uuidText(toldBefore, UuidCase::lower), 60, false);
    const QString unreadable = leftFolder(u"not-a-session"_qs, 60, false);
    test::overwrite(unreadable + u"/reservation"_qs, "no id");
    age(unreadable + u"/reservation"_qs, 60);

    // A running conversation's folder is its own, note and all.
    const QString live = f.store.createSessionDirectory(sessionID).value();
    test::overwrite(live + u"/reservation"_qs, reservationText.toLatin1());
    test::overwrite(live + u"/recording.m4a"_qs, "audio");

    const auto swept = f.store.sweepExpired(now).value();
    EXPECT_EQ(swept.removed, (QStringList { killedFolder + u"/recording.m4a"_qs, staleFolder }));
    EXPECT_EQ(swept.recordingsRemoved, (QList<QUuid> { killed, stale }));
    EXPECT_TRUE(QFile::exists(killedFolder + u"/reservation"_qs));
    EXPECT_TRUE(QFile::exists(live + u"/recording.m4a"_qs));
    using Left = TemporaryConversationStore::LeftReservation;
    EXPECT_EQ(f.store.leftReservations().value(),
        (QList<Left> { { killedFolder, reservation }, { toldFolder, reservation } }));
    // Swept again (the next launch), nothing more is named.
    EXPECT_TRUE(f.store.sweepExpired(now).value().recordingsRemoved.isEmpty());

    for (const QString& closed : { killedFolder, toldFolder, live })
        ASSERT_TRUE(f.store.removeSessionDirectory(closed).has_value());
    EXPECT_TRUE(f.store.leftReservations().value().isEmpty());
}
