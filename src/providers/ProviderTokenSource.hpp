#pragma once

#include "providers/AccountRecords.hpp"
#include "providers/ProviderFailure.hpp"

#include <QUuid>
#include <expected>
#include <qcoro/qcorotask.h>

namespace lumora {

// Issues short-lived speech-provider credentials; callers fetch a fresh one for each use.
class ProviderTokenSource {
public:
    virtual ~ProviderTokenSource() = default;

    [[nodiscard]] virtual QCoro::Task<std::expected<DeepgramGrant, ProviderFailure>> deepgramGrant(
        QUuid reservationID) const = 0;
};

} // namespace lumora
