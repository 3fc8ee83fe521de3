#pragma once

#include "common/HttpMessage.hpp"
#include "controlplane/ControlPlaneStore.hpp"

#include <QUuid>
#include <functional>

namespace lumora {

class ControlPlaneService;

// The weekly check-in pack: "/v1/content/checkins/pack" answers the pack of the current UTC
// week for the caller's workspace, composed from the server's prompt bank.
class CheckinEndpoints {
public:
    explicit CheckinEndpoints(std::function<qint64()> clock);

    void addRoutes(ControlPlaneService& service);

    // The workspace whose partners share one pack. Until accounts pair into shared
    // workspaces, an account is its own workspace.
    QUuid workspaceOf(const QUuid& account) const;

private:
    HttpResponse pack(const HttpRequest& request, const DeviceRecord& device) const;

    std::function<qint64()> m_clock;
};

} // namespace lumora
