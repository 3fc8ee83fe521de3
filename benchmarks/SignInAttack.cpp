// Sign-in starts against a control plane of its own (started here over TLS, on loopback, with the
// limits a server starts with and a descriptor limit of 1,024 unless told), on SQLite or, with
// --postgresql, on a database of its own in the server that LUMORA_TEST_POSTGRESQL_URL names
// (scripts/with-test-postgresql). Prints its figures with the load average.
//
//   lumora-sign-in-attack flood [--addresses N] [--connections N] [--seconds S]
//       N keep-alive connections (default 720) from N addresses of 127.0.95.0/24 (default 15) send
//       starts without pause; once a second meanwhile a newcomer's start from another network and
//       a signed-in device's GET /v1/account/state: their answers and times.
//   lumora-sign-in-attack neighbour [--addresses N] [--every MS] [--keys fresh|address]
//       [--seconds S] [--victim-every S]
//       N addresses of 127.0.97.0/24 (default 6) each start every MS ms (default 500), with a fresh
//       key each time or one key each; another address of the /24 starts every 30 s (a device
//       trying again, with one key) for S seconds (default 600): its answers.
//   lumora-sign-in-attack rows [--networks N] [--addresses N] [--keys fresh|address|network]
//       [--seconds S]
//       N networks of 127.x (default 50) of M addresses each (default 6), each address starting at
//       its rate (one every 6 s) for S seconds (default 150), with one key for each network unless
//       told: the starts taken, and the rows the database keeps beside those open; newcomers'
//       starts and signed calls meanwhile, as beside a flood.
//
// Each also takes --descriptors N and --postgresql.
#include "AttackClient.hpp"
#include "BenchmarkProbes.hpp"
#include "ProcessCalls.hpp"
#include "TestDatabase.hpp"

#include <QCoreApplication>
#include <QSqlQuery>
#include <QSslConfiguration>
#include <algorithm>
#include <boost/beast/http.hpp>
#include <cstdio>
#include <map>
#include <mutex>
#include <optional>
#include <vector>

namespace {

using namespace lumora;
using namespace lumora::attack;
using namespace lumora::testing;
namespace http = beast::http;

struct Options {
    QString mode;
    int addresses = 0;
    int connections = 720;
    int seconds = 0;
    int every = 500;
    int victimEvery = 30;
    int networks = 50;
    QString keys;
    int descriptors = 1024;
    bool postgresql = false;
};

// Answers by status, from any thread.
class Tally {
public:
    void count(int status)
    {
        const std::lock_guard lock(m_lock);
        ++m_statuses[status];
    }
    [[nodiscard]] std::string text() const
    {
        const std::lock_guard lock(m_lock);
        std::string all;
        for (const auto& [status, count] : m_statuses)
            all += (all.empty() ? "" : ", ") + std::to_string(count) + " x " + std::to_string(status);
        return all.empty() ? "none" : all;
    }
    [[nodiscard]] long total(int status) const
    {
        const std::lock_guard lock(m_lock);
        const auto found = m_statuses.find(status);
        return found == m_statuses.end() ? 0 : found->second;
    }

private:
    mutable std::mutex m_lock;
    std::map<int, long> m_statuses;
};

QString freshKey()
{
    return DeviceIdentity(*P256PrivateKey::generate()).publicKeyBase64URL();
}

// How long a client waits for its answer before it closes the connection and counts none.
constexpr std::chrono::seconds patience { 20 };

QByteArray startBody(const QString& key)
{
    return QJsonDocument(QJsonObject { { "device_public_key", key }, { "platform", "linux" },
                             { "state", QUuid::createUuid().toString(QUuid::Id128) } })
        .toJson(QJsonDocument::Compact);
}

QByteArray startHead(const QByteArray& body)
{
    return "POST /v1/auth/apple/web/start HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n"
           "Content-Type: application/json\r\nContent-Length: "
        + QByteArray::number(body.size()) + "\r\n\r\n";
}

int statusOf(const std::string& reply)
{
    return reply.size() > 12 && reply.starts_with("HTTP/1.1 ") ? std::stoi(reply.substr(9, 3)) : 0;
}

std::string retryAfterOf(const std::string& reply)
{
    const auto at = reply.find("Retry-After: ");
    return at == std::string::npos ? std::string() : reply.substr(at + 13, reply.find("\r\n", at) - at - 13);
}

// One start over a connection of its own from `source`, `answered` called when its answer
// begins: the reply. (Its parameters are values, and no temporary is awaited: GCC 12 frees a
// coroutine's temporaries too soon.)
asio::awaitable<std::string> startOnce(asio::ssl::context& tls, unsigned short port, std::string source,
    QString key, std::function<void()> answered = nullptr)
{
    const QByteArray body = startBody(key);
    const QByteArray head = startHead(body);
    const Exchange from {
        .source = std::move(source), .answered = std::move(answered), .patience = patience
    };
    co_return co_await exchange(tls, port, head, body, from);
}

// One start from `source`, then a pause until `every` has passed since it began.
asio::awaitable<void> startAndPause(asio::ssl::context& tls, unsigned short port, std::string source,
    QString key, std::chrono::milliseconds every, Tally* tally)
{
    asio::steady_timer pause(co_await asio::this_coro::executor, every);
    const std::string reply = co_await startOnce(tls, port, std::move(source), std::move(key));
    tally->count(statusOf(reply));
    beast::error_code ec;
    co_await pause.async_wait(awaitError(ec));
}

// A keep-alive connection that sends starts one after another as fast as they are answered.
asio::awaitable<void> startAgainAndAgain(asio::ssl::context& tls, std::string source, unsigned short port,
    const std::vector<QString>& keys, Tally& tally)
{
    TlsStream stream(co_await asio::this_coro::executor, tls);
    asio::steady_timer pause(co_await asio::this_coro::executor, std::chrono::milliseconds(100));
    beast::error_code ec;
    if (co_await connectFrom(stream.next_layer(), source, port))
        co_await stream.async_handshake(asio::ssl::stream_base::client, awaitError(ec));
    else
        ec = asio::error::connection_refused;
    beast::flat_buffer buffer;
    for (std::size_t sent = 0; !ec; ++sent) {
        http::request<http::string_body> request(http::verb::post, "/v1/auth/apple/web/start", 11);
        request.set(http::field::host, "127.0.0.1");
        request.set(http::field::content_type, "application/json");
        request.body() = startBody(keys[sent % keys.size()]).toStdString();
        request.prepare_payload();
        co_await http::async_write(stream, request, awaitError(ec));
        http::response<http::string_body> response;
        if (!ec)
            co_await http::async_read(stream, buffer, response, awaitError(ec));
        if (!ec)
            tally.count(response.result_int());
        if (!response.keep_alive())
            break;
    }
    // A connection the server refused or closed is opened again after a moment.
    co_await pause.async_wait(awaitError(ec));
}

struct Server {
    TestDatabase database;
    std::unique_ptr<ControlPlaneProcess> process;
    unsigned short port = 0;
};

double median(std::vector<double> values)
{
    if (values.empty())
        return 0;
    std::ranges::sort(values);
    return values[values.size() / 2];
}

std::string timesOf(std::vector<double> seconds)
{
    if (seconds.empty())
        return "none";
    const double slowest = *std::ranges::max_element(seconds);
    char text[96];
    std::snprintf(text, sizeof text, "median %.3f s, slowest %.3f s", median(std::move(seconds)), slowest);
    return text;
}

// Once a second, a newcomer's start from a network of its own and a signed-in device's signed
// call: their answers and times.
class Probes {
public:
    Probes(Server& server, asio::ssl::context& tls)
        : m_server(server)
        , m_tls(tls)
        , m_device(signInOver(*server.process, m_identity, "Ada"))
    {
    }

    void run(int seconds)
    {
        const auto started = Clock::now();
        for (int i = 0; i < seconds; ++i) {
            const auto due = started + std::chrono::seconds(i);
            logFor(std::chrono::duration_cast<std::chrono::milliseconds>(
                std::max(due - Clock::now(), Clock::duration())));
            // From its sending until its answer begins (or the client gives up).
            auto at = Clock::now();
            std::optional<Clock::time_point> answeredAt;
            const auto answered = [&answeredAt] { answeredAt = Clock::now(); };
            const auto took = [&] {
                return std::chrono::duration<double>(answeredAt.value_or(Clock::now()) - at).count();
            };
            const std::string newcomer = runOn(m_io,
                startOnce(m_tls, m_server.port, "127.0." + std::to_string(100 + i % 100) + ".1", freshKey(),
                    answered));
            m_newcomerTimes.push_back(took());
            m_newcomers.count(statusOf(newcomer));
            const QByteArray call
                = "GET /v1/account/state HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n"
                  "Authorization: "
                + signedBy(m_identity, m_device, "GET", "/v1/account/state") + "\r\n\r\n";
            at = Clock::now();
            answeredAt.reset();
            const std::string reply = runOn(m_io,
                exchange(m_tls, m_server.port, call, {}, { .answered = answered, .patience = patience }));
            m_callTimes.push_back(took());
            m_calls.count(statusOf(reply));
        }
    }

    [[nodiscard]] std::string text() const
    {
        return "  newcomers' starts: " + m_newcomers.text() + "; " + timesOf(m_newcomerTimes)
            + "\n  a device's signed calls: " + m_calls.text() + "; " + timesOf(m_callTimes) + "\n";
    }

private:
    Server& m_server;
    asio::ssl::context& m_tls;
    const DeviceIdentity m_identity { *P256PrivateKey::generate() };
    const QUuid m_device;
    asio::io_context m_io;
    Tally m_newcomers;
    Tally m_calls;
    std::vector<double> m_newcomerTimes;
    std::vector<double> m_callTimes;
};

const char* backendOf(const Server& server)
{
    return server.database.url().startsWith("sqlite") ? "SQLite" : "PostgreSQL";
}

// Starts without pause from many connections; a newcomer's starts and a device's signed calls
// meanwhile.
int flood(const Options& options, Server& server, asio::ssl::context& tls)
{
    const int addresses = options.addresses > 0 ? options.addresses : 15;
    const int seconds = options.seconds > 0 ? options.seconds : 60;
    Probes probes(server, tls);
    std::vector<QString> keys;
    for (int i = 0; i < 64; ++i)
        keys.push_back(freshKey());
    Tally flooding;
    const auto sourceOf
        = [&](int slot) { return "127.0.95." + std::to_string(1 + slot * addresses / options.connections); };
    Crowd crowd(options.connections, sourceOf, [&](int, std::string source) {
        return startAgainAndAgain(tls, std::move(source), server.port, keys, flooding);
    });
    logFor(std::chrono::seconds(3));
    const auto started = Clock::now();
    const long floodedBefore = flooding.total(429) + flooding.total(200);
    probes.run(seconds);
    const double elapsed = std::chrono::duration<double>(Clock::now() - started).count();
    const long flooded = flooding.total(429) + flooding.total(200) - floodedBefore;
    const std::string load = benchmarks::loadAverage();
    const double churn = crowd.stop();
    std::printf("%s, %d connections from %d addresses of 127.0.95.0/24 starting without pause (%.0f starts/s "
                "answered; %s; %.0f connections/s), descriptors %d, %d s:\n%s  load average %s\n",
        backendOf(server), options.connections, addresses, double(flooded) / elapsed, flooding.text().c_str(),
        churn, options.descriptors, seconds, probes.text().c_str(), load.c_str());
    return 0;
}

// Neighbours of one /24 asking again and again; the victim's starts beside them.
int neighbour(const Options& options, Server& server, asio::ssl::context& tls)
{
    const int addresses = options.addresses > 0 ? options.addresses : 6;
    const int seconds = options.seconds > 0 ? options.seconds : 600;
    const bool keyEach = options.keys == "address";
    std::vector<QString> keys;
    for (int i = 0; i < addresses; ++i)
        keys.push_back(freshKey());
    Tally neighbours;
    const auto every = std::chrono::milliseconds(options.every);
    Crowd crowd(
        addresses, [](int slot) { return "127.0.97." + std::to_string(1 + slot); },
        [&](int slot, std::string source) {
            return startAndPause(tls, server.port, std::move(source),
                keyEach ? keys[std::size_t(slot)] : freshKey(), every, &neighbours);
        });
    asio::io_context io;
    const QString victimKey = freshKey();
    int taken = 0;
    int tries = 0;
    const auto started = Clock::now();
    for (; Clock::now() - started < std::chrono::seconds(seconds); ++tries) {
        const auto due = started + std::chrono::seconds(tries * options.victimEvery);
        logFor(std::chrono::duration_cast<std::chrono::milliseconds>(
            std::max(due - Clock::now(), Clock::duration())));
        const std::string reply = runOn(io, startOnce(tls, server.port, "127.0.97.200", victimKey));
        const int status = statusOf(reply);
        taken += status == 200;
        std::fprintf(stderr, "%4.0f s: the victim's start %d%s\n",
            std::chrono::duration<double>(Clock::now() - started).count(), status,
            status == 429 ? (", Retry-After " + retryAfterOf(reply)).c_str() : "");
    }
    const std::string load = benchmarks::loadAverage();
    crowd.stop();
    std::printf("%s, %d neighbours of 127.0.97.0/24 each starting every %d ms (%s), %d s: the victim's "
                "starts every %d s: %d of %d taken; the neighbours' answers %s; load average %s\n",
        backendOf(server), addresses, options.every, keyEach ? "one key each" : "a fresh key each time",
        seconds, options.victimEvery, taken, tries, neighbours.text().c_str(), load.c_str());
    return 0;
}

// Networks of addresses each starting at its rate; the rows kept beside those open.
int rows(const Options& options, Server& server, asio::ssl::context& tls)
{
    const int addresses = options.addresses > 0 ? options.addresses : 6;
    const int seconds = options.seconds > 0 ? options.seconds : 150;
    const QString keying = options.keys.isEmpty() ? QStringLiteral("network") : options.keys;
    std::vector<QString> keys;
    for (int i = 0; i < options.networks * addresses; ++i)
        keys.push_back(freshKey());
    Tally answers;
    const auto sourceOf = [&](int slot) {
        return "127." + std::to_string(1 + slot / addresses / 250) + "."
            + std::to_string(slot / addresses % 250) + "." + std::to_string(1 + slot % addresses);
    };
    std::vector<std::string> sources;
    for (int slot = 0; slot < options.networks * addresses; ++slot)
        sources.push_back(sourceOf(slot));
    const auto keyOf = [&](const std::string& source) {
        const auto slot = std::ranges::find(sources, source) - sources.begin();
        if (keying == "address")
            return keys[std::size_t(slot)];
        if (keying == "network")
            return keys[std::size_t(slot / addresses * addresses)];
        return freshKey();
    };
    Probes probes(server, tls);
    // Ten a minute from each address, six addresses a network: every rate at once.
    Crowd crowd(options.networks * addresses, sourceOf, [&](int, std::string source) {
        QString key = keyOf(source);
        return startAndPause(
            tls, server.port, std::move(source), std::move(key), std::chrono::seconds(6), &answers);
    });
    probes.run(seconds);
    crowd.stop();
    const std::string load = benchmarks::loadAverage();
    auto store = ControlPlaneStore::open(server.database.url());
    if (!store) {
        std::fprintf(stderr, "%s\n", qPrintable(store.error()));
        return 1;
    }
    QSqlQuery count(QSqlDatabase::database((*store)->connectionName()));
    const qint64 now = QDateTime::currentSecsSinceEpoch();
    count.exec(QStringLiteral("SELECT COUNT(*), SUM(CASE WHEN redeemed_at IS NULL AND superseded_at IS NULL"
                              " AND created_at > %1 THEN 1 ELSE 0 END) FROM sign_in_requests")
                   .arg(now - 600));
    count.next();
    std::printf("%s, %d networks x %d addresses each starting every 6 s (keys: %s), %d s: %s; %d rows kept, "
                "%d of them open\n%s  load average %s\n",
        backendOf(server), options.networks, addresses, qPrintable(keying), seconds, answers.text().c_str(),
        count.value(0).toInt(), count.value(1).toInt(), probes.text().c_str(), load.c_str());
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    Options options;
    const QStringList arguments = QCoreApplication::arguments();
    options.mode = arguments.value(1);
    for (qsizetype i = 2; i < arguments.size(); ++i) {
        const QString& name = arguments[i];
        const QString value = arguments.value(i + 1);
        const auto number = [&](int& into) { into = value.toInt(), ++i; };
        if (name == "--addresses")
            number(options.addresses);
        else if (name == "--connections")
            number(options.connections);
        else if (name == "--seconds")
            number(options.seconds);
        else if (name == "--every")
            number(options.every);
        else if (name == "--victim-every")
            number(options.victimEvery);
        else if (name == "--networks")
            number(options.networks);
        else if (name == "--descriptors")
            number(options.descriptors);
        else if (name == "--keys")
            options.keys = value, ++i;
        else if (name == "--postgresql")
            options.postgresql = true;
        else {
            std::fprintf(stderr, "unknown option %s\n", qPrintable(name));
            return 2;
        }
    }
    const TestCertificates certificates;
    // The sign-in's own calls go through Qt, which trusts the test CA for this process.
    QSslConfiguration trusting = QSslConfiguration::defaultConfiguration();
    trusting.setCaCertificates(QSslCertificate::fromPath(certificates.caCertificate()));
    QSslConfiguration::setDefaultConfiguration(trusting);
    Server server { TestDatabase(options.postgresql ? Backend::postgresql : Backend::sqlite), nullptr, 0 };
    if (server.database.url().isEmpty()) {
        std::fprintf(stderr, "no PostgreSQL server: run under scripts/with-test-postgresql\n");
        return 1;
    }
    // The limits a server starts with (the harness lifts them unless one is given).
    server.process = std::make_unique<ControlPlaneProcess>(
        QStringList { "--dev-sign-in", "--database", server.database.url(), "--tls-cert",
            certificates.serverCertificate(), "--tls-key", certificates.serverKey(),
            "--sign-in-rate-per-address", "10" },
        options.descriptors);
    if (!server.process->started()) {
        std::fprintf(stderr, "the control plane did not start\n");
        return 1;
    }
    server.port = static_cast<unsigned short>(server.process->baseUrl().port());
    asio::ssl::context tls(asio::ssl::context::tls_client);
    tls.load_verify_file(certificates.caCertificate().toStdString());
    tls.set_verify_mode(asio::ssl::verify_peer);
    int status = 2;
    if (options.mode == "flood")
        status = flood(options, server, tls);
    else if (options.mode == "neighbour")
        status = neighbour(options, server, tls);
    else if (options.mode == "rows")
        status = rows(options, server, tls);
    else
        std::fprintf(stderr, "usage: lumora-sign-in-attack flood|neighbour|rows [options]\n");
    server.process->stop();
    return status;
}
