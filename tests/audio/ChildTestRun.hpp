#pragma once

#include <QByteArray>
#include <QCoreApplication>
#include <QProcess>
#include <QString>

namespace lumora::test {

// What one test of this program came to in a child process of its own.
struct ChildTestRun {
    bool ended = false;
    bool crashed = false;
    int exitCode = -1;
    QByteArray output;

    [[nodiscard]] bool passed() const
    {
        return ended && !crashed && exitCode == 0 && output.contains("[  PASSED  ] 1 test");
    }
};

// Runs `test` ("Suite.DISABLED_Name", disabled in the ordinary run) in a child process with
// `environment`; one that has not ended within a minute and a half is taken for hung and killed.
inline ChildTestRun runInChild(
    const QString& test, const QProcessEnvironment& environment = QProcessEnvironment::systemEnvironment())
{
    QProcess child;
    child.setProcessEnvironment(environment);
    child.setProcessChannelMode(QProcess::MergedChannels);
    child.start(QCoreApplication::applicationFilePath(),
        { QStringLiteral("--gtest_also_run_disabled_tests"), QStringLiteral("--gtest_filter=") + test });
    ChildTestRun run;
    run.ended = child.waitForFinished(90000);
    if (!run.ended) {
        child.kill();
        child.waitForFinished();
    }
    run.crashed = child.exitStatus() != QProcess::NormalExit;
    run.exitCode = child.exitCode();
    run.output = child.readAll();
    return run;
}

} // namespace lumora::test
