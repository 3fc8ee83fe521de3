#include "appcore/PairingService.hpp"

#include "appcore/AppcoreLog.hpp"
#include "domain/PairingCode.hpp"
#include "domain/PairingErrorPolicy.hpp"
#include "providers/PairingClient.hpp"

#include <QLoggingCategory>
#include <type_traits>

namespace lumora {

std::shared_ptr<PairingService> PairingService::create(
    std::shared_ptr<const PairingClient> client, QString policyVersion)
{
    return std::shared_ptr<PairingService>(new PairingService(std::move(client), std::move(policyVersion)));
}

PairingService::PairingService(std::shared_ptr<const PairingClient> client, QString policyVersion)
    : m_client(std::move(client))
    , m_policyVersion(std::move(policyVersion))
{
}

PairingFailure PairingService::failure(const ControlPlaneFailure& failure)
{
    if (const auto* refusal = std::get_if<ControlPlaneError>(&failure))
        return PairingErrorPolicy::failure(*refusal);
    return PairingErrorPolicy::failure(std::nullopt, std::nullopt);
}

const char* PairingService::caseName(PairingFailure failure)
{
    switch (failure) {
    case PairingFailure::codeNotRecognized:
        return "codeNotRecognized";
    case PairingFailure::ownCode:
        return "ownCode";
    case PairingFailure::alreadyPaired:
        return "alreadyPaired";
    case PairingFailure::codeAlreadyUsed:
        return "codeAlreadyUsed";
    case PairingFailure::confirmationExpired:
        return "confirmationExpired";
    case PairingFailure::confirmationNotFound:
        return "confirmationNotFound";
    case PairingFailure::notPaired:
        return "notPaired";
    case PairingFailure::offline:
        return "offline";
    case PairingFailure::unavailable:
        break;
    }
    return "unavailable";
}

PairingFailure PairingService::refused(const ControlPlaneFailure& error)
{
    const PairingFailure result = failure(error);
    qCWarning(pairingLog, "Pairing step refused: %s", caseName(result));
    return result;
}

template <typename T>
QCoro::Task<PairingService::Result<T>> PairingService::settled(
    QCoro::Task<std::expected<T, ControlPlaneFailure>> call)
{
    auto result = co_await std::move(call);
    if (!result)
        co_return std::unexpected(refused(result.error()));
    if constexpr (std::is_void_v<T>)
        co_return Result<void> {};
    else
        co_return std::move(*result);
}

QCoro::Task<PairingService::Result<PairingState>> PairingService::state()
{
    const auto keepAlive = shared_from_this();
    co_return co_await settled(m_client->pairingState());
}

QCoro::Task<PairingService::Result<PairingInvite>> PairingService::createInvite()
{
    const auto keepAlive = shared_from_this();
    co_return co_await settled(m_client->createPairingInvite(m_policyVersion));
}

QCoro::Task<PairingService::Result<PairingRedemption>> PairingService::redeem(QString code)
{
    const auto keepAlive = shared_from_this();
    const std::optional<QString> normalized = PairingCode::normalize(code);
    if (!normalized)
        co_return std::unexpected(PairingFailure::codeNotRecognized);
    co_return co_await settled(m_client->redeemPairingInvite(*normalized));
}

QCoro::Task<PairingService::Result<PairingConfirmation>> PairingService::confirm(QUuid inviteID)
{
    const auto keepAlive = shared_from_this();
    co_return co_await settled(m_client->confirmPairingInvite(inviteID, m_policyVersion));
}

QCoro::Task<PairingService::Result<void>> PairingService::unlink()
{
    const auto keepAlive = shared_from_this();
    co_return co_await settled(m_client->unlinkPairing());
}

} // namespace lumora
