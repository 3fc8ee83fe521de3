#pragma once

#include "common/HttpMessage.hpp"
#include "controlplane/ControlPlaneStore.hpp"
#include "controlplane/SignInLimits.hpp"

#include <QString>
#include <QUrl>
#include <QUuid>
#include <functional>

namespace lumora {

class RequestAuthenticator;
class Router;
class SignInWriter;

// The calls made before a device is registered: the web sign-in and its development page,
// the identity-token registration, and recovering the registration of a known key.
class SignInEndpoints {
public:
    // Sign-in tickets and pending sign-ins lapse after this many seconds.
    static constexpr qint64 signInLifetime = 600;

    // `devSignIn` offers the development sign-in page in place of Sign in with Apple;
    // `publicUrl` is where clients reach this server, the start of that page's address; `limits`
    // bound the requests that starts store. With `writer`, starts are decided there (the answer
    // comes later); without, on `store`.
    SignInEndpoints(ControlPlaneStore& store, RequestAuthenticator& authenticator, bool devSignIn,
        QUrl publicUrl, SignInLimits limits, std::function<qint64()> clock, SignInWriter* writer = nullptr);

    void addRoutes(Router& router);

private:
    HttpResponse recoverDevice(const HttpRequest& request);
    HttpResponse startWebSignIn(const HttpRequest& request);
    HttpResponse completeWebSignIn(const HttpRequest& request);
    HttpResponse registerIdentityToken(const HttpRequest& request);
    HttpResponse devSignInPage(const HttpRequest& request);
    HttpResponse devSignInSubmit(const HttpRequest& request);

    [[nodiscard]] QString signInPageAddress(const QUuid& requestID) const;

    ControlPlaneStore& m_store;
    RequestAuthenticator& m_authenticator;
    bool m_devSignIn;
    QUrl m_publicUrl;
    SignInLimits m_limits;
    std::function<qint64()> m_clock;
    SignInWriter* m_writer;
};

} // namespace lumora
