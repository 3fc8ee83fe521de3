#pragma once

#include "AwaitTask.hpp"
#include "security/MemoryKeyStore.hpp"

#include <QHash>
#include <QSet>
#include <optional>
#include <qcoro/qcorotask.h>
#include <qcoro/qcorotimer.h>

namespace lumora::test {

// Answers each call only after a turn of the event loop, as the keychain does, so that
// operations that are not kept apart would interleave. Chosen accounts fail with a status
// that tells reads (7), writes (5) and removals (2) apart, or read as a keychain that gave no
// answer in time. A racing write stands for another process that stores its own bytes right
// after each write of the account.
class TestKeyStore final : public SecureKeyStore {
public:
    MemoryKeyStore values;
    QSet<QString> failingReads, failingWrites, failingRemovals, timingOutReads;
    QHash<QString, QByteArray> racingWrites;
    int writes = 0;

    QCoro::Task<ReadResult> data(QString account) override
    {
        co_await QCoro::sleepFor(std::chrono::milliseconds(0));
        if (failingReads.contains(account))
            co_return std::unexpected(SecureStoreError::keychain(7));
        if (timingOutReads.contains(account))
            co_return std::unexpected(SecureStoreError::keychain(SecureStoreError::timedOutStatus));
        co_return co_await values.data(account);
    }
    QCoro::Task<WriteResult> set(QByteArray data, QString account) override
    {
        co_await QCoro::sleepFor(std::chrono::milliseconds(0));
        if (failingWrites.contains(account))
            co_return std::unexpected(SecureStoreError::keychain(5));
        ++writes;
        co_return co_await values.set(racingWrites.value(account, data), account);
    }
    QCoro::Task<WriteResult> remove(QString account) override
    {
        co_await QCoro::sleepFor(std::chrono::milliseconds(0));
        if (failingRemovals.contains(account))
            co_return std::unexpected(SecureStoreError::keychain(2));
        co_return co_await values.remove(account);
    }

    std::optional<QByteArray> stored(const QString& account)
    {
        return awaitTask(values.data(account))->bytes;
    }
    void put(const QByteArray& bytes, const QString& account) { (void)awaitTask(values.set(bytes, account)); }
};

} // namespace lumora::test
