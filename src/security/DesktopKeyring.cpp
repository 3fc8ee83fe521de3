#include "security/DesktopKeyring.hpp"

#include "security/SecurityLog.hpp"

#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusServiceWatcher>
#include <QDBusVariant>
#include <QLoggingCategory>
#include <QVariantMap>
#include <optional>
#include <qcoro/qcorodbuspendingcall.h>
#include <qcoro/qcorosignal.h>

namespace lumora {
namespace {

const QString service = QStringLiteral("org.freedesktop.secrets");
const QString servicePath = QStringLiteral("/org/freedesktop/secrets");
const QString serviceInterface = QStringLiteral("org.freedesktop.Secret.Service");
const QString promptInterface = QStringLiteral("org.freedesktop.Secret.Prompt");
const QString collectionInterface = QStringLiteral("org.freedesktop.Secret.Collection");
// The object path the Secret Service answers for "no such object" and "no prompt needed".
const QString noObject = QStringLiteral("/");

QDBusMessage serviceCall(const QString& method)
{
    return QDBusMessage::createMethodCall(service, servicePath, serviceInterface, method);
}

QString objectPathAt(const QDBusMessage& reply, qsizetype index)
{
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().size() <= index)
        return {};
    return reply.arguments().at(index).value<QDBusObjectPath>().path();
}

struct Collection {
    DesktopKeyring::State state = DesktopKeyring::State::unreachable;
    QString path;
};

QCoro::Task<Collection> defaultCollection(QDBusConnection bus)
{
    QDBusMessage alias = serviceCall(QStringLiteral("ReadAlias"));
    alias << QStringLiteral("default");
    const QDBusMessage aliasReply = co_await bus.asyncCall(alias, int(DesktopKeyring::callTimeout.count()));
    if (aliasReply.type() != QDBusMessage::ReplyMessage) {
        qCWarning(secureStoreLog, "The desktop keyring does not answer: %s",
            qUtf8Printable(aliasReply.errorName()));
        co_return Collection {};
    }
    const QString path = objectPathAt(aliasReply, 0);
    if (path.isEmpty() || path == noObject)
        co_return Collection { DesktopKeyring::State::missing, {} };

    QDBusMessage locked = QDBusMessage::createMethodCall(
        service, path, QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    locked << collectionInterface << QStringLiteral("Locked");
    const QDBusMessage lockedReply = co_await bus.asyncCall(locked, int(DesktopKeyring::callTimeout.count()));
    if (lockedReply.type() != QDBusMessage::ReplyMessage || lockedReply.arguments().isEmpty()) {
        qCWarning(secureStoreLog, "The desktop keyring does not say whether it is locked: %s",
            qUtf8Printable(lockedReply.errorName()));
        co_return Collection { DesktopKeyring::State::unreachable, path };
    }
    const bool isLocked = lockedReply.arguments().first().value<QDBusVariant>().variant().toBool();
    co_return Collection { isLocked ? DesktopKeyring::State::locked : DesktopKeyring::State::available,
        path };
}

} // namespace

// The answer of one prompt of the Secret Service: its Completed signal, or the service leaving
// the bus while the prompt is up. Listens from its construction, so an answer that comes before
// anyone waits is kept.
class KeyringPromptAnswer : public QObject {
    Q_OBJECT

public:
    KeyringPromptAnswer(QDBusConnection bus, QString path)
        : m_bus(std::move(bus))
        , m_path(std::move(path))
        , m_watcher(service, m_bus, QDBusServiceWatcher::WatchForUnregistration)
    {
        m_bus.connect(service, m_path, promptInterface, QStringLiteral("Completed"), this,
            SLOT(completed(bool, QDBusVariant)));
        QObject::connect(&m_watcher, &QDBusServiceWatcher::serviceUnregistered, this, [this] { end(false); });
    }
    ~KeyringPromptAnswer() override
    {
        m_bus.disconnect(service, m_path, promptInterface, QStringLiteral("Completed"), this,
            SLOT(completed(bool, QDBusVariant)));
    }

    [[nodiscard]] const std::optional<bool>& answered() const { return m_answered; }

signals:
    void ended();

private slots:
    void completed(bool dismissed, const QDBusVariant&) { end(!dismissed); }

private:
    void end(bool answered)
    {
        if (m_answered)
            return;
        m_answered = answered;
        emit ended();
    }

    QDBusConnection m_bus;
    QString m_path;
    QDBusServiceWatcher m_watcher;
    std::optional<bool> m_answered;
};

QCoro::Task<DesktopKeyring::State> DesktopKeyring::state(QDBusConnection bus)
{
    co_return (co_await defaultCollection(bus)).state;
}

QCoro::Task<DesktopKeyring::State> DesktopKeyring::prepare(
    QDBusConnection bus, std::function<void()> prompting)
{
    const Collection current = co_await defaultCollection(bus);
    QDBusMessage request;
    if (current.state == State::missing) {
        request = serviceCall(QStringLiteral("CreateCollection"));
        const QVariantMap properties { { collectionInterface + QStringLiteral(".Label"),
            QStringLiteral("Login") } };
        request << properties << QStringLiteral("default");
    } else if (current.state == State::locked) {
        request = serviceCall(QStringLiteral("Unlock"));
        const QList<QDBusObjectPath> objects { QDBusObjectPath(current.path) };
        request << QVariant::fromValue(objects);
    } else {
        co_return current.state;
    }
    const QDBusMessage reply = co_await bus.asyncCall(request, int(callTimeout.count()));
    if (reply.type() != QDBusMessage::ReplyMessage) {
        qCWarning(
            secureStoreLog, "The desktop keyring refused to open: %s", qUtf8Printable(reply.errorName()));
        co_return (co_await defaultCollection(bus)).state;
    }
    const QString prompt = objectPathAt(reply, 1);
    if (!prompt.isEmpty() && prompt != noObject) {
        // Listening before the prompt is shown: its answer may come at once.
        KeyringPromptAnswer answer(bus, prompt);
        QDBusMessage show
            = QDBusMessage::createMethodCall(service, prompt, promptInterface, QStringLiteral("Prompt"));
        show << QString();
        const QDBusMessage shown = co_await bus.asyncCall(show, int(callTimeout.count()));
        if (shown.type() == QDBusMessage::ReplyMessage) {
            qCInfo(secureStoreLog, "Waiting for the desktop keyring's prompt");
            if (prompting)
                prompting();
            if (!answer.answered())
                co_await qCoro(&answer, &KeyringPromptAnswer::ended);
            if (!answer.answered().value_or(false))
                qCWarning(secureStoreLog, "The desktop keyring's prompt was dismissed");
        } else {
            qCWarning(secureStoreLog, "The desktop keyring's prompt could not be shown: %s",
                qUtf8Printable(shown.errorName()));
        }
    }
    co_return (co_await defaultCollection(bus)).state;
}

} // namespace lumora

#include "DesktopKeyring.moc"
