#pragma once

#include "common/HttpMessage.hpp"
#include "common/ListenAddress.hpp"

#include <cstddef>
#include <cstdint>
#include <expected>
#include <functional>
#include <memory>
#include <optional>
#include <ostream>
#include <string>

namespace lumora {

class ConnectionTakeover;

using HttpHandler = std::function<HttpResponse(const HttpRequest&)>;

struct TlsFiles {
    std::string certificateChain; // PEM, server certificate first
    std::string privateKey; // PEM
};

struct HttpServerOptions {
    ListenAddress listen;
    std::optional<TlsFiles> tls;
    std::size_t bodyLimit = 2 * 1024 * 1024;
    // Threads that serve connections (TLS, parsing); 0 picks one per core, 2 to 8.
    unsigned threads = 0;
};

// An HTTP/1.1 server: connections are coroutines on a pool of threads, and the handler runs
// on the thread that calls runUntilSignalled, one request at a time, so it may use
// thread-bound resources such as a database connection.
// Each request is logged as one line (method, path, status, milliseconds; never bodies,
// queries or headers). Bodies over the limit, malformed requests and handler exceptions
// are answered with {"error": code} and never reach or stop the server; anything else one
// connection throws is logged and closes that connection only.
class HttpServer {
public:
    // `takeover`, when given, may take connections over after their first request
    // (see ConnectionTakeover.hpp); every other request goes to `handler`.
    static std::expected<std::unique_ptr<HttpServer>, std::string> listen(HttpServerOptions options,
        HttpHandler handler, std::ostream& log, std::shared_ptr<ConnectionTakeover> takeover = nullptr);
    ~HttpServer();
    HttpServer(const HttpServer&) = delete;
    HttpServer& operator=(const HttpServer&) = delete;

    // The port actually bound (the chosen one when the options asked for port 0).
    [[nodiscard]] std::uint16_t port() const;

    // Serves until SIGINT or SIGTERM arrives, then stops accepting and returns.
    void runUntilSignalled();

private:
    struct State;
    explicit HttpServer(std::unique_ptr<State> state);
    std::unique_ptr<State> m_state;
};

} // namespace lumora
