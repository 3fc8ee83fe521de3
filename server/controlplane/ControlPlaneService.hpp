#pragma once

#include "common/HttpMessage.hpp"
#include "controlplane/CheckinEndpoints.hpp"
#include "controlplane/ControlPlaneStore.hpp"
#include "controlplane/ConversationContentEndpoints.hpp"
#include "controlplane/ConversationEndpoints.hpp"
#include "controlplane/PairingEndpoints.hpp"
#include "controlplane/RequestAuthenticator.hpp"

#include <QString>
#include <QUrl>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace lumora {

struct ControlPlaneServiceSettings {
    // Offer the development sign-in page in place of Sign in with Apple.
    bool devSignIn = false;
    // Where clients reach this server ("https://HOST:PORT"): the start of the sign-in page's
    // address. Never taken from a request, whose Host header the client may forge.
    QUrl publicUrl;
    // Reservations, speech grants, analysis and usage.
    ConversationSettings conversation;
    // How long partner codes, and codes redeemed but not yet confirmed, stay usable.
    PairingLifetimes pairing;
    // Seconds after which a deletion request that waits for the partner lapses.
    qint64 conversationDeletionLifetime = 7 * 24 * 3600;
};

// The control plane's HTTP API. Turns one request into one reply; every refusal is a 4xx
// (or 503 when storage fails) with {"error": code} and leaves the stored data unchanged.
class ControlPlaneService {
public:
    // Sign-in tickets and pending sign-ins lapse after this many seconds.
    static constexpr qint64 signInLifetime = 600;
    // How long a conversation session draft stays open.
    static constexpr qint64 sessionDraftLifetime = 3600;

    ControlPlaneService(
        ControlPlaneStore& store, ControlPlaneServiceSettings settings, std::function<qint64()> clock);

    ControlPlaneService(const ControlPlaneService&) = delete;
    ControlPlaneService& operator=(const ControlPlaneService&) = delete;

    HttpResponse handle(const HttpRequest& request);

    using OpenHandler = std::function<HttpResponse(const HttpRequest&)>;
    using SignedHandler = std::function<HttpResponse(const HttpRequest&, const DeviceRecord&)>;
    // Routes of the calls made before a device is registered, and of signed calls: those
    // answer 401 with the reason unless the "Device" signature holds. In a path, "{}"
    // stands for one segment (an identifier).
    void addOpenRoute(std::string path, std::string method, OpenHandler handler);
    void addSignedRoute(std::string path, std::string method, SignedHandler handler);

    static bool matches(std::string_view pattern, std::string_view path);

private:
    struct Route {
        std::string path;
        std::string method;
        OpenHandler open;
        SignedHandler signedCall;
    };
    HttpResponse dispatch(const HttpRequest& request);

    HttpResponse recoverDevice(const HttpRequest& request);
    HttpResponse startWebSignIn(const HttpRequest& request);
    HttpResponse completeWebSignIn(const HttpRequest& request);
    HttpResponse registerIdentityToken(const HttpRequest& request);
    HttpResponse devSignInPage(const HttpRequest& request);
    HttpResponse devSignInSubmit(const HttpRequest& request);

    HttpResponse accountState(const HttpRequest& request, const DeviceRecord& device);
    HttpResponse createSessionDraft(const HttpRequest& request, const DeviceRecord& device);
    HttpResponse currentSession(const HttpRequest& request, const DeviceRecord& device);
    HttpResponse reportDiagnostic(const HttpRequest& request, const DeviceRecord& device);
    HttpResponse reportProductEvent(const HttpRequest& request, const DeviceRecord& device);
    HttpResponse revokeDevice(const HttpRequest& request, const DeviceRecord& device);
    HttpResponse deleteAccount(const HttpRequest& request, const DeviceRecord& device);

    QString signInPageAddress(const QUuid& requestID) const;

    ControlPlaneStore& m_store;
    ControlPlaneServiceSettings m_settings;
    std::function<qint64()> m_clock;
    RequestAuthenticator m_authenticator;
    std::vector<Route> m_routes;
    ConversationEndpoints m_conversation;
    CheckinEndpoints m_checkins;
    PairingEndpoints m_pairing;
    ConversationContentEndpoints m_conversationContent;
};

} // namespace lumora
