#include "persistence/ConversationBackupStore.hpp"

#include "domain/JsonObjectReader.hpp"
#include "domain/JsonWriting.hpp"
#include "domain/OffThread.hpp"
#include "persistence/PersistenceLog.hpp"
#include "persistence/PrivateFiles.hpp"
#include "persistence/StoredDocument.hpp"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLoggingCategory>
#include <QSet>
#include <algorithm>
#include <qcoro/qcorofuture.h>

namespace lumora {
namespace {

using State = ConversationBackupStore::State;
using AccountLists = ConversationBackupStore::AccountLists;
using Account = ConversationBackupStore::Account;
using Summary = ConversationRecordSummary;

// Whether the caller may see the record: a caller without an account sees every record, one with
// an account only that account's.
bool visibleTo(const ConversationBackupRecord& record, const Account& account)
{
    return !account || record.accountID == account;
}

// The lists an operation works on: the account's, made the ones in use first when it has an
// account.
template <typename Edit> std::function<void(State&)> onListsOf(Account account, Edit edit)
{
    return [account, edit = std::move(edit)](State& state) {
        if (account)
            state.takeListsFor(*account);
        edit(state);
    };
}

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

QJsonObject AccountLists::toJson() const
{
    QJsonObject json { { QStringLiteral("accountID"), uuidText(accountID, UuidCase::upper) },
        { QStringLiteral("cachedConversations"), toJsonArray(cachedConversations) },
        { QStringLiteral("hiddenConversations"), toJsonArray(hiddenConversations) } };
    if (cacheUpdatedAt)
        json.insert(QStringLiteral("cacheUpdatedAt"), isoDateText(*cacheUpdatedAt));
    if (migrationChoice)
        json.insert(QStringLiteral("migrationChoice"), toString(*migrationChoice));
    return json;
}

std::expected<AccountLists, JsonDecodeError> AccountLists::fromJson(const QJsonValue& value)
{
    JsonObjectReader reader(value, QStringLiteral("ConversationBackupStore.AccountLists"));
    AccountLists lists;
    lists.accountID = reader.uuid(u"accountID");
    lists.cachedConversations = reader.list<Summary>(u"cachedConversations");
    lists.hiddenConversations = reader.list<Summary>(u"hiddenConversations");
    lists.cacheUpdatedAt = reader.optionalDate(u"cacheUpdatedAt");
    lists.migrationChoice = reader.optionalEnumeration<ConversationMigrationChoice>(u"migrationChoice");
    return finish(reader, std::move(lists));
}

AccountLists State::listsOf(const QUuid& accountID) const
{
    if (listsAccountID == accountID)
        return { accountID, cachedConversations, hiddenConversations, cacheUpdatedAt, migrationChoice };
    const auto aside = std::ranges::find(otherAccountsLists, accountID, &AccountLists::accountID);
    return aside != otherAccountsLists.end() ? *aside : AccountLists { accountID, {}, {}, {}, {} };
}

void State::takeListsFor(const QUuid& accountID)
{
    if (listsAccountID == accountID)
        return;
    const AccountLists current { listsAccountID.value_or(QUuid()), cachedConversations, hiddenConversations,
        cacheUpdatedAt, migrationChoice };
    const AccountLists taken = listsOf(accountID);
    otherAccountsLists.removeIf(
        [&accountID](const AccountLists& lists) { return lists.accountID == accountID; });
    if (!current.accountID.isNull() && !current.isEmpty())
        otherAccountsLists.append(current);
    cachedConversations = taken.cachedConversations;
    hiddenConversations = taken.hiddenConversations;
    cacheUpdatedAt = taken.cacheUpdatedAt;
    migrationChoice = taken.migrationChoice;
    listsAccountID = accountID;
}

QJsonObject State::toJson() const
{
    QJsonObject json { { QStringLiteral("records"), toJsonArray(records) },
        { QStringLiteral("cachedConversations"), toJsonArray(cachedConversations) },
        { QStringLiteral("hiddenConversations"), toJsonArray(hiddenConversations) } };
    if (migrationChoice)
        json.insert(QStringLiteral("migrationChoice"), toString(*migrationChoice));
    if (cacheUpdatedAt)
        json.insert(QStringLiteral("cacheUpdatedAt"), isoDateText(*cacheUpdatedAt));
    if (listsAccountID)
        json.insert(QStringLiteral("listsAccountID"), uuidText(*listsAccountID, UuidCase::upper));
    if (!otherAccountsLists.isEmpty())
        json.insert(QStringLiteral("otherAccountsLists"), toJsonArray(otherAccountsLists));
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
    state.listsAccountID = reader.optionalNonNilUuid(u"listsAccountID");
    state.otherAccountsLists
        = reader.optionalList<AccountLists>(u"otherAccountsLists").value_or(QList<AccountLists> {});
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
    return privatefiles::applicationDataFolder(QStringLiteral("Backup"));
}

ConversationBackupStore::ConversationBackupStore(
    QString directory, std::shared_ptr<SecureKeyStore> keyStore, std::shared_ptr<DataFolderLock> lock)
    : m_lock(std::move(lock))
    , m_directory(std::move(directory))
    , m_file(m_directory + u'/' + fileName())
    , m_sealer(std::move(keyStore), keyAccount(), m_directory,
          [file = m_file] { return privatefiles::exists(file) ? QStringList { file } : QStringList {}; })
{
}

std::expected<std::shared_ptr<ConversationBackupStore>, FileSystemError> ConversationBackupStore::create(
    const QString& directory, std::shared_ptr<SecureKeyStore> keyStore)
{
    auto lock = DataFolderLock::acquire(directory);
    if (!lock)
        return std::unexpected(lock.error());
    if (auto created = privatefiles::createDirectory(directory); !created)
        return std::unexpected(created.error());
    return std::shared_ptr<ConversationBackupStore>(
        new ConversationBackupStore(directory, std::move(keyStore), std::move(*lock)));
}

void ConversationBackupStore::forget()
{
    m_cached.reset();
    m_keptMembers = {};
    m_keptRecordMembers.clear();
    m_newerFormat = false;
}

ConversationBackupStore::Adopted ConversationBackupStore::adoption(State state, const QJsonObject& document)
{
    Adopted adopted;
    adopted.keptMembers = storeddocument::unknownMembers(document, state.toJson());
    // The decoder reads the records all or none, so the array and the list line up one to one.
    const QJsonArray records = document.value(u"records").toArray();
    for (qsizetype i = 0; i < state.records.size() && i < records.size(); ++i) {
        const QJsonObject unknown
            = storeddocument::unknownMembers(records.at(i).toObject(), state.records.at(i).toJson());
        if (!unknown.isEmpty() && !adopted.keptRecordMembers.contains(state.records.at(i).localID))
            adopted.keptRecordMembers.insert(state.records.at(i).localID, unknown);
    }
    adopted.newerFormat = storeddocument::formatVersion(document) > formatVersion;
    adopted.state = std::move(state);
    return adopted;
}

void ConversationBackupStore::adopt(Adopted adopted)
{
    m_keptMembers = std::move(adopted.keptMembers);
    m_keptRecordMembers = std::move(adopted.keptRecordMembers);
    m_newerFormat = adopted.newerFormat;
    m_cached = std::move(adopted.state);
}

ConversationBackupStore::Result<State> ConversationBackupStore::startAfresh(const ResultStoreFailure& why)
{
    const auto moved
        = privatefiles::moveAside(m_file, QStringLiteral("unreadable"), QDateTime::currentDateTimeUtc());
    if (!moved)
        return std::unexpected(moved.error());
    qCWarning(backupStoreLog, "The backup state could not be read (%s); it was moved aside to %s",
        qUtf8Printable(std::holds_alternative<JsonDecodeError>(why) ? std::get<JsonDecodeError>(why).message
                                                                    : QStringLiteral("damaged")),
        qUtf8Printable(*moved));
    forget();
    m_cached = State {};
    return *m_cached;
}

// What reading the file came to, on the pool thread: the state with what this version does not
// know of it, or why it could not be read.
struct ConversationBackupStore::Read {
    // Absent: no file.
    std::optional<FileSealer::Result<QByteArray>> plaintext;
    // When the file opened: its decoded state, or the failure to decode it.
    std::optional<std::expected<Adopted, ResultStoreFailure>> decoded;
};

QCoro::Task<ConversationBackupStore::Result<State>> ConversationBackupStore::currentState()
{
    // Copies made here on purpose: QCoro moves from an lvalue handed to `co_return` when its type
    // differs from the task's, which would empty the copy kept in memory.
    if (m_cached)
        co_return Result<State>(*m_cached);
    const auto looking = startOffThread([file = m_file] { return privatefiles::exists(file); });
    if (!*co_await qCoro(looking).waitForFinished()) {
        forget();
        m_cached = State {};
        co_return Result<State>(*m_cached);
    }
    const auto opening = co_await m_sealer.keyForOpening();
    if (!opening)
        co_return std::unexpected(opening.error());
    if (!opening->key)
        co_return std::unexpected(SecureStoreError::keyUnavailable());
    // Reading, opening and decoding the file grow with the history: done on a pool thread.
    const auto reading = startOffThread([file = m_file, key = *opening->key] {
        Read read;
        read.plaintext = FileSealer::readFile(file, key);
        if (!*read.plaintext)
            return read;
        const auto document = parseJsonObject(**read.plaintext);
        if (!document) {
            read.decoded = std::unexpected(ResultStoreFailure(document.error()));
            return read;
        }
        auto state = State::fromJson(*document);
        if (!state) {
            if (storeddocument::formatVersion(*document) > formatVersion)
                read.decoded = std::unexpected(ResultStoreFailure(ResultStoreError::newerFormat));
            else
                read.decoded = std::unexpected(ResultStoreFailure(state.error()));
            return read;
        }
        read.decoded = adoption(std::move(*state), *document);
        return read;
    });
    auto read = *co_await qCoro(reading).waitForFinished();
    const auto& json = *read.plaintext;
    if (!json) {
        // Only a key known to be the right one tells a damaged file from one sealed under a key
        // that is out of reach; the latter stays where it is.
        const auto* crypto = std::get_if<CryptoError>(&json.error());
        const bool unopened = crypto
            && (*crypto == CryptoError::authenticationFailed || *crypto == CryptoError::invalidInput);
        if (opening->verified && unopened)
            co_return startAfresh(json.error());
        if (unopened)
            co_return std::unexpected(SecureStoreError::keyUnavailable());
        co_return std::unexpected(json.error());
    }
    // The key opened the file, so it is the right one whatever the content turns out to be.
    if (!opening->verified)
        co_await m_sealer.confirm(*opening->key);
    auto& decoded = *read.decoded;
    if (!decoded) {
        if (decoded.error() == ResultStoreFailure(ResultStoreError::newerFormat))
            co_return std::unexpected(decoded.error());
        co_return startAfresh(decoded.error());
    }
    adopt(std::move(*decoded));
    co_return Result<State>(*m_cached);
}

// An edit done on the pool thread: the state it gives, checked to read back, sealed and written.
struct ConversationBackupStore::Edit {
    State state;
    std::function<void(State&)> edit;
    QJsonObject keptMembers;
    QHash<QUuid, QJsonObject> keptRecordMembers;
    QString file;
    SymmetricKey key;

    Result<State> run()
    {
        edit(state);
        QJsonObject document = state.toJson();
        QJsonArray records = document.value(u"records").toArray();
        for (qsizetype i = 0; i < records.size(); ++i) {
            const auto kept = keptRecordMembers.constFind(state.records.at(i).localID);
            if (kept == keptRecordMembers.constEnd())
                continue;
            QJsonObject record = records.at(i).toObject();
            storeddocument::keepMembers(record, *kept);
            records.replace(i, record);
        }
        document.insert(QStringLiteral("records"), records);
        storeddocument::keepMembers(document, keptMembers);
        document.insert(storeddocument::formatVersionKey(), formatVersion);
        const QByteArray json = QJsonDocument(document).toJson(QJsonDocument::Compact);
        // The copy kept in memory is what a later read of the file gives (dates without
        // fractions of a second), and a state that would not read back (an invalid date) is
        // refused before it can make the file unreadable.
        auto written = decodeJson<State>(json);
        if (!written)
            return std::unexpected(written.error());
        if (auto replaced = FileSealer::writeFile(file, key, json); !replaced)
            return std::unexpected(replaced.error());
        return std::move(*written);
    }
};

QCoro::Task<ConversationBackupStore::Result<void>> ConversationBackupStore::mutate(
    std::function<void(State&)> edit)
{
    const auto pass = co_await m_gate.enter();
    co_return co_await mutateHeld(std::move(edit));
}

QCoro::Task<ConversationBackupStore::Result<void>> ConversationBackupStore::mutateHeld(
    std::function<void(State&)> edit)
{
    auto next = co_await currentState();
    if (!next)
        co_return std::unexpected(next.error());
    if (m_newerFormat)
        co_return std::unexpected(ResultStoreError::newerFormat);
    const auto key = co_await m_sealer.keyForSealing();
    if (!key)
        co_return std::unexpected(key.error());
    struct Done {
        Result<State> state;
    };
    const auto editing
        = startOffThread([edit = Edit { std::move(*next), std::move(edit), m_keptMembers, m_keptRecordMembers,
                              m_file, *key }]() mutable { return Done { edit.run() }; });
    auto done = *co_await qCoro(editing).waitForFinished();
    if (!done.state)
        co_return std::unexpected(done.state.error());
    // Nothing can fail from here on: the file has been replaced and the copy follows it.
    m_cached = std::move(*done.state);
    co_return Result<void> {};
}

QCoro::Task<ConversationBackupStore::Result<State>> ConversationBackupStore::state()
{
    const auto pass = co_await m_gate.enter();
    co_return co_await currentState();
}

QCoro::Task<ConversationBackupStore::Result<ConversationBackupStore::FoundRecord>>
ConversationBackupStore::record(QUuid localID, Account account)
{
    const auto state = co_await this->state();
    if (!state)
        co_return std::unexpected(state.error());
    const auto found = std::ranges::find(state->records, localID, &ConversationBackupRecord::localID);
    if (found == state->records.end())
        co_return FoundRecord {};
    if (!visibleTo(*found, account))
        co_return std::unexpected(ResultStoreError::otherAccount);
    co_return FoundRecord { *found };
}

QCoro::Task<ConversationBackupStore::Result<ConversationBackupStore::Records>>
ConversationBackupStore::records(Account account)
{
    return readPart<Records>(this, [account](const State& state) {
        Records visible { state.records };
        visible.records.removeIf(
            [&account](const ConversationBackupRecord& record) { return !visibleTo(record, account); });
        return visible;
    });
}

QCoro::Task<ConversationBackupStore::Result<ConversationBackupStore::Records>>
ConversationBackupStore::unclaimedRecords()
{
    return readPart<Records>(this, [](const State& state) {
        Records unclaimed { state.records };
        unclaimed.records.removeIf(
            [](const ConversationBackupRecord& record) { return record.accountID.has_value(); });
        return unclaimed;
    });
}

QCoro::Task<ConversationBackupStore::Result<ConversationBackupStore::MigrationChoice>>
ConversationBackupStore::migrationChoice(Account account)
{
    return readPart<MigrationChoice>(this, [account](const State& state) {
        return MigrationChoice { account ? state.listsOf(*account).migrationChoice : state.migrationChoice };
    });
}

QCoro::Task<ConversationBackupStore::Result<ConversationBackupStore::Summaries>>
ConversationBackupStore::cachedConversations(Account account)
{
    return readPart<Summaries>(this, [account](const State& state) {
        return Summaries { account ? state.listsOf(*account).cachedConversations
                                   : state.cachedConversations };
    });
}

QCoro::Task<ConversationBackupStore::Result<ConversationBackupStore::Summaries>>
ConversationBackupStore::hiddenConversations(Account account)
{
    return readPart<Summaries>(this, [account](const State& state) {
        return Summaries { account ? state.listsOf(*account).hiddenConversations
                                   : state.hiddenConversations };
    });
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

QCoro::Task<ConversationBackupStore::Result<void>> ConversationBackupStore::removeRecord(
    QUuid localID, Account account)
{
    return mutate([localID, account](State& state) {
        state.records.removeIf(
            [&](const ConversationBackupRecord& r) { return r.localID == localID && visibleTo(r, account); });
    });
}

QCoro::Task<ConversationBackupStore::Result<void>> ConversationBackupStore::setMigrationChoice(
    std::optional<ConversationMigrationChoice> choice, Account account)
{
    return mutate(onListsOf(account, [choice](State& state) { state.migrationChoice = choice; }));
}

QCoro::Task<ConversationBackupStore::Result<void>> ConversationBackupStore::replaceCachedConversations(
    QList<ConversationRecordSummary> conversations, QDateTime at, Account account)
{
    return mutate(
        onListsOf(account, [conversations = std::move(conversations), at = std::move(at)](State& state) {
            state.cachedConversations = conversations;
            state.hiddenConversations.removeIf([&conversations](const Summary& hidden) {
                return std::ranges::find(conversations, hidden.id, &Summary::id) != conversations.end();
            });
            state.cacheUpdatedAt = at;
        }));
}

QCoro::Task<ConversationBackupStore::Result<void>> ConversationBackupStore::removeCachedConversation(
    QUuid id, Account account)
{
    return mutate(onListsOf(account, [id](State& state) {
        removeSummaries(state.cachedConversations, id);
        removeSummaries(state.hiddenConversations, id);
    }));
}

QCoro::Task<ConversationBackupStore::Result<void>> ConversationBackupStore::markHidden(
    ConversationRecordSummary conversation, Account account)
{
    return mutate(onListsOf(account, [conversation = std::move(conversation)](State& state) {
        removeSummaries(state.cachedConversations, conversation.id);
        removeSummaries(state.hiddenConversations, conversation.id);
        state.hiddenConversations.append(conversation);
    }));
}

QCoro::Task<ConversationBackupStore::Result<void>> ConversationBackupStore::markUnhidden(
    QUuid id, Account account)
{
    return mutate(onListsOf(account, [id](State& state) {
        const auto found = std::ranges::find(state.hiddenConversations, id, &Summary::id);
        if (found == state.hiddenConversations.end())
            return;
        const Summary taken = *found;
        state.hiddenConversations.erase(found);
        removeSummaries(state.cachedConversations, id);
        state.cachedConversations.append(taken);
    }));
}

QCoro::Task<ConversationBackupStore::Result<void>> ConversationBackupStore::mergeCachedConversation(
    ConversationRecordSummary conversation, Account account)
{
    return mutate(onListsOf(account, [conversation = std::move(conversation)](State& state) {
        removeSummaries(state.cachedConversations, conversation.id);
        state.cachedConversations.append(conversation);
    }));
}

QCoro::Task<ConversationBackupStore::Result<void>> ConversationBackupStore::claimListed(QUuid accountID)
{
    const auto pass = co_await m_gate.enter();
    const auto current = co_await currentState();
    if (!current)
        co_return std::unexpected(current.error());
    const AccountLists lists = current->listsOf(accountID);
    QSet<QUuid> listed;
    for (const Summary& summary : lists.cachedConversations)
        listed.insert(summary.id);
    for (const Summary& summary : lists.hiddenConversations)
        listed.insert(summary.id);
    const auto proven = [listed](const ConversationBackupRecord& record) {
        return !record.accountID && listed.contains(record.conversationID);
    };
    if (std::ranges::none_of(current->records, proven))
        co_return Result<void> {};
    // Named: a function built inside the `co_await` expression would be destroyed twice.
    std::function<void(State&)> claim = [accountID, proven](State& state) {
        for (ConversationBackupRecord& record : state.records) {
            if (proven(record))
                record.accountID = accountID;
        }
    };
    co_return co_await mutateHeld(std::move(claim));
}

QCoro::Task<ConversationBackupStore::Result<void>> ConversationBackupStore::removeAccount(QUuid accountID)
{
    const auto pass = co_await m_gate.enter();
    const auto current = co_await currentState();
    if (!current)
        co_return std::unexpected(current.error());
    const auto remove = [accountID](State& state) {
        state.records.removeIf(
            [&accountID](const ConversationBackupRecord& record) { return record.accountID == accountID; });
        state.otherAccountsLists.removeIf(
            [&accountID](const AccountLists& lists) { return lists.accountID == accountID; });
        if (state.listsAccountID == accountID) {
            state.cachedConversations.clear();
            state.hiddenConversations.clear();
            state.cacheUpdatedAt.reset();
            state.migrationChoice.reset();
            state.listsAccountID.reset();
        }
    };
    State left = *current;
    remove(left);
    if (left.records.isEmpty() && left.cachedConversations.isEmpty() && left.hiddenConversations.isEmpty()
        && left.otherAccountsLists.isEmpty())
        co_return co_await removeAllHeld();
    co_return co_await mutateHeld(remove);
}

QCoro::Task<ConversationBackupStore::Result<void>> ConversationBackupStore::removeAll()
{
    const auto pass = co_await m_gate.enter();
    co_return co_await removeAllHeld();
}

QCoro::Task<ConversationBackupStore::Result<void>> ConversationBackupStore::removeAllHeld()
{
    auto removed = co_await FileSealer::removeOwnFiles(m_directory,
        [name = fileName()](const QString& entry) { return entry == name || entry.startsWith(name + u'.'); });
    // On failure the file still holds what the copy in memory holds (if anything), so both stay
    // as they were rather than the copy claiming an emptiness the file does not have.
    if (!removed)
        co_return removed;
    forget();
    m_cached = State {};
    co_return co_await m_sealer.forgetKey();
}

} // namespace lumora
