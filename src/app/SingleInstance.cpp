#include "SingleInstance.hpp"

#include "persistence/PrivateFiles.hpp"

#include <QDir>
#include <QFileInfo>
#include <QLocalSocket>
#include <QTimer>
#include <memory>

namespace lumora {

QString SingleInstance::standardSocketPath()
{
    return QDir(privatefiles::runtimeFolder()).filePath(QStringLiteral("lumora-instance"));
}

bool SingleInstance::handOff(const QString& socketPath, const QUrl& url)
{
    QLocalSocket socket;
    socket.connectToServer(socketPath);
    if (!socket.waitForConnected(connectionTimeoutMilliseconds))
        return false;
    QByteArray message = url.isEmpty() ? QByteArray() : url.toEncoded();
    if (message.size() > maximumMessageBytes)
        message.clear();
    message.append('\n');
    socket.write(message);
    if (!socket.waitForBytesWritten(connectionTimeoutMilliseconds))
        return false;
    socket.disconnectFromServer();
    if (socket.state() != QLocalSocket::UnconnectedState)
        socket.waitForDisconnected(connectionTimeoutMilliseconds);
    return true;
}

QUrl SingleInstance::parseMessage(const QByteArray& line)
{
    if (line.isEmpty() || line.size() > maximumMessageBytes)
        return {};
    for (const char byte : line) {
        // Only printable ASCII: an encoded URL has nothing else.
        if (byte <= 0x20 || byte >= 0x7f)
            return {};
    }
    const QUrl url = QUrl::fromEncoded(line, QUrl::StrictMode);
    if (!url.isValid() || url.isRelative())
        return {};
    return url;
}

SingleInstance::SingleInstance(QString socketPath, QObject* parent)
    : QObject(parent)
    , m_socketPath(std::move(socketPath))
    , m_lock(m_socketPath + QStringLiteral(".lock"))
{
    // Only the lock of a process that is gone is taken over, however old.
    m_lock.setStaleLockTime(0);
    m_server.setSocketOptions(QLocalServer::UserAccessOption);
    m_server.setMaxPendingConnections(4);
    connect(&m_server, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* socket = m_server.nextPendingConnection())
            serve(socket);
    });
}

bool SingleInstance::listen()
{
    // A socket someone answers on belongs to a running instance. Anything else at the path is
    // left over from a run that ended without removing it. (Listening with access options
    // renames the new socket into place, so the check cannot be left to the listen call.)
    QDir().mkpath(QFileInfo(m_socketPath).path());
    if (!m_lock.tryLock(0)) {
        m_heldByAnother = m_lock.error() == QLockFile::LockFailedError;
        return false;
    }
    QLocalSocket probe;
    probe.connectToServer(m_socketPath);
    if (probe.waitForConnected(connectionTimeoutMilliseconds))
        return false;
    QLocalServer::removeServer(m_socketPath);
    return m_server.listen(m_socketPath);
}

void SingleInstance::serve(QLocalSocket* socket)
{
    struct Pending {
        QByteArray line;
        bool done = false;
    };
    auto pending = std::make_shared<Pending>();
    auto finish = [this, socket, pending](bool deliver) {
        if (pending->done)
            return;
        pending->done = true;
        if (deliver) {
            emit activationRequested();
            if (const QUrl url = parseMessage(pending->line); !url.isEmpty())
                emit urlReceived(url);
        }
        socket->abort();
        socket->deleteLater();
    };
    connect(socket, &QLocalSocket::readyRead, this, [socket, pending, finish] {
        if (pending->done)
            return;
        pending->line.append(socket->read(maximumMessageBytes + 2 - pending->line.size()));
        if (const qsizetype end = pending->line.indexOf('\n'); end >= 0) {
            pending->line.truncate(end);
            finish(true);
        } else if (pending->line.size() > maximumMessageBytes) {
            finish(false);
        }
    });
    connect(socket, &QLocalSocket::disconnected, this, [finish] { finish(false); });
    QTimer::singleShot(connectionTimeoutMilliseconds, socket, [finish] { finish(false); });
}

} // namespace lumora
