#include "persistence/ConversationBackupStore.hpp"

#include "domain/JsonObjectReader.hpp"
#include "domain/JsonWriting.hpp"
#include "persistence/PrivateFiles.hpp"

#include <QJsonDocument>
#include <algorithm>

namespace lumora {
namespace {

using State = ConversationBackupStore::State;
using Summary = ConversationRecordSummary;

void removeSummaries(QList<Summary>& list, const QUuid& id)
{
    list.removeIf([&id](const Summary& summary) { return summary.id == id; });
}

void upsertRecord(QList<ConversationBackupRecord>& records, const ConversationBackupRecord& record)
{
    const auto found = std::ranges::find(records, record.localID, &ConversationBackupRecord::localID);
    if (found != records.end())
        *found = record;
    else
        records.append(record);
}

// Reads go through the gate too, so a read waits for the edits called before it.
template <typename T, typename Pick>
QCoro::Task<ConversationBackupStore::Result<T>> readPart(ConversationBackupStore* store, Pick pick)
{
    const auto state = co_await store->state();
    if (!state)
        co_return std::unexpected(state.error());
    co_return pick(*state);
}

} // namespace

QJsonObject State::toJson() const
{
    QJsonObject json { { "records", toJsonArray(records) },
        { "cachedConversations", toJsonArray(cachedConversations) },
        { "hiddenConversations", toJsonArray(hiddenConversations) } };
    if (migrationChoice)
        json.insert("migrationChoice", toString(*migrationChoice));
    if (cacheUpdatedAt)
        json.insert("cacheUpdatedAt", isoDateText(*cacheUpdatedAt));
    return json;
}

std::expected<State, JsonDecodeError> State::fromJson(const QJsonValue& value)
{
    JsonObjectReader reader(value, QStringLiteral("ConversationBackupStore.State"));
    State state;
    state.records = reader.list<ConversationBackupRecord>(u"records");
    state.migrationChoice = reader.optionalEnumeration<ConversationMigrationChoice>(u"migrationChoice");
    state.cachedConversations = reader.list<Summary>(u"cachedConversations");
    state.hiddenConversations
        = reader.optionalList<Summary>(u"hiddenConversations").value_or(QList<Summary> {});
    state.cacheUpdatedAt = reader.optionalDate(u"cacheUpdatedAt");
    return finish(reader, std::move(state));
}

QString ConversationBackupStore::keyAccount()
{
    return QStringLiteral("conversation-backup-state-key-v1");
}

QString ConversationBackupStore::fileName()
{
    return QStringLiteral("backup-state.lbs");
}

QString ConversationBackupStore::standardDirectory()
{
    return privatefiles::applicationDataFolder(u"Backup"_qs);
}

ConversationBackupStore::ConversationBackupStore(QString file, std::shared_ptr<SecureKeyStore> keyStore)
    : m_file(std::move(file))
    , m_sealer(std::move(keyStore), keyAccount())
{
}

std::expected<std::shared_ptr<ConversationBackupStore>, FileSystemError> ConversationBackupStore::create(
    const QString& directory, std::shared_ptr<SecureKeyStore> keyStore)
{
    if (auto created = privatefiles::createDirectory(directory); !created)
        return std::unexpected(created.error());
    return std::shared_ptr<ConversationBackupStore>(
        new ConversationBackupStore(directory + u'/' + fileName(), std::move(keyStore)));
}

QCoro::Task<ConversationBackupStore::Result<State>> ConversationBackupStore::currentState()
{
    // Copies made here on purpose: QCoro moves from an lvalue handed to `co_return` when its type
    // differs from the task's, which would empty the copy kept in memory.
    if (m_cached)
        co_return Result<State>(*m_cached);
    if (!privatefiles::exists(m_file)) {
        m_cached = State {};
        co_return Result<State>(*m_cached);
    }
    const auto key = co_await m_sealer.key();
    if (!key)
        co_return std::unexpected(key.error());
    const auto json = FileSealer::readFile(m_file, *key);
    if (!json)
        co_return std::unexpected(json.error());
    auto state = decodeJson<State>(*json);
    if (!state)
        co_return std::unexpected(state.error());
    m_cached = std::move(*state);
    co_return Result<State>(*m_cached);
}

QCoro::Task<ConversationBackupStore::Result<void>> ConversationBackupStore::mutate(
    std::function<void(State&)> edit)
{
    const auto pass = co_await m_gate.enter();
    auto next = co_await currentState();
    if (!next)
        co_return std::unexpected(next.error());
    edit(*next);
    const QByteArray json = QJsonDocument(next->toJson()).toJson(QJsonDocument::Compact);
    // The copy kept in memory is what a later read of the file gives (dates without fractions
    // of a second), and a state that would not read back (an invalid date) is refused before
    // it can make the file unreadable.
    auto written = decodeJson<State>(json);
    if (!written)
        co_return std::unexpected(written.error());
    const auto key = co_await m_sealer.key();
    if (!key)
        co_return std::unexpected(key.error());
    if (auto replaced = FileSealer::writeFile(m_file, *key, json); !replaced)
        co_return std::unexpected(replaced.error());
    // Nothing can fail from here on: the file has been replaced and the copy follows it.
    m_cached = std::move(*written);
    co_return Result<void> {};
}

QCoro::Task<ConversationBackupStore::Result<State>> ConversationBackupStore::state()
{
    const auto pass = co_await m_gate.enter();
    co_return co_await currentState();
}

QCoro::Task<ConversationBackupStore::Result<ConversationBackupStore::FoundRecord>>
ConversationBackupStore::record(QUuid localID)
{
    return readPart<FoundRecord>(this, [localID](const State& state) {
        const auto found = std::ranges::find(state.records, localID, &ConversationBackupRecord::localID);
        return found == state.records.end() ? FoundRecord {} : FoundRecord { *found };
    });
}

QCoro::Task<ConversationBackupStore::Result<ConversationBackupStore::Records>>
ConversationBackupStore::records()
{
    return readPart<Records>(this, [](const State& state) { return Records { state.records }; });
}

QCoro::Task<ConversationBackupStore::Result<ConversationBackupStore::MigrationChoice>>
ConversationBackupStore::migrationChoice()
{
    return readPart<MigrationChoice>(
        this, [](const State& state) { return MigrationChoice { state.migrationChoice }; });
}

QCoro::Task<ConversationBackupStore::Result<ConversationBackupStore::Summaries>>
ConversationBackupStore::cachedConversations()
{
    return readPart<Summaries>(
        this, [](const State& state) { return Summaries { state.cachedConversations }; });
}

QCoro::Task<ConversationBackupStore::Result<ConversationBackupStore::Summaries>>
ConversationBackupStore::hiddenConversations()
{
    return readPart<Summaries>(
        this, [](const State& state) { return Summaries { state.hiddenConversations }; });
}

QCoro::Task<ConversationBackupStore::Result<void>> ConversationBackupStore::upsert(
    ConversationBackupRecord record)
{
    return mutate([record = std::move(record)](State& state) { upsertRecord(state.records, record); });
}

QCoro::Task<ConversationBackupStore::Result<void>> ConversationBackupStore::upsert(
    QList<ConversationBackupRecord> records)
{
    return mutate([records = std::move(records)](State& state) {
        for (const ConversationBackupRecord& record : records)
            upsertRecord(state.records, record);
    });
}

QCoro::Task<ConversationBackupStore::Result<void>> ConversationBackupStore::removeRecord(QUuid localID)
{
    return mutate([localID](State& state) {
        state.records.removeIf(
            [&localID](const ConversationBackupRecord& r) { return r.localID == localID; });
    });
}

QCoro::Task<ConversationBackupStore::Result<void>> ConversationBackupStore::setMigrationChoice(
    std::optional<ConversationMigrationChoice> choice)
{
    return mutate([choice](State& state) { state.migrationChoice = choice; });
}

QCoro::Task<ConversationBackupStore::Result<void>> ConversationBackupStore::replaceCachedConversations(
    QList<ConversationRecordSummary> conversations, QDateTime at)
{
    return mutate([conversations = std::move(conversations), at = std::move(at)](State& state) {
        state.cachedConversations = conversations;
        state.hiddenConversations.removeIf([&conversations](const Summary& hidden) {
            return std::ranges::find(conversations, hidden.id, &Summary::id) != conversations.end();
        });
        state.cacheUpdatedAt = at;
    });
}

QCoro::Task<ConversationBackupStore::Result<void>> ConversationBackupStore::removeCachedConversation(QUuid id)
{
    return mutate([id](State& state) {
        removeSummaries(state.cachedConversations, id);
        removeSummaries(state.hiddenConversations, id);
    });
}

QCoro::Task<ConversationBackupStore::Result<void>> ConversationBackupStore::markHidden(
    ConversationRecordSummary conversation)
{
    return mutate([conversation = std::move(conversation)](State& state) {
        removeSummaries(state.cachedConversations, conversation.id);
        removeSummaries(state.hiddenConversations, conversation.id);
        state.hiddenConversations.append(conversation);
    });
}

QCoro::Task<ConversationBackupStore::Result<void>> ConversationBackupStore::markUnhidden(QUuid id)
{
    return mutate([id](State& state) {
        const auto found = std::ranges::find(state.hiddenConversations, id, &Summary::id);
        if (found == state.hiddenConversations.end())
            return;
        const Summary taken = *found;
        state.hiddenConversations.erase(found);
        removeSummaries(state.cachedConversations, id);
        state.cachedConversations.append(taken);
    });
}

QCoro::Task<ConversationBackupStore::Result<void>> ConversationBackupStore::mergeCachedConversation(
    ConversationRecordSummary conversation)
{
    return mutate([conversation = std::move(conversation)](State& state) {
        removeSummaries(state.cachedConversations, conversation.id);
        state.cachedConversations.append(conversation);
    });
}

QCoro::Task<ConversationBackupStore::Result<void>> ConversationBackupStore::removeAll()
{
    const auto pass = co_await m_gate.enter();
    if (privatefiles::exists(m_file)) {
        // On failure the file still holds what the copy in memory holds (if anything), so both
        // stay as they were rather than the copy claiming an emptiness the file does not have.
        if (auto removed = privatefiles::removeEntry(m_file); !removed)
            co_return std::unexpected(removed.error());
    }
    m_cached = State {};
    co_return Result<void> {};
}

} // namespace lumora
