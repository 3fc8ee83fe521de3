#include "SingleInstance.hpp"

#include <QFileInfo>
#include <QLocalSocket>
#include <QLockFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace lumora {
namespace {

// Sends raw bytes as a later launch would, then waits until the instance has dealt with them.
void sendRaw(const QString& path, const QByteArray& bytes)
{
    QLocalSocket socket;
    socket.connectToServer(path);
    ASSERT_TRUE(socket.waitForConnected(60000));
    socket.write(bytes);
    socket.waitForBytesWritten(60000);
    QSignalSpy gone(&socket, &QLocalSocket::disconnected);
    socket.flush();
    gone.wait(60000);
}

TEST(SingleInstance, HandsOneURLToTheRunningInstanceOnly)
{
    QTemporaryDir runtime;
    const QString path = runtime.filePath("lumora-instance");
    EXPECT_FALSE(SingleInstance::handOff(path, QUrl("lumora://auth/callback"))) << "nobody is running yet";

    SingleInstance running(path);
    ASSERT_TRUE(running.listen());
    EXPECT_EQ(QFileInfo(path).permissions()
            & (QFile::ReadGroup | QFile::WriteGroup | QFile::ReadOther | QFile::WriteOther),
        QFile::Permissions())
        << "only the owner may connect";
    SingleInstance second(path);
    EXPECT_FALSE(second.listen()) << "a second instance does not take over a live socket";
    EXPECT_TRUE(second.heldByAnother());

    QSignalSpy urls(&running, &SingleInstance::urlReceived);
    QSignalSpy activations(&running, &SingleInstance::activationRequested);
    const QUrl callback("lumora://auth/callback?code=abc&state=xyz");
    EXPECT_TRUE(SingleInstance::handOff(path, callback));
    ASSERT_TRUE(urls.wait(60000));
    EXPECT_EQ(urls.front().front().toUrl(), callback);

    EXPECT_TRUE(SingleInstance::handOff(path, QUrl()));
    ASSERT_TRUE(activations.wait(60000));
    EXPECT_EQ(urls.count(), 1) << "a launch without a URL only activates";
}

TEST(SingleInstance, RefusesWhatIsNotOneShortURL)
{
    QTemporaryDir runtime;
    const QString path = runtime.filePath("lumora-instance");
    SingleInstance running(path);
    ASSERT_TRUE(running.listen());
    QSignalSpy urls(&running, &SingleInstance::urlReceived);

    sendRaw(path, "lumora://a/" + QByteArray(SingleInstance::maximumMessageBytes, 'x') + "\n");
    sendRaw(path, "no newline and then gone");
    sendRaw(path, "not a url at all\n");
    sendRaw(path, QByteArray("lumora://a/\x01\x02\n"));
    sendRaw(path, "relative/path\n");
    QCoreApplication::processEvents();
    EXPECT_EQ(urls.count(), 0);

    // After all that, a proper hand-off still arrives.
    EXPECT_TRUE(SingleInstance::handOff(path, QUrl("corvane://auth/callback")));
    ASSERT_TRUE(urls.wait(60000));
    EXPECT_EQ(urls.back().front().toUrl(), QUrl("corvane://auth/callback"));
}

// Two launches at one moment: the one that took the lock first has not listened yet, and the
// other leaves its place to it rather than listening at the same path.
TEST(SingleInstance, ALaunchAtTheSameMomentLeavesThePlaceToTheFirst)
{
    QTemporaryDir runtime;
    const QString path = runtime.filePath("lumora-instance");
    QLockFile first(path + ".lock");
    ASSERT_TRUE(first.tryLock(0));
    SingleInstance later(path);
    EXPECT_FALSE(later.listen());
    EXPECT_TRUE(later.heldByAnother());
    EXPECT_FALSE(QFileInfo::exists(path));
}

TEST(SingleInstance, ReplacesASocketLeftByACrashedRun)
{
    QTemporaryDir runtime;
    const QString path = runtime.filePath("lumora-instance");
    {
        QFile leftover(path);
        ASSERT_TRUE(leftover.open(QIODevice::WriteOnly));
    }
    SingleInstance running(path);
    EXPECT_TRUE(running.listen());
}

} // namespace
} // namespace lumora

namespace lumora {
namespace {

// A later launch hands its URL (a sign-in ticket among them) to whoever listens at the path:
// never a path in a folder that someone else may write to, and so listen at first.
TEST(SingleInstance, TheSocketLivesOnlyInARuntimeFolderOfThisUserAlone)
{
    QTemporaryDir runtime;
    ASSERT_TRUE(
        QFile::setPermissions(runtime.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    QTemporaryDir shared;
    ASSERT_TRUE(QFile::setPermissions(shared.path(),
        QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadOther | QFile::WriteOther
            | QFile::ExeOther));
    const QString linked = shared.filePath("runtime-link");
    ASSERT_TRUE(QFile::link(runtime.path(), linked));
    const QByteArray saved = qgetenv("XDG_RUNTIME_DIR");
    const std::pair<QString, bool> cases[] = {
        { runtime.path(), true },
        { shared.path(), false },
        { linked, false },
        { u"relative/run"_qs, false },
    };
    for (const auto& [folder, used] : cases) {
        SCOPED_TRACE(folder.toStdString());
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(folder));
        const QString path = SingleInstance::standardSocketPath();
        EXPECT_EQ(path.startsWith(folder + u'/'), used) << path.toStdString();
        EXPECT_TRUE(path.endsWith(u"/lumora-instance"_qs));
    }
    qputenv("XDG_RUNTIME_DIR", saved);
}

} // namespace
} // namespace lumora
