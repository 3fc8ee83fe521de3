#include "speech/SpeechStandIn.hpp"

#include "common/SpeechToken.hpp"
#include "speech/LiveTranscriber.hpp"
#include "speech/MediaDuration.hpp"
#include "speech/ProviderReplies.hpp"

#include <array>
#include <boost/beast/websocket.hpp>
#include <boost/beast/websocket/ssl.hpp>
#include <charconv>
#include <cstring>
#include <thread>

namespace lumora {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
namespace websocket = beast::websocket;

namespace {

constexpr std::string_view listenPath = "/v1/listen";
constexpr std::string_view prerecordedQuery
    = "model=nova-3&diarize=true&smart_format=true&punctuate=true&utterances=true&mip_opt_out=true";
constexpr std::string_view closeStream = R"({"type":"CloseStream"})";
constexpr int highestSampleRate = 192'000;

std::string providerError(std::string_view code, std::string_view message)
{
    return std::string(R"({"err_code":")") + std::string(code) + R"(","err_msg":")" + std::string(message)
        + "\"}";
}

HttpResponse providerResponse(int status, std::string body)
{
    HttpResponse response;
    response.status = status;
    response.body = std::move(body);
    return response;
}

// The query items of a live request, in order: every one fixed but the sample rate.
std::optional<int> liveSampleRate(std::string_view query)
{
    constexpr std::array<std::pair<std::string_view, std::string_view>, 9> expected { {
        { "model", "nova-3" },
        { "encoding", "linear16" },
        { "sample_rate", "" },
        { "channels", "1" },
        { "diarize", "true" },
        { "smart_format", "true" },
        { "interim_results", "true" },
        { "punctuate", "true" },
        { "mip_opt_out", "true" },
    } };
    std::optional<int> sampleRate;
    for (const auto& [name, value] : expected) {
        const auto end = query.find('&');
        const std::string_view item = query.substr(0, end);
        query = end == std::string_view::npos ? std::string_view() : query.substr(end + 1);
        const auto equals = item.find('=');
        if (equals == std::string_view::npos || item.substr(0, equals) != name)
            return std::nullopt;
        const std::string_view given = item.substr(equals + 1);
        if (name == "sample_rate") {
            int rate = 0;
            const auto [rest, error] = std::from_chars(given.data(), given.data() + given.size(), rate);
            if (error != std::errc() || rest != given.data() + given.size() || rate < 1
                || rate > highestSampleRate)
                return std::nullopt;
            sampleRate = rate;
        } else if (given != value) {
            return std::nullopt;
        }
    }
    if (!query.empty())
        return std::nullopt;
    return sampleRate;
}

auto awaitError(beast::error_code& ec)
{
    return asio::redirect_error(asio::use_awaitable, ec);
}

// Samples of a little-endian 16-bit block, for the frame log.
std::int16_t sampleAt(const unsigned char* data, std::size_t index)
{
    return static_cast<std::int16_t>(data[2 * index] | (data[2 * index + 1] << 8));
}

} // namespace

SpeechStandIn::SpeechStandIn(
    SpeechStandInOptions options, SpeechScript script, std::string secret, Clock clock)
    : m_options(std::move(options))
    , m_script(std::move(script))
    , m_secret(std::move(secret))
    , m_clock(std::move(clock))
    , m_prerecordedFailuresLeft(m_options.prerecordedFailures)
{
}

std::optional<std::string> SpeechStandIn::openFrameLog()
{
    if (!m_options.frameLog)
        return std::nullopt;
    m_frameLog.open(m_options.frameLog->toStdString(), std::ios::app);
    if (!m_frameLog)
        return "cannot write the frame log " + m_options.frameLog->toStdString();
    return std::nullopt;
}

void SpeechStandIn::logFrame(std::uint64_t connection, const std::string& line)
{
    if (!m_frameLog.is_open())
        return;
    const std::lock_guard lock(m_logLock);
    m_frameLog << connection << ' ' << line << std::endl;
}

std::optional<SpeechStandIn::Refusal> SpeechStandIn::checkToken(
    std::string_view authorization, std::string* reservation) const
{
    constexpr std::string_view scheme = "Bearer ";
    if (!authorization.starts_with(scheme))
        return Refusal { 401, providerError("INVALID_AUTH", "Invalid credentials.") };
    const auto claims = speechtoken::verify(m_secret, authorization.substr(scheme.size()), m_clock());
    if (!claims)
        return Refusal { 401,
            providerError("INVALID_AUTH",
                std::string("Invalid credentials: ") + std::string(toString(claims.error()))) };
    if (reservation)
        *reservation = claims->reservationID;
    return std::nullopt;
}

std::optional<HttpResponse> SpeechStandIn::checkHead(const HttpRequest& head) const
{
    if (head.path != listenPath)
        return errorResponse(404, "not_found");
    if (head.method != "POST")
        return errorResponse(405, "method_not_allowed");
    if (head.query != prerecordedQuery)
        return providerResponse(400, providerError("Bad Request", "Unexpected query."));
    if (const auto refusal = checkToken(head.header("Authorization")))
        return providerResponse(refusal->status, refusal->body);
    return std::nullopt;
}

HttpResponse SpeechStandIn::handle(const HttpRequest& request) const
{
    if (auto refusal = checkHead(request))
        return std::move(*refusal);
    if (m_options.prerecordedDelayMilliseconds > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(m_options.prerecordedDelayMilliseconds));
    if (m_prerecordedFailuresLeft.fetch_sub(1) > 0)
        return providerResponse(500, providerError("INTERNAL", "Something went wrong."));
    switch (m_options.prerecordedReply) {
    case PrerecordedReply::unauthorized:
        return providerResponse(401, providerError("INVALID_AUTH", "Invalid credentials."));
    case PrerecordedReply::serverError:
        return providerResponse(500, providerError("INTERNAL", "Something went wrong."));
    case PrerecordedReply::emptyNoContent:
        return providerResponse(204, {});
    case PrerecordedReply::malformed:
        return providerResponse(200, R"({"metadata":{"duration":1},"results":)");
    case PrerecordedReply::transcript:
        break;
    }
    const auto duration = mediaDuration(request.body);
    if (!duration)
        return providerResponse(400, providerError("Bad Request", "Bad Request: failed to process audio."));
    return providerResponse(200, providerreplies::prerecorded(m_script, *duration));
}

bool SpeechStandIn::wants(const Request& request) const
{
    const std::string_view target(request.target().data(), request.target().size());
    return websocket::is_upgrade(request) && target.substr(0, target.find('?')) == listenPath;
}

std::optional<SpeechStandIn::Refusal> SpeechStandIn::checkHandshake(
    const Request& request, int& sampleRate, std::string& reservation) const
{
    if (m_options.refuseHandshake)
        return Refusal { *m_options.refuseHandshake, providerError("REFUSED", "Refused by the test hook.") };
    const std::string_view target(request.target().data(), request.target().size());
    const auto question = target.find('?');
    const auto rate = liveSampleRate(question == std::string_view::npos ? "" : target.substr(question + 1));
    if (!rate)
        return Refusal { 400, providerError("Bad Request", "Unexpected query.") };
    sampleRate = *rate;
    const auto authorization = request[http::field::authorization];
    return checkToken(std::string_view(authorization.data(), authorization.size()), &reservation);
}

// A live stream as another stream of its reservation ends it: on its own thread, while it is open.
struct SpeechStandIn::OpenStream {
    asio::any_io_executor executor;
    // Cleared on the stream's thread as it ends.
    beast::tcp_stream* connection = nullptr;
};

// A live stream's place among those of its reservation, for as long as it is open: the newest
// streams hold the places, and taking one from a full reservation ends its oldest stream.
class SpeechStandIn::StreamPlace {
public:
    StreamPlace(SpeechStandIn& standIn, std::string reservation, beast::tcp_stream& connection)
        : m_standIn(standIn)
        , m_reservation(std::move(reservation))
        , m_stream(std::make_shared<OpenStream>(connection.get_executor(), &connection))
    {
        std::shared_ptr<OpenStream> oldest;
        {
            const std::lock_guard lock(m_standIn.m_streamsLock);
            auto& open = m_standIn.m_streamsByReservation[m_reservation];
            if (open.size() >= streamsPerReservation) {
                oldest = std::move(open.front());
                open.pop_front();
            }
            open.push_back(m_stream);
        }
        if (oldest)
            asio::post(oldest->executor, [oldest] {
                if (oldest->connection)
                    oldest->connection->close();
            });
    }
    ~StreamPlace()
    {
        m_stream->connection = nullptr;
        const std::lock_guard lock(m_standIn.m_streamsLock);
        const auto open = m_standIn.m_streamsByReservation.find(m_reservation);
        if (open == m_standIn.m_streamsByReservation.end())
            return;
        std::erase(open->second, m_stream);
        if (open->second.empty())
            m_standIn.m_streamsByReservation.erase(open);
    }
    StreamPlace(const StreamPlace&) = delete;
    StreamPlace& operator=(const StreamPlace&) = delete;

private:
    SpeechStandIn& m_standIn;
    std::string m_reservation;
    std::shared_ptr<OpenStream> m_stream;
};

template <typename Stream>
asio::awaitable<int> SpeechStandIn::serveLive(
    Stream& stream, Request request, OpenConnections::Connection& progress)
{
    beast::error_code ec;
    int sampleRate = 0;
    std::string reservation;
    if (const auto refusal = checkHandshake(request, sampleRate, reservation)) {
        http::response<http::string_body> response { static_cast<http::status>(refusal->status),
            request.version() };
        response.set(http::field::content_type, "application/json");
        response.body() = refusal->body;
        response.keep_alive(false);
        response.prepare_payload();
        beast::get_lowest_layer(stream).expires_after(std::chrono::seconds(10));
        co_await http::async_write(stream, response, awaitError(ec));
        co_return refusal->status;
    }

    websocket::stream<Stream&> socket(stream);
    socket.set_option(websocket::stream_base::timeout::suggested(beast::role_type::server));
    socket.read_message_max(liveMessageLimit);
    co_await socket.async_accept(request, awaitError(ec));
    if (ec)
        co_return 400;
    const StreamPlace place(*this, std::move(reservation), beast::get_lowest_layer(stream));
    // At the cap, a stream makes way for a new connection until its first audio, as a connection
    // without a request does, and then once it has sent no audio for a while. Audio is what brings
    // whole samples: an empty frame, or a byte short of the next sample, is none.
    progress.startWaiting();
    const std::chrono::milliseconds silence(m_options.silentStreamMilliseconds);

    const std::uint64_t connection = ++m_connections;
    LiveTranscriber transcriber(m_script, sampleRate);
    qint64 audioFrames = 0;
    beast::flat_buffer buffer;
    for (;;) {
        co_await socket.async_read(buffer, awaitError(ec));
        if (ec) {
            // A client may drop the connection right after its close frame, before our
            // reply; the frame it sent is what counts.
            const bool closeFrame
                = ec == websocket::error::closed || socket.reason().code != websocket::close_code::none;
            logFrame(connection,
                closeFrame ? "close " + std::to_string(socket.reason().code) : "ended " + ec.message());
            co_return 101;
        }
        std::vector<std::string> replies;
        bool closeAfterReplies = false;
        const auto* data = static_cast<const unsigned char*>(buffer.data().data());
        const std::size_t size = buffer.size();
        if (socket.got_binary()) {
            ++audioFrames;
            const std::size_t samples = size / 2;
            logFrame(connection,
                "binary " + std::to_string(size) + ' '
                    + (samples ? std::to_string(sampleAt(data, 0)) + ' '
                                + std::to_string(sampleAt(data, samples - 1))
                               : std::string("- -")));
            if (m_options.dropAfterFrames && audioFrames >= *m_options.dropAfterFrames) {
                logFrame(connection, "dropped");
                beast::get_lowest_layer(stream).socket().close(ec);
                co_return 101;
            }
            const std::size_t samplesBefore = transcriber.samples();
            replies = transcriber.addAudio(size);
            if (transcriber.samples() > samplesBefore) {
                if (samplesBefore == 0)
                    progress.startMoving(silence);
                else
                    progress.moved();
            }
        } else {
            const std::string text(reinterpret_cast<const char*>(data), size);
            logFrame(connection, "text " + text);
            if (text == closeStream) {
                replies = transcriber.closeStream();
                closeAfterReplies = !m_options.stayOpenAfterCloseStream;
            }
        }
        buffer.consume(size);
        socket.text(true);
        for (const std::string& reply : replies) {
            co_await socket.async_write(asio::buffer(reply), awaitError(ec));
            if (ec)
                co_return 101;
        }
        if (closeAfterReplies) {
            logFrame(connection, "closing 1000");
            co_await socket.async_close(websocket::close_code::normal, awaitError(ec));
            co_return 101;
        }
    }
}

asio::awaitable<int> SpeechStandIn::takeOver(
    PlainStream& stream, Request request, OpenConnections::Connection& connection)
{
    return serveLive(stream, std::move(request), connection);
}

asio::awaitable<int> SpeechStandIn::takeOver(
    TlsStream& stream, Request request, OpenConnections::Connection& connection)
{
    return serveLive(stream, std::move(request), connection);
}

} // namespace lumora
