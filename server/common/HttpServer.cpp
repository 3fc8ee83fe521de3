#include "common/HttpServer.hpp"

#include "common/Asio.hpp"
#include "common/ConnectionTakeover.hpp"

#include <algorithm>
#include <array>
#include <boost/asio/ssl.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/ssl.hpp>
#include <chrono>
#include <exception>
#include <mutex>
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

// Connections run on a pool of threads, each on a strand of its own; the handler runs on
// the thread that called runUntilSignalled, one request at a time. Declared so that, when
// destroyed, the handler's context goes first (its queued work holds connection coroutines
// whose sockets belong to `io`), then the acceptor, then `io`, and last what the remaining
// coroutines refer to (handler, TLS context).
struct HttpServer::State {
    HttpHandler handler;
    std::shared_ptr<ConnectionTakeover> takeover;
    std::size_t bodyLimit = 0;
    unsigned threads = 1;
    std::ostream* log = nullptr;
    std::mutex logLock;
    std::optional<asio::ssl::context> tls;
    asio::io_context io;
    tcp::acceptor acceptor { io };
    asio::io_context handlerContext { 1 };
    // Made as soon as the server listens, so that a SIGTERM arriving before
    // runUntilSignalled (a caller told of the port stops it at once) still stops it cleanly.
    std::optional<asio::signal_set> signals;

    void logLine(std::string_view method, std::string_view path, int status,
        std::chrono::steady_clock::time_point started)
    {
        const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
            std::chrono::steady_clock::now() - started);
        const std::lock_guard lock(logLock);
        *log << method << ' ' << path << ' ' << status << ' ' << elapsed.count() << " ms" << std::endl;
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
    template <typename Stream> asio::awaitable<void> serve(Stream& stream)
    {
        beast::flat_buffer buffer(readBufferLimit);
        for (;;) {
            http::request_parser<http::string_body> parser;
            parser.body_limit(bodyLimit);
            parser.header_limit(headerLimit);
            beast::error_code ec;
            beast::get_lowest_layer(stream).expires_after(readTimeout);
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
                response = co_await asio::co_spawn(
                    handlerContext, callHandler(std::move(request)), asio::use_awaitable);
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
    template <typename Stream> asio::awaitable<void> serveGuarded(Stream& stream)
    {
        try {
            co_await serve(stream);
        } catch (...) {
            logConnectionFailure(std::current_exception());
        }
    }

    asio::awaitable<void> plainSession(tcp::socket socket)
    {
        beast::tcp_stream stream(std::move(socket));
        co_await serveGuarded(stream);
        beast::error_code ec;
        stream.socket().shutdown(tcp::socket::shutdown_send, ec);
    }

    asio::awaitable<void> tlsSession(tcp::socket socket)
    {
        beast::ssl_stream<beast::tcp_stream> stream(std::move(socket), *tls);
        beast::error_code ec;
        beast::get_lowest_layer(stream).expires_after(handshakeTimeout);
        co_await stream.async_handshake(asio::ssl::stream_base::server, awaitError(ec));
        if (ec)
            co_return;
        co_await serveGuarded(stream);
        beast::get_lowest_layer(stream).expires_after(handshakeTimeout);
        co_await stream.async_shutdown(awaitError(ec));
    }

    asio::awaitable<void> acceptLoop()
    {
        for (;;) {
            beast::error_code ec;
            tcp::socket socket(asio::make_strand(io));
            co_await acceptor.async_accept(socket, awaitError(ec));
            if (ec == asio::error::operation_aborted || !acceptor.is_open())
                co_return;
            if (ec)
                continue; // e.g. too many open files: keep serving the connections we have
            const auto strand = socket.get_executor();
            if (tls)
                asio::co_spawn(strand, tlsSession(std::move(socket)), asio::detached);
            else
                asio::co_spawn(strand, plainSession(std::move(socket)), asio::detached);
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
    state->signals.emplace(state->handlerContext, SIGINT, SIGTERM);
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
    state.signals->async_wait([&state](const beast::error_code&, int) {
        state.io.stop();
        state.handlerContext.stop();
    });
    asio::co_spawn(state.acceptor.get_executor(), state.acceptLoop(), asio::detached);
    const auto keepHandling = asio::make_work_guard(state.handlerContext);
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
    state.handlerContext.run();
    for (std::thread& thread : pool)
        thread.join();
}

} // namespace lumora
