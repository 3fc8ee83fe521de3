#pragma once

#include "common/HttpMessage.hpp"
#include "controlplane/PairingLifetimes.hpp"
#include "controlplane/PairingStore.hpp"

#include <QJsonObject>
#include <functional>

namespace lumora {

class Router;
struct DeviceRecord;

// Partner pairing: one account issues a code, the other redeems it and confirms, and both
// then share one workspace until either unlinks. Refusals carry the codes the application
// turns into its pairing messages.
class PairingEndpoints {
public:
    PairingEndpoints(ControlPlaneStore& store, std::function<qint64()> clock, PairingLifetimes lifetimes);

    void addRoutes(Router& router);

private:
    HttpResponse createInvite(const HttpRequest& request, const DeviceRecord& device);
    HttpResponse redeemInvite(const HttpRequest& request, const DeviceRecord& device);
    HttpResponse confirmInvite(const HttpRequest& request, const DeviceRecord& device);
    HttpResponse unlink(const HttpRequest& request, const DeviceRecord& device);
    HttpResponse state(const HttpRequest& request, const DeviceRecord& device);

    // A redeemed invite with the issuer's stored history, as redeeming and the state show it.
    [[nodiscard]] QJsonObject redemptionJson(const PairingInviteRecord& redeemed) const;
    [[nodiscard]] bool isPaired(const QUuid& accountID) const;

    PairingStore m_store;
    std::function<qint64()> m_clock;
    PairingLifetimes m_lifetimes;
};

} // namespace lumora
