#include "common/HttpServer.hpp"

#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <csignal>
#include <future>
#include <gtest/gtest.h>
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
    explicit RawConnection(std::uint16_t port)
        : m_socket(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0))
    {
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
    void send(const std::string& bytes) { (void)::write(m_socket, bytes.data(), bytes.size()); }
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

// A stop signal closes idle connections at once and still answers the request under way,
// with the connection then closed, before the server returns.
TEST(HttpServerStop, AnswersTheRequestsUnderWayAndClosesTheIdleOnes)
{
    std::ostringstream log;
    std::atomic<bool> handling { false };
    auto server = HttpServer::listen(
        HttpServerOptions { ListenAddress { "127.0.0.1", 0 }, std::nullopt, 1024, 2, 2, 0 },
        [&handling](const HttpRequest&) {
            handling = true;
            std::this_thread::sleep_for(700ms);
            return HttpResponse { 200, "text/plain", "finished", {} };
        },
        log);
    ASSERT_TRUE(server.has_value()) << server.error();
    auto running = std::async(std::launch::async, [&server] { (*server)->runUntilSignalled(); });

    RawConnection idle((*server)->port());
    RawConnection busy((*server)->port());
    ASSERT_TRUE(idle.connected() && busy.connected());
    busy.send("GET /slow HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
    for (int wait = 0; wait < 500 && !handling; ++wait)
        std::this_thread::sleep_for(10ms);
    ASSERT_TRUE(handling);
    ::raise(SIGTERM);

    const auto closedAt = std::chrono::steady_clock::now();
    EXPECT_EQ(idle.readToEnd(), "");
    EXPECT_LT(std::chrono::steady_clock::now() - closedAt, 500ms) << "the idle connection is closed at once";
    const std::string reply = busy.readToEnd();
    EXPECT_TRUE(reply.starts_with("HTTP/1.1 200")) << reply;
    EXPECT_NE(reply.find("Connection: close"), std::string::npos) << reply;
    EXPECT_TRUE(reply.ends_with("finished")) << reply;
    EXPECT_EQ(running.wait_for(5s), std::future_status::ready);
    EXPECT_TRUE(log.str().starts_with("GET /slow 200 ")) << log.str();
}

} // namespace
} // namespace lumora
