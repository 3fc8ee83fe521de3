#pragma once

#include "domain/PairingConfirmation.hpp"
#include "domain/PairingInvite.hpp"
#include "domain/PairingRedemption.hpp"
#include "domain/PairingState.hpp"
#include "providers/ControlPlaneFailure.hpp"

#include <QString>
#include <QUuid>
#include <expected>
#include <qcoro/qcorotask.h>

namespace lumora {

// The control-plane calls of partner pairing, as the pairing service holds them. They keep
// no state and interpret no reply: each failure is passed on as it came, for the caller to
// turn into its pairing failure.
class PairingClient {
public:
    virtual ~PairingClient() = default;

    // Issues a one-time code under the given pairing policy.
    [[nodiscard]] virtual QCoro::Task<std::expected<PairingInvite, ControlPlaneFailure>> createPairingInvite(
        QString policyVersion) const = 0;
    // Redeems a partner's code, sent exactly as given.
    [[nodiscard]] virtual QCoro::Task<std::expected<PairingRedemption, ControlPlaneFailure>>
    redeemPairingInvite(QString code) const = 0;
    // Confirms a redeemed code; the link exists from then on.
    [[nodiscard]] virtual QCoro::Task<std::expected<PairingConfirmation, ControlPlaneFailure>>
    confirmPairingInvite(QUuid inviteID, QString policyVersion) const = 0;
    [[nodiscard]] virtual QCoro::Task<std::expected<void, ControlPlaneFailure>> unlinkPairing() const = 0;
    [[nodiscard]] virtual QCoro::Task<std::expected<PairingState, ControlPlaneFailure>>
    pairingState() const = 0;
};

} // namespace lumora
