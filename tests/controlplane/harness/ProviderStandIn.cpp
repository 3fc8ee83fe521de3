#include "ProviderStandIn.hpp"

#include "common/Asio.hpp"

#include <boost/asio/ssl.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/ssl.hpp>
#include <mutex>
#include <strings.h>
#include <thread>

namespace lumora::testing {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = asio::ip::tcp;

std::string StandInRequest::header(std::string_view name) const
{
    for (const auto& [key, value] : headers)
        if (key.size() == name.size() && ::strncasecmp(key.data(), name.data(), name.size()) == 0)
            return value;
    return {};
}

struct ProviderStandIn::State {
    asio::io_context io { 1 };
    asio::ssl::context tls { asio::ssl::context::tls_server };
    tcp::acceptor acceptor { io };
    mutable std::mutex lock;
    Script script;
    std::vector<StandInRequest> requests;
    std::thread thread;

    StandInReply answer(StandInRequest request)
    {
        const std::lock_guard guard(lock);
        requests.push_back(request);
        return script(request);
    }

    asio::awaitable<void> serve(tcp::socket socket)
    {
        beast::error_code ec;
        auto awaitError = asio::redirect_error(asio::use_awaitable, ec);
        beast::ssl_stream<beast::tcp_stream> stream(std::move(socket), tls);
        co_await stream.async_handshake(asio::ssl::stream_base::server, awaitError);
        if (ec)
            co_return;
        beast::flat_buffer buffer;
        http::request<http::string_body> message;
        co_await http::async_read(stream, buffer, message, awaitError);
        if (ec)
            co_return;
        StandInRequest request { std::string(message.method_string()), std::string(message.target()), {},
            message.body() };
        for (const auto& field : message)
            request.headers.emplace_back(std::string(field.name_string()), std::string(field.value()));
        const StandInReply reply = answer(std::move(request));
        if (reply.delay.count() > 0) {
            asio::steady_timer timer(co_await asio::this_coro::executor, reply.delay);
            co_await timer.async_wait(awaitError);
        }
        while (reply.holdWhile && reply.holdWhile()) {
            asio::steady_timer timer(co_await asio::this_coro::executor, std::chrono::milliseconds(10));
            co_await timer.async_wait(awaitError);
        }
        if (!reply.raw.empty()) {
            co_await asio::async_write(stream, asio::buffer(reply.raw), awaitError);
            co_await stream.async_shutdown(awaitError);
            co_return;
        }
        http::response<http::string_body> response { static_cast<http::status>(reply.status), 11 };
        response.set(http::field::content_type, "application/json");
        response.body() = reply.body;
        response.keep_alive(false);
        response.prepare_payload();
        co_await http::async_write(stream, response, awaitError);
        co_await stream.async_shutdown(awaitError);
    }

    asio::awaitable<void> accept()
    {
        for (;;) {
            beast::error_code ec;
            tcp::socket socket
                = co_await acceptor.async_accept(asio::redirect_error(asio::use_awaitable, ec));
            if (ec)
                co_return;
            asio::co_spawn(io, serve(std::move(socket)), asio::detached);
        }
    }
};

ProviderStandIn::ProviderStandIn(const QString& certificate, const QString& key, Script script)
    : m_state(std::make_unique<State>())
{
    m_state->script = std::move(script);
    m_state->tls.use_certificate_chain_file(certificate.toStdString());
    m_state->tls.use_private_key_file(key.toStdString(), asio::ssl::context::pem);
    const tcp::endpoint endpoint(asio::ip::make_address("127.0.0.1"), 0);
    m_state->acceptor.open(endpoint.protocol());
    m_state->acceptor.bind(endpoint);
    m_state->acceptor.listen();
    asio::co_spawn(m_state->io, m_state->accept(), asio::detached);
    m_state->thread = std::thread([state = m_state.get()] { state->io.run(); });
}

ProviderStandIn::~ProviderStandIn()
{
    m_state->io.stop();
    m_state->thread.join();
}

std::string ProviderStandIn::url() const
{
    return "https://127.0.0.1:" + std::to_string(m_state->acceptor.local_endpoint().port());
}

std::vector<StandInRequest> ProviderStandIn::requests() const
{
    const std::lock_guard guard(m_state->lock);
    return m_state->requests;
}

void ProviderStandIn::setScript(Script script)
{
    const std::lock_guard guard(m_state->lock);
    m_state->script = std::move(script);
}

} // namespace lumora::testing
