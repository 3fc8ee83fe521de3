#pragma once

#include "common/HttpMessage.hpp"
#include "controlplane/ControlPlaneStore.hpp"

#include <expected>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace lumora {

class NonceWriter;
class ProvenDevices;
class RequestAuthenticator;

// Whose a body is, as its head says before it is read.
struct BodyOwner {
    // The account of the device the signature header names.
    QUuid account;
    // Whether that device has made a signed call from the client's address lately.
    bool proven = false;
};

// The control plane's route table: finds the route of a request by path and method, checks
// the device signature of signed routes and calls the route's handler. A path no route
// has answers 404; a path known under other methods answers 405 with "Allow". A store that
// fails answers 503 "storage_unavailable".
class Router {
public:
    using OpenHandler = std::function<HttpResponse(const HttpRequest&)>;
    using SignedHandler = std::function<HttpResponse(const HttpRequest&, const DeviceRecord&)>;

    // With `nonces`, signed calls record their nonces there and go on once they are recorded
    // (the answer comes later, and the route's handler runs on the thread that called
    // dispatch); without, on this thread's store before the handler runs. With `proven`,
    // every signed call that gets through is remembered there.
    explicit Router(
        RequestAuthenticator& authenticator, NonceWriter* nonces = nullptr, ProvenDevices* proven = nullptr);

    Router(const Router&) = delete;
    Router& operator=(const Router&) = delete;

    // Routes of the calls made before a device is registered, and of signed calls: those
    // answer 401 with the reason unless the "Device" signature holds. In a path, "{}"
    // stands for one segment (an identifier).
    void addOpenRoute(std::string path, std::string method, OpenHandler handler);
    void addSignedRoute(std::string path, std::string method, SignedHandler handler);

    // A member function of `owner` as the handler of a route.
    template <typename Owner>
    void addOpenRoute(std::string path, std::string method, Owner& owner,
        HttpResponse (Owner::*handler)(const HttpRequest&))
    {
        addOpenRoute(std::move(path), std::move(method),
            [&owner, handler](const HttpRequest& request) { return (owner.*handler)(request); });
    }
    template <typename Owner>
    void addSignedRoute(std::string path, std::string method, Owner& owner,
        HttpResponse (Owner::*handler)(const HttpRequest&, const DeviceRecord&))
    {
        addSignedRoute(std::move(path), std::move(method),
            [&owner, handler](const HttpRequest& request, const DeviceRecord& device) {
                return (owner.*handler)(request, device);
            });
    }

    HttpResponse dispatch(const HttpRequest& request) const;
    // Before the body of `head` is read: the refusal of a request that goes nowhere, of an
    // open call (which takes no long body), or of a signed call whose signature header
    // already fails; else whose the body is.
    std::expected<BodyOwner, HttpResponse> checkBeforeBody(const HttpRequest& head) const;

    static bool matches(std::string_view pattern, std::string_view path);

private:
    struct Route {
        std::string path;
        std::string method;
        OpenHandler open;
        SignedHandler signedCall;
    };

    // The route of a request, or the 404 or 405 refusal.
    std::expected<const Route*, HttpResponse> find(const HttpRequest& request) const;
    HttpResponse dispatchSigned(const Route& route, const HttpRequest& request) const;
    // A signed call that got through: the route's answer.
    HttpResponse callSigned(const Route& route, const HttpRequest& request, const DeviceRecord& device) const;

    RequestAuthenticator& m_authenticator;
    NonceWriter* m_nonces = nullptr;
    ProvenDevices* m_proven = nullptr;
    std::vector<Route> m_routes;
};

} // namespace lumora
