#pragma once

#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>
#include <QUrl>

namespace lumora::testing {

// One of the servers' executables, started on 127.0.0.1 with a port of its choosing (it says
// "listening on <URL>" once it accepts connections), with a temporary folder that lives as
// long as this object. Stopped with SIGTERM at the end.
class ServerProcess {
public:
    ServerProcess() = default;
    ~ServerProcess();
    ServerProcess(const ServerProcess&) = delete;
    ServerProcess& operator=(const ServerProcess&) = delete;

    [[nodiscard]] bool started() const { return m_baseUrl.isValid(); }
    [[nodiscard]] QUrl baseUrl() const { return m_baseUrl; }
    [[nodiscard]] qint64 processId() const { return m_process.processId(); }
    // Sends SIGTERM and waits; the exit code, or -1 when it did not stop cleanly.
    int stop();
    // Ends the process with SIGKILL, as a crash or an out-of-memory kill would.
    void kill();
    // Everything the server wrote to stderr so far (its request log).
    QString log();

protected:
    // Starts `program` listening on 127.0.0.1 (unless the arguments name another address) and
    // waits up to ten seconds for it to listen.
    void start(const QString& program, QStringList arguments);
    [[nodiscard]] QString filePath(const QString& name) const { return m_dir.filePath(name); }
    QProcess& process() { return m_process; }
    // Starts the program with at most `descriptors` open files (its soft and hard limit).
    void limitDescriptors(int descriptors);

private:
    QTemporaryDir m_dir;
    QProcess m_process;
    QUrl m_baseUrl;
    QString m_log;
};

} // namespace lumora::testing
