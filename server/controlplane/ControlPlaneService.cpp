#include "controlplane/ControlPlaneService.hpp"

#include "controlplane/JsonReplies.hpp"

#include <stdexcept>

namespace lumora {

namespace {

const ContentSeal& requiredSeal(const ControlPlaneServiceSettings& settings)
{
    if (!settings.contentSeal)
        throw std::invalid_argument(
            "the control plane needs the key its stored conversations are sealed with");
    return *settings.contentSeal;
}

} // namespace

ControlPlaneService::ControlPlaneService(
    ControlPlaneStore& store, const ControlPlaneServiceSettings& settings, std::function<qint64()> clock)
    : m_authenticator(store, clock)
    , m_router(m_authenticator, settings.nonces.get(), settings.provenDevices.get())
    , m_signIn(store, m_authenticator, settings.devSignIn, settings.publicUrl, settings.signIn, clock,
          settings.signInStarts.get())
    , m_account(store, requiredSeal(settings), clock)
    , m_conversation(store, settings.conversation, clock)
    , m_checkins(store, clock)
    , m_pairing(store, clock, settings.pairing)
    , m_conversationContent(
          store, requiredSeal(settings), clock, settings.conversationDeletionLifetime, settings.storageQuota)
{
    m_signIn.addRoutes(m_router);
    m_account.addRoutes(m_router);
    m_checkins.addRoutes(m_router);
    m_conversation.addRoutes(m_router);
    m_pairing.addRoutes(m_router);
    m_conversationContent.addRoutes(m_router);
}

HttpResponse ControlPlaneService::handle(const HttpRequest& request) const
{
    return m_router.dispatch(request);
}

std::expected<BodyOwner, HttpResponse> ControlPlaneService::checkBeforeBody(const HttpRequest& head) const
{
    return m_router.checkBeforeBody(head);
}

} // namespace lumora
