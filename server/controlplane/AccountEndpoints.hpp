#pragma once

#include "common/HttpMessage.hpp"
#include "controlplane/ControlPlaneStore.hpp"

#include <functional>

namespace lumora {

class Router;

// The signed calls about the account and its devices: its state, session drafts,
// diagnostics and product events, revoking a device and deleting the account.
class AccountEndpoints {
public:
    // How long a conversation session draft stays open.
    static constexpr qint64 sessionDraftLifetime = 3600;

    AccountEndpoints(ControlPlaneStore& store, std::function<qint64()> clock);

    void addRoutes(Router& router);

private:
    HttpResponse accountState(const HttpRequest& request, const DeviceRecord& device);
    HttpResponse createSessionDraft(const HttpRequest& request, const DeviceRecord& device);
    HttpResponse currentSession(const HttpRequest& request, const DeviceRecord& device);
    HttpResponse reportDiagnostic(const HttpRequest& request, const DeviceRecord& device);
    HttpResponse reportProductEvent(const HttpRequest& request, const DeviceRecord& device);
    HttpResponse revokeDevice(const HttpRequest& request, const DeviceRecord& device);
    HttpResponse deleteAccount(const HttpRequest& request, const DeviceRecord& device);

    ControlPlaneStore& m_store;
    std::function<qint64()> m_clock;
};

} // namespace lumora
