#include "security/MemoryKeyStore.hpp"

#include <QMutexLocker>

namespace lumora {

QCoro::Task<SecureKeyStore::ReadResult> MemoryKeyStore::data(QString account)
{
    Found value;
    {
        const QMutexLocker locker(&m_lock);
        if (const auto found = m_values.constFind(account); found != m_values.cend())
            value.bytes = *found;
    }
    co_return value;
}

QCoro::Task<SecureKeyStore::WriteResult> MemoryKeyStore::set(QByteArray data, QString account)
{
    {
        const QMutexLocker locker(&m_lock);
        m_values.insert(account, data);
    }
    co_return WriteResult {};
}

QCoro::Task<SecureKeyStore::WriteResult> MemoryKeyStore::remove(QString account)
{
    {
        const QMutexLocker locker(&m_lock);
        m_values.remove(account);
    }
    co_return WriteResult {};
}

} // namespace lumora
