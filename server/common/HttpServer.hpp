#pragma once

#include "common/HttpMessage.hpp"
#include "common/ListenAddress.hpp"

#include <chrono>
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

// Answers one request; the answer may come later (HttpResponse::deferred).
using HttpHandler = std::function<HttpResponse(const HttpRequest&)>;
// What a head check says of a request whose head is read and whose body is not.
struct HeadVerdict {
    // A response refuses the request without reading the body; nullopt lets the body be read.
    // Only a long body is refused so (see HttpServerOptions::uncheckedBodyLimit): a short one
    // is read all the same, a stranger's, for the handler to judge.
    std::optional<HttpResponse> refusal;
    // Whose share of the owners' part of the body memory the body takes once vouched for (the
    // account the signature header names, say); empty when it names none, and it takes from
    // the strangers' part (see HttpServerOptions::openBodyMemory).
    std::string owner;
    // Whether the head itself vouches for the owner (a token it carries, or a device that has
    // proven itself from the client's address lately). Otherwise the body counts against its
    // client's network (see BodyBudget.hpp) while it is read, and against the owner once whole,
    // when it goes to the handler: the handler must check first what vouches for it (a
    // signature over the body), so that a forged body never counts against the owner it names
    // for longer than that check.
    bool headVouches = false;
};
using HeadCheck = std::function<HeadVerdict(const HttpRequest& head)>;

struct TlsFiles {
    std::string certificateChain; // PEM, server certificate first
    std::string privateKey; // PEM, owner-only and the server's user's, as OwnerOnlyFile.hpp says
};

struct HttpServerOptions {
    ListenAddress listen;
    std::optional<TlsFiles> tls;
    std::size_t bodyLimit = 2 * 1024 * 1024;
    // Threads that serve connections (TLS, parsing); 0 picks one per core, 2 to 8.
    unsigned threads = 0;
    // 0 runs the handler on the thread that read the request, which then serves that
    // connection's next requests too; more runs it on a pool of that many threads, each one
    // request at a time. Either way a handler thread runs one request at a time, so it may
    // keep thread-bound resources of its own (thread_local), such as a database connection.
    unsigned handlerThreads = 0;
    // Connections open at once, each until its descriptor is closed; 0 derives the cap from the
    // process's descriptor limit (raised to its hard limit when the server starts). At the cap the
    // connection idle longest of those that make no progress (no request yet, a head not complete,
    // a body short of a second's bytes at `minimumBodyRate`, an answer its client has taken none of
    // for two seconds, the drain after a refusal, the TLS close) is closed to admit a new one; when
    // none makes way, new ones wait (see OpenConnections.hpp).
    std::size_t maxConnections = 0;
    // Connections from one client address (an IPv6 one by its /64 prefix); at the bound one of
    // its own makes way as at the cap, or the new one is closed. 0 takes a sixteenth of the cap,
    // at least 16.
    std::size_t maxConnectionsPerAddress = 0;
    // A connection's first request head must be complete this long after the connection is
    // ready for it, a later one this long after its first byte, whatever arrives meanwhile.
    std::chrono::milliseconds headTimeout { 5000 };
    // A body longer than this is read only once `headCheck` lets it; one of unknown length
    // that the check refuses is read up to this length, for the handler to judge.
    std::size_t uncheckedBodyLimit = 64 * 1024;
    // Asked before every body is read.
    HeadCheck headCheck = nullptr;
    // The bytes of request bodies that all connections together may hold, counted as they
    // arrive (an announced length takes nothing) until the answer is sent; a body that would
    // pass its share is refused with 503 "server_busy" and its connection closed. How the
    // shares are cut, and shrink when many ask, is in BodyBudget.hpp.
    std::size_t bodyMemoryLimit = 256 * 1024 * 1024;
    // The most of the owners' part (what `openBodyMemory` leaves) that the bodies of one owner
    // (see HeadVerdict) may hold together, and those naming an owner from one network until
    // vouched for, so that neither can take it all; at least `bodyLimit`.
    std::size_t bodyMemoryPerOwner = 4 * 1024 * 1024;
    // The strangers' part, for bodies that name no owner, held apart from the owners': in all,
    // and the most from one client address (an IPv6 one by its /64 prefix), so that clients
    // nobody vouches for never take what an owner's body needs, and one address not what the
    // others need.
    std::size_t openBodyMemory = 16 * 1024 * 1024;
    std::size_t openBodyMemoryPerAddress = 1024 * 1024;
    // The bytes a body must bring (unless whole) within its first two seconds, and then within
    // a second of the last such bytes; one that stops coming loses its place and its connection
    // is closed. 16 KiB/s (128 kbit/s, a poor mobile link) lets the longest body of 2 MiB
    // through in some two minutes; 0 asks for nothing.
    std::size_t minimumBodyRate = 16 * 1024;
};

// An HTTP/1.1 server: connections are coroutines on a pool of threads, each connection on one
// thread for its whole life, and the handler runs as HttpServerOptions::handlerThreads says.
// Each request is logged as one line (method, path, status, milliseconds; never bodies,
// queries or headers). Bodies over the limit, malformed requests and handler exceptions
// are answered with {"error": code} and never reach or stop the server; anything else one
// connection throws is logged and closes that connection only. Running out of descriptors
// never makes the server spin: it closes an idle connection, waits a moment and accepts again.
// A connection that moves (its client takes its answer, or sends its body at the floor rate) never
// makes way at the cap.
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

    // Serves until SIGINT or SIGTERM arrives, then stops accepting, closes idle connections,
    // lets the requests under way be answered (for at most a few seconds) and returns.
    void runUntilSignalled();

private:
    struct State;
    explicit HttpServer(std::unique_ptr<State> state);
    std::unique_ptr<State> m_state;
};

} // namespace lumora
