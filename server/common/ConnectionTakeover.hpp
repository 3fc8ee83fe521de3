#pragma once

#include "common/Asio.hpp"
#include "common/OpenConnections.hpp"

#include <boost/asio/ssl.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/ssl.hpp>

namespace lumora {

// A handler that takes a connection over from the HTTP server after its first request, for
// protocols that leave HTTP behind (a WebSocket upgrade). It runs on the connection's own
// strand, not on the handler thread, so it must keep whatever it shares safe itself.
class ConnectionTakeover {
public:
    using Request = boost::beast::http::request<boost::beast::http::string_body>;
    using PlainStream = boost::beast::tcp_stream;
    using TlsStream = boost::beast::ssl_stream<boost::beast::tcp_stream>;

    virtual ~ConnectionTakeover() = default;

    // Whether this request's connection is taken over; others go to the HTTP handler.
    [[nodiscard]] virtual bool wants(const Request& request) const = 0;

    // Serves the connection until it ends; what it returns is logged as the request's
    // status. The stream has no deadline set; the server shuts it down afterwards. The
    // connection never makes way at the cap until the takeover says how it progresses (see
    // OpenConnections.hpp).
    virtual boost::asio::awaitable<int> takeOver(
        PlainStream& stream, Request request, OpenConnections::Connection& connection)
        = 0;
    virtual boost::asio::awaitable<int> takeOver(
        TlsStream& stream, Request request, OpenConnections::Connection& connection)
        = 0;
};

} // namespace lumora
