#pragma once

#include "common/HttpMessage.hpp"
#include "controlplane/AccountEndpoints.hpp"
#include "controlplane/CheckinEndpoints.hpp"
#include "controlplane/ControlPlaneStore.hpp"
#include "controlplane/ConversationContentEndpoints.hpp"
#include "controlplane/ConversationEndpoints.hpp"
#include "controlplane/PairingEndpoints.hpp"
#include "controlplane/RequestAuthenticator.hpp"
#include "controlplane/Router.hpp"
#include "controlplane/SignInEndpoints.hpp"

#include <QUrl>
#include <QUuid>
#include <expected>
#include <functional>
#include <memory>
#include <optional>

namespace lumora {

class ContentSeal;
class NonceWriter;
class ProvenDevices;
class SignInWriter;

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
    // What sign-in starts may store.
    SignInLimits signIn;
    // The bytes one account's stored conversations may hold.
    qint64 storageQuota = ConversationContentEndpoints::defaultStorageQuota;
    // What stored conversations are sealed with; required.
    std::shared_ptr<const ContentSeal> contentSeal;
    // Where signed calls record their nonces, shared by the services of every thread; each
    // service records its own on its store when null.
    std::shared_ptr<NonceWriter> nonces;
    // Where signed calls that get through are remembered, shared likewise; none when null.
    std::shared_ptr<ProvenDevices> provenDevices;
    // Where sign-in starts are decided, shared likewise; each service decides its own on its
    // store when null.
    std::shared_ptr<SignInWriter> signInStarts;
};

// The control plane's HTTP API over one store connection: the endpoint groups on one
// router. Turns one request into one reply; every refusal is a 4xx (or 503 when storage
// fails) with {"error": code} and leaves the stored data unchanged.
class ControlPlaneService {
public:
    ControlPlaneService(
        ControlPlaneStore& store, const ControlPlaneServiceSettings& settings, std::function<qint64()> clock);

    ControlPlaneService(const ControlPlaneService&) = delete;
    ControlPlaneService& operator=(const ControlPlaneService&) = delete;

    // The answer may come later (see DeferredResponse.hpp); its steps run on this thread.
    HttpResponse handle(const HttpRequest& request) const;
    // See Router::checkBeforeBody.
    std::expected<BodyOwner, HttpResponse> checkBeforeBody(const HttpRequest& head) const;

private:
    RequestAuthenticator m_authenticator;
    Router m_router;
    SignInEndpoints m_signIn;
    AccountEndpoints m_account;
    ConversationEndpoints m_conversation;
    CheckinEndpoints m_checkins;
    PairingEndpoints m_pairing;
    ConversationContentEndpoints m_conversationContent;
};

} // namespace lumora
