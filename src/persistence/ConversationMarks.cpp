#include "persistence/ConversationMarks.hpp"

#include "domain/JsonWriting.hpp"
#include "persistence/PersistenceLog.hpp"
#include "persistence/PrivateFiles.hpp"

#include <QJsonDocument>
#include <QJsonObject>
#include <QLoggingCategory>

namespace lumora {

namespace {

const QString suffix = QStringLiteral(".mark");

struct StateName {
    ConversationMarks::State state;
    const char* name;
};
constexpr StateName stateNames[] = {
    { ConversationMarks::State::recording, "recording" },
    { ConversationMarks::State::reservationOpen, "reservationOpen" },
    { ConversationMarks::State::discarded, "discarded" },
};

QString nameOf(ConversationMarks::State state)
{
    for (const StateName& known : stateNames) {
        if (known.state == state)
            return QString::fromLatin1(known.name);
    }
    return {};
}

std::optional<ConversationMarks::State> stateNamed(const QString& name)
{
    for (const StateName& known : stateNames) {
        if (name == QLatin1String(known.name))
            return known.state;
    }
    return std::nullopt;
}

std::optional<ConversationMarks::Mark> read(const QString& path, const QUuid& conversationID)
{
    if (privatefiles::isSymbolicLink(path))
        return std::nullopt;
    const auto bytes = privatefiles::readFile(path);
    if (!bytes)
        return std::nullopt;
    const QJsonObject document = QJsonDocument::fromJson(*bytes).object();
    const auto state = stateNamed(document.value(QLatin1String("state")).toString());
    if (!state)
        return std::nullopt;
    ConversationMarks::Mark mark { conversationID,
        QUuid::fromString(document.value(QLatin1String("reservation")).toString()), *state };
    const QUuid account = QUuid::fromString(document.value(QLatin1String("account")).toString());
    if (!account.isNull())
        mark.accountID = account;
    return mark;
}

} // namespace

QString ConversationMarks::standardDirectory()
{
    return privatefiles::applicationDataFolder(QStringLiteral("Marks"));
}

std::expected<ConversationMarks, FileSystemError> ConversationMarks::create(const QString& directory)
{
    auto lock = DataFolderLock::acquire(directory);
    if (!lock)
        return std::unexpected(lock.error());
    QString folder = (*lock)->folder();
    return ConversationMarks(std::move(folder), std::move(*lock));
}

ConversationMarks ConversationMarks::forAccount(const QUuid& accountID) const
{
    ConversationMarks marks = *this;
    marks.m_account = accountID;
    return marks;
}

QString ConversationMarks::path(const QUuid& conversationID) const
{
    return m_directory + u'/' + uuidText(conversationID, UuidCase::lower) + suffix;
}

std::expected<void, FileSystemError> ConversationMarks::write(const Mark& mark) const
{
    QJsonObject document { { QStringLiteral("state"), nameOf(mark.state) } };
    if (!mark.reservationID.isNull())
        document.insert(QStringLiteral("reservation"), uuidText(mark.reservationID, UuidCase::lower));
    if (const std::optional<QUuid> account = mark.accountID ? mark.accountID : m_account)
        document.insert(QStringLiteral("account"), uuidText(*account, UuidCase::lower));
    return privatefiles::writeFile(path(mark.conversationID), QJsonDocument(document).toJson());
}

std::expected<void, FileSystemError> ConversationMarks::remove(const QUuid& conversationID) const
{
    const QString file = path(conversationID);
    if (!privatefiles::exists(file))
        return {};
    return privatefiles::removeEntry(file);
}

std::expected<QList<ConversationMarks::Mark>, FileSystemError> ConversationMarks::list() const
{
    const auto names = privatefiles::entryNames(m_directory, false);
    if (!names)
        return std::unexpected(names.error());
    QList<Mark> marks;
    for (const QString& name : *names) {
        if (!name.endsWith(suffix))
            continue;
        const QUuid id = QUuid::fromString(QStringView(name).chopped(suffix.size()));
        if (id.isNull())
            continue;
        if (auto mark = read(m_directory + u'/' + name, id))
            marks.append(*mark);
        else
            qCWarning(resultStoreLog, "A conversation's mark could not be read; it is left alone.");
    }
    return marks;
}

std::optional<ConversationMarks::Mark> ConversationMarks::find(const QUuid& conversationID) const
{
    return read(path(conversationID), conversationID);
}

std::expected<void, FileSystemError> ConversationMarks::removeAll() const
{
    const auto names = privatefiles::entryNames(m_directory, true);
    if (!names)
        return std::unexpected(names.error());
    for (const QString& name : *names) {
        if (!name.endsWith(suffix))
            continue;
        if (auto removed = privatefiles::removeEntry(m_directory + u'/' + name); !removed)
            return removed;
    }
    return {};
}

} // namespace lumora
