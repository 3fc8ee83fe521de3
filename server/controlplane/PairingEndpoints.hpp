#pragma once

#include "common/HttpMessage.hpp"
#include "controlplane/PairingLifetimes.hpp"
#include "controlplane/PairingStore.hpp"

#include <QJsonObject>
#include <functional>

namespace lumora {

class ControlPlaneService;
struct DeviceRecord;

// Partner pairing: one account issues a code, the other redeems it and confirms, and both
// then share one workspace until either unlinks. Refusals carry the codes the application
// turns into its pairing messages.
class PairingEndpoints {
public:
    // Redeeming allows this many wrong codes per account within the window, then answers 429
    // until the window has passed, so that codes cannot be found by trying.
    static constexpr int redeemFailureBurst = 10;
    static constexpr qint64 redeemFailureWindow = 15 * 60;

    PairingEndpoints(ControlPlaneStore& store, std::function<qint64()> clock, PairingLifetimes lifetimes);

    void addRoutes(ControlPlaneService& service);

private:
    HttpResponse createInvite(const HttpRequest& request, const DeviceRecord& device);
    HttpResponse redeemInvite(const HttpRequest& request, const DeviceRecord& device);
    HttpResponse confirmInvite(const HttpRequest& request, const DeviceRecord& device);
    HttpResponse unlink(const HttpRequest& request, const DeviceRecord& device);
    HttpResponse state(const HttpRequest& request, const DeviceRecord& device);

    // A wrong code: counted towards the account's limit, then refused.
    HttpResponse wrongCode(const QUuid& accountID, int status, const char* code);
    // A redeemed invite with the issuer's stored history, as redeeming and the state show it.
    [[nodiscard]] QJsonObject redemptionJson(const PairingInviteRecord& redeemed) const;
    [[nodiscard]] bool isPaired(const QUuid& accountID) const;

    PairingStore m_store;
    std::function<qint64()> m_clock;
    PairingLifetimes m_lifetimes;
};

} // namespace lumora
