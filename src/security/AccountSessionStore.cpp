#include "security/AccountSessionStore.hpp"

#include "domain/JsonObjectReader.hpp"
#include "security/SecureKeyStore.hpp"

#include <QJsonDocument>

namespace lumora {

QString AccountSessionStore::currentAccount()
{
    return QStringLiteral("account-session-v2");
}
QString AccountSessionStore::formerAccount()
{
    return QStringLiteral("account-session-v1");
}

AccountSessionStore::AccountSessionStore(std::shared_ptr<SecureKeyStore> store)
    : m_store(std::move(store))
{
}

QCoro::Task<std::expected<AccountSessionStore::Loaded, AccountSessionStore::Error>>
AccountSessionStore::load()
{
    const auto current = co_await m_store->data(currentAccount());
    if (!current)
        co_return std::unexpected(current.error());
    if (current->bytes) {
        const auto session = decodeJson<LocalAccountSession>(*current->bytes);
        if (!session)
            co_return std::unexpected(session.error());
        co_return Loaded { *session };
    }

    const auto former = co_await m_store->data(formerAccount());
    if (!former)
        co_return std::unexpected(former.error());
    if (!former->bytes)
        co_return Loaded {};
    const auto session = decodeJson<LocalAccountSession>(*former->bytes);
    if (!session)
        co_return std::unexpected(session.error());
    const auto saved = co_await save(*session);
    if (!saved)
        co_return std::unexpected(saved.error());
    // The session is safe under its current name; a former item that lingers is harmless.
    (void)co_await m_store->remove(formerAccount());
    co_return Loaded { *session };
}

QCoro::Task<std::expected<void, AccountSessionStore::Error>> AccountSessionStore::save(
    LocalAccountSession session)
{
    const QByteArray json = QJsonDocument(session.toJson()).toJson(QJsonDocument::Compact);
    const auto written = co_await m_store->set(json, currentAccount());
    if (!written)
        co_return std::unexpected(written.error());
    co_return std::expected<void, Error> {};
}

QCoro::Task<std::expected<void, AccountSessionStore::Error>> AccountSessionStore::clear()
{
    // The older item goes first: were the current one removed and the older one not, the next
    // `load` would find no current item and bring the older session back.
    const auto former = co_await m_store->remove(formerAccount());
    if (!former)
        co_return std::unexpected(former.error());
    const auto current = co_await m_store->remove(currentAccount());
    if (!current)
        co_return std::unexpected(current.error());
    co_return std::expected<void, Error> {};
}

} // namespace lumora
