#include "controlplane/Router.hpp"

#include "common/DeferredResponse.hpp"
#include "controlplane/JsonReplies.hpp"
#include "controlplane/NonceWriter.hpp"
#include "controlplane/ProvenDevices.hpp"
#include "controlplane/RequestAuthenticator.hpp"

#include <type_traits>

namespace lumora {

namespace {

HttpResponse refusal(AuthenticationFailure failure)
{
    return errorResponse(401, toString(failure).toStdString());
}

// What `answer` answers, or 503 when the store fails on the way.
template <typename Answer> auto storeGuarded(Answer answer) -> decltype(answer())
{
    try {
        return answer();
    } catch (const StoreFailure& failure) {
        qWarning("storage failed: %s", failure.what());
        using Result = decltype(answer());
        if constexpr (std::is_same_v<Result, HttpResponse>)
            return errorResponse(503, "storage_unavailable");
        else
            return Result(std::unexpect, errorResponse(503, "storage_unavailable"));
    }
}

} // namespace

Router::Router(RequestAuthenticator& authenticator, NonceWriter* nonces, ProvenDevices* proven)
    : m_authenticator(authenticator)
    , m_nonces(nonces)
    , m_proven(proven)
{
}

bool Router::matches(std::string_view pattern, std::string_view path)
{
    // Segment by segment; "{}" stands for any one non-empty segment.
    while (!pattern.empty() && !path.empty()) {
        const auto patternEnd = pattern.find('/', 1);
        const auto pathEnd = path.find('/', 1);
        const std::string_view patternSegment = pattern.substr(0, patternEnd);
        const std::string_view pathSegment = path.substr(0, pathEnd);
        if (patternSegment == "/{}" ? pathSegment.size() < 2 : patternSegment != pathSegment)
            return false;
        pattern = patternEnd == std::string_view::npos ? std::string_view {} : pattern.substr(patternEnd);
        path = pathEnd == std::string_view::npos ? std::string_view {} : path.substr(pathEnd);
    }
    return pattern.empty() && path.empty();
}

void Router::addOpenRoute(std::string path, std::string method, OpenHandler handler)
{
    m_routes.push_back(Route { std::move(path), std::move(method), std::move(handler), {} });
}

void Router::addSignedRoute(std::string path, std::string method, SignedHandler handler)
{
    m_routes.push_back(Route { std::move(path), std::move(method), {}, std::move(handler) });
}

std::expected<const Router::Route*, HttpResponse> Router::find(const HttpRequest& request) const
{
    std::string allowed;
    for (const Route& route : m_routes) {
        if (!matches(route.path, request.path))
            continue;
        if (request.method != route.method) {
            allowed += allowed.empty() ? route.method : ", " + route.method;
            continue;
        }
        return &route;
    }
    if (allowed.empty())
        return std::unexpected(errorResponse(404, "not_found"));
    HttpResponse response = errorResponse(405, "method_not_allowed");
    response.headers.emplace_back("Allow", allowed);
    return std::unexpected(std::move(response));
}

HttpResponse Router::dispatch(const HttpRequest& request) const
{
    return storeGuarded([&] {
        const auto route = find(request);
        if (!route)
            return route.error();
        if ((*route)->open)
            return (*route)->open(request);
        return dispatchSigned(**route, request);
    });
}

HttpResponse Router::dispatchSigned(const Route& route, const HttpRequest& request) const
{
    if (!m_nonces) {
        const auto device = m_authenticator.authenticateDevice(request);
        if (!device)
            return refusal(device.error());
        return callSigned(route, request, *device);
    }
    const auto call = m_authenticator.checkDeviceSignature(request);
    if (!call)
        return refusal(call.error());
    auto deferred = std::make_shared<DeferredResponse>();
    const NonceClaim claim { call->device.id, call->signer, call->nonce, call->timestamp };
    m_nonces->remember(claim, [this, &route, deferred, call = *call](NonceOutcome outcome) {
        deferred->continueWith([this, &route, call, outcome](const HttpRequest& signedRequest) {
            return storeGuarded([&] {
                switch (outcome) {
                case NonceOutcome::accepted:
                    return callSigned(route, signedRequest, call.device);
                case NonceOutcome::refused:
                    return refusal(m_authenticator.refusalOf(call));
                case NonceOutcome::storageFailed:
                    break;
                }
                return errorResponse(503, "storage_unavailable");
            });
        });
    });
    return DeferredResponse::later(std::move(deferred));
}

HttpResponse Router::callSigned(
    const Route& route, const HttpRequest& request, const DeviceRecord& device) const
{
    if (m_proven)
        m_proven->remember(device.id, request.client, ProvenDevices::Clock::now());
    return route.signedCall(request, device);
}

std::expected<BodyOwner, HttpResponse> Router::checkBeforeBody(const HttpRequest& head) const
{
    return storeGuarded([&]() -> std::expected<BodyOwner, HttpResponse> {
        const auto route = find(head);
        if (!route)
            return std::unexpected(route.error());
        if ((*route)->open)
            return std::unexpected(errorResponse(413, "payload_too_large"));
        const auto device = m_authenticator.checkHead(head);
        if (!device)
            return std::unexpected(refusal(device.error()));
        const bool proven
            = m_proven && m_proven->proven(device->id, head.client, ProvenDevices::Clock::now());
        return BodyOwner { device->accountID, proven };
    });
}

} // namespace lumora
