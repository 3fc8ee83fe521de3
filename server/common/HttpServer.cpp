#include "common/HttpServer.hpp"

#include "common/Asio.hpp"
#include "common/BodyBudget.hpp"
#include "common/ConnectionTakeover.hpp"
#include "common/DeferredResponse.hpp"
#include "common/OpenConnections.hpp"
#include "common/OwnerOnlyFile.hpp"
#include "common/RequestFraming.hpp"

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
#include <mutex>
#include <netinet/tcp.h>
#include <openssl/crypto.h>
#include <openssl/ssl.h>
#include <sched.h>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <thread>
#include <unordered_set>
#include <vector>

namespace lumora {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = asio::ip::tcp;

namespace {

constexpr auto readTimeout = std::chrono::seconds(30);
constexpr auto handshakeTimeout = std::chrono::seconds(10);
// What follows an answer is short: the client's TLS close comes within a round trip when it
// comes at all, what it still sends after a refusal is drained for a moment only, and a client
// that reads nothing of its answer for a while has given it up.
constexpr auto closeTimeout = std::chrono::seconds(1);
constexpr auto drainTimeout = std::chrono::seconds(2);
constexpr auto unreadTimeout = std::chrono::seconds(5);
// At the cap, an answer whose client has taken none of it for this long makes way. The kernel
// takes at most `unsentLimit` bytes of an answer ahead of what it has sent, so a write completes
// (and counts as progress) every half of that sent: a client taking 16 KiB/s, the body floor's
// rate, keeps its place.
constexpr auto answerPatience = std::chrono::seconds(2);
constexpr int unsentLimit = 64 * 1024;
constexpr std::size_t drainLimit = 64 * 1024 * 1024;
// How long the accept loop waits before trying again after a failed accept (doubling up to
// the longest), and how often it looks for a free place when every connection is busy or one
// has been asked to make way.
constexpr auto shortestAcceptPause = std::chrono::milliseconds(10);
constexpr auto longestAcceptPause = std::chrono::milliseconds(500);
constexpr auto fullPause = std::chrono::milliseconds(20);
constexpr auto roomPause = std::chrono::milliseconds(1);
// After a stop signal, how long requests under way may take to finish, and how often the
// server looks whether they have.
constexpr auto stopGrace = std::chrono::seconds(5);
constexpr auto stopPoll = std::chrono::milliseconds(20);

using Clock = std::chrono::steady_clock;
using Request = http::request<http::string_body>;
using Parser = RequestParser;

Request releaseRequest(Parser& parser)
{
    auto parsed = parser.release();
    return Request(std::move(parsed.base()), std::move(parsed.body()));
}

// A server may hold as many descriptors as the hard limit allows; the soft one is often far
// lower (1,024) than the connections a server must hold.
void raiseDescriptorLimit()
{
    rlimit limit {};
    if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &limit);
    }
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

// One I/O thread per processor the server may run on: confined to some of the machine's (a
// container's CPU set, taskset), a thread per processor of the whole machine only made the
// threads take turns on the same ones.
unsigned defaultThreadCount()
{
    cpu_set_t allowed;
    CPU_ZERO(&allowed);
    const int processors = ::sched_getaffinity(0, sizeof allowed, &allowed) == 0
        ? CPU_COUNT(&allowed)
        : static_cast<int>(std::thread::hardware_concurrency());
    return static_cast<unsigned>(std::clamp(processors, 2, 8));
}

// TLS 1.2 with authenticated encryption and forward secrecy only: its CBC suites have been open
// to padding-oracle and timing attacks. TLS 1.3 has no other kind.
constexpr const char* tls12Ciphers = "ECDHE-ECDSA-AES128-GCM-SHA256:ECDHE-RSA-AES128-GCM-SHA256:"
                                     "ECDHE-ECDSA-AES256-GCM-SHA384:ECDHE-RSA-AES256-GCM-SHA384:"
                                     "ECDHE-ECDSA-CHACHA20-POLY1305:ECDHE-RSA-CHACHA20-POLY1305";
// Key exchange on the cheap curves only: a finite-field group costs the server up to a hundred
// times the CPU of X25519 (ffdhe8192 some 130 ms a handshake), which anyone may ask for with a
// hello of a kilobyte.
constexpr const char* keyExchangeGroups = "X25519:P-256:P-384";
constexpr std::size_t privateKeyFileLimit = 64 * 1024;

std::expected<void, std::string> prepareTls(asio::ssl::context& context, const TlsFiles& files)
{
    context.set_options(asio::ssl::context::default_workarounds | asio::ssl::context::no_sslv2
        | asio::ssl::context::no_sslv3 | asio::ssl::context::no_tlsv1 | asio::ssl::context::no_tlsv1_1
        | asio::ssl::context::single_dh_use);
    if (::SSL_CTX_set_cipher_list(context.native_handle(), tls12Ciphers) != 1)
        return std::unexpected(std::string("the TLS library offers none of the cipher suites asked for"));
    if (::SSL_CTX_set1_groups_list(context.native_handle(), keyExchangeGroups) != 1)
        return std::unexpected(
            std::string("the TLS library offers none of the key exchange groups asked for"));
    // Opening a FIFO or a device would wait for a writer, or read without end: refused at once.
    struct stat status { };
    if (::stat(files.certificateChain.c_str(), &status) == 0 && !S_ISREG(status.st_mode))
        return std::unexpected("the TLS certificate " + files.certificateChain + " is not a regular file");
    beast::error_code ec;
    context.use_certificate_chain_file(files.certificateChain, ec);
    if (ec)
        return std::unexpected("cannot read certificate " + files.certificateChain + ": " + ec.message());
    // A secret like the others: owner-only, and the server's user's.
    auto key = readOwnerOnlyFile(files.privateKey, "TLS private key", privateKeyFileLimit);
    if (!key)
        return std::unexpected(key.error());
    context.use_private_key(asio::buffer(*key), asio::ssl::context::pem, ec);
    ::OPENSSL_cleanse(key->data(), key->size());
    if (ec)
        return std::unexpected("cannot read private key " + files.privateKey + ": " + ec.message());
    return {};
}

bool outOfDescriptors(const beast::error_code& ec)
{
    return ec == asio::error::no_descriptors || ec.value() == ENFILE || ec == asio::error::no_buffer_space
        || ec == asio::error::no_memory;
}

// One open connection, as the server closes it from the accept loop or at a stop.
class ServerConnection final : public OpenConnections::Connection,
                               public std::enable_shared_from_this<ServerConnection> {
public:
    explicit ServerConnection(asio::any_io_executor executor)
        : m_executor(std::move(executor))
    {
    }

    // Set and cleared on the connection's thread, while the stream lives.
    beast::tcp_stream* stream = nullptr;

protected:
    void close() override
    {
        asio::post(m_executor, [connection = shared_from_this()] {
            if (connection->stream && connection->makesWay())
                connection->stream->close();
            else
                connection->keptOpen();
        });
    }

private:
    asio::any_io_executor m_executor;
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

bool isParseError(const beast::error_code& ec)
{
    return ec.category() == http::make_error_code(http::error::bad_target).category()
        && ec != http::error::end_of_stream && ec != http::error::partial_message;
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

// Where a connection comes from, as its part of the connections and the body budget count it.
struct Peer {
    // Its address, an IPv6 one by its /64 prefix, which one machine commonly holds whole.
    std::string address;
    // Its network, an IPv4 address by its /24 prefix and an IPv6 one by its /48, which one
    // household or site commonly holds whole: many addresses there count as one stranger.
    std::string network;
};

Peer peerOfSocket(const tcp::socket& socket)
{
    beast::error_code ec;
    auto address = socket.remote_endpoint(ec).address();
    if (ec)
        return {};
    if (address.is_v6() && address.to_v6().is_v4_mapped())
        address = asio::ip::make_address_v4(asio::ip::v4_mapped, address.to_v6());
    if (address.is_v4()) {
        auto bytes = address.to_v4().to_bytes();
        bytes[3] = 0;
        return { address.to_string(), asio::ip::address_v4(bytes).to_string() + "/24" };
    }
    auto bytes = address.to_v6().to_bytes();
    std::fill(bytes.begin() + 8, bytes.end(), 0);
    std::string prefix = asio::ip::address_v6(bytes).to_string() + "/64";
    std::fill(bytes.begin() + 6, bytes.end(), 0);
    return { std::move(prefix), asio::ip::address_v6(bytes).to_string() + "/48" };
}

template <typename Stream> Peer peerOf(Stream& stream)
{
    return peerOfSocket(beast::get_lowest_layer(stream).socket());
}

template <typename Message> std::string pathOf(const Message& message)
{
    const std::string_view target(message.target().data(), message.target().size());
    return std::string(target.substr(0, target.find('?')));
}

// The head of a request as a handler sees it, without the body.
template <typename Message> HttpRequest headOf(const Message& message)
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
    return request;
}

HttpRequest toHttpRequest(Request&& message, const Peer& peer)
{
    HttpRequest request = headOf(message);
    request.body = std::move(message.body());
    request.client = peer.address;
    request.network = peer.network;
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

// Each thread runs an I/O context of its own, and each connection stays on the context it
// was accepted into, so that whatever a request leaves with its thread (a deferred answer's
// step) finds it there again. Declared so that, when destroyed, the handler pool goes first
// (its queued work holds connection coroutines whose sockets belong to the contexts), then
// the acceptor, then the contexts, and last what the remaining coroutines refer to (handler,
// TLS context). The thread that called runUntilSignalled waits for the stop signal.
struct HttpServer::State {
    HttpHandler handler;
    std::shared_ptr<ConnectionTakeover> takeover;
    HttpServerOptions options;
    std::ostream* log = nullptr;
    std::mutex logLock;
    std::optional<asio::ssl::context> tls;
    std::optional<OpenConnections> connections;
    // Set by the stop signal: no new requests are read, those under way are answered.
    std::atomic<bool> stopping { false };
    std::atomic<int> requestsUnderWay { 0 };
    std::optional<BodyBudget> bodies;
    // Answers that connections wait for, dropped at the end if they never came.
    std::mutex waitingLock;
    std::unordered_set<std::shared_ptr<DeferredResponse>> waiting;
    std::vector<std::unique_ptr<asio::io_context>> contexts;
    std::vector<asio::executor_work_guard<asio::io_context::executor_type>> keepRunning;
    std::size_t nextContext = 0;
    std::optional<tcp::acceptor> acceptor;
    asio::io_context signalContext { 1 };
    // Made as soon as the server listens, so that a SIGTERM arriving before
    // runUntilSignalled (a caller told of the port stops it at once) still stops it cleanly.
    std::optional<asio::signal_set> signals;
    std::optional<asio::thread_pool> handlers;

    State() = default;
    State(const State&) = delete;
    State& operator=(const State&) = delete;
    ~State()
    {
        handlers.reset();
        abandonWaiting();
    }

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

    static HttpResponse guarded(const HttpHandler& step, const HttpRequest& request)
    {
        try {
            return step(request);
        } catch (const std::exception&) {
            return errorResponse(500, "internal_error");
        }
    }

    asio::awaitable<HttpResponse> callOnPool(const HttpHandler* step, const HttpRequest* request)
    {
        co_return guarded(*step, *request);
    }

    // Runs the handler, or a deferred answer's step, where the options say.
    asio::awaitable<HttpResponse> run(const HttpHandler& step, const HttpRequest& request)
    {
        if (!handlers)
            co_return guarded(step, request);
        co_return co_await asio::co_spawn(*handlers, callOnPool(&step, &request), asio::use_awaitable);
    }

    // Suspends the connection until `deferred` is complete, holding no thread.
    asio::awaitable<void> waitFor(const std::shared_ptr<DeferredResponse>& deferred)
    {
        {
            const std::lock_guard lock(waitingLock);
            waiting.insert(deferred);
        }
        const auto executor = co_await asio::this_coro::executor;
        co_await asio::async_initiate<decltype(asio::use_awaitable), void()>(
            [&deferred, executor](auto resume) {
                deferred->whenComplete([executor, resume = std::move(resume)]() mutable {
                    asio::post(executor, std::move(resume));
                });
            },
            asio::use_awaitable);
        const std::lock_guard lock(waitingLock);
        waiting.erase(deferred);
    }

    // The final answer to a request: the handler's, or what it deferred to.
    asio::awaitable<HttpResponse> answer(const HttpRequest& request)
    {
        HttpResponse response = co_await run(handler, request);
        while (response.deferred) {
            const std::shared_ptr<DeferredResponse> deferred = std::move(response.deferred);
            co_await waitFor(deferred);
            const HttpHandler step = deferred->step();
            response = co_await run(step, request);
        }
        co_return response;
    }

    // Drops the connections that wait for answers that will not come any more; called once
    // no thread runs the contexts, before they go.
    void abandonWaiting()
    {
        std::unordered_set<std::shared_ptr<DeferredResponse>> dropped;
        {
            const std::lock_guard lock(waitingLock);
            dropped.swap(waiting);
        }
        for (const auto& deferred : dropped)
            deferred->abandon();
    }

    // The refusal of a request that could not be read whole, and whether the client may
    // still be sending (so that its rest is drained before the connection closes).
    struct Refusal {
        HttpResponse response;
        bool drain = false;
    };

    // What a failed read of a head or body answers; nullopt when there is nobody to answer
    // (closed, reset or timed out).
    static std::optional<Refusal> refusalFor(const beast::error_code& ec)
    {
        if (ec == http::error::body_limit)
            return Refusal { errorResponse(413, "payload_too_large"), true };
        if (isParseError(ec))
            return Refusal { errorResponse(400, "bad_request"),
                ec == http::error::header_limit || ec == http::error::buffer_overflow };
        return std::nullopt;
    }

    // Reads the head of the next request into `parser`; false when the connection ends
    // instead (closed, timed out, stopping). At the cap, a connection in here (or reading the
    // body that follows, until it has shown the floor rate) may be closed to admit another.
    // The head's time starts when the connection is ready for its first request, or with the
    // first byte of a later one (an idle keep-alive connection may wait longer); trickling
    // bytes does not extend it.
    template <typename Stream>
    asio::awaitable<bool> readHead(Stream& stream, ServerConnection& connection, beast::flat_buffer& buffer,
        Parser& parser, bool first, beast::error_code& ec)
    {
        auto& lowest = beast::get_lowest_layer(stream);
        lowest.expires_after(first ? options.headTimeout : readTimeout);
        if (buffer.size() == 0) {
            if (stopping)
                co_return false;
            connection.startWaiting();
            const std::size_t received
                = co_await stream.async_read_some(buffer.prepare(readBufferLimit), awaitError(ec));
            if (ec)
                co_return false;
            buffer.commit(received);
            if (!first)
                lowest.expires_after(options.headTimeout);
        } else {
            // It came in one piece with the previous request.
            connection.startWaiting();
            lowest.expires_after(options.headTimeout);
        }
        co_await http::async_read_header(stream, buffer, parser, awaitError(ec));
        co_return true;
    }

    // Serves requests on one connection until the peer closes it, a request asks to close,
    // or a read or write fails.
    template <typename Stream> asio::awaitable<void> serve(Stream& stream, ServerConnection& connection)
    {
        beast::flat_buffer buffer(readBufferLimit);
        const Peer peer = peerOf(stream);
        for (bool first = true;; first = false) {
            Parser parser;
            limitRequest(parser, options.bodyLimit);
            beast::error_code ec;
            if (!co_await readHead(stream, connection, buffer, parser, first, ec))
                co_return;
            const auto started = std::chrono::steady_clock::now();
            std::optional<Refusal> refusal;
            std::optional<BodyBudget::Place> body;
            if (ec) {
                refusal = refusalFor(ec);
                if (!refusal)
                    co_return;
            } else if (!parser.is_done()) {
                const auto owner = admitBody(parser, body, peer);
                if (owner) {
                    bool ended = false;
                    refusal = co_await readBody(stream, connection, buffer, parser, *body, ended);
                    if (ended)
                        co_return;
                    // Whole, the body goes to its handler, which checks first what vouches
                    // for it: from here it counts against its owner.
                    if (!refusal && !owner->empty() && !body->vouch(*owner, Clock::now()))
                        refusal = Refusal { errorResponse(503, "server_busy"), false };
                } else {
                    refusal = owner.error();
                }
            }
            // Read whole (or refused): from here the connection no longer gives way at the cap.
            connection.hold();
            if (refusal) {
                // What was read of a refused body is dropped, and so is what still comes.
                body.reset();
                // The head may be incomplete: name the request only when it was read.
                const bool named = parser.is_header_done();
                logLine(named ? std::string(parser.get().method_string()) : "-",
                    named ? pathOf(parser.get()) : "-", refusal->response.status, started);
                auto message = toBeastResponse(refusal->response, 11, false);
                co_await writeAnswer(stream, connection, message, ec);
                if (!ec && refusal->drain) {
                    connection.startClosing();
                    finishSending(stream);
                    co_await drain(stream);
                }
                co_return;
            }
            Request received = releaseRequest(parser);
            if (takeover && takeover->wants(received)) {
                beast::get_lowest_layer(stream).expires_never();
                const std::string method(received.method_string());
                const std::string path = pathOf(received);
                const int status = co_await takeover->takeOver(stream, std::move(received), connection);
                logLine(method, path, status, started);
                co_return;
            }
            bool keepAlive = received.keep_alive();
            const unsigned version = received.version();
            const HttpRequest request = toHttpRequest(std::move(received), peer);
            const UnderWay underWay(requestsUnderWay);
            const HttpResponse response = co_await answer(request);
            // A stop that came meanwhile ends the connection after this answer.
            keepAlive = keepAlive && !stopping;
            // Logged once answered, before the write: a client that has the reply
            // also finds its line in the log, even when the server stops right after.
            logLine(request.method, request.path, response.status, started);
            auto message = toBeastResponse(response, version, keepAlive);
            co_await writeAnswer(stream, connection, message, ec);
            if (ec || !keepAlive)
                co_return;
        }
    }

    // Whether the body of a request whose head is read may be read, and its place in the body
    // budget: a long body only once the head check lets it, a short one (or one of unknown
    // length, which the check refuses, up to the length that needs no check) for the handler to
    // judge, a stranger's. The owner it names, whose it becomes once whole (empty: none, or the
    // head vouched for it already); or the refusal.
    std::expected<std::string, Refusal> admitBody(
        Parser& parser, std::optional<BodyBudget::Place>& place, const Peer& peer)
    {
        const auto declared = parser.content_length();
        HeadVerdict verdict;
        if (options.headCheck) {
            HttpRequest head = headOf(parser.get());
            head.client = peer.address;
            try {
                verdict = options.headCheck(head);
            } catch (const std::exception&) {
                verdict = HeadVerdict { errorResponse(500, "internal_error"), {} };
            }
        }
        if (verdict.refusal) {
            if (declared && *declared > options.uncheckedBodyLimit)
                return std::unexpected(Refusal { std::move(*verdict.refusal), true });
            if (!declared)
                parser.body_limit(std::min<std::size_t>(options.uncheckedBodyLimit, options.bodyLimit));
            verdict.owner.clear();
        }
        using Whose = BodyBudget::Place::Whose;
        const auto now = Clock::now();
        if (verdict.owner.empty()) {
            place.emplace(*bodies, Whose::stranger, peer.address, now);
        } else if (verdict.headVouches) {
            place.emplace(*bodies, Whose::owner, std::move(verdict.owner), now, peer.network);
            verdict.owner.clear();
        } else {
            place.emplace(*bodies, Whose::named, peer.network, now);
        }
        return std::move(verdict.owner);
    }

    // Reads the body as it arrives, counting its bytes: the refusal when they pass their
    // share of the body budget (503) or the body limit, or when the request is malformed;
    // `ended` when the connection ends instead (closed, reset, or the body stopped coming).
    // Once the body has brought a second's bytes at the floor rate its connection no longer
    // makes way: from then on it keeps that rate, or loses its place.
    template <typename Stream>
    asio::awaitable<std::optional<Refusal>> readBody(Stream& stream, ServerConnection& connection,
        beast::flat_buffer& buffer, Parser& parser, BodyBudget::Place& place, bool& ended)
    {
        auto& lowest = beast::get_lowest_layer(stream);
        bool held = false;
        while (!parser.is_done()) {
            if (!held && options.minimumBodyRate > 0
                && parser.get().body().size() >= options.minimumBodyRate) {
                connection.hold();
                held = true;
            }
            if (const auto lapse = place.lapsesAt(); lapse == Clock::time_point::max())
                lowest.expires_never();
            else
                lowest.expires_at(lapse);
            beast::error_code ec;
            co_await http::async_read_some(stream, buffer, parser, awaitError(ec));
            if (!place.cover(parser.get().body().size(), Clock::now()))
                co_return Refusal { errorResponse(503, "server_busy"), true };
            if (ec) {
                auto refusal = refusalFor(ec);
                ended = !refusal;
                co_return refusal;
            }
        }
        co_return std::nullopt;
    }

    // Writes an answer: a client that reads none of it for a while loses its connection, one
    // that reads has the read timeout for the whole of it. The connection moves while the
    // client takes the answer.
    template <typename Stream>
    static asio::awaitable<void> writeAnswer(Stream& stream, ServerConnection& connection,
        http::response<http::string_body>& message, beast::error_code& ec)
    {
        auto& lowest = beast::get_lowest_layer(stream);
        const auto deadline = Clock::now() + readTimeout;
        http::response_serializer<http::string_body> serializer(message);
        connection.startMoving(answerPatience);
        ec = {};
        while (!ec && !serializer.is_done()) {
            lowest.expires_at(std::min(deadline, Clock::now() + unreadTimeout));
            co_await http::async_write_some(stream, serializer, awaitError(ec));
            connection.moved();
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
    template <typename Stream>
    asio::awaitable<void> serveGuarded(Stream& stream, ServerConnection& connection)
    {
        try {
            co_await serve(stream, connection);
        } catch (...) {
            logConnectionFailure(std::current_exception());
        }
    }

    // A connection's place in the list while its descriptor is open, however its coroutine ends
    // (also destroyed unfinished when the server stops).
    class Lease {
    public:
        Lease(State& state, std::shared_ptr<ServerConnection> connection, beast::tcp_stream& stream)
            : m_state(state)
            , m_connection(std::move(connection))
        {
            m_connection->stream = &stream;
        }
        ~Lease()
        {
            beast::error_code ec;
            m_connection->stream->socket().close(ec);
            m_connection->stream = nullptr;
            m_state.connections->remove(*m_connection);
        }
        Lease(const Lease&) = delete;
        Lease& operator=(const Lease&) = delete;
        ServerConnection& connection() { return *m_connection; }

    private:
        State& m_state;
        std::shared_ptr<ServerConnection> m_connection;
    };

    asio::awaitable<void> plainSession(tcp::socket socket, std::shared_ptr<ServerConnection> connection)
    {
        beast::tcp_stream stream(std::move(socket));
        Lease lease(*this, std::move(connection), stream);
        co_await serveGuarded(stream, lease.connection());
        beast::error_code ec;
        stream.socket().shutdown(tcp::socket::shutdown_send, ec);
    }

    asio::awaitable<void> tlsSession(tcp::socket socket, std::shared_ptr<ServerConnection> connection)
    {
        beast::ssl_stream<beast::tcp_stream> stream(std::move(socket), *tls);
        Lease lease(*this, std::move(connection), beast::get_lowest_layer(stream));
        beast::error_code ec;
        beast::get_lowest_layer(stream).expires_after(handshakeTimeout);
        co_await stream.async_handshake(asio::ssl::stream_base::server, awaitError(ec));
        if (ec)
            co_return;
        co_await serveGuarded(stream, lease.connection());
        lease.connection().startClosing();
        beast::get_lowest_layer(stream).expires_after(closeTimeout);
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

    // The stop signal: no more connections or requests; those under way are answered
    // within the grace time, then everything stops.
    void beginStop()
    {
        stopping = true;
        asio::post(acceptor->get_executor(), [this] {
            beast::error_code ec;
            acceptor->close(ec);
        });
        connections->closeWaiting();
        waitForRequestsUnderWay(
            std::make_shared<asio::steady_timer>(signalContext), Clock::now() + stopGrace);
    }

    void waitForRequestsUnderWay(std::shared_ptr<asio::steady_timer> timer, Clock::time_point deadline)
    {
        if (requestsUnderWay == 0 || Clock::now() >= deadline) {
            for (const auto& context : contexts)
                context->stop();
            if (handlers)
                handlers->stop();
            return;
        }
        timer->expires_after(stopPoll);
        timer->async_wait(
            [this, timer, deadline](const beast::error_code&) { waitForRequestsUnderWay(timer, deadline); });
    }

    asio::awaitable<void> acceptLoop()
    {
        asio::steady_timer pause(co_await asio::this_coro::executor);
        auto failurePause = shortestAcceptPause;
        for (;;) {
            beast::error_code ec;
            // Room is made only for a client that has come.
            co_await acceptor->async_wait(tcp::acceptor::wait_read, awaitError(ec));
            if (ec == asio::error::operation_aborted || !acceptor->is_open())
                co_return;
            if (const auto room = connections->makeRoom(); room != OpenConnections::Room::free) {
                // At the cap a new client waits in the backlog until one connection has closed:
                // the one asked to make way, within moments, or one that ends when none makes way.
                pause.expires_after(room == OpenConnections::Room::coming ? roomPause : fullPause);
                co_await pause.async_wait(awaitError(ec));
                if (!acceptor->is_open())
                    co_return;
                continue;
            }
            // Connections go to the threads in turn.
            asio::io_context& context = *contexts[nextContext];
            nextContext = (nextContext + 1) % contexts.size();
            tcp::socket socket(context);
            co_await acceptor->async_accept(socket, awaitError(ec));
            if (ec == asio::error::operation_aborted || !acceptor->is_open())
                co_return;
            if (ec) {
                // Out of descriptors, say: the failure repeats until one is freed, so free one
                // and wait instead of spinning; the pending client is accepted afterwards.
                if (outOfDescriptors(ec))
                    connections->closeSlowest();
                pause.expires_after(failurePause);
                co_await pause.async_wait(awaitError(ec));
                failurePause = std::min(failurePause * 2, longestAcceptPause);
                if (!acceptor->is_open())
                    co_return;
                continue;
            }
            failurePause = shortestAcceptPause;
            // An answer's writes complete as its client takes it, which shows the connection moving.
            beast::error_code ignored;
            socket.set_option(
                asio::detail::socket_option::integer<IPPROTO_TCP, TCP_NOTSENT_LOWAT>(unsentLimit), ignored);
            auto connection = std::make_shared<ServerConnection>(context.get_executor());
            // Its address holds all it may, none of which makes way: it is closed at once.
            if (!connections->add(connection, peerOfSocket(socket).address))
                continue;
            if (tls)
                asio::co_spawn(context, tlsSession(std::move(socket), connection), asio::detached);
            else
                asio::co_spawn(context, plainSession(std::move(socket), connection), asio::detached);
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
    state->log = &log;
    raiseDescriptorLimit();
    const std::size_t cap = options.maxConnections > 0 ? options.maxConnections : defaultConnectionCap();
    const std::size_t capPerAddress = options.maxConnectionsPerAddress > 0
        ? options.maxConnectionsPerAddress
        : std::max<std::size_t>(cap / 16, 16);
    state->connections.emplace(cap, capPerAddress);
    state->bodies.emplace(BodyBudgetLimits { options.bodyMemoryLimit, options.openBodyMemory,
        options.openBodyMemoryPerAddress, options.bodyMemoryPerOwner, options.minimumBodyRate });
    const unsigned threads = options.threads > 0 ? options.threads : defaultThreadCount();
    for (unsigned i = 0; i < threads; ++i) {
        state->contexts.push_back(std::make_unique<asio::io_context>(1));
        state->keepRunning.push_back(asio::make_work_guard(*state->contexts.back()));
    }

    if (options.tls) {
        if (auto prepared = prepareTls(state->tls.emplace(asio::ssl::context::tls_server), *options.tls);
            !prepared)
            return std::unexpected(prepared.error());
    }

    const std::string host = options.listen.host == "localhost" ? "127.0.0.1" : options.listen.host;
    beast::error_code ec;
    const auto address = asio::ip::make_address(host, ec);
    if (ec)
        return std::unexpected("invalid host " + options.listen.host);
    const tcp::endpoint endpoint(address, options.listen.port);
    auto& acceptor = state->acceptor.emplace(*state->contexts.front());
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
    if (options.handlerThreads > 0)
        state->handlers.emplace(options.handlerThreads);
    state->options = std::move(options);
    return std::unique_ptr<HttpServer>(new HttpServer(std::move(state)));
}

std::uint16_t HttpServer::port() const
{
    beast::error_code ec;
    const auto endpoint = m_state->acceptor->local_endpoint(ec);
    return ec ? 0 : endpoint.port();
}

void HttpServer::runUntilSignalled()
{
    State& state = *m_state;
    state.signals->async_wait([&state](const beast::error_code&, int) { state.beginStop(); });
    asio::co_spawn(*state.contexts.front(), state.acceptLoop(), asio::detached);
    std::vector<std::thread> pool;
    for (const auto& context : state.contexts)
        pool.emplace_back([&state, &context = *context] {
            // An exception thrown inside an operation of one connection leaves run() here; that
            // connection's work is gone with it, and the thread goes on serving the others.
            for (;;) {
                try {
                    context.run();
                    return;
                } catch (...) {
                    state.logConnectionFailure(std::current_exception());
                }
            }
        });
    state.signalContext.run();
    for (std::thread& thread : pool)
        thread.join();
    if (state.handlers)
        state.handlers->join();
    state.abandonWaiting();
}

} // namespace lumora
