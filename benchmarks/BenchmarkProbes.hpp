#pragma once

// What the benchmarks read beside their figures: a thread's own CPU clock, the machine's load
// average, and a fresh home for a program they start.
#include <QDir>
#include <QFile>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <ctime>
#include <string>

namespace lumora::benchmarks {

// A thread's CPU time in nanoseconds; by default the calling thread's, so that neither waiting
// nor the scheduler giving the core to others counts.
inline qint64 threadCpuNs(clockid_t clock = CLOCK_THREAD_CPUTIME_ID)
{
    timespec now {};
    ::clock_gettime(clock, &now);
    return qint64(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
}

// The 1, 5 and 15 minute load averages, as /proc/loadavg has them.
inline std::string loadAverage()
{
    QFile file(QStringLiteral("/proc/loadavg"));
    if (!file.open(QIODevice::ReadOnly))
        return "?";
    return QString::fromLatin1(file.readLine()).section(u' ', 0, 2).toStdString();
}

// The environment of a program started in its own home: data, configuration, cache and a
// private runtime folder inside `home`.
inline QProcessEnvironment freshHome(const QTemporaryDir& home)
{
    for (const char* folder : { "data", "config", "cache", "runtime" })
        QDir(home.path()).mkpath(QString::fromLatin1(folder));
    QFile::setPermissions(home.filePath("runtime"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("XDG_DATA_HOME", home.filePath("data"));
    environment.insert("XDG_CONFIG_HOME", home.filePath("config"));
    environment.insert("XDG_CACHE_HOME", home.filePath("cache"));
    environment.insert("XDG_RUNTIME_DIR", home.filePath("runtime"));
    return environment;
}

} // namespace lumora::benchmarks
