#pragma once

#include "domain/CheckinPack.hpp"
#include "providers/ControlPlaneFailure.hpp"

#include <expected>
#include <qcoro/qcorotask.h>

namespace lumora {

// Where the check-in service asks for this week's pack. The caller judges the pack
// (`CheckinPack::isUsable`) and falls back to the built-in pack on any failure.
class CheckinPackClient {
public:
    virtual ~CheckinPackClient() = default;

    [[nodiscard]] virtual QCoro::Task<std::expected<CheckinPack, ControlPlaneFailure>>
    checkinPack() const = 0;

protected:
    CheckinPackClient() = default;
    CheckinPackClient(const CheckinPackClient&) = default;
    CheckinPackClient& operator=(const CheckinPackClient&) = default;
};

} // namespace lumora
