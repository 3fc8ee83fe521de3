#pragma once

#include "security/SecureKeyStore.hpp"

#include <QHash>
#include <QMutex>

namespace lumora {

// Keeps secrets in process memory only, for tests and launches that must not touch the
// keychain. Safe to use from several threads; it never fails.
class MemoryKeyStore final : public SecureKeyStore {
public:
    [[nodiscard]] QCoro::Task<ReadResult> data(QString account) override;
    [[nodiscard]] QCoro::Task<WriteResult> set(QByteArray data, QString account) override;
    [[nodiscard]] QCoro::Task<WriteResult> remove(QString account) override;

private:
    QMutex m_lock;
    QHash<QString, QByteArray> m_values;
};

} // namespace lumora
