#pragma once

#include "common/HttpMessage.hpp"
#include "controlplane/ControlPlaneStore.hpp"
#include "controlplane/PairingStore.hpp"

#include <QUuid>
#include <functional>

namespace lumora {

class Router;

// The weekly check-in pack: "/v1/content/checkins/pack" answers the pack of the current UTC
// week for the caller's workspace, composed from the server's prompt bank.
class CheckinEndpoints {
public:
    CheckinEndpoints(ControlPlaneStore& store, std::function<qint64()> clock);

    void addRoutes(Router& router);

    // The workspace whose partners share one pack: the account's current partner
    // workspace, or its own while it is not linked.
    QUuid workspaceOf(const QUuid& account) const;

private:
    HttpResponse pack(const HttpRequest& request, const DeviceRecord& device) const;

    PairingStore m_workspaces;
    std::function<qint64()> m_clock;
};

} // namespace lumora
