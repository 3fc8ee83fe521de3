#pragma once

#include "providers/ControlPlaneFailure.hpp"

#include <QString>

namespace lumora {

// The short codes by which the services name a failed control-plane call in their logs and
// records. They never carry the server's text or the error's message.
struct ServiceFailureCode {
    // "status_" and the status of a refusal without an error code; the server's own code of a
    // refusal with one; "invalid_response" for a reply that was not HTTP; `network(code)` for a
    // request that got no answer; "offline" for anything else (a reply that did not decode, a
    // request that could not be signed).
    static QString of(const ControlPlaneFailure& failure);

    // "url_error_" and the QNetworkReply::NetworkError value of a request that got no HTTP
    // answer, in decimal with its sign.
    static QString network(int networkError);
};

} // namespace lumora
