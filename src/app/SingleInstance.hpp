#pragma once

#include <QLocalServer>
#include <QLockFile>
#include <QObject>
#include <QString>
#include <QUrl>

namespace lumora {

// Keeps one running application per user. The first launch listens on a local socket in the
// user's runtime folder, reachable only by the same user; a later launch hands its URL (or an
// empty line) to it and exits. What arrives on the socket is untrusted: at most one line of
// `maximumMessageBytes`, parsed strictly as one absolute URL; anything else is dropped.
class SingleInstance : public QObject {
    Q_OBJECT

public:
    static constexpr qsizetype maximumMessageBytes = 4096;
    static constexpr int connectionTimeoutMilliseconds = 2000;

    // "lumora-instance" in the user's own runtime folder (privatefiles::runtimeFolder): never in a
    // folder where someone else could be listening under that name first.
    static QString standardSocketPath();
    // Hands `url` to the running instance at `socketPath`; false when none answers.
    [[nodiscard]] static bool handOff(const QString& socketPath, const QUrl& url);
    // The URL a message carries, or an empty URL when it carries none or is refused.
    static QUrl parseMessage(const QByteArray& line);

    explicit SingleInstance(QString socketPath, QObject* parent = nullptr);
    // Listens at the socket path, replacing a socket left by a run that ended without
    // removing it. False when it cannot listen, or another instance holds the path.
    [[nodiscard]] bool listen();
    // Whether listen() found the path held by another instance, running or just starting.
    [[nodiscard]] bool heldByAnother() const { return m_heldByAnother; }

signals:
    // Another launch asked this one to come forward.
    void activationRequested();
    // Another launch was opened with this URL.
    void urlReceived(const QUrl& url);

private:
    void serve(QLocalSocket* socket);

    QString m_socketPath;
    // Held while this instance listens: two launches at one moment both find nobody answering,
    // and the later would replace the earlier's socket.
    QLockFile m_lock;
    bool m_heldByAnother = false;
    QLocalServer m_server;
};

} // namespace lumora
