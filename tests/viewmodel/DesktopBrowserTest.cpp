#include "viewmodel/DesktopBrowser.hpp"

#include "AwaitTask.hpp"

#include <QFile>
#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>

namespace lumora {
namespace {

// The desktop's opener as a test writes it: a script that notes the page it was given and then
// does what the row says.
QString opener(const QTemporaryDir& folder, const QString& name, const QByteArray& then)
{
    const QString path = folder.filePath(name);
    QFile script(path);
    EXPECT_TRUE(script.open(QIODevice::WriteOnly));
    script.write("#!/bin/sh\nprintf '%s' \"$1\" > \"$0.tmp\" && mv \"$0.tmp\" \"$0.page\"\n" + then + "\n");
    script.close();
    script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    return path;
}

TEST(DesktopBrowser, ABrowserThatEndsAtOnceWithAFailureDidNotOpen)
{
    QTemporaryDir folder;
    const QUrl page("https://127.0.0.1:8443/v1/auth/apple/web?request=a%2Bb&x=1");
    struct Row {
        const char* name;
        QByteArray then;
        bool opened;
        // A row that ends gives its answer at once; the long watch only keeps a loaded machine
        // from deciding too early.
        std::chrono::milliseconds watch = std::chrono::seconds(20);
    };
    // chromium as root without --no-sandbox prints its refusal and exits with 1.
    const Row rows[] = {
        { "refuses to run", "echo 'Running as root without --no-sandbox is not supported.' >&2; exit 1",
            false },
        { "hands the page on and ends", "exit 0", true },
        { "stays in the foreground", "exec sleep 30", true, std::chrono::milliseconds(500) },
        { "killed", "kill -9 $$", false },
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const QString program = opener(folder, QString::fromLatin1(row.name).replace(' ', '-'), row.then);
        EXPECT_EQ(test::awaitTask(DesktopBrowser::open(page, program, row.watch)), row.opened);
        // The one left running may not have got that far yet.
        QFile noted(program + ".page");
        for (int wait = 0; wait < 400 && !noted.exists(); ++wait)
            QThread::msleep(50);
        ASSERT_TRUE(noted.open(QIODevice::ReadOnly));
        EXPECT_EQ(noted.readAll(), page.toString(QUrl::FullyEncoded).toUtf8()) << "the page, as one argument";
    }
    EXPECT_FALSE(test::awaitTask(DesktopBrowser::open(page, folder.filePath("missing"))));
}

} // namespace
} // namespace lumora
