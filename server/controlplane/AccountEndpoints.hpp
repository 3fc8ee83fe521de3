#pragma once

#include "common/HttpMessage.hpp"
#include "controlplane/ControlPlaneStore.hpp"

#include <functional>

namespace lumora {

class ContentSeal;
class Router;

// The signed calls about the account and its devices: its state, session drafts,
// diagnostics and product events, revoking a device and deleting the account.
class AccountEndpoints {
public:
    // How long a conversation session draft stays open.
    static constexpr qint64 sessionDraftLifetime = 3600;

    // `seal`: what stored conversations are sealed with, for those that pass to a partner when
    // the account is deleted.
    AccountEndpoints(ControlPlaneStore& store, const ContentSeal& seal, std::function<qint64()> clock);

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
    const ContentSeal& m_seal;
    std::function<qint64()> m_clock;
};

} // namespace lumora
