#include "controlplane/HttpsClient.hpp"

#include "common/Asio.hpp"
#include "controlplane/HttpsReplyReader.hpp"

#include <QUrl>
#include <boost/asio/ssl.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/ssl.hpp>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

namespace lumora {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = asio::ip::tcp;

namespace {

using Outcome = std::optional<std::expected<HttpsReply, HttpsFailure>>;

auto awaitError(beast::error_code& ec)
{
    return asio::redirect_error(asio::use_awaitable, ec);
}

bool isAddress(const std::string& host)
{
    beast::error_code ec;
    asio::ip::make_address(host, ec);
    return !ec;
}

// The Host header: the name or address, bracketed when IPv6, with a port other than 443.
std::string hostHeader(const HttpsTarget& target)
{
    std::string host = target.host.find(':') != std::string::npos ? "[" + target.host + "]" : target.host;
    if (target.port != 443)
        host += ":" + std::to_string(target.port);
    return host;
}

// Checks the certificate against the host (or address) asked for, and names the host in
// the handshake (SNI) when it is a name.
bool bindPeerName(SSL* ssl, const std::string& host)
{
    X509_VERIFY_PARAM* parameters = SSL_get0_param(ssl);
    X509_VERIFY_PARAM_set_hostflags(parameters, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
    if (isAddress(host))
        return X509_VERIFY_PARAM_set1_ip_asc(parameters, host.c_str()) == 1;
    return SSL_set1_host(ssl, host.c_str()) == 1 && SSL_set_tlsext_host_name(ssl, host.c_str()) == 1;
}

} // namespace

std::expected<HttpsTarget, std::string> HttpsTarget::parse(std::string_view url)
{
    const QUrl parsed(QString::fromUtf8(url.data(), qsizetype(url.size())), QUrl::StrictMode);
    if (!parsed.isValid() || parsed.scheme() != u"https" || parsed.host().isEmpty())
        return std::unexpected("\"" + std::string(url) + "\" is not an https:// URL");
    if (!parsed.userInfo().isEmpty() || parsed.hasQuery() || parsed.hasFragment())
        return std::unexpected("\"" + std::string(url) + "\" may hold no user, query or fragment");
    HttpsTarget target;
    target.host = parsed.host(QUrl::FullyEncoded).toStdString();
    target.port = static_cast<std::uint16_t>(parsed.port(443));
    target.basePath = parsed.path(QUrl::FullyEncoded).toStdString();
    while (!target.basePath.empty() && target.basePath.back() == '/')
        target.basePath.pop_back();
    return target;
}

std::string HttpsTarget::text() const
{
    return "https://" + hostHeader(*this) + basePath;
}

std::string_view toString(HttpsFailure failure)
{
    switch (failure) {
    case HttpsFailure::unreachable:
        return "unreachable";
    case HttpsFailure::untrusted:
        return "TLS handshake failed";
    case HttpsFailure::timedOut:
        return "timed out";
    case HttpsFailure::malformedReply:
        return "malformed reply";
    }
    return "failed";
}

struct HttpsClient::State {
    HttpsTarget target;
    asio::ssl::context tls { asio::ssl::context::tls_client };

    asio::awaitable<void> exchange(const HttpsCall& call, Outcome& outcome) const
    {
        const auto executor = co_await asio::this_coro::executor;
        beast::error_code ec;
        tcp::resolver resolver(executor);
        const auto endpoints
            = co_await resolver.async_resolve(target.host, std::to_string(target.port), awaitError(ec));
        if (ec) {
            outcome = std::unexpected(HttpsFailure::unreachable);
            co_return;
        }
        // The context is only read while calls run.
        beast::ssl_stream<beast::tcp_stream> stream(executor, const_cast<asio::ssl::context&>(tls));
        if (!bindPeerName(stream.native_handle(), target.host)) {
            outcome = std::unexpected(HttpsFailure::untrusted);
            co_return;
        }
        co_await beast::get_lowest_layer(stream).async_connect(endpoints, awaitError(ec));
        if (ec) {
            outcome = std::unexpected(HttpsFailure::unreachable);
            co_return;
        }
        co_await stream.async_handshake(asio::ssl::stream_base::client, awaitError(ec));
        if (ec) {
            outcome = std::unexpected(HttpsFailure::untrusted);
            co_return;
        }

        http::request<http::string_body> request { http::string_to_verb(call.method),
            target.basePath + call.path, 11 };
        request.set(http::field::host, hostHeader(target));
        request.set(http::field::user_agent, "lumora-control-plane");
        for (const auto& [name, value] : call.headers)
            request.set(name, value);
        request.body() = call.body;
        request.keep_alive(false);
        request.prepare_payload();
        co_await http::async_write(stream, request, awaitError(ec));
        if (ec) {
            outcome = std::unexpected(HttpsFailure::unreachable);
            co_return;
        }

        outcome = co_await HttpsReplyReader::read(stream);
        // The connection was asked to close; no TLS goodbye is awaited.
    }
};

HttpsClient::HttpsClient(std::unique_ptr<State> state)
    : m_state(std::move(state))
{
}

HttpsClient::~HttpsClient() = default;

std::expected<std::shared_ptr<const HttpsClient>, std::string> HttpsClient::create(
    HttpsTarget target, const std::optional<std::string>& caFile)
{
    auto state = std::make_unique<State>();
    state->target = std::move(target);
    beast::error_code ec;
    state->tls.set_options(asio::ssl::context::no_tlsv1 | asio::ssl::context::no_tlsv1_1, ec);
    state->tls.set_verify_mode(asio::ssl::verify_peer, ec);
    state->tls.set_default_verify_paths(ec);
    if (ec)
        return std::unexpected("cannot load the trusted certificates: " + ec.message());
    if (caFile) {
        state->tls.load_verify_file(*caFile, ec);
        if (ec)
            return std::unexpected("cannot load the CA file " + *caFile);
    }
    return std::shared_ptr<const HttpsClient>(new HttpsClient(std::move(state)));
}

const HttpsTarget& HttpsClient::target() const
{
    return m_state->target;
}

std::expected<HttpsReply, HttpsFailure> HttpsClient::send(const HttpsCall& call) const
{
    Outcome outcome;
    {
        // Declared after the outcome: its destruction ends an unfinished exchange first.
        asio::io_context io(1);
        asio::co_spawn(io, m_state->exchange(call, outcome), asio::detached);
        io.run_for(call.timeout);
    }
    if (!outcome)
        return std::unexpected(HttpsFailure::timedOut);
    return *outcome;
}

} // namespace lumora
