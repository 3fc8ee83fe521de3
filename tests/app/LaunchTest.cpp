#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>
#include <gtest/gtest.h>
#include <optional>

namespace lumora {
namespace {

// Under the sanitizers the program's own exit is not where leaks are looked for: the graphics
// stack (Mesa under Xvfb, Qt's raster paint engine offscreen) keeps allocations to the end of
// the process, and the leak report would replace the exit code the tests read.
void withoutLeakReport(QProcessEnvironment& environment)
{
    const QString options = environment.value("ASAN_OPTIONS");
    environment.insert("ASAN_OPTIONS", options.isEmpty() ? "detect_leaks=0" : options + ":detect_leaks=0");
}

// The real program in a home of its own: its data, settings and runtime folders are the
// test's, and it renders offscreen.
class LaunchTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS"))
            GTEST_SKIP() << "needs the private keyring session (scripts/with-test-session)";
        QDir(m_home.path()).mkpath("data");
        QDir(m_home.path()).mkpath("config");
        QDir(m_home.path()).mkpath("runtime");
        QFile::setPermissions(
            m_home.filePath("runtime"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }

    std::unique_ptr<QProcess> launch(QStringList arguments)
    {
        auto process = std::make_unique<QProcess>();
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("XDG_DATA_HOME", m_home.filePath("data"));
        environment.insert("XDG_CONFIG_HOME", m_home.filePath("config"));
        environment.insert("XDG_RUNTIME_DIR", m_home.filePath("runtime"));
        environment.insert("QT_QPA_PLATFORM", "offscreen");
        withoutLeakReport(environment);
        process->setProcessEnvironment(environment);
        process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        arguments.prepend("--ui-smoke");
        process->start(QStringLiteral(LUMORA_PROGRAM), arguments);
        EXPECT_TRUE(process->waitForStarted(60000));
        return process;
    }

    // The program's surroundings on an X display of the test's own.
    [[nodiscard]] QProcessEnvironment displayEnvironment() const
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("XDG_DATA_HOME", m_home.filePath("data"));
        environment.insert("XDG_CONFIG_HOME", m_home.filePath("config"));
        environment.insert("XDG_RUNTIME_DIR", m_home.filePath("runtime"));
        environment.remove("QT_QPA_PLATFORM");
        withoutLeakReport(environment);
        return environment;
    }

    // What `script` prints when it runs the program (--ui-smoke) under openbox on an X display
    // of 1600 by 1000 of its own; nothing when a tool it uses is not installed. It takes as long
    // as the machine needs: the test's time-out is the only bound.
    std::optional<QString> underWindowManager(const char* script) const
    {
        for (const char* tool :
            { "xvfb-run", "openbox", "wmctrl", "xdotool", "xprop", "xwininfo", "xmessage" }) {
            if (QStandardPaths::findExecutable(tool).isEmpty())
                return std::nullopt;
        }
        QProcess program;
        program.setProcessEnvironment(displayEnvironment());
        program.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        program.start(QStandardPaths::findExecutable("xvfb-run"),
            QStringList { "-a", "-s", "-screen 0 1600x1000x24", QString::fromUtf8(script),
                QStringLiteral(LUMORA_PROGRAM), "--ui-smoke" });
        EXPECT_TRUE(program.waitForFinished(-1)) << script;
        return QString::fromUtf8(program.readAllStandardOutput());
    }

    [[nodiscard]] QString marker() const { return m_home.filePath("data/Lumora/Diagnostics/launch-active"); }

    bool waitForMarker(bool present)
    {
        QElapsedTimer waited;
        waited.start();
        while (QFile::exists(marker()) != present && waited.elapsed() < 60000)
            QTest::qWait(50);
        return QFile::exists(marker()) == present;
    }

    QTemporaryDir m_home;
};

// The launches on an X display of xvfb-run's: they take one display at a time, as every test on
// one does, and as long as a loaded machine needs (their time-out is the suite's longest).
class LaunchOnADisplay : public LaunchTest { };

TEST_F(LaunchTest, AQuitOnTerminationSignalsRemovesTheLaunchMarker)
{
    for (const int signal : { SIGTERM, SIGINT }) {
        const auto running = launch({});
        ASSERT_TRUE(waitForMarker(true)) << "the running application keeps a launch marker";
        ::kill(pid_t(running->processId()), signal);
        ASSERT_TRUE(running->waitForFinished(60000));
        EXPECT_EQ(running->exitStatus(), QProcess::NormalExit) << signal;
        EXPECT_EQ(running->exitCode(), 0) << signal;
        EXPECT_FALSE(QFile::exists(marker())) << "signal " << signal << " ends the run cleanly";
    }
}

TEST_F(LaunchTest, AForcedEndLeavesTheMarker)
{
    const auto running = launch({});
    ASSERT_TRUE(waitForMarker(true));
    running->kill();
    ASSERT_TRUE(running->waitForFinished(60000));
    EXPECT_TRUE(QFile::exists(marker()));
}

TEST_F(LaunchTest, ASecondLaunchHandsItsURLOverAndEnds)
{
    const auto first = launch({});
    ASSERT_TRUE(waitForMarker(true));
    const auto second = launch({ "lumora://auth/callback?state=x" });
    ASSERT_TRUE(second->waitForFinished(60000)) << "the second launch does not stay";
    EXPECT_EQ(second->exitCode(), 0);
    EXPECT_EQ(first->state(), QProcess::Running);
    EXPECT_TRUE(QFile::exists(marker())) << "the second launch did not touch the first one's marker";
    ::kill(pid_t(first->processId()), SIGTERM);
    ASSERT_TRUE(first->waitForFinished(60000));
    EXPECT_FALSE(QFile::exists(marker()));
}

// The preferences hold the partners' names: a file an earlier build left readable by others is
// the owner's alone once the application has started.
TEST_F(LaunchTest, ThePreferencesFileIsTheOwnersAlone)
{
    const QString preferences = m_home.filePath("config/Lumora/Lumora.conf");
    ASSERT_TRUE(QDir().mkpath(QFileInfo(preferences).path()));
    QFile earlier(preferences);
    ASSERT_TRUE(earlier.open(QIODevice::WriteOnly));
    earlier.write("[General]\ncorvane.participantName.left=Ada\n");
    earlier.close();
    ASSERT_TRUE(QFile::setPermissions(
        preferences, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther));
    const auto running = launch({});
    ASSERT_TRUE(waitForMarker(true));
    EXPECT_EQ(QFile::permissions(preferences) & 0x0FFF, QFile::ReadUser | QFile::WriteUser);
    ::kill(pid_t(running->processId()), SIGTERM);
    ASSERT_TRUE(running->waitForFinished(60000));
}

// The narrow window's first frame on a bare X display: 920 by 680 centred in the screen.
TEST_F(LaunchOnADisplay, TheNarrowWindowIsCentredOnce)
{
    const QString xvfbRun = QStandardPaths::findExecutable("xvfb-run");
    if (xvfbRun.isEmpty())
        GTEST_SKIP() << "xvfb-run is not installed";
    QProcess program;
    program.setProcessEnvironment(displayEnvironment());
    program.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    program.start(xvfbRun,
        QStringList { "-a", "-s", "-screen 0 1600x1000x24", QStringLiteral(LUMORA_PROGRAM), "--ui-smoke",
            "--exit-after-first-frame", "--ui-narrow" });
    ASSERT_TRUE(program.waitForFinished(-1));
    EXPECT_EQ(program.exitCode(), 0);
    const QString output = QString::fromUtf8(program.readAllStandardOutput());
    EXPECT_TRUE(output.contains(QStringLiteral("window 920x680+340+160"))) << output.toStdString();
}

// Under a window manager the window opens whole on the screen, its title bar included: it is
// maximised, and the window manager fits its frame to the screen.
TEST_F(LaunchOnADisplay, UnderAWindowManagerTheWindowOpensWholeOnTheScreen)
{
    const std::optional<QString> output = underWindowManager(LUMORA_WINDOW_MANAGER_FRAME);
    if (!output)
        GTEST_SKIP() << "needs xvfb-run, openbox, wmctrl, xdotool and the X11 utilities";
    EXPECT_EQ(output->trimmed(), "frame 1600x1000+0+0");
}

// A later launch under a window manager (the browser's sign-in return, or the launcher) hands
// over to the running window: it comes forward, raised and active, and keeps its state. A
// maximised window stays maximised; a minimised one comes back maximised or not, as it was.
TEST_F(LaunchOnADisplay, UnderAWindowManagerASecondLaunchRaisesTheWindowAndChangesNothingElse)
{
    const std::optional<QString> output = underWindowManager(LUMORA_SECOND_LAUNCH);
    if (!output)
        GTEST_SKIP() << "needs xvfb-run, openbox, wmctrl, xdotool and the X11 utilities";
    QMap<QString, QString> steps;
    for (const QString& line : output->split('\n', Qt::SkipEmptyParts))
        steps.insert(line.section(' ', 0, 0), line.section(' ', 1));
    const QString maximised = "maximized=1 hidden=0 active=1 raised=1 frame=1600x1000+0+0";
    ASSERT_EQ(steps.value("opened"), maximised);
    EXPECT_TRUE(steps.value("covered").contains("active=0 raised=0")) << steps.value("covered").toStdString();
    EXPECT_EQ(steps.value("handed-over"), maximised) << "a sign-in's return";
    EXPECT_TRUE(steps.value("minimised").startsWith("maximized=1 hidden=1"))
        << steps.value("minimised").toStdString();
    EXPECT_EQ(steps.value("from-minimised"), maximised);
    const QString restored = steps.value("restored");
    EXPECT_TRUE(restored.startsWith("maximized=0 hidden=0 active=1")) << restored.toStdString();
    EXPECT_EQ(steps.value("restored-from-minimised"), restored);
}

} // namespace
} // namespace lumora
