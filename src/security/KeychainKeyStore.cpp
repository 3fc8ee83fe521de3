#include "security/KeychainKeyStore.hpp"

#include "security/DesktopKeyring.hpp"
#include "security/KeyCreation.hpp"
#include "security/SecurityLog.hpp"

#include <QElapsedTimer>
#include <QLoggingCategory>
#include <QTimer>
#include <qcoro/qcorotimer.h>
#include <qt6keychain/keychain.h>

namespace lumora {
namespace {

struct JobOutcome {
    QKeychain::Error error = QKeychain::NoError;
    QString message;
    QByteArray data;
    bool timedOut = true;
};

// Runs one job to its end or until `timeout`. The wait is on a timer of this frame, not on the
// job: a job deletes itself as soon as it has reported, and a loop that delivers pending
// deletions first (QTest::qWaitFor does, and so may a window's loop) would otherwise take the
// queued resumption, and the time-out with it, along with the job, leaving the caller waiting
// for ever. The outcome is captured by a connection made before the job starts, so a job that
// finishes at once is not missed.
QCoro::Task<JobOutcome> run(QKeychain::Job* job, std::chrono::milliseconds timeout)
{
    JobOutcome outcome;
    QTimer wake;
    wake.setSingleShot(true);
    // The connection ends with `wake`, so a job that answers after the time-out touches nothing.
    QObject::connect(job, &QKeychain::Job::finished, &wake, [&outcome, &wake](QKeychain::Job* done) {
        outcome.error = done->error();
        outcome.message = done->errorString();
        if (auto* read = qobject_cast<QKeychain::ReadPasswordJob*>(done))
            outcome.data = read->binaryData();
        outcome.timedOut = false;
        // Resumed from the event loop, not from inside the keychain library's callback.
        wake.start(0);
    });
    QElapsedTimer waited;
    waited.start();
    wake.start(timeout);
    job->start();
    // A job that never answers is left to delete itself should it ever finish.
    co_await wake;
    // A timer that comes much later than set found this thread busy (a window's first frame, a
    // slow machine): the job may not even have been sent, and an answer that came meanwhile
    // waits behind it. The time a call may take counts only while the thread can take the
    // answer, so the wait starts over, a few times at most; a timeout stops keys from being made
    // for the rest of the run.
    for (int busy = 0; outcome.timedOut && busy < 3 && waited.elapsed() - timeout.count() > 250; ++busy) {
        waited.restart();
        wake.start(timeout);
        co_await wake;
    }
    co_return outcome;
}

// Logs the failure with the store's fixed text for the operation ("read", "update", "add",
// "delete"), the reason on a line of its own, and remembers a timeout for the rest of the run.
SecureStoreError failure(const char* operation, const JobOutcome& outcome)
{
    const qint32 status = outcome.timedOut ? SecureStoreError::timedOutStatus : qint32(outcome.error);
    const QString reason
        = outcome.timedOut ? QStringLiteral("no answer from the keychain in time") : outcome.message;
    qCCritical(secureStoreLog, "Keychain %s failed with status %d", operation, status);
    qCInfo(secureStoreLog, "Keychain %s: %s", operation, qUtf8Printable(reason));
    const auto error = SecureStoreError::keychain(status);
    KeyCreation::note(error);
    return error;
}

template <typename JobType> JobType* newJob(const QString& service, const QString& account)
{
    auto* job = new JobType(service);
    job->setAutoDelete(true);
    // Secrets never fall back to a plain file.
    job->setInsecureFallback(false);
    job->setKey(account);
    return job;
}

} // namespace

KeychainKeyStore::KeychainKeyStore(
    QString service, std::chrono::milliseconds timeout, KeyringStateProbe keyringState)
    : m_service(std::move(service))
    , m_timeout(timeout)
    , m_keyringState(std::move(keyringState))
{
    if (!m_keyringState)
        m_keyringState = [] { return DesktopKeyring::state(QDBusConnection::sessionBus()); };
}

QCoro::Task<SecureKeyStore::ReadResult> KeychainKeyStore::data(QString account)
{
    const JobOutcome outcome
        = co_await run(newJob<QKeychain::ReadPasswordJob>(m_service, account), m_timeout);
    if (!outcome.timedOut && outcome.error == QKeychain::EntryNotFound) {
        // "Not found" from a keyring that is not open says nothing about what it holds: taken
        // for "none", a locked keyring would pass for a computer without a saved session.
        const KeyringState keyring = co_await m_keyringState();
        if (keyring == KeyringState::available)
            co_return Found {};
        qCCritical(secureStoreLog, "Keychain read failed: the keyring is not open");
        co_return std::unexpected(SecureStoreError::keychain(SecureStoreError::keyringClosedStatus));
    }
    if (outcome.timedOut || outcome.error != QKeychain::NoError)
        co_return std::unexpected(failure("read", outcome));
    co_return Found { outcome.data };
}

QCoro::Task<SecureKeyStore::WriteResult> KeychainKeyStore::set(QByteArray data, QString account)
{
    auto* job = newJob<QKeychain::WritePasswordJob>(m_service, account);
    job->setBinaryData(data);
    const JobOutcome outcome = co_await run(job, m_timeout);
    if (!outcome.timedOut && outcome.error == QKeychain::NoError)
        co_return WriteResult {};
    // One job both replaces and adds; which of the two failed is told by whether the item is
    // there now. Asked only after a failure that came as an answer, so a stalled keychain is
    // not waited for twice.
    bool existed = false;
    if (!outcome.timedOut) {
        const JobOutcome probe
            = co_await run(newJob<QKeychain::ReadPasswordJob>(m_service, account), m_timeout);
        existed = !probe.timedOut && probe.error == QKeychain::NoError;
    }
    co_return std::unexpected(failure(outcome.timedOut || existed ? "update" : "add", outcome));
}

QCoro::Task<SecureKeyStore::WriteResult> KeychainKeyStore::remove(QString account)
{
    const JobOutcome outcome
        = co_await run(newJob<QKeychain::DeletePasswordJob>(m_service, account), m_timeout);
    if (!outcome.timedOut
        && (outcome.error == QKeychain::NoError || outcome.error == QKeychain::EntryNotFound))
        co_return WriteResult {};
    co_return std::unexpected(failure("delete", outcome));
}

} // namespace lumora
