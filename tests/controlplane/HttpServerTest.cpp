#include "common/HttpServer.hpp"

#include "common/DeferredResponse.hpp"

#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <future>
#include <gtest/gtest.h>
#include <mutex>
#include <netinet/in.h>
#include <sstream>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace lumora {
namespace {

using namespace std::chrono_literals;

// A connection to 127.0.0.1 made with plain sockets, closed at the end.
class RawConnection {
public:
    // From `source`, another address of the loopback network, when given.
    explicit RawConnection(std::uint16_t port, const char* source = nullptr)
        : m_socket(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0))
    {
        if (source) {
            sockaddr_in from {};
            from.sin_family = AF_INET;
            ::inet_pton(AF_INET, source, &from.sin_addr);
            ::bind(m_socket, reinterpret_cast<const sockaddr*>(&from), sizeof from);
        }
        sockaddr_in address {};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        m_connected = ::connect(m_socket, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
        const timeval timeout { 5, 0 };
        ::setsockopt(m_socket, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    }
    ~RawConnection() { ::close(m_socket); }
    RawConnection(const RawConnection&) = delete;
    RawConnection& operator=(const RawConnection&) = delete;

    [[nodiscard]] bool connected() const { return m_connected; }
    [[nodiscard]] int socket() const { return m_socket; }
    void send(const std::string& bytes)
    {
        // A write the server refused shows in what the test reads back.
        [[maybe_unused]] const ssize_t written = ::send(m_socket, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    }
    // Everything until the server closes the connection (or 5 s pass).
    std::string readToEnd()
    {
        std::string all;
        char chunk[4096];
        for (;;) {
            const ssize_t got = ::read(m_socket, chunk, sizeof chunk);
            if (got <= 0)
                return all;
            all.append(chunk, static_cast<std::size_t>(got));
        }
    }

private:
    int m_socket;
    bool m_connected = false;
};

// Whether the server has closed `socket` (or reset it): within five seconds when `wait`.
bool closedByServer(int socket, bool wait);

// A stop signal closes idle connections at once and still answers the request under way,
// with the connection then closed, before the server returns.
TEST(HttpServerStop, AnswersTheRequestsUnderWayAndClosesTheIdleOnes)
{
    std::ostringstream log;
    std::promise<void> handling;
    std::promise<void> finish;
    // The request under way ends only once the test has seen what the stop did meanwhile.
    const std::shared_future<void> finishing = finish.get_future().share();
    auto server = HttpServer::listen(
        HttpServerOptions { ListenAddress { "127.0.0.1", 0 }, std::nullopt, 1024, 2, 2, 0 },
        [&handling, finishing](const HttpRequest&) {
            handling.set_value();
            finishing.wait();
            return HttpResponse { 200, "text/plain", "finished", {} };
        },
        log);
    ASSERT_TRUE(server.has_value()) << server.error();
    auto running = std::async(std::launch::async, [&server] { (*server)->runUntilSignalled(); });

    RawConnection idle((*server)->port());
    RawConnection busy((*server)->port());
    EXPECT_TRUE(idle.connected() && busy.connected());
    busy.send("GET /slow HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
    EXPECT_EQ(handling.get_future().wait_for(60s), std::future_status::ready);
    ::raise(SIGTERM);

    EXPECT_TRUE(closedByServer(idle.socket(), true))
        << "the idle connection is closed at once, without a reply";
    finish.set_value();
    const std::string reply = busy.readToEnd();
    EXPECT_TRUE(reply.starts_with("HTTP/1.1 200")) << reply;
    EXPECT_NE(reply.find("Connection: close"), std::string::npos) << reply;
    EXPECT_TRUE(reply.ends_with("finished")) << reply;
    EXPECT_EQ(running.wait_for(60s), std::future_status::ready);
    EXPECT_TRUE(log.str().starts_with("GET /slow 200 ")) << log.str();
}

// A server on a thread of its own until the end of the test, stopped as a signal stops it.
class RunningServer {
public:
    RunningServer(HttpServerOptions options, HttpHandler handler)
    {
        options.listen = ListenAddress { "127.0.0.1", 0 };
        auto server = HttpServer::listen(std::move(options), std::move(handler), m_log);
        if (!server)
            return;
        m_server = std::move(*server);
        m_running = std::async(std::launch::async, [this] { m_server->runUntilSignalled(); });
    }
    ~RunningServer()
    {
        if (!m_server)
            return;
        ::raise(SIGTERM);
        m_running.wait();
    }
    RunningServer(const RunningServer&) = delete;
    RunningServer& operator=(const RunningServer&) = delete;

    [[nodiscard]] std::uint16_t port() const { return m_server ? m_server->port() : 0; }

private:
    std::ostringstream m_log;
    std::unique_ptr<HttpServer> m_server;
    std::future<void> m_running;
};

HttpResponse text(std::string body)
{
    return HttpResponse { 200, "text/plain", std::move(body), {} };
}

// On one thread, a request whose answer comes later holds nothing: another connection is
// answered meanwhile, and the answer's step runs on the thread that ran the handler.
TEST(HttpServer, AnswersLaterWithoutHoldingTheThreadAndGoesOnWhereTheHandlerRan)
{
    std::promise<std::shared_ptr<DeferredResponse>> handled;
    std::thread::id handlerThread;
    std::thread::id stepThread;
    HttpServerOptions options;
    options.threads = 1;
    RunningServer server(options, [&](const HttpRequest& request) {
        if (request.path == "/now")
            return text("now");
        handlerThread = std::this_thread::get_id();
        auto pending = std::make_shared<DeferredResponse>();
        handled.set_value(pending);
        return DeferredResponse::later(pending);
    });
    ASSERT_NE(server.port(), 0);
    RawConnection later(server.port());
    later.send("GET /later HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n");
    auto handling = handled.get_future();
    ASSERT_EQ(handling.wait_for(60s), std::future_status::ready);
    const std::shared_ptr<DeferredResponse> deferred = handling.get();
    RawConnection now(server.port());
    now.send("GET /now HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n");
    EXPECT_TRUE(now.readToEnd().ends_with("now"));

    std::thread([&] {
        deferred->continueWith([&](const HttpRequest& request) {
            stepThread = std::this_thread::get_id();
            // A step may answer later once more.
            auto again = std::make_shared<DeferredResponse>();
            again->complete(text("done " + request.path));
            return DeferredResponse::later(again);
        });
    }).join();
    EXPECT_TRUE(later.readToEnd().ends_with("done /later"));
    EXPECT_EQ(stepThread, handlerThread);
}

// A server that stops while an answer is still to come drops that connection, and the answer
// that comes after all goes nowhere.
TEST(HttpServer, StopsWhileAnAnswerIsToComeAndIgnoresItWhenItComes)
{
    std::promise<std::shared_ptr<DeferredResponse>> handled;
    std::shared_ptr<DeferredResponse> orphan;
    {
        RunningServer server({}, [&handled](const HttpRequest&) {
            auto deferred = std::make_shared<DeferredResponse>();
            handled.set_value(deferred);
            return DeferredResponse::later(deferred);
        });
        ASSERT_NE(server.port(), 0);
        RawConnection waiting(server.port());
        waiting.send("GET /never HTTP/1.1\r\nHost: x\r\n\r\n");
        auto future = handled.get_future();
        ASSERT_EQ(future.wait_for(60s), std::future_status::ready);
        orphan = future.get();
    }
    orphan->complete(text("too late"));
}

std::string post(const std::string& headers, const std::string& body = {})
{
    return "POST /upload HTTP/1.1\r\nHost: x\r\nConnection: close\r\n" + headers + "\r\n" + body;
}

std::string lengthHeaders(std::size_t length, bool let)
{
    return "Content-Length: " + std::to_string(length) + "\r\n" + (let ? "X-Let: yes\r\n" : "");
}

// Short bodies are read for the handler to judge; a long one only once the head check lets it
// through.
TEST(HttpServer, ReadsLongBodiesOnlyOnceTheirHeadIsLetThroughAndWithinTheirLimit)
{
    HttpServerOptions options;
    options.threads = 1;
    options.bodyLimit = 100'000;
    options.uncheckedBodyLimit = 1000;
    options.headCheck = [](const HttpRequest& head) {
        if (head.header("X-Let") == "yes")
            return HeadVerdict {};
        return HeadVerdict { errorResponse(401, "not_let"), {} };
    };
    RunningServer server(options,
        [](const HttpRequest& request) { return text("read " + std::to_string(request.body.size())); });
    ASSERT_NE(server.port(), 0);
    const auto chunked = [](std::size_t size) {
        char length[16];
        std::snprintf(length, sizeof length, "%zx", size);
        return post(
            "Transfer-Encoding: chunked\r\n", length + ("\r\n" + std::string(size, 'b')) + "\r\n0\r\n\r\n");
    };
    struct Case {
        const char* name;
        std::string request;
        const char* status;
        const char* ending;
    };
    const Case cases[] = {
        { "short body", post(lengthHeaders(500, false), std::string(500, 'b')), "200", "read 500" },
        { "long body let through", post(lengthHeaders(50'000, true), std::string(50'000, 'b')), "200",
            "read 50000" },
        // Answered although the body never comes.
        { "long body refused", post(lengthHeaders(50'000, false)), "401", "not_let\"}" },
        { "short chunked body", chunked(500), "200", "read 500" },
        { "long chunked body refused", chunked(5000), "413", "payload_too_large\"}" },
    };
    for (const Case& c : cases) {
        RawConnection connection(server.port());
        connection.send(c.request);
        const std::string reply = connection.readToEnd();
        EXPECT_TRUE(reply.starts_with(std::string("HTTP/1.1 ") + c.status)) << c.name << ": " << reply;
        EXPECT_TRUE(reply.ends_with(c.ending)) << c.name << ": " << reply;
    }
}

// The owner a test names in the "X-Owner" header, vouched for by it; none without one.
HeadVerdict ownerNamed(const HttpRequest& head)
{
    return HeadVerdict { std::nullopt, std::string(head.header("X-Owner")), true };
}

// What reaches the server, counted as it comes, so that a test waits for what it orders by:
// the heads checked (each let through, with the owner it names) and the requests whose
// answers the test gives when it likes.
class Arrivals {
public:
    // A server's options on one thread, its heads checked by this.
    HttpServerOptions serverOptions()
    {
        HttpServerOptions options;
        options.threads = 1;
        options.headCheck = headCheck();
        return options;
    }
    HeadCheck headCheck()
    {
        return [this](const HttpRequest& head) {
            {
                const std::lock_guard guard(m_lock);
                ++m_heads;
            }
            m_arrived.notify_all();
            return ownerNamed(head);
        };
    }
    HttpHandler holdingHandler()
    {
        return [this](const HttpRequest& request) {
            auto deferred = std::make_shared<DeferredResponse>();
            {
                const std::lock_guard guard(m_lock);
                m_held.emplace_back(request.path, deferred);
            }
            m_arrived.notify_all();
            return DeferredResponse::later(deferred);
        };
    }
    // Waits until `count` heads are checked.
    bool waitForHeads(int count)
    {
        return waitUntil([&] { return m_heads >= count; });
    }
    // Waits until `count` requests are held.
    bool waitForHeld(std::size_t count)
    {
        return waitUntil([&] { return m_held.size() >= count; });
    }
    // Answers every request held, each with its path.
    void answerAll()
    {
        std::vector<std::pair<std::string, std::shared_ptr<DeferredResponse>>> held;
        {
            const std::lock_guard guard(m_lock);
            held.swap(m_held);
        }
        for (const auto& [path, deferred] : held)
            deferred->complete(text("answered " + path));
    }

private:
    template <typename Predicate> bool waitUntil(Predicate arrived)
    {
        std::unique_lock guard(m_lock);
        return m_arrived.wait_for(guard, 60s, arrived);
    }

    std::mutex m_lock;
    std::condition_variable m_arrived;
    int m_heads = 0;
    std::vector<std::pair<std::string, std::shared_ptr<DeferredResponse>>> m_held;
};

std::string postTo(const std::string& path, std::size_t length, const std::string& headers = {})
{
    return "POST " + path + " HTTP/1.1\r\nHost: x\r\nConnection: close\r\nContent-Length: "
        + std::to_string(length) + "\r\n" + headers + "\r\n" + std::string(length, 'b');
}

// A body is counted as its bytes arrive, until its answer is sent: heads that announce bodies
// and send nothing take nothing, and a body whose bytes would pass the limit is refused.
TEST(HttpServer, BodiesAreCountedAsTheirBytesArriveUntilAnswered)
{
    Arrivals arrivals;
    HttpServerOptions options = arrivals.serverOptions();
    options.uncheckedBodyLimit = 1000;
    options.bodyMemoryLimit = 150'000;
    options.openBodyMemory = 10'000;
    RunningServer server(options, arrivals.holdingHandler());
    ASSERT_NE(server.port(), 0);
    const std::string owned = "X-Owner: owner\r\n";
    std::vector<std::unique_ptr<RawConnection>> announced;
    for (int i = 0; i < 3; ++i) {
        announced.push_back(std::make_unique<RawConnection>(server.port()));
        announced.back()->send(post(lengthHeaders(60'000, false) + owned));
    }
    ASSERT_TRUE(arrivals.waitForHeads(3));
    RawConnection first(server.port());
    first.send(postTo("/first", 100'000, owned));
    ASSERT_TRUE(arrivals.waitForHeld(1)) << "three heads without bodies took nothing";

    // 140,000 bytes are left for bodies with an owner: 100,000 are held.
    RawConnection tooMuch(server.port());
    tooMuch.send(postTo("/too-much", 50'000, owned));
    const std::string refused = tooMuch.readToEnd();
    EXPECT_TRUE(refused.starts_with("HTTP/1.1 503")) << refused;
    EXPECT_TRUE(refused.ends_with("server_busy\"}")) << refused;
    RawConnection fitting(server.port());
    fitting.send(postTo("/fitting", 40'000, owned));
    ASSERT_TRUE(arrivals.waitForHeld(2));

    arrivals.answerAll();
    EXPECT_TRUE(first.readToEnd().ends_with("answered /first"));
    EXPECT_TRUE(fitting.readToEnd().ends_with("answered /fitting"));
    RawConnection again(server.port());
    again.send(postTo("/again", 100'000, owned));
    ASSERT_TRUE(arrivals.waitForHeld(1)) << "answered bodies count no more";
    arrivals.answerAll();
    EXPECT_TRUE(again.readToEnd().ends_with("answered /again"));
}

// A chunked body whose last chunk comes before a single further byte (a client sending its end
// a byte at a time) leaves the server running: it is one of the reads it must take apart.
TEST(HttpServer, AChunkedBodysEndArrivingAByteAtATimeLeavesTheServerRunning)
{
    Arrivals arrivals;
    HttpServerOptions options = arrivals.serverOptions();
    options.uncheckedBodyLimit = 1000;
    RunningServer server(options, [](const HttpRequest&) { return text("read"); });
    ASSERT_NE(server.port(), 0);
    {
        RawConnection trickling(server.port());
        // The head and the last chunk are read together, the next byte on its own.
        trickling.send(post("Transfer-Encoding: chunked\r\n", "0\r\n"));
        ASSERT_TRUE(arrivals.waitForHeads(1));
        trickling.send("\r");
        ::shutdown(trickling.socket(), SHUT_WR);
        trickling.readToEnd();
    }
    RawConnection next(server.port());
    next.send(post(lengthHeaders(4, false), "body"));
    EXPECT_TRUE(next.readToEnd().ends_with("read"));
}

bool closedByServer(int socket, bool wait)
{
    char byte = 0;
    const ssize_t got = ::recv(socket, &byte, 1, wait ? 0 : MSG_DONTWAIT);
    return got == 0 || (got < 0 && errno != EAGAIN && errno != EWOULDBLOCK);
}

HttpResponse readBack(const HttpRequest& request)
{
    return text("read " + std::to_string(request.body.size()));
}

// The bodies of one owner take at most its share of the body memory: past it that owner is
// refused at once, while another owner's body is read, and so is the first owner's once its
// share is free again.
TEST(HttpServer, EachOwnersBodiesTakeAtMostItsShareOfTheBodyMemory)
{
    Arrivals arrivals;
    HttpServerOptions options = arrivals.serverOptions();
    options.uncheckedBodyLimit = 1000;
    options.bodyMemoryPerOwner = 100'000;
    RunningServer server(options, arrivals.holdingHandler());
    ASSERT_NE(server.port(), 0);
    RawConnection held(server.port());
    held.send(postTo("/held", 60'000, "X-Owner: a\r\n"));
    ASSERT_TRUE(arrivals.waitForHeld(1));
    RawConnection refused(server.port());
    refused.send(postTo("/refused", 60'000, "X-Owner: a\r\n"));
    const std::string reply = refused.readToEnd();
    EXPECT_TRUE(reply.starts_with("HTTP/1.1 503")) << reply;
    EXPECT_TRUE(reply.ends_with("server_busy\"}")) << reply;
    RawConnection other(server.port());
    other.send(postTo("/other", 60'000, "X-Owner: b\r\n"));
    ASSERT_TRUE(arrivals.waitForHeld(2));
    arrivals.answerAll();
    EXPECT_TRUE(held.readToEnd().ends_with("answered /held"));
    EXPECT_TRUE(other.readToEnd().ends_with("answered /other"));
    RawConnection again(server.port());
    again.send(postTo("/again", 60'000, "X-Owner: a\r\n"));
    ASSERT_TRUE(arrivals.waitForHeld(1));
    arrivals.answerAll();
    EXPECT_TRUE(again.readToEnd().ends_with("answered /again"));
}

// Bodies nobody vouches for take from a share of their own, each client address from a part
// of it: one address cannot take the others' part, and all of them together never what a body
// with an owner needs.
TEST(HttpServer, BodiesWithoutAnOwnerTakeTheirOwnShareAndEachAddressItsPart)
{
    Arrivals arrivals;
    HttpServerOptions options = arrivals.serverOptions();
    options.uncheckedBodyLimit = 100'000;
    options.bodyMemoryLimit = 300'000;
    options.openBodyMemory = 100'000;
    options.openBodyMemoryPerAddress = 60'000;
    RunningServer server(options, arrivals.holdingHandler());
    ASSERT_NE(server.port(), 0);
    const auto refusedFrom = [&](const char* address, std::size_t length) {
        RawConnection connection(server.port(), address);
        connection.send(postTo("/refused", length));
        const std::string reply = connection.readToEnd();
        return reply.starts_with("HTTP/1.1 503") && reply.ends_with("server_busy\"}");
    };
    RawConnection first(server.port(), "127.0.0.2");
    first.send(postTo("/first", 50'000));
    ASSERT_TRUE(arrivals.waitForHeld(1));
    EXPECT_TRUE(refusedFrom("127.0.0.2", 20'000)) << "past the address's part";
    RawConnection second(server.port(), "127.0.0.3");
    second.send(postTo("/second", 50'000));
    ASSERT_TRUE(arrivals.waitForHeld(2)) << "another address has a part of its own";
    EXPECT_TRUE(refusedFrom("127.0.0.4", 20'000)) << "past the share of all bodies without an owner";

    RawConnection owned(server.port(), "127.0.0.2");
    owned.send(postTo("/owned", 200'000, "X-Owner: a\r\n"));
    ASSERT_TRUE(arrivals.waitForHeld(3)) << "a body with an owner is read while the others' share is full";
    arrivals.answerAll();
    for (RawConnection* connection : { &first, &second, &owned })
        EXPECT_TRUE(connection->readToEnd().starts_with("HTTP/1.1 200"));
}

// A body must keep coming: one trickled, never bringing a second's bytes, is closed after two
// seconds; and at the connection cap, a connection still reading its body makes way for a new
// client, the one that has waited longest first.
TEST(HttpServer, TrickledBodiesAreClosedInTimeAndGiveWayAtTheCap)
{
    {
        HttpServerOptions options;
        options.threads = 1;
        options.headTimeout = 200ms;
        options.minimumBodyRate = 1000;
        RunningServer server(options, readBack);
        ASSERT_NE(server.port(), 0);
        // Shorter than a second's bytes at 1000 bytes/s, the body must be whole within two
        // seconds, far less than the 50 s the trickle takes. The pauses are the trickle's own: a
        // byte every tenth of a second.
        RawConnection trickling(server.port());
        trickling.send(post(lengthHeaders(500, false)));
        const auto started = std::chrono::steady_clock::now();
        bool closed = false;
        while (!closed && std::chrono::steady_clock::now() - started < 5s) {
            closed = ::send(trickling.socket(), "b", 1, MSG_NOSIGNAL) != 1
                || closedByServer(trickling.socket(), false);
            std::this_thread::sleep_for(100ms);
        }
        EXPECT_TRUE(closed);
    }

    // Bodies may take as long as they like here, far longer than the client waits for its
    // answer: only a connection closed to make way lets it in. Their heads are checked, so that
    // the test knows when each connection has come that far.
    Arrivals arrivals;
    HttpServerOptions options = arrivals.serverOptions();
    options.maxConnections = 2;
    options.headTimeout = 60s;
    options.minimumBodyRate = 0;
    options.uncheckedBodyLimit = 100;
    RunningServer server(options, readBack);
    ASSERT_NE(server.port(), 0);
    RawConnection oldest(server.port());
    oldest.send(post(lengthHeaders(500, false), "bb"));
    ASSERT_TRUE(arrivals.waitForHeads(1));
    RawConnection newer(server.port());
    newer.send(post(lengthHeaders(500, false), "bb"));
    ASSERT_TRUE(arrivals.waitForHeads(2));
    RawConnection client(server.port());
    client.send("GET /now HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n");
    EXPECT_TRUE(client.readToEnd().ends_with("read 0"));
    EXPECT_TRUE(closedByServer(oldest.socket(), true));
    newer.send(std::string(498, 'b'));
    EXPECT_TRUE(newer.readToEnd().ends_with("read 500"));
}

// A client that moves its request along on a thread of its own: its head with four steps of its
// body, then a step a millisecond, and reads its answer a step a millisecond, until the test
// lets it go the rest of the way at once.
class SteadyClient {
public:
    SteadyClient(std::uint16_t port, const char* source, std::string request, std::size_t bodyStep = 0)
        : m_connection(port, source)
    {
        m_running = std::thread([this, request = std::move(request), bodyStep] { run(request, bodyStep); });
    }
    ~SteadyClient()
    {
        m_letGo = true;
        if (m_running.joinable())
            m_running.join();
    }
    SteadyClient(const SteadyClient&) = delete;
    SteadyClient& operator=(const SteadyClient&) = delete;

    // Waits until it has read the first bytes of its answer.
    bool reading() { return m_reading.get_future().wait_for(30s) == std::future_status::ready; }
    // Lets it go the rest of the way, and returns what it read until the server closed the
    // connection.
    std::string finish()
    {
        m_letGo = true;
        m_running.join();
        return m_reply;
    }

private:
    void run(const std::string& request, std::size_t bodyStep)
    {
        std::size_t sent = std::min(request.size(), request.find("\r\n\r\n") + 4 + 4 * bodyStep);
        m_connection.send(request.substr(0, sent));
        const auto pace = [this] {
            if (!m_letGo)
                std::this_thread::sleep_for(1ms);
        };
        while (sent < request.size() && !m_letGo) {
            pace();
            const std::size_t step = std::min(bodyStep, request.size() - sent);
            m_connection.send(request.substr(sent, step));
            sent += step;
        }
        m_connection.send(request.substr(sent));
        char chunk[4096];
        bool signalled = false;
        for (;;) {
            const ssize_t got = ::read(m_connection.socket(), chunk, sizeof chunk);
            if (got <= 0)
                break;
            m_reply.append(chunk, static_cast<std::size_t>(got));
            if (!signalled && m_reply.size() >= 64 * 1024) {
                signalled = true;
                m_reading.set_value();
            }
            pace();
        }
        if (!signalled)
            m_reading.set_value();
    }

    RawConnection m_connection;
    std::atomic<bool> m_letGo { false };
    std::promise<void> m_reading;
    std::string m_reply;
    std::thread m_running;
};

// The body of a reply.
std::string bodyOf(const std::string& reply)
{
    const auto end = reply.find("\r\n\r\n");
    return end == std::string::npos ? std::string() : reply.substr(end + 4);
}

// At the cap, and at its address's bound, a connection that moves (its client reads its answer,
// or sends its body above the floor rate) never makes way for a crowd that sends nothing, however
// long it has been at it and however the crowd comes: the crowd's own longest idle go, and when
// none can, the newcomer is turned away.
TEST(HttpServer, MovingConnectionsNeverMakeWayForAnIdleCrowd)
{
    Arrivals arrivals;
    HttpServerOptions options = arrivals.serverOptions();
    options.maxConnections = 6;
    options.maxConnectionsPerAddress = 3;
    options.headTimeout = 60s;
    options.minimumBodyRate = 1000;
    options.uncheckedBodyLimit = 100;
    const std::string answer(16 * 1024 * 1024, 'a');
    const HttpHandler holding = arrivals.holdingHandler();
    RunningServer server(options, [&](const HttpRequest& request) {
        if (request.path == "/held")
            return holding(request);
        return request.path == "/answer" ? text(answer) : readBack(request);
    });
    ASSERT_NE(server.port(), 0);
    constexpr std::size_t uploaded = 1'500'000;
    SteadyClient reader(
        server.port(), "127.0.0.2", "GET /answer HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n");
    ASSERT_TRUE(reader.reading());
    // Its head brings a second's bytes at the floor rate with it.
    SteadyClient uploader(server.port(), "127.0.0.3", postTo("/upload", uploaded, "X-Owner: a\r\n"), 256);
    ASSERT_TRUE(arrivals.waitForHeads(1));

    // Neighbours behind the reader's own address, then strangers from elsewhere, all idle.
    std::vector<std::unique_ptr<RawConnection>> crowd;
    for (const char* address : { "127.0.0.2", "127.0.0.2", "127.0.0.2", "127.0.0.4", "127.0.0.4", "127.0.0.4",
             "127.0.0.5", "127.0.0.5", "127.0.0.5" })
        crowd.push_back(std::make_unique<RawConnection>(server.port(), address));
    // Connections are taken in turn: once this one is answered, the crowd has come in.
    RawConnection probe(server.port(), "127.0.0.6");
    probe.send("GET /now HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n");
    EXPECT_TRUE(probe.readToEnd().ends_with("read 0"));

    // The reader's address holds it and two requests waiting for their answers: none makes way.
    RawConnection held(server.port(), "127.0.0.2");
    held.send("GET /held HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n");
    RawConnection alsoHeld(server.port(), "127.0.0.2");
    alsoHeld.send("GET /held HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n");
    ASSERT_TRUE(arrivals.waitForHeld(2));
    RawConnection turnedAway(server.port(), "127.0.0.2");
    EXPECT_TRUE(closedByServer(turnedAway.socket(), true)) << "the newcomer is turned away";
    arrivals.answerAll();
    EXPECT_TRUE(held.readToEnd().ends_with("answered /held"));

    EXPECT_EQ(bodyOf(reader.finish()).size(), answer.size()) << "the answer is read whole";
    EXPECT_EQ(bodyOf(uploader.finish()), "read " + std::to_string(uploaded)) << "the upload is taken whole";
}

} // namespace
} // namespace lumora
