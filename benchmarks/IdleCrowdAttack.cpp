// Clients that move (a signed-in account fetching its conversation of some 0.9 MiB read at a steady
// rate, or uploading one sent at a steady rate, or another account's live stream) against a server
// of their own (started here over TLS, on loopback) that a crowd of idle connections keeps at its
// connection cap. Prints how many of the tries came through whole, the crowd's churn and the load
// average.
//
//   lumora-idle-crowd-attack fetch|upload|speech [--addresses N] [--each N] [--neighbour]
//       [--tries N] [--descriptors N] [--kib-per-second N] [--receive-buffer KIB] [--late]
//       [--token-each | --streams-per-token N] [--audio-once] [--frames-every SECONDS [--frame-bytes N]]
//
// The crowd: N addresses (default 20) with `--each` connections apiece (default 40), each sending
// nothing, opened again as soon as the server closes it; against the speech stand-in, live streams
// opened with one token (or one token each with --token-each, or one for every N streams) that send
// no audio (or a tenth of a second of it once opened, with --audio-once, or a binary frame of N bytes,
// default 0, every SECONDS, with --frames-every), opened again at most once a second. --neighbour puts the
// whole crowd behind the client's own address; --addresses 0 is the control, with no crowd. The server runs
// with a descriptor limit of 1,024 unless told.
// --late starts the crowd anew for each fetch or upload once its first bytes have gone (so that
// the client's connection is in before the crowd comes) and stops it after; --receive-buffer sets
// the client's socket receive buffer (else the kernel's, which on loopback may hold the whole
// answer, so that the server is done writing it at once).
#include "AttackClient.hpp"
#include "BenchmarkProbes.hpp"
#include "ProcessCalls.hpp"
#include "SpeechStandInProcess.hpp"

#include <QCoreApplication>
#include <QSslConfiguration>
#include <atomic>
#include <boost/asio/ssl.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/websocket.hpp>
#include <boost/beast/websocket/ssl.hpp>
#include <cstdio>
#include <memory>
#include <thread>
#include <vector>

namespace {

using namespace lumora;
using namespace lumora::attack;
using namespace lumora::testing;
namespace websocket = beast::websocket;

struct Options {
    QString mode;
    int addresses = 20;
    int each = 40;
    bool neighbour = false;
    int tries = 10;
    int descriptors = 1024;
    int kibPerSecond = 0;
    int receiveBufferKib = 0;
    bool tokenEach = false;
    int streamsPerToken = 0;
    bool audioOnce = false;
    int framesEvery = 0;
    int frameBytes = 0;
    bool late = false;
};

std::string crowdSource(const Options& options, int slot)
{
    return options.neighbour ? std::string(home) : "127.0.1." + std::to_string(1 + slot / options.each);
}

// A plain connection that sends nothing and is opened again as soon as the server closes it.
asio::awaitable<void> idleConnection(std::string source, unsigned short port)
{
    tcp::socket socket(co_await asio::this_coro::executor);
    if (!co_await connectFrom(socket, source, port))
        co_return;
    char scratch[256];
    beast::error_code ec;
    while (!ec)
        co_await socket.async_read_some(asio::buffer(scratch), awaitError(ec));
}

// Lets the crowd take its place.
void letCrowdGather()
{
    logFor(std::chrono::seconds(5));
}

// The control plane: a signed-in account's fetches or uploads.
int attackControlPlane(const Options& options, const TestCertificates& certificates)
{
    ControlPlaneProcess server({ "--dev-sign-in", "--tls-cert", certificates.serverCertificate(), "--tls-key",
                                   certificates.serverKey() },
        options.descriptors);
    if (!server.started()) {
        std::fprintf(stderr, "the control plane did not start\n");
        return 1;
    }
    const auto port = static_cast<unsigned short>(server.baseUrl().port());
    const DeviceIdentity identity(*P256PrivateKey::generate());
    const QUuid device = signInOver(server, identity, "Ada");
    const QString collection = QStringLiteral("/v1/content/conversations");
    const auto uploadHead = [&](const QByteArray& body) {
        return "POST " + collection.toLatin1()
            + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\nContent-Type: application/json\r\n"
              "Content-Length: "
            + QByteArray::number(body.size())
            + "\r\nAuthorization: " + signedBy(identity, device, "POST", collection, body) + "\r\n\r\n";
    };
    asio::ssl::context tls(asio::ssl::context::tls_client);
    tls.load_verify_file(certificates.caCertificate().toStdString());
    tls.set_verify_mode(asio::ssl::verify_peer);
    asio::io_context io;
    const QByteArray stored = largeConversation();
    const std::string created = runOn(io, exchange(tls, port, uploadHead(stored), stored));
    const QString id
        = QJsonDocument::fromJson(QByteArray::fromStdString(created.substr(created.find("\r\n\r\n") + 4)))
              .object()
              .value("conversation")
              .toObject()
              .value("id")
              .toString();
    if (!whole(created, "201") || id.isEmpty()) {
        std::fprintf(stderr, "the conversation was not stored: %s\n", created.substr(0, 200).c_str());
        return 1;
    }

    std::unique_ptr<Crowd> crowd;
    double churn = 0;
    const auto gather = [&] {
        if (options.addresses > 0)
            crowd = std::make_unique<Crowd>(
                options.addresses * options.each, [&](int slot) { return crowdSource(options, slot); },
                [port](int, std::string source) { return idleConnection(std::move(source), port); });
    };
    const auto disperse = [&] {
        if (crowd)
            churn = std::max(churn, crowd->stop());
        crowd.reset();
    };
    if (!options.late) {
        gather();
        letCrowdGather();
    }

    const bool fetching = options.mode == "fetch";
    const double rate = 1024.0 * (options.kibPerSecond > 0 ? options.kibPerSecond : fetching ? 400 : 100);
    int complete = 0;
    const auto started = Clock::now();
    for (int i = 0; i < options.tries; ++i) {
        std::string reply;
        std::function<void()> underWay = options.late ? std::function<void()>(gather) : nullptr;
        if (fetching) {
            const QString path = collection + '/' + id;
            const QByteArray head = "GET " + path.toLatin1()
                + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\nAuthorization: "
                + signedBy(identity, device, "GET", path) + "\r\n\r\n";
            reply = runOn(io,
                exchange(tls, port, head, {},
                    { .readRate = rate,
                        .receiveBuffer = options.receiveBufferKib * 1024,
                        .underWay = underWay }));
        } else {
            const QByteArray body = largeConversation();
            reply = runOn(io,
                exchange(tls, port, uploadHead(body), body,
                    { .sendRate = rate,
                        .receiveBuffer = options.receiveBufferKib * 1024,
                        .underWay = underWay }));
        }
        if (options.late)
            disperse();
        const bool ok = whole(reply, fetching ? "200" : "201");
        complete += ok;
        std::fprintf(stderr, "%s %d: %s, %zu bytes\n", fetching ? "fetch" : "upload", i, ok ? "whole" : "cut",
            reply.size());
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - started).count();
    disperse();
    std::printf(
        "%s at %.0f KiB/s (receive buffer %d KiB), crowd %d x %d%s%s, descriptors %d: %d of %d whole in "
        "%.0f s; crowd opened %.0f connections/s; load average %s\n",
        fetching ? "fetches of 0.9 MiB read" : "uploads of 0.9 MiB sent", rate / 1024,
        options.receiveBufferKib, options.addresses, options.each,
        options.neighbour ? " behind the client's address" : "", options.late ? " once under way" : "",
        options.descriptors, complete, options.tries, seconds, churn, benchmarks::loadAverage().c_str());
    server.stop();
    return 0;
}

using WebSocket = websocket::stream<TlsStream>;

// Opens a live stream with `token` from `source`: the status its handshake was answered with, 0 when
// none came within `patience`.
asio::awaitable<int> openStream(
    WebSocket& socket, const std::string& source, unsigned short port, const QString& token)
{
    if (!co_await connectFrom(beast::get_lowest_layer(socket), source, port))
        co_return 0;
    beast::error_code ec;
    co_await socket.next_layer().async_handshake(asio::ssl::stream_base::client, awaitError(ec));
    if (ec)
        co_return 0;
    const std::string authorization = "Bearer " + token.toStdString();
    socket.set_option(websocket::stream_base::decorator(
        [authorization](websocket::request_type& request) { request.set("Authorization", authorization); }));
    websocket::response_type response;
    co_await socket.async_handshake(response, "127.0.0.1",
        "/v1/listen?model=nova-3&encoding=linear16&sample_rate=16000&channels=1&diarize=true"
        "&smart_format=true&interim_results=true&punctuate=true&mip_opt_out=true",
        awaitError(ec));
    co_return response.result_int();
}

// Sends a binary frame of `bytes` every `every` seconds until the stream ends.
asio::awaitable<void> sendFrames(
    WebSocket* socket, std::size_t bytes, std::chrono::seconds every, std::shared_ptr<bool> ended)
{
    asio::steady_timer tick(co_await asio::this_coro::executor);
    const std::string frame(bytes, '\0');
    beast::error_code ec;
    while (!ec && !*ended) {
        socket->binary(true);
        co_await socket->async_write(asio::buffer(frame), awaitError(ec));
        tick.expires_after(every);
        co_await tick.async_wait(awaitError(ec));
    }
}

// A crowd member's idle stream (silent after a tenth of a second of audio when `audioOnce`, sending
// a frame of `frameBytes` every `framesEvery` seconds when that is more than 0), opened again at
// most once a second once it ends or is refused.
asio::awaitable<void> idleStream(
    asio::ssl::context& tls, std::string source, unsigned short port, QString token, const Options& options)
{
    const auto executor = co_await asio::this_coro::executor;
    asio::steady_timer again(executor, std::chrono::seconds(1));
    {
        WebSocket socket(executor, tls);
        if (co_await openStream(socket, source, port, token) == 101) {
            beast::flat_buffer buffer;
            beast::error_code ec;
            if (options.audioOnce) {
                const std::string block(3200, '\0');
                socket.binary(true);
                co_await socket.async_write(asio::buffer(block), awaitError(ec));
            }
            // The frames' writer stops at the stream's end, before it touches the stream again.
            auto ended = std::make_shared<bool>(false);
            if (options.framesEvery > 0)
                asio::co_spawn(executor,
                    sendFrames(&socket, std::size_t(options.frameBytes),
                        std::chrono::seconds(options.framesEvery), ended),
                    asio::detached);
            while (!ec)
                co_await socket.async_read(buffer, awaitError(ec));
            *ended = true;
        }
    }
    beast::error_code ec;
    co_await again.async_wait(awaitError(ec));
}

// Reads a stream's replies as they come, keeping the last, until it ends.
asio::awaitable<void> readReplies(WebSocket* socket, std::string* last, bool* ended)
{
    beast::error_code ec;
    while (!ec) {
        beast::flat_buffer buffer;
        co_await socket->async_read(buffer, awaitError(ec));
        if (!ec)
            *last = beast::buffers_to_string(buffer.data());
    }
    *ended = true;
}

// Another account's stream: opened within 30 s, three seconds of audio sent as it is spoken, then
// closed as the speech client closes it; true when its transcript's end and a normal close came
// within ten seconds.
asio::awaitable<bool> talk(asio::ssl::context& tls, unsigned short port, QString token)
{
    const auto executor = co_await asio::this_coro::executor;
    WebSocket socket(executor, tls);
    asio::steady_timer patience(executor, std::chrono::seconds(30));
    patience.async_wait([&socket](const beast::error_code& ec) {
        if (!ec)
            beast::get_lowest_layer(socket).close();
    });
    const int status = co_await openStream(socket, home, port, token);
    patience.cancel();
    if (status != 101) {
        std::fprintf(stderr, "handshake answered %d\n", status);
        co_return false;
    }
    std::string last;
    bool ended = false;
    asio::co_spawn(executor, readReplies(&socket, &last, &ended), asio::detached);
    beast::error_code ec;
    const std::string block(3200, '\0');
    const auto started = Clock::now();
    for (int frame = 0; frame < 30 && !ec; ++frame) {
        co_await pace(std::size_t(frame) * block.size(), 32000, started);
        socket.binary(true);
        co_await socket.async_write(asio::buffer(block), awaitError(ec));
    }
    socket.text(true);
    const std::string closing = R"({"type":"CloseStream"})";
    co_await socket.async_write(asio::buffer(closing), awaitError(ec));
    const auto deadline = Clock::now() + std::chrono::seconds(10);
    asio::steady_timer tick(executor);
    while (!ended) {
        if (Clock::now() > deadline)
            beast::get_lowest_layer(socket).close();
        tick.expires_after(std::chrono::milliseconds(20));
        beast::error_code ignored;
        co_await tick.async_wait(awaitError(ignored));
    }
    co_return !ec && Clock::now() <= deadline && last.find("Metadata") != std::string::npos
        && socket.reason().code == websocket::close_code::normal;
}

// The speech stand-in: another account's streams.
int attackSpeech(const Options& options, const TestCertificates& certificates)
{
    SpeechStandInProcess standIn(
        { "--tls-cert", certificates.serverCertificate(), "--tls-key", certificates.serverKey() },
        options.descriptors);
    if (!standIn.started()) {
        std::fprintf(stderr, "the speech stand-in did not start\n");
        return 1;
    }
    const auto port = static_cast<unsigned short>(standIn.baseUrl().port());
    asio::ssl::context tls(asio::ssl::context::tls_client);
    tls.load_verify_file(certificates.caCertificate().toStdString());
    tls.set_verify_mode(asio::ssl::verify_peer);
    const int crowdSize = options.addresses * options.each;
    // The crowd's tokens, each for `streamsPerToken` of its slots (all of them when 0).
    std::vector<QString> tokens;
    for (int slot = 0;
         slot<crowdSize; slot += options.streamsPerToken> 0 ? options.streamsPerToken : crowdSize)
        tokens.push_back(standIn.token(3600));
    std::unique_ptr<Crowd> crowd;
    if (options.addresses > 0)
        crowd = std::make_unique<Crowd>(
            crowdSize, [&](int slot) { return crowdSource(options, slot); },
            [&](int slot, std::string source) {
                const QString token = options.tokenEach ? standIn.token(3600)
                    : options.streamsPerToken > 0       ? tokens[std::size_t(slot / options.streamsPerToken)]
                                                        : tokens.front();
                return idleStream(tls, std::move(source), port, token, options);
            });
    letCrowdGather();
    asio::io_context io;
    int complete = 0;
    const auto started = Clock::now();
    for (int i = 0; i < options.tries; ++i) {
        const bool ok = runOn(io, talk(tls, port, standIn.token()));
        complete += ok;
        std::fprintf(stderr, "stream %d: %s\n", i, ok ? "whole" : "not whole");
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - started).count();
    const double churn = crowd ? crowd->stop() : 0;
    const std::string tokenText = options.tokenEach ? "a token each"
        : options.streamsPerToken > 0 ? "a token for every " + std::to_string(options.streamsPerToken)
                                      : "one token";
    const std::string frames = options.framesEvery > 0 ? ", a frame of " + std::to_string(options.frameBytes)
            + " bytes every " + std::to_string(options.framesEvery) + " s"
                                                       : "";
    std::printf(
        "another account's streams of 3 s, crowd %d x %d idle streams (%s%s%s), descriptors %d: %d of %d "
        "whole in %.0f s; crowd opened %.1f streams/s; load average %s\n",
        options.addresses, options.each, tokenText.c_str(), options.audioOnce ? ", audio once" : "",
        frames.c_str(), options.descriptors, complete, options.tries, seconds, churn,
        benchmarks::loadAverage().c_str());
    standIn.stop();
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
        const int value = i + 1 < arguments.size() ? arguments[i + 1].toInt() : 0;
        if (name == "--addresses")
            options.addresses = value, ++i;
        else if (name == "--each")
            options.each = value, ++i;
        else if (name == "--tries")
            options.tries = value, ++i;
        else if (name == "--descriptors")
            options.descriptors = value, ++i;
        else if (name == "--kib-per-second")
            options.kibPerSecond = value, ++i;
        else if (name == "--receive-buffer")
            options.receiveBufferKib = value, ++i;
        else if (name == "--neighbour")
            options.neighbour = true;
        else if (name == "--token-each")
            options.tokenEach = true;
        else if (name == "--late")
            options.late = true;
        else if (name == "--audio-once")
            options.audioOnce = true;
        else if (name == "--streams-per-token")
            options.streamsPerToken = value, ++i;
        else if (name == "--frames-every")
            options.framesEvery = value, ++i;
        else if (name == "--frame-bytes")
            options.frameBytes = value, ++i;
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
    if (options.mode == "fetch" || options.mode == "upload")
        return attackControlPlane(options, certificates);
    if (options.mode == "speech")
        return attackSpeech(options, certificates);
    std::fprintf(stderr, "usage: lumora-idle-crowd-attack fetch|upload|speech [options]\n");
    return 2;
}
