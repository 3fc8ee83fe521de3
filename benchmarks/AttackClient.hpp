#pragma once

// What the hand-run attack clients share: connections from addresses of the loopback network, a
// crowd of coroutines that each keep a session going, one request over TLS at a paced rate, and
// running a coroutine to its end while a server started by the test harness logs.
#include "common/Asio.hpp"

#include <QCoreApplication>
#include <atomic>
#include <boost/asio/ssl.hpp>
#include <boost/beast/core.hpp>
#include <chrono>
#include <functional>
#include <future>
#include <string>
#include <thread>
#include <utility>

namespace lumora::attack {

namespace asio = boost::asio;
namespace beast = boost::beast;
using tcp = asio::ip::tcp;
using Clock = std::chrono::steady_clock;
using TlsStream = asio::ssl::stream<tcp::socket>;

// The address the servers listen on, and the one the client under test comes from.
inline const char* const home = "127.0.0.1";

inline auto awaitError(beast::error_code& ec)
{
    return asio::redirect_error(asio::use_awaitable, ec);
}

// A connection to the server on 127.0.0.1 from `source`.
inline asio::awaitable<bool> connectFrom(tcp::socket& socket, const std::string& source, unsigned short port)
{
    beast::error_code ec;
    if (!socket.is_open())
        socket.open(tcp::v4(), ec);
    socket.bind({ asio::ip::make_address(source), 0 }, ec);
    co_await socket.async_connect({ asio::ip::make_address(home), port }, awaitError(ec));
    if (ec)
        co_return false;
    // A body written after its head goes at once, not once the server has acknowledged the head
    // (some 40 ms later on loopback).
    socket.set_option(tcp::no_delay(true), ec);
    co_return true;
}

// Coroutines that each run a session again and again, on a thread of their own, from the source
// each slot is given, until stopped.
class Crowd {
public:
    using Session = std::function<asio::awaitable<void>(int slot, std::string source)>;

    Crowd(int size, const std::function<std::string(int)>& sourceOf, const Session& session)
    {
        for (int slot = 0; slot < size; ++slot)
            asio::co_spawn(m_io, hold(slot, sourceOf(slot), session), asio::detached);
        m_started = Clock::now();
        m_thread = std::thread([this] { m_io.run(); });
    }
    ~Crowd() { stop(); }
    Crowd(const Crowd&) = delete;
    Crowd& operator=(const Crowd&) = delete;

    // Stops it: the sessions begun per second.
    double stop()
    {
        m_io.stop();
        if (m_thread.joinable())
            m_thread.join();
        return m_opened / std::chrono::duration<double>(Clock::now() - m_started).count();
    }

private:
    asio::awaitable<void> hold(int slot, std::string source, Session session)
    {
        for (;;) {
            ++m_opened;
            co_await session(slot, source);
        }
    }

    asio::io_context m_io { 1 };
    std::atomic<long> m_opened { 0 };
    Clock::time_point m_started;
    std::thread m_thread;
};

// Waits until `bytes` at `bytesPerSecond` since `started` are due.
inline asio::awaitable<void> pace(std::size_t bytes, double bytesPerSecond, Clock::time_point started)
{
    asio::steady_timer timer(co_await asio::this_coro::executor);
    timer.expires_at(started
        + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(bytes / bytesPerSecond)));
    beast::error_code ec;
    co_await timer.async_wait(awaitError(ec));
}

// One request over TLS: its head, then its body at `sendRate` bytes a second (unpaced when 0),
// then its answer read at `readRate` (unpaced when 0), with a receive buffer of `receiveBuffer`
// bytes (the kernel's when 0); `underWay` is called once the first bytes of the body or the answer
// have gone, `answered` once the answer's first bytes have come; the connection is closed after
// `patience` (never when 0). What it read.
struct Exchange {
    std::string source = home;
    double sendRate = 0;
    double readRate = 0;
    int receiveBuffer = 0;
    std::function<void()> underWay = nullptr;
    std::function<void()> answered = nullptr;
    std::chrono::seconds patience { 0 };
};

inline asio::awaitable<std::string> exchange(
    asio::ssl::context& tls, unsigned short port, QByteArray head, QByteArray body, Exchange how = {})
{
    constexpr qsizetype underWayBytes = 1;
    TlsStream stream(co_await asio::this_coro::executor, tls);
    if (how.receiveBuffer > 0) {
        stream.next_layer().open(tcp::v4());
        stream.next_layer().set_option(asio::socket_base::receive_buffer_size(how.receiveBuffer));
    }
    if (!co_await connectFrom(stream.next_layer(), how.source, port))
        co_return std::string();
    asio::steady_timer patience(co_await asio::this_coro::executor);
    if (how.patience.count() > 0) {
        patience.expires_after(how.patience);
        patience.async_wait([&stream](const beast::error_code& expired) {
            if (!expired)
                beast::get_lowest_layer(stream).close();
        });
    }
    beast::error_code ec;
    co_await stream.async_handshake(asio::ssl::stream_base::client, awaitError(ec));
    // Unpaced, a body goes with its head, as clients send a short request.
    if (how.sendRate == 0) {
        head += body;
        body.clear();
    }
    if (!ec)
        co_await asio::async_write(
            stream, asio::buffer(head.data(), std::size_t(head.size())), awaitError(ec));
    const auto sending = Clock::now();
    for (qsizetype sent = 0; !ec && sent < body.size();) {
        const qsizetype step = std::min<qsizetype>(4096, body.size() - sent);
        if (how.sendRate > 0)
            co_await pace(std::size_t(sent), how.sendRate, sending);
        co_await asio::async_write(
            stream, asio::buffer(body.data() + sent, std::size_t(step)), awaitError(ec));
        sent += step;
        if (how.underWay && sent >= underWayBytes)
            std::exchange(how.underWay, nullptr)();
    }
    std::string reply;
    char chunk[16 * 1024];
    const auto reading = Clock::now();
    while (!ec) {
        if (how.readRate > 0)
            co_await pace(reply.size(), how.readRate, reading);
        const std::size_t got = co_await stream.async_read_some(asio::buffer(chunk), awaitError(ec));
        if (how.answered && got > 0)
            std::exchange(how.answered, nullptr)();
        reply.append(chunk, got);
        if (how.underWay && qsizetype(reply.size()) >= underWayBytes)
            std::exchange(how.underWay, nullptr)();
    }
    patience.cancel();
    co_return reply;
}

// Whether a reply is whole: its status is `status` and its body as long as it says.
inline bool whole(const std::string& reply, const char* status)
{
    const auto end = reply.find("\r\n\r\n");
    const auto length = reply.find("Content-Length: ");
    if (!reply.starts_with(std::string("HTTP/1.1 ") + status) || end == std::string::npos
        || length == std::string::npos)
        return false;
    return std::stoul(reply.substr(length + 16)) == reply.size() - end - 4;
}

// Runs `work` to its end, reading meanwhile what the server writes to its log (a server whose log
// is not read stops at its next line).
template <typename T> T runOn(asio::io_context& io, asio::awaitable<T> work)
{
    auto future = asio::co_spawn(io, std::move(work), asio::use_future);
    io.restart();
    // One handler at a time, so that a reply is taken as soon as it comes.
    while (future.wait_for(std::chrono::seconds(0)) != std::future_status::ready) {
        io.run_one_for(std::chrono::milliseconds(20));
        QCoreApplication::processEvents();
    }
    return future.get();
}

// Lets the server log for `seconds` while something else runs.
inline void logFor(std::chrono::milliseconds time)
{
    const auto until = Clock::now() + time;
    while (Clock::now() < until) {
        QCoreApplication::processEvents();
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

} // namespace lumora::attack
