#pragma once

#include "security/SecureKeyStore.hpp"

#include <chrono>

namespace lumora {

// Keeps secrets as items of the desktop's Secret Service (through QtKeychain), one item per
// account under `service`. The store holds no state of its own. Its operations run on the
// calling thread's event loop and never block it; each gives up after `timeout` (counted while
// that loop could take the answer), so a keyring that hangs fails with
// `SecureStoreError::timedOutStatus` instead of stalling.
//
// Caution: a keyring that was never unlocked answers reads with "not found" although it
// may hold items; only its failing writes reveal it.
class KeychainKeyStore final : public SecureKeyStore {
public:
    static constexpr std::chrono::milliseconds defaultTimeout { 5000 };

    explicit KeychainKeyStore(QString service, std::chrono::milliseconds timeout = defaultTimeout);

    [[nodiscard]] const QString& service() const { return m_service; }

    [[nodiscard]] QCoro::Task<ReadResult> data(QString account) override;
    [[nodiscard]] QCoro::Task<WriteResult> set(QByteArray data, QString account) override;
    [[nodiscard]] QCoro::Task<WriteResult> remove(QString account) override;

private:
    QString m_service;
    std::chrono::milliseconds m_timeout;
};

} // namespace lumora
