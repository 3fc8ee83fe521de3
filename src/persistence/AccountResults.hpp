#pragma once

#include "persistence/DerivedResultRepository.hpp"

#include <memory>
#include <optional>

namespace lumora {

// The reviews of one account among all that this computer keeps: each review saved through it is
// marked as recorded under the account, and it lists, opens and removes only the account's own.
// Another account's review (or one whose account is not known) is not listed, and opening or
// removing it fails with `ResultStoreError::otherAccount`, so that no account shows, uploads or
// deletes a conversation recorded under another.
//
// Made without an account, it holds the reviews whose account is not known (those of builds
// before accounts were told apart) by the same rules: what it saves stays unmarked, and a review
// of any account is another's.
class AccountResults final : public DerivedResultRepository {
public:
    AccountResults(std::shared_ptr<DerivedResultRepository> all, std::optional<QUuid> accountID);

    [[nodiscard]] const std::optional<QUuid>& accountID() const { return m_accountID; }

    // A review marked with another account is refused.
    [[nodiscard]] QCoro::Task<Result<void>> save(DerivedSessionResult result) override;
    [[nodiscard]] QCoro::Task<Result<Loaded>> load(QUuid id) override;
    [[nodiscard]] QCoro::Task<Result<Listed>> list() override;
    [[nodiscard]] QCoro::Task<Result<void>> remove(QUuid id) override;

private:
    [[nodiscard]] bool owns(const DerivedSessionResult& result) const
    {
        return result.accountID == m_accountID;
    }

    std::shared_ptr<DerivedResultRepository> m_all;
    std::optional<QUuid> m_accountID;
};

} // namespace lumora
