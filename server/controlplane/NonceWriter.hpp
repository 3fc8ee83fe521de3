#pragma once

#include <QList>
#include <QString>
#include <QUuid>
#include <functional>
#include <memory>
#include <vector>

namespace lumora {

class ControlPlaneStore;

// One device-signed request's nonce, to be recorded only while its device is active.
struct NonceClaim {
    QUuid deviceID;
    QString signer;
    QUuid nonce;
    qint64 requestTime = 0;
};

enum class NonceOutcome {
    accepted, // recorded now: the request may go on
    refused, // seen before, or the device is unknown or revoked
    storageFailed,
};

// Records the nonces of signed requests for every request thread of the process, the claims
// that arrive together in one statement: each is committed before its request goes on, and a
// batch costs one round trip and one commit however many requests it holds. One writer thread
// with a connection of its own does it, on PostgreSQL too: concurrent writers' commits wait
// for one another's flushes of the log there, so that several writers only made smaller
// batches, each paying its own commit (measured: about 2.7 times the database's CPU per
// request with four writers); one writer batches all that arrives during a commit.
class NonceWriter {
public:
    using Done = std::function<void(NonceOutcome)>;
    static constexpr qsizetype largestBatch = 256;

    // `databaseUrl` names a database whose schema is in place.
    explicit NonceWriter(const QString& databaseUrl);
    // Records what was claimed before, then stops.
    ~NonceWriter();
    NonceWriter(const NonceWriter&) = delete;
    NonceWriter& operator=(const NonceWriter&) = delete;

    // `done` is called on a writer thread once the claim is decided.
    void remember(NonceClaim claim, Done done);

    // One batch in one statement on the store's connection: which claims were recorded. Of
    // claims repeated in a batch only the first may be. Throws StoreFailure.
    static std::vector<bool> record(const ControlPlaneStore& store, const QList<NonceClaim>& claims);

private:
    struct State;
    std::unique_ptr<State> m_state;
};

} // namespace lumora
