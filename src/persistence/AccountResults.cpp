#include "persistence/AccountResults.hpp"

namespace lumora {

AccountResults::AccountResults(std::shared_ptr<DerivedResultRepository> all, std::optional<QUuid> accountID)
    : m_all(std::move(all))
    , m_accountID(accountID)
{
}

QCoro::Task<AccountResults::Result<void>> AccountResults::save(DerivedSessionResult result)
{
    if (!result.accountID)
        result.accountID = m_accountID;
    if (!owns(result))
        co_return std::unexpected(ResultStoreError::otherAccount);
    const auto all = m_all;
    co_return co_await all->save(std::move(result));
}

QCoro::Task<AccountResults::Result<DerivedResultRepository::Loaded>> AccountResults::load(QUuid id)
{
    const auto all = m_all;
    auto loaded = co_await all->load(id);
    if (loaded && loaded->result && !owns(*loaded->result))
        co_return std::unexpected(ResultStoreError::otherAccount);
    co_return loaded;
}

QCoro::Task<AccountResults::Result<DerivedResultRepository::Listed>> AccountResults::list()
{
    const auto all = m_all;
    auto listed = co_await all->list();
    if (listed)
        listed->results.removeIf([this](const DerivedSessionResult& result) { return !owns(result); });
    co_return listed;
}

QCoro::Task<AccountResults::Result<void>> AccountResults::remove(QUuid id)
{
    const auto all = m_all;
    const auto loaded = co_await all->load(id);
    if (loaded && loaded->result && !owns(*loaded->result))
        co_return std::unexpected(ResultStoreError::otherAccount);
    // A review that cannot be opened cannot be told whose it is: it stays.
    if (!loaded)
        co_return std::unexpected(loaded.error());
    co_return co_await all->remove(id);
}

} // namespace lumora
