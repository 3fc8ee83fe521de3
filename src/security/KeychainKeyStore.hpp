#pragma once

#include "security/KeyringState.hpp"
#include "security/SecureKeyStore.hpp"

#include <chrono>
#include <functional>

namespace lumora {

// Keeps secrets as items of the desktop's Secret Service (through QtKeychain), one item per
// account under `service`. The store holds no state of its own. Its operations run on the
// calling thread's event loop and never block it; each gives up after `timeout` (counted while
// that loop could take the answer), so a keyring that hangs fails with
// `SecureStoreError::timedOutStatus` instead of stalling.
//
// A keyring that is locked (or not made yet) answers reads with "not found" although it may
// hold the item: such an answer counts only once `keyringState` says the keyring is open, and
// is otherwise `SecureStoreError::keyringClosedStatus`, whoever reads.
class KeychainKeyStore final : public SecureKeyStore {
public:
    static constexpr std::chrono::milliseconds defaultTimeout { 5000 };
    using KeyringStateProbe = std::function<QCoro::Task<KeyringState>()>;

    // Without a probe, the keyring on the session bus is asked.
    explicit KeychainKeyStore(QString service, std::chrono::milliseconds timeout = defaultTimeout,
        KeyringStateProbe keyringState = {});

    [[nodiscard]] const QString& service() const { return m_service; }

    [[nodiscard]] QCoro::Task<ReadResult> data(QString account) override;
    [[nodiscard]] QCoro::Task<WriteResult> set(QByteArray data, QString account) override;
    [[nodiscard]] QCoro::Task<WriteResult> remove(QString account) override;

private:
    QString m_service;
    std::chrono::milliseconds m_timeout;
    KeyringStateProbe m_keyringState;
};

} // namespace lumora
