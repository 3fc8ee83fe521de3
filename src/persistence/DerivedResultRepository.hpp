#pragma once

#include "domain/DerivedSessionResult.hpp"
#include "persistence/ResultStoreError.hpp"

#include <QList>
#include <QUuid>
#include <expected>
#include <optional>
#include <qcoro/qcorotask.h>

namespace lumora {

// Where the reviews of finished conversations are kept. Operations may suspend.
class DerivedResultRepository {
public:
    template <typename T> using Result = std::expected<T, ResultStoreFailure>;
    // Values wrapped in structs: a coroutine cannot return an expected optional or list.
    struct Loaded {
        std::optional<DerivedSessionResult> result;
    };
    struct Listed {
        QList<DerivedSessionResult> results;
    };

    virtual ~DerivedResultRepository() = default;

    // Persists one result, replacing an earlier one with the same id.
    [[nodiscard]] virtual QCoro::Task<Result<void>> save(DerivedSessionResult result) = 0;
    // One result; nullopt when none is stored under the id.
    [[nodiscard]] virtual QCoro::Task<Result<Loaded>> load(QUuid id) = 0;
    // Every readable result, the latest `completedAt` first.
    [[nodiscard]] virtual QCoro::Task<Result<Listed>> list() = 0;
    // Removes one result; an absent one is no error.
    [[nodiscard]] virtual QCoro::Task<Result<void>> remove(QUuid id) = 0;
};

} // namespace lumora
