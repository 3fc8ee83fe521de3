#pragma once

#include "domain/PairingConfirmation.hpp"
#include "domain/PairingFailure.hpp"
#include "domain/PairingInvite.hpp"
#include "domain/PairingRedemption.hpp"
#include "domain/PairingState.hpp"
#include "providers/ControlPlaneFailure.hpp"

#include <QString>
#include <QUuid>
#include <expected>
#include <memory>
#include <qcoro/qcorotask.h>

namespace lumora {

class PairingClient;

// The five partner-linking steps with the control plane. Each step makes its request once
// and hands back the result unchanged; every failure leaves as one `PairingFailure`, logged
// once by its case name. A code that cannot be a partner code is refused before any
// request. Holds no state; made through `create`, and a step in flight keeps it alive.
class PairingService : public std::enable_shared_from_this<PairingService> {
public:
    template <typename T> using Result = std::expected<T, PairingFailure>;

    static std::shared_ptr<PairingService> create(
        std::shared_ptr<const PairingClient> client, QString policyVersion);

    [[nodiscard]] QCoro::Task<Result<PairingState>> state();
    // A new code under the service's pairing policy.
    [[nodiscard]] QCoro::Task<Result<PairingInvite>> createInvite();
    // `code` as typed; the server receives its 12 characters bare and upper-case.
    [[nodiscard]] QCoro::Task<Result<PairingRedemption>> redeem(QString code);
    [[nodiscard]] QCoro::Task<Result<PairingConfirmation>> confirm(QUuid inviteID);
    [[nodiscard]] QCoro::Task<Result<void>> unlink();

    // The failure of a refused or failed pairing call: the server's refusal as the pairing
    // rules read it, anything without an HTTP answer (or unreadable) as `offline`.
    static PairingFailure failure(const ControlPlaneFailure& failure);
    // The case's name as it stands in the code, for the log.
    static const char* caseName(PairingFailure failure);

private:
    PairingService(std::shared_ptr<const PairingClient> client, QString policyVersion);

    template <typename T>
    [[nodiscard]] static QCoro::Task<Result<T>> settled(
        QCoro::Task<std::expected<T, ControlPlaneFailure>> call);
    static PairingFailure refused(const ControlPlaneFailure& error);

    std::shared_ptr<const PairingClient> m_client;
    QString m_policyVersion;
};

} // namespace lumora
