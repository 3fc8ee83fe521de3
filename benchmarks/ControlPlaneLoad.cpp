// Load on a running control plane: keep-alive clients, each request signed afresh by one of
// several devices signed in through the development sign-in. Prints one line of figures.
//
//   lumora-control-plane-load --url https://127.0.0.1:PORT [--ca FILE] [--clients N]
//       [--devices N] [--seconds S] [--threads N]
#include "common/Asio.hpp"
#include "security/DeviceIdentity.hpp"
#include "security/RequestSigner.hpp"

#include <QDateTime>
#include <QJsonDocument>
#include <QJsonObject>
#include <QUrl>
#include <QUrlQuery>
#include <QUuid>
#include <algorithm>
#include <atomic>
#include <boost/asio/ssl.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/ssl.hpp>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = asio::ip::tcp;
using Clock = std::chrono::steady_clock;

struct Options {
    QUrl url;
    std::string ca;
    int clients = 1;
    int devices = 8;
    double seconds = 10;
    unsigned threads = 4;
};

struct Device {
    lumora::DeviceIdentity identity;
    QUuid id;
};

std::optional<Options> parse(int argc, char** argv)
{
    Options options;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string name = argv[i];
        const char* value = argv[i + 1];
        if (name == "--url")
            options.url = QUrl(QString::fromUtf8(value));
        else if (name == "--ca")
            options.ca = value;
        else if (name == "--clients")
            options.clients = std::atoi(value);
        else if (name == "--devices")
            options.devices = std::atoi(value);
        else if (name == "--seconds")
            options.seconds = std::atof(value);
        else if (name == "--threads")
            options.threads = static_cast<unsigned>(std::atoi(value));
        else
            return std::nullopt;
    }
    if (!options.url.isValid() || options.clients < 1 || options.devices < 1 || options.seconds <= 0
        || options.threads < 1 || options.url.host() != "127.0.0.1")
        return std::nullopt;
    return options;
}

// One connection, plain or TLS, used for request after request.
class Connection {
public:
    Connection(asio::any_io_executor executor, asio::ssl::context* tls)
        : m_plain(executor)
    {
        if (tls)
            m_tls.emplace(executor, *tls);
    }

    asio::awaitable<void> open(const tcp::endpoint& endpoint)
    {
        if (!m_tls) {
            co_await m_plain.async_connect(endpoint, asio::use_awaitable);
            m_plain.socket().set_option(tcp::no_delay(true));
            co_return;
        }
        co_await beast::get_lowest_layer(*m_tls).async_connect(endpoint, asio::use_awaitable);
        beast::get_lowest_layer(*m_tls).socket().set_option(tcp::no_delay(true));
        co_await m_tls->async_handshake(asio::ssl::stream_base::client, asio::use_awaitable);
    }

    asio::awaitable<http::response<http::string_body>> exchange(http::request<http::string_body>& request)
    {
        http::response<http::string_body> response;
        if (m_tls) {
            co_await http::async_write(*m_tls, request, asio::use_awaitable);
            co_await http::async_read(*m_tls, m_buffer, response, asio::use_awaitable);
        } else {
            co_await http::async_write(m_plain, request, asio::use_awaitable);
            co_await http::async_read(m_plain, m_buffer, response, asio::use_awaitable);
        }
        co_return response;
    }

private:
    beast::tcp_stream m_plain;
    std::optional<beast::ssl_stream<beast::tcp_stream>> m_tls;
    beast::flat_buffer m_buffer;
};

http::request<http::string_body> makeRequest(const std::string& method, const QString& path,
    const std::string& body, const std::string& contentType = "application/json")
{
    http::request<http::string_body> request { method == "POST" ? http::verb::post : http::verb::get,
        path.toStdString(), 11 };
    request.set(http::field::host, "127.0.0.1");
    if (!body.empty()) {
        request.set(http::field::content_type, contentType);
        request.body() = body;
    }
    request.keep_alive(true);
    request.prepare_payload();
    return request;
}

// The development sign-in, done over one connection: the new device's id.
asio::awaitable<QUuid> signIn(Connection& connection, const lumora::DeviceIdentity& identity, int number)
{
    const QByteArray start = QJsonDocument(
        QJsonObject { { "device_public_key", identity.publicKeyBase64URL() }, { "platform", "linux" },
            { "state", QUuid::createUuid().toString(QUuid::Id128) } })
                                 .toJson(QJsonDocument::Compact);
    auto request = makeRequest("POST", "/v1/auth/apple/web/start", start.toStdString());
    auto reply = co_await connection.exchange(request);
    const QUrl page(QJsonDocument::fromJson(QByteArray::fromStdString(reply.body()))
                        .object()
                        .value("authorization_url")
                        .toString());
    const std::string form = "request=" + QUrlQuery(page).queryItemValue("request").toStdString()
        + "&name=load" + std::to_string(number);
    request = makeRequest("POST", "/dev/sign-in", form, "application/x-www-form-urlencoded");
    reply = co_await connection.exchange(request);
    const QUrl location(QString::fromStdString(std::string(reply[http::field::location])));
    const QByteArray complete
        = QJsonDocument(QJsonObject { { "ticket", QUrlQuery(location).queryItemValue("ticket") },
                            { "state", QUrlQuery(location).queryItemValue("state") } })
              .toJson(QJsonDocument::Compact);
    const QString completePath = QStringLiteral("/v1/auth/apple/web/complete");
    request = makeRequest("POST", completePath, complete.toStdString());
    // Only the key's holder may redeem a ticket for it.
    const auto signature = lumora::RequestSigner::signRecovery(
        identity, u"POST", completePath, complete, QDateTime::currentDateTimeUtc(), QUuid::createUuid());
    if (signature)
        request.set(http::field::authorization, signature->authorization().toStdString());
    reply = co_await connection.exchange(request);
    co_return QUuid::fromString(QJsonDocument::fromJson(QByteArray::fromStdString(reply.body()))
                                    .object()
                                    .value("device_id")
                                    .toString());
}

struct Results {
    std::mutex lock;
    std::vector<double> latencies; // milliseconds
    long errors = 0;
};

asio::awaitable<void> client(tcp::endpoint endpoint, asio::ssl::context* tls, const Device& device,
    Clock::time_point until, Results& results)
{
    std::vector<double> latencies;
    long errors = 0;
    try {
        Connection connection(co_await asio::this_coro::executor, tls);
        co_await connection.open(endpoint);
        while (Clock::now() < until) {
            const QString path = QStringLiteral("/v1/account/state");
            const auto started = Clock::now();
            const auto signature = lumora::RequestSigner::sign(device.identity, device.id, u"GET", path, {},
                QDateTime::currentDateTimeUtc(), QUuid::createUuid());
            auto request = makeRequest("GET", path, {});
            request.set(http::field::authorization, signature->authorization().toStdString());
            const auto reply = co_await connection.exchange(request);
            latencies.push_back(std::chrono::duration<double, std::milli>(Clock::now() - started).count());
            if (reply.result() != http::status::ok)
                ++errors;
        }
    } catch (const std::exception&) {
        ++errors;
    }
    const std::lock_guard lock(results.lock);
    results.latencies.insert(results.latencies.end(), latencies.begin(), latencies.end());
    results.errors += errors;
}

double percentile(const std::vector<double>& sorted, double fraction)
{
    if (sorted.empty())
        return 0;
    const auto index = static_cast<std::size_t>(fraction * static_cast<double>(sorted.size() - 1));
    return sorted[index];
}

} // namespace

int main(int argc, char** argv)
{
    const auto options = parse(argc, argv);
    if (!options) {
        std::fprintf(stderr,
            "usage: lumora-control-plane-load --url http(s)://127.0.0.1:PORT [--ca FILE] [--clients N]"
            " [--devices N] [--seconds S] [--threads N]\n");
        return 2;
    }
    std::optional<asio::ssl::context> tls;
    if (options->url.scheme() == "https") {
        tls.emplace(asio::ssl::context::tls_client);
        tls->set_verify_mode(asio::ssl::verify_peer);
        if (!options->ca.empty())
            tls->load_verify_file(options->ca);
    }
    const tcp::endpoint endpoint(
        asio::ip::make_address("127.0.0.1"), static_cast<unsigned short>(options->url.port()));

    asio::io_context io;
    std::vector<Device> devices;
    asio::co_spawn(
        io,
        [&]() -> asio::awaitable<void> {
            Connection connection(co_await asio::this_coro::executor, tls ? &*tls : nullptr);
            co_await connection.open(endpoint);
            for (int number = 0; number < options->devices; ++number) {
                lumora::DeviceIdentity identity(*lumora::P256PrivateKey::generate());
                const QUuid id = co_await signIn(connection, identity, number);
                devices.push_back(Device { std::move(identity), id });
            }
        },
        [](const std::exception_ptr& failure) {
            if (failure)
                std::rethrow_exception(failure);
        });
    try {
        io.run();
    } catch (const std::exception& failure) {
        std::fprintf(stderr, "sign-in failed: %s\n", failure.what());
        return 1;
    }
    if (std::ranges::any_of(devices, [](const Device& device) { return device.id.isNull(); })) {
        std::fprintf(stderr, "sign-in failed: no device id (is --dev-sign-in on?)\n");
        return 1;
    }

    io.restart();
    Results results;
    const auto started = Clock::now();
    const auto until = started
        + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(options->seconds));
    for (int number = 0; number < options->clients; ++number)
        asio::co_spawn(asio::make_strand(io),
            client(endpoint, tls ? &*tls : nullptr,
                devices[static_cast<std::size_t>(number) % devices.size()], until, results),
            asio::detached);
    std::vector<std::thread> threads;
    for (unsigned i = 0; i < options->threads; ++i)
        threads.emplace_back([&io] { io.run(); });
    for (std::thread& thread : threads)
        thread.join();
    const double elapsed = std::chrono::duration<double>(Clock::now() - started).count();

    std::ranges::sort(results.latencies);
    std::printf(
        "clients %d requests %zu errors %ld seconds %.2f requests_per_second %.1f p50_ms %.2f p99_ms %.2f\n",
        options->clients, results.latencies.size(), results.errors, elapsed,
        static_cast<double>(results.latencies.size()) / elapsed, percentile(results.latencies, 0.5),
        percentile(results.latencies, 0.99));
    return 0;
}
