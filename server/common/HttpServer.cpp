#include "common/HttpServer.hpp"

#include "common/Asio.hpp"
#include "common/ConnectionTakeover.hpp"

#include <algorithm>
#include <array>
#include <atomic>
#include <boost/asio/ssl.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/ssl.hpp>
#include <cerrno>
#include <chrono>
#include <exception>
#include <list>
#include <mutex>
#include <string>
#include <sys/resource.h>
#include <thread>
#include <vector>

namespace lumora {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = asio::ip::tcp;

namespace {

constexpr auto readTimeout = std::chrono::seconds(30);
constexpr auto handshakeTimeout = std::chrono::seconds(10);
constexpr auto drainTimeout = std::chrono::seconds(5);
constexpr std::uint32_t headerLimit = 16 * 1024;
// What a connection may hold unparsed: the head, or the trailer section of a chunked body,
// which the parser takes in whole and does not count against the head's limit. Beast throws
// on a single field of 64 KiB; this bound keeps every field far below that.
constexpr std::size_t readBufferLimit = headerLimit;
constexpr std::size_t drainLimit = 64 * 1024 * 1024;
// How long the accept loop waits before trying again after a failed accept (doubling up to
// the longest), and how often it looks for a free place when every connection is busy.
constexpr auto shortestAcceptPause = std::chrono::milliseconds(10);
constexpr auto longestAcceptPause = std::chrono::milliseconds(500);
constexpr auto fullPause = std::chrono::milliseconds(20);
// After a stop signal, how long requests under way may take to finish, and how often the
// server looks whether they have.
constexpr auto stopGrace = std::chrono::seconds(5);
constexpr auto stopPoll = std::chrono::milliseconds(20);

using Clock = std::chrono::steady_clock;

std::int64_t ticksNow()
{
    return Clock::now().time_since_epoch().count();
}

// Without a cap of its own, the server keeps a quarter of the descriptor limit (16 to 256)
// for what is not a connection: database connections, files, the log.
std::size_t defaultConnectionCap()
{
    rlimit limit {};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY)
        return 10000;
    const auto descriptors = static_cast<std::size_t>(limit.rlim_cur);
    const std::size_t kept = std::clamp<std::size_t>(descriptors / 4, 16, 256);
    return descriptors > kept + 16 ? descriptors - kept : 16;
}

bool outOfDescriptors(const beast::error_code& ec)
{
    return ec == asio::error::no_descriptors || ec.value() == ENFILE || ec == asio::error::no_buffer_space
        || ec == asio::error::no_memory;
}

// One open connection, as the accept loop sees it: whether it waits for a request, since
// when, and how to close it from its own strand.
struct Connection {
    explicit Connection(asio::any_io_executor connectionStrand)
        : strand(std::move(connectionStrand))
    {
    }
    asio::any_io_executor strand;
    // Set and cleared on the strand, while the stream lives.
    beast::tcp_stream* stream = nullptr;
    // Clock ticks since the connection waits for the first byte of a request (or of its TLS
    // handshake); 0 while a request is under way. Written on the strand only.
    std::atomic<std::int64_t> idleSince { 0 };
    // Where it is in the list of open connections; guarded by that list's lock.
    std::list<std::shared_ptr<Connection>>::iterator position;
    bool listed = false;
};

auto awaitError(beast::error_code& ec)
{
    return asio::redirect_error(asio::use_awaitable, ec);
}

std::string describe(const std::exception_ptr& failure)
{
    try {
        std::rethrow_exception(failure);
    } catch (const std::exception& exception) {
        return exception.what();
    } catch (...) {
        return "unknown exception";
    }
}

// After a refusal the server sends nothing more; a client reading until the connection
// closes learns that its answer is complete while the rest of its request is drained.
void finishSending(beast::tcp_stream& stream)
{
    beast::error_code ec;
    stream.socket().shutdown(tcp::socket::shutdown_send, ec);
}

void finishSending(beast::ssl_stream<beast::tcp_stream>&)
{
}

HttpRequest toHttpRequest(http::request<http::string_body>&& message)
{
    HttpRequest request;
    request.method = std::string(message.method_string());
    const std::string_view target(message.target().data(), message.target().size());
    const auto question = target.find('?');
    request.path = std::string(target.substr(0, question));
    if (question != std::string_view::npos)
        request.query = std::string(target.substr(question + 1));
    for (const auto& field : message)
        request.headers.emplace_back(std::string(field.name_string()), std::string(field.value()));
    request.body = std::move(message.body());
    return request;
}

http::response<http::string_body> toBeastResponse(
    const HttpResponse& response, unsigned version, bool keepAlive)
{
    http::response<http::string_body> message { static_cast<http::status>(response.status), version };
    message.set(http::field::server, "lumora");
    message.set(http::field::content_type, response.contentType);
    message.set(http::field::cache_control, "no-store");
    for (const auto& [name, value] : response.headers)
        message.set(name, value);
    message.body() = response.body;
    message.keep_alive(keepAlive);
    message.prepare_payload();
    return message;
}

} // namespace

// Connections run on a pool of threads, each on a strand of its own; the handler runs on a
// pool of handler threads. Declared so that, when destroyed, the handler pool goes first
// (its queued work holds connection coroutines whose sockets belong to `io`), then the
// acceptor, then `io`, and last what the remaining coroutines refer to (handler, TLS
// context). The thread that called runUntilSignalled waits for the stop signal.
struct HttpServer::State {
    HttpHandler handler;
    std::shared_ptr<ConnectionTakeover> takeover;
    std::size_t bodyLimit = 0;
    unsigned threads = 1;
    std::ostream* log = nullptr;
    std::mutex logLock;
    std::optional<asio::ssl::context> tls;
    std::size_t maxConnections = 0;
    std::mutex connectionsLock;
    std::list<std::shared_ptr<Connection>> connections;
    // Set by the stop signal: no new requests are read, those under way are answered.
    std::atomic<bool> stopping { false };
    std::atomic<int> requestsUnderWay { 0 };
    asio::io_context io;
    tcp::acceptor acceptor { io };
    // The accept loop's strand, where the acceptor is closed at a stop.
    asio::strand<asio::io_context::executor_type> acceptStrand = asio::make_strand(io);
    asio::io_context signalContext { 1 };
    std::optional<asio::thread_pool> handlers;
    // Made as soon as the server listens, so that a SIGTERM arriving before
    // runUntilSignalled (a caller told of the port stops it at once) still stops it cleanly.
    std::optional<asio::signal_set> signals;

    void logLine(std::string_view method, std::string_view path, int status,
        std::chrono::steady_clock::time_point started)
    {
        const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
            std::chrono::steady_clock::now() - started);
        // Made whole before the lock, and written at once: one write per line.
        std::string line;
        line.reserve(method.size() + path.size() + 32);
        line.append(method).append(" ").append(path).append(" ");
        line.append(std::to_string(status))
            .append(" ")
            .append(std::to_string(elapsed.count()))
            .append(" ms\n");
        const std::lock_guard lock(logLock);
        log->write(line.data(), static_cast<std::streamsize>(line.size()));
        log->flush();
    }

    void logConnectionFailure(const std::exception_ptr& failure)
    {
        const std::string what = describe(failure);
        const std::lock_guard lock(logLock);
        *log << "connection failed: " << what << std::endl;
    }

    HttpResponse respond(const HttpRequest& request) const
    {
        try {
            return handler(request);
        } catch (const std::exception&) {
            return errorResponse(500, "internal_error");
        }
    }

    asio::awaitable<HttpResponse> callHandler(HttpRequest request) { co_return respond(request); }

    // Serves requests on one connection until the peer closes it, a request asks to close,
    // or a read or write fails.
    template <typename Stream> asio::awaitable<void> serve(Stream& stream, Connection& connection)
    {
        beast::flat_buffer buffer(readBufferLimit);
        for (;;) {
            http::request_parser<http::string_body> parser;
            parser.body_limit(bodyLimit);
            parser.header_limit(headerLimit);
            beast::error_code ec;
            beast::get_lowest_layer(stream).expires_after(readTimeout);
            if (buffer.size() == 0) {
                if (stopping)
                    co_return;
                // Waiting for the next request, the connection may be closed to admit another.
                connection.idleSince = ticksNow();
                const std::size_t received
                    = co_await stream.async_read_some(buffer.prepare(readBufferLimit), awaitError(ec));
                connection.idleSince = 0;
                if (ec)
                    co_return;
                buffer.commit(received);
            }
            co_await http::async_read(stream, buffer, parser, awaitError(ec));
            const auto started = std::chrono::steady_clock::now();

            HttpResponse response;
            bool keepAlive = false;
            // Refused for its size: the client may still be sending.
            bool drainAfter = false;
            std::string method = "-";
            std::string path = "-";
            if (ec == http::error::body_limit) {
                response = errorResponse(413, "payload_too_large");
                drainAfter = true;
                method = std::string(parser.get().method_string());
                path = std::string(parser.get().target().substr(0, parser.get().target().find('?')));
            } else if (ec && ec.category() == http::make_error_code(http::error::bad_target).category()
                && ec != http::error::end_of_stream && ec != http::error::partial_message) {
                response = errorResponse(400, "bad_request");
                drainAfter = ec == http::error::header_limit || ec == http::error::buffer_overflow;
            } else if (ec) {
                co_return; // closed, reset or timed out: nobody to answer
            } else if (takeover && takeover->wants(parser.get())) {
                beast::get_lowest_layer(stream).expires_never();
                method = std::string(parser.get().method_string());
                path = std::string(parser.get().target().substr(0, parser.get().target().find('?')));
                const int status = co_await takeover->takeOver(stream, parser.release());
                logLine(method, path, status, started);
                co_return;
            } else {
                keepAlive = parser.get().keep_alive();
                const unsigned version = parser.get().version();
                HttpRequest request = toHttpRequest(parser.release());
                method = request.method;
                path = request.path;
                const UnderWay underWay(requestsUnderWay);
                response = co_await asio::co_spawn(
                    *handlers, callHandler(std::move(request)), asio::use_awaitable);
                // A stop that came meanwhile ends the connection after this answer.
                keepAlive = keepAlive && !stopping;
                // Logged once answered, before the write: a client that has the reply
                // also finds its line in the log, even when the server stops right after.
                logLine(method, path, response.status, started);
                auto message = toBeastResponse(response, version, keepAlive);
                beast::get_lowest_layer(stream).expires_after(readTimeout);
                co_await http::async_write(stream, message, awaitError(ec));
                if (ec || !keepAlive)
                    co_return;
                continue;
            }
            logLine(method, path, response.status, started);
            auto message = toBeastResponse(response, 11, false);
            beast::get_lowest_layer(stream).expires_after(readTimeout);
            co_await http::async_write(stream, message, awaitError(ec));
            if (!ec && drainAfter) {
                finishSending(stream);
                co_await drain(stream);
            }
            co_return;
        }
    }

    // Reads and drops what the client is still sending after a refusal, so that it sees
    // the answer instead of a reset connection. Bounded in bytes and time.
    template <typename Stream> asio::awaitable<void> drain(Stream& stream)
    {
        std::array<char, 64 * 1024> scratch {};
        std::size_t total = 0;
        beast::get_lowest_layer(stream).expires_after(drainTimeout);
        while (total < drainLimit) {
            beast::error_code ec;
            total += co_await stream.async_read_some(asio::buffer(scratch), awaitError(ec));
            if (ec)
                break;
        }
    }

    // Serves one connection; whatever it throws ends that connection only.
    template <typename Stream> asio::awaitable<void> serveGuarded(Stream& stream, Connection& connection)
    {
        try {
            co_await serve(stream, connection);
        } catch (...) {
            logConnectionFailure(std::current_exception());
        }
    }

    // A connection's place in the list while its stream lives, however its coroutine ends
    // (also destroyed unfinished when the server stops).
    class Lease {
    public:
        Lease(State& state, std::shared_ptr<Connection> connection, beast::tcp_stream& stream)
            : m_state(state)
            , m_connection(std::move(connection))
        {
            m_connection->stream = &stream;
        }
        ~Lease()
        {
            m_connection->stream = nullptr;
            const std::lock_guard lock(m_state.connectionsLock);
            if (m_connection->listed) {
                m_connection->listed = false;
                m_state.connections.erase(m_connection->position);
            }
        }
        Lease(const Lease&) = delete;
        Lease& operator=(const Lease&) = delete;
        Connection& connection() { return *m_connection; }

    private:
        State& m_state;
        std::shared_ptr<Connection> m_connection;
    };

    asio::awaitable<void> plainSession(tcp::socket socket, std::shared_ptr<Connection> connection)
    {
        beast::tcp_stream stream(std::move(socket));
        Lease lease(*this, std::move(connection), stream);
        co_await serveGuarded(stream, lease.connection());
        beast::error_code ec;
        stream.socket().shutdown(tcp::socket::shutdown_send, ec);
    }

    asio::awaitable<void> tlsSession(tcp::socket socket, std::shared_ptr<Connection> connection)
    {
        beast::ssl_stream<beast::tcp_stream> stream(std::move(socket), *tls);
        Lease lease(*this, std::move(connection), beast::get_lowest_layer(stream));
        beast::error_code ec;
        beast::get_lowest_layer(stream).expires_after(handshakeTimeout);
        co_await stream.async_handshake(asio::ssl::stream_base::server, awaitError(ec));
        if (ec)
            co_return;
        co_await serveGuarded(stream, lease.connection());
        beast::get_lowest_layer(stream).expires_after(handshakeTimeout);
        co_await stream.async_shutdown(awaitError(ec));
    }

    // Counts a request from its reading until its answer is written.
    class UnderWay {
    public:
        explicit UnderWay(std::atomic<int>& count)
            : m_count(count)
        {
            ++m_count;
        }
        ~UnderWay() { --m_count; }
        UnderWay(const UnderWay&) = delete;
        UnderWay& operator=(const UnderWay&) = delete;

    private:
        std::atomic<int>& m_count;
    };

    // Closes a connection on its own strand unless a request began there meanwhile.
    static void closeIfIdle(const std::shared_ptr<Connection>& connection)
    {
        asio::post(connection->strand, [connection] {
            if (connection->stream && connection->idleSince != 0)
                connection->stream->close();
        });
    }

    // The stop signal: no more connections or requests; those under way are answered
    // within the grace time, then everything stops.
    void beginStop()
    {
        stopping = true;
        asio::post(acceptStrand, [this] {
            beast::error_code ec;
            acceptor.close(ec);
        });
        {
            const std::lock_guard lock(connectionsLock);
            for (const auto& connection : connections)
                closeIfIdle(connection);
        }
        waitForRequestsUnderWay(
            std::make_shared<asio::steady_timer>(signalContext), Clock::now() + stopGrace);
    }

    void waitForRequestsUnderWay(std::shared_ptr<asio::steady_timer> timer, Clock::time_point deadline)
    {
        if (requestsUnderWay == 0 || Clock::now() >= deadline) {
            io.stop();
            handlers->stop();
            return;
        }
        timer->expires_after(stopPoll);
        timer->async_wait(
            [this, timer, deadline](const beast::error_code&) { waitForRequestsUnderWay(timer, deadline); });
    }

    // Closes the connection that has waited longest for its next request, if any waits.
    // It leaves the count at once; its descriptor goes as soon as its strand runs.
    bool closeLongestIdle()
    {
        std::shared_ptr<Connection> oldest;
        {
            const std::lock_guard lock(connectionsLock);
            std::int64_t oldestSince = 0;
            for (const auto& connection : connections) {
                const std::int64_t since = connection->idleSince;
                if (since != 0 && (!oldest || since < oldestSince)) {
                    oldest = connection;
                    oldestSince = since;
                }
            }
            if (!oldest)
                return false;
            oldest->listed = false;
            connections.erase(oldest->position);
        }
        // A request that began meanwhile is served; the cap is over by one until it ends.
        closeIfIdle(oldest);
        return true;
    }

    // At the cap with every connection in the middle of a request.
    bool full()
    {
        const std::lock_guard lock(connectionsLock);
        return connections.size() >= maxConnections
            && std::ranges::none_of(
                connections, [](const auto& connection) { return connection->idleSince != 0; });
    }

    bool atCap()
    {
        const std::lock_guard lock(connectionsLock);
        return connections.size() >= maxConnections;
    }

    asio::awaitable<void> acceptLoop()
    {
        asio::steady_timer pause(co_await asio::this_coro::executor);
        auto failurePause = shortestAcceptPause;
        for (;;) {
            beast::error_code ec;
            if (full()) {
                // Every connection is in the middle of a request: new clients wait in the
                // backlog until one ends.
                pause.expires_after(fullPause);
                co_await pause.async_wait(awaitError(ec));
                if (!acceptor.is_open())
                    co_return;
                continue;
            }
            tcp::socket socket(asio::make_strand(io));
            co_await acceptor.async_accept(socket, awaitError(ec));
            if (ec == asio::error::operation_aborted || !acceptor.is_open())
                co_return;
            if (ec) {
                // Out of descriptors, say: the failure repeats until one is freed, so free one
                // and wait instead of spinning; the pending client is accepted afterwards.
                if (outOfDescriptors(ec))
                    closeLongestIdle();
                pause.expires_after(failurePause);
                co_await pause.async_wait(awaitError(ec));
                failurePause = std::min(failurePause * 2, longestAcceptPause);
                if (!acceptor.is_open())
                    co_return;
                continue;
            }
            failurePause = shortestAcceptPause;
            if (atCap())
                closeLongestIdle();
            const auto strand = socket.get_executor();
            auto connection = std::make_shared<Connection>(strand);
            connection->idleSince = ticksNow();
            {
                const std::lock_guard lock(connectionsLock);
                connection->position = connections.insert(connections.end(), connection);
                connection->listed = true;
            }
            if (tls)
                asio::co_spawn(strand, tlsSession(std::move(socket), connection), asio::detached);
            else
                asio::co_spawn(strand, plainSession(std::move(socket), connection), asio::detached);
        }
    }
};

HttpServer::HttpServer(std::unique_ptr<State> state)
    : m_state(std::move(state))
{
}

HttpServer::~HttpServer() = default;

std::expected<std::unique_ptr<HttpServer>, std::string> HttpServer::listen(HttpServerOptions options,
    HttpHandler handler, std::ostream& log, std::shared_ptr<ConnectionTakeover> takeover)
{
    auto state = std::make_unique<State>();
    state->handler = std::move(handler);
    state->takeover = std::move(takeover);
    state->bodyLimit = options.bodyLimit;
    state->threads
        = options.threads > 0 ? options.threads : std::clamp(std::thread::hardware_concurrency(), 2u, 8u);
    state->log = &log;
    state->maxConnections = options.maxConnections > 0 ? options.maxConnections : defaultConnectionCap();

    if (options.tls) {
        state->tls.emplace(asio::ssl::context::tls_server);
        auto& context = *state->tls;
        context.set_options(asio::ssl::context::default_workarounds | asio::ssl::context::no_sslv2
            | asio::ssl::context::no_sslv3 | asio::ssl::context::no_tlsv1 | asio::ssl::context::no_tlsv1_1
            | asio::ssl::context::single_dh_use);
        beast::error_code ec;
        context.use_certificate_chain_file(options.tls->certificateChain, ec);
        if (ec)
            return std::unexpected(
                "cannot read certificate " + options.tls->certificateChain + ": " + ec.message());
        context.use_private_key_file(options.tls->privateKey, asio::ssl::context::pem, ec);
        if (ec)
            return std::unexpected(
                "cannot read private key " + options.tls->privateKey + ": " + ec.message());
    }

    const std::string host = options.listen.host == "localhost" ? "127.0.0.1" : options.listen.host;
    beast::error_code ec;
    const auto address = asio::ip::make_address(host, ec);
    if (ec)
        return std::unexpected("invalid host " + options.listen.host);
    const tcp::endpoint endpoint(address, options.listen.port);
    auto& acceptor = state->acceptor;
    acceptor.open(endpoint.protocol(), ec);
    if (!ec)
        acceptor.set_option(asio::socket_base::reuse_address(true), ec);
    if (!ec)
        acceptor.bind(endpoint, ec);
    if (!ec)
        acceptor.listen(asio::socket_base::max_listen_connections, ec);
    if (ec)
        return std::unexpected("cannot listen on " + options.listen.text() + ": " + ec.message());
    state->signals.emplace(state->signalContext, SIGINT, SIGTERM);
    state->handlers.emplace(options.handlerThreads > 0
            ? options.handlerThreads
            : std::clamp(2 * std::thread::hardware_concurrency(), 4u, 32u));
    return std::unique_ptr<HttpServer>(new HttpServer(std::move(state)));
}

std::uint16_t HttpServer::port() const
{
    beast::error_code ec;
    const auto endpoint = m_state->acceptor.local_endpoint(ec);
    return ec ? 0 : endpoint.port();
}

void HttpServer::runUntilSignalled()
{
    State& state = *m_state;
    state.signals->async_wait([&state](const beast::error_code&, int) { state.beginStop(); });
    asio::co_spawn(state.acceptStrand, state.acceptLoop(), asio::detached);
    std::vector<std::thread> pool;
    for (unsigned i = 0; i < state.threads; ++i)
        pool.emplace_back([&state] {
            // An exception thrown inside an operation of one connection leaves run() here; that
            // connection's work is gone with it, and the thread goes on serving the others.
            for (;;) {
                try {
                    state.io.run();
                    return;
                } catch (...) {
                    state.logConnectionFailure(std::current_exception());
                }
            }
        });
    state.signalContext.run();
    for (std::thread& thread : pool)
        thread.join();
    state.handlers->join();
}

} // namespace lumora
