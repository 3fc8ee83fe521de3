#include "controlplane/NonceWriter.hpp"

#include "controlplane/ControlPlaneStore.hpp"
#include "controlplane/IdText.hpp"
#include "controlplane/SqlStatement.hpp"

#include <QHash>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <stop_token>
#include <thread>

namespace lumora {

namespace {

QString newRecordStatement(qsizetype claims)
{
    QStringList rows;
    rows.reserve(claims);
    for (qsizetype i = 0; i < claims; ++i)
        rows.append(QStringLiteral("(?, ?, CAST(? AS BIGINT), ?)"));
    // "WHERE true" keeps SQLite from reading ON CONFLICT as the join's condition.
    return QStringLiteral("INSERT INTO request_nonces (signer, nonce, request_time) SELECT claims.column1,"
                          " claims.column2, claims.column3 FROM (VALUES %1) AS claims JOIN devices ON"
                          " devices.id = claims.column4 AND devices.revoked_at IS NULL WHERE true"
                          " ON CONFLICT DO NOTHING RETURNING signer, nonce")
        .arg(rows.join(u", "));
}

// The statement for a batch of `claims`, written once per size and thread: the text for a
// full batch is some 8 KiB, which was built, then hashed to find its prepared statement, on
// every batch.
const QString& recordStatement(qsizetype claims)
{
    thread_local QList<QString> statements;
    if (statements.size() <= claims)
        statements.resize(claims + 1);
    QString& statement = statements[claims];
    if (statement.isEmpty())
        statement = newRecordStatement(claims);
    return statement;
}

struct Pending {
    NonceClaim claim;
    NonceWriter::Done done;
};

} // namespace

struct NonceWriter::State {
    QString databaseUrl;
    std::mutex lock;
    std::condition_variable_any claimed;
    std::deque<Pending> queue;
    std::jthread writer;

    void write(const std::stop_token& stop)
    {
        std::unique_ptr<ControlPlaneStore> store;
        for (;;) {
            QList<NonceClaim> claims;
            std::vector<Done> done;
            {
                std::unique_lock waiting(lock);
                claimed.wait(waiting, stop, [this] { return !queue.empty(); });
                // Stopping, the queue is written out first.
                if (queue.empty())
                    return;
                while (!queue.empty() && claims.size() < largestBatch) {
                    claims.append(std::move(queue.front().claim));
                    done.push_back(std::move(queue.front().done));
                    queue.pop_front();
                }
            }
            std::vector<bool> recorded;
            bool failed = false;
            try {
                if (!store)
                    store = ControlPlaneStore::openWriter(databaseUrl);
                recorded = record(*store, claims);
            } catch (const StoreFailure& failure) {
                qWarning("recording nonces failed: %s", failure.what());
                failed = true;
            }
            for (std::size_t i = 0; i < done.size(); ++i) {
                done[i](failed        ? NonceOutcome::storageFailed
                        : recorded[i] ? NonceOutcome::accepted
                                      : NonceOutcome::refused);
            }
        }
    }
};

NonceWriter::NonceWriter(const QString& databaseUrl)
    : m_state(std::make_unique<State>())
{
    m_state->databaseUrl = databaseUrl;
    m_state->writer
        = std::jthread([state = m_state.get()](const std::stop_token& stop) { state->write(stop); });
}

NonceWriter::~NonceWriter()
{
    m_state->writer.request_stop();
    m_state->writer.join();
}

void NonceWriter::remember(NonceClaim claim, Done done)
{
    {
        const std::lock_guard guard(m_state->lock);
        m_state->queue.push_back(Pending { std::move(claim), std::move(done) });
    }
    m_state->claimed.notify_one();
}

std::vector<bool> NonceWriter::record(const ControlPlaneStore& store, const QList<NonceClaim>& claims)
{
    std::vector<bool> recorded(static_cast<std::size_t>(claims.size()), false);
    QVariantList values;
    values.reserve(claims.size() * 4);
    // Each claim sent, by its signer and nonce as the database returns them.
    QHash<QString, qsizetype> sent;
    sent.reserve(claims.size());
    for (qsizetype i = 0; i < claims.size(); ++i) {
        const NonceClaim& claim = claims.at(i);
        const QString nonce = idText(claim.nonce);
        QString key = claim.signer + u' ' + nonce;
        if (sent.contains(key))
            continue;
        sent.insert(std::move(key), i);
        values << claim.signer << nonce << claim.requestTime << idText(claim.deviceID);
    }
    if (sent.isEmpty())
        return recorded;
    Statement insert(store.connectionName(), recordStatement(sent.size()), values);
    while (insert.next()) {
        const auto claim = sent.constFind(insert.value(0).toString() + u' ' + insert.value(1).toString());
        if (claim != sent.cend())
            recorded[static_cast<std::size_t>(*claim)] = true;
    }
    return recorded;
}

} // namespace lumora
