#pragma once

#include "security/MemoryKeyStore.hpp"

#include <QTimer>
#include <qcoro/qcorotimer.h>

namespace lumora::test {

// Answers each call only after a turn of the event loop, as the keychain does, so that
// operations that are not kept apart would interleave.
class SlowKeyStore final : public SecureKeyStore {
public:
    MemoryKeyStore values;
    int writes = 0;
    bool failAll = false;

    QCoro::Task<ReadResult> data(QString account) override
    {
        co_await turn();
        if (failAll)
            co_return std::unexpected(SecureStoreError::keychain(7));
        co_return co_await values.data(account);
    }
    QCoro::Task<WriteResult> set(QByteArray data, QString account) override
    {
        co_await turn();
        ++writes;
        co_return co_await values.set(data, account);
    }
    QCoro::Task<WriteResult> remove(QString account) override { return values.remove(account); }

private:
    static QCoro::Task<> turn()
    {
        QTimer timer;
        timer.setSingleShot(true);
        timer.start(0);
        co_await timer;
    }
};

} // namespace lumora::test
