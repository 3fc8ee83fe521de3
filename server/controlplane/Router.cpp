#include "controlplane/Router.hpp"

#include "controlplane/JsonReplies.hpp"
#include "controlplane/RequestAuthenticator.hpp"

namespace lumora {

Router::Router(RequestAuthenticator& authenticator)
    : m_authenticator(authenticator)
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

HttpResponse Router::dispatch(const HttpRequest& request) const
{
    std::string allowed;
    for (const Route& route : m_routes) {
        if (!matches(route.path, request.path))
            continue;
        if (request.method != route.method) {
            allowed += allowed.empty() ? route.method : ", " + route.method;
            continue;
        }
        if (route.open)
            return route.open(request);
        const auto device = m_authenticator.authenticateDevice(request);
        if (!device)
            return errorResponse(401, toString(device.error()).toStdString());
        return route.signedCall(request, *device);
    }
    if (allowed.empty())
        return errorResponse(404, "not_found");
    HttpResponse response = errorResponse(405, "method_not_allowed");
    response.headers.emplace_back("Allow", allowed);
    return response;
}

} // namespace lumora
