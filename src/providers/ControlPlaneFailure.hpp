#pragma once

#include "domain/ControlPlaneError.hpp"
#include "domain/JsonDecodeError.hpp"
#include "security/CryptoError.hpp"

#include <QByteArray>
#include <QString>
#include <variant>

namespace lumora {

// The request never got an HTTP answer: no connection, TLS failure, timeout, cancellation.
// `code` is the QNetworkReply::NetworkError value, which tells only how the last attempt ended:
// Qt sends a request again by itself when its connection closes before any answer, so a refused
// connection may follow a request that arrived. `connected` says whether a connection of its own
// was made for it (its TLS session began) at least once; a request that went out on a connection
// kept from an earlier reply never says so.
struct TransportError {
    int code = 0;
    QString message;
    bool connected = false;
    bool operator==(const TransportError&) const = default;
};

// Everything a control-plane call can fail with, each passed on as it came: the server's
// refusal, the network's error, the signer's error, or the reply decoder's error.
using ControlPlaneFailure = std::variant<ControlPlaneError, TransportError, CryptoError, JsonDecodeError>;

// The body bytes of a 2xx reply, possibly empty. (A struct rather than a bare QByteArray:
// QCoro's task cannot carry std::expected<QByteArray, ...> with g++ 12.)
struct ReplyBody {
    QByteArray data;
    bool operator==(const ReplyBody&) const = default;
};

} // namespace lumora
