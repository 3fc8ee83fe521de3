#include "controlplane/PairingEndpoints.hpp"

#include "controlplane/JsonReplies.hpp"
#include "controlplane/Router.hpp"
#include "domain/JsonObjectReader.hpp"
#include "domain/PairingCode.hpp"
#include "domain/PairingPolicy.hpp"

#include <QJsonArray>
#include <QRandomGenerator>

namespace lumora {

namespace {

// A fresh code from the operating system's cryptographic source. The alphabet has 32
// symbols, so `bounded` draws each one without bias.
QString newCode()
{
    QString code;
    code.reserve(PairingCode::length);
    for (qsizetype i = 0; i < PairingCode::length; ++i)
        code.append(PairingCode::alphabet.at(
            QRandomGenerator::system()->bounded(static_cast<quint32>(PairingCode::alphabet.size()))));
    return code;
}

void insertSeconds(QJsonObject& object, const QString& key, std::optional<qint64> seconds)
{
    if (seconds)
        object.insert(key, *seconds);
}

QJsonObject historyJson(const WorkspaceHistoryRecord& history)
{
    QJsonObject object { { "conversation_count", history.conversationCount } };
    insertSeconds(object, QStringLiteral("earliest_started_at"), history.earliestStartedAt);
    insertSeconds(object, QStringLiteral("latest_started_at"), history.latestStartedAt);
    return object;
}

} // namespace

PairingEndpoints::PairingEndpoints(
    ControlPlaneStore& store, std::function<qint64()> clock, PairingLifetimes lifetimes)
    : m_store(store)
    , m_clock(std::move(clock))
    , m_lifetimes(lifetimes)
{
}

void PairingEndpoints::addRoutes(Router& router)
{
    using P = PairingEndpoints;
    router.addSignedRoute("/v1/pairing/invites", "POST", *this, &P::createInvite);
    router.addSignedRoute("/v1/pairing/invites/redeem", "POST", *this, &P::redeemInvite);
    router.addSignedRoute("/v1/pairing/invites/confirm", "POST", *this, &P::confirmInvite);
    router.addSignedRoute("/v1/pairing/unlink", "POST", *this, &P::unlink);
    router.addSignedRoute("/v1/pairing/state", "GET", *this, &P::state);
}

bool PairingEndpoints::isPaired(const QUuid& accountID) const
{
    return m_store.currentWorkspace(accountID).memberCount > 1;
}

HttpResponse PairingEndpoints::createInvite(const HttpRequest& request, const DeviceRecord& device)
{
    const auto body = jsonBody(request);
    if (!body)
        return body.error();
    JsonObjectReader reader(*body, QStringLiteral("invite"));
    const QString policyVersion = reader.string(u"policy_version");
    if (reader.failed())
        return invalidRequest();
    if (policyVersion != PairingPolicy::version)
        return errorResponse(422, "pairing_policy_unsupported");
    if (isPaired(device.accountID))
        return errorResponse(409, "already_paired");

    const qint64 now = m_clock();
    const PairingInviteRecord invite { QUuid::createUuid(), device.accountID, newCode(), policyVersion,
        QStringLiteral("open"), now, now + m_lifetimes.invite, std::nullopt, std::nullopt };
    m_store.addInvite(invite);
    return jsonResponse(
        { { "invite_id", idText(invite.id) }, { "code", invite.code }, { "expires_at", invite.expiresAt } });
}

QJsonObject PairingEndpoints::redemptionJson(const PairingInviteRecord& redeemed) const
{
    const auto inviterWorkspace = m_store.currentWorkspace(redeemed.accountID);
    return { { "invite_id", idText(redeemed.id) },
        { "confirm_expires_at", redeemed.confirmExpiresAt.value_or(0) },
        { "history", historyJson(m_store.workspaceHistory(inviterWorkspace.id)) } };
}

HttpResponse PairingEndpoints::redeemInvite(const HttpRequest& request, const DeviceRecord& device)
{
    const auto body = jsonBody(request);
    if (!body)
        return body.error();
    JsonObjectReader reader(*body, QStringLiteral("redeem"));
    const QString typed = reader.string(u"code");
    if (reader.failed())
        return invalidRequest();
    const qint64 now = m_clock();
    const auto invite = m_store.inviteForGuess(device.accountID, typed, now);
    if (!invite) {
        switch (invite.error().reason) {
        case CodeGuessRefusal::Reason::tooManyAttempts:
            return tooManyRequests("too_many_attempts", invite.error().retryAfter);
        case CodeGuessRefusal::Reason::invalidCode:
            return errorResponse(422, "pairing_code_invalid");
        case CodeGuessRefusal::Reason::noSuchInvite:
            break;
        }
        return errorResponse(404, "pairing_invite_not_found");
    }
    if (invite->accountID == device.accountID)
        return errorResponse(409, "pairing_own_invite");

    if (invite->status == u"pending_confirmation") {
        if (invite->redeemedBy != device.accountID)
            return errorResponse(409, "pairing_invite_already_redeemed");
        // The same account asking again (its first answer lost) gets the same redemption,
        // while it may still confirm.
        if (now >= invite->confirmExpiresAt.value_or(0))
            return errorResponse(410, "pairing_confirmation_expired");
        return jsonResponse(redemptionJson(*invite));
    }
    if (invite->status != u"open")
        return errorResponse(409, "pairing_invite_unavailable");
    if (now >= invite->expiresAt)
        return errorResponse(410, "pairing_invite_expired");
    if (isPaired(device.accountID))
        return errorResponse(409, "already_paired");
    if (isPaired(invite->accountID))
        return errorResponse(409, "pairing_invite_unavailable");

    const qint64 confirmExpiresAt = now + m_lifetimes.confirmation;
    if (!m_store.redeem(invite->id, device.accountID, now, confirmExpiresAt))
        return errorResponse(409, "pairing_invite_unavailable");
    PairingInviteRecord redeemed = *invite;
    redeemed.confirmExpiresAt = confirmExpiresAt;
    return jsonResponse(redemptionJson(redeemed));
}

HttpResponse PairingEndpoints::confirmInvite(const HttpRequest& request, const DeviceRecord& device)
{
    const auto body = jsonBody(request);
    if (!body)
        return body.error();
    JsonObjectReader reader(*body, QStringLiteral("confirm"));
    const QUuid inviteID = reader.uuid(u"invite_id");
    const QString policyVersion = reader.string(u"policy_version");
    if (reader.failed())
        return invalidRequest();

    // Only the account that redeemed a code confirms it; to anyone else it does not exist.
    const auto invite = m_store.invite(inviteID);
    if (!invite || invite->redeemedBy != device.accountID)
        return errorResponse(404, "pairing_confirmation_not_found");
    if (invite->status == u"confirmed")
        return errorResponse(409, "pairing_confirmation_replayed");
    if (invite->status != u"pending_confirmation")
        return errorResponse(409, "pairing_invite_unavailable");
    const qint64 now = m_clock();
    if (now >= invite->confirmExpiresAt.value_or(0))
        return errorResponse(410, "pairing_confirmation_expired");
    if (policyVersion != invite->policyVersion)
        return errorResponse(422, "pairing_policy_mismatch");
    if (isPaired(device.accountID) || isPaired(invite->accountID))
        return errorResponse(409, "already_paired");
    if (!m_store.link(*invite, now))
        return errorResponse(409, "pairing_invite_unavailable");
    return jsonResponse(
        { { "linked_at", now }, { "member_count", m_store.currentWorkspace(device.accountID).memberCount } });
}

HttpResponse PairingEndpoints::unlink(const HttpRequest& request, const DeviceRecord& device)
{
    if (const auto body = jsonBody(request); !body)
        return body.error();
    if (!isPaired(device.accountID))
        return errorResponse(409, "not_paired");
    m_store.unlink(device.accountID, m_clock());
    return okResponse();
}

HttpResponse PairingEndpoints::state(const HttpRequest&, const DeviceRecord& device)
{
    const qint64 now = m_clock();
    const CurrentWorkspaceRecord current = m_store.currentWorkspace(device.accountID);
    QJsonObject workspace { { "workspace_id", current.id }, { "paired", current.memberCount > 1 },
        { "member_count", current.memberCount } };
    insertSeconds(workspace, QStringLiteral("linked_at"), current.linkedAt);
    insertSeconds(workspace, QStringLiteral("partner_joined_at"), current.partnerJoinedAt);
    QJsonObject reply { { "workspace", workspace } };

    if (const auto invite = m_store.outstandingInvite(device.accountID, now)) {
        QJsonObject pending { { "invite_id", idText(invite->id) }, { "status", invite->status },
            { "expires_at", invite->expiresAt } };
        insertSeconds(pending, QStringLiteral("confirm_expires_at"), invite->confirmExpiresAt);
        reply.insert("pending_invite", pending);
    }
    if (const auto redeemed = m_store.pendingConfirmation(device.accountID, now))
        reply.insert("pending_confirmation", redemptionJson(*redeemed));

    QJsonArray previous;
    for (const PreviousWorkspaceRecord& earlier : m_store.previousWorkspaces(device.accountID))
        previous.append(QJsonObject { { "workspace_id", earlier.id }, { "linked_at", earlier.createdAt },
            { "unlinked_at", earlier.leftAt }, { "member_count", earlier.memberCount },
            { "conversation_count", m_store.workspaceHistory(earlier.id).conversationCount } });
    reply.insert("previous_workspaces", previous);
    return jsonResponse(reply);
}

} // namespace lumora
