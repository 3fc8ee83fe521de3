#pragma once

#include "common/ConnectionTakeover.hpp"
#include "common/HttpMessage.hpp"
#include "speech/SpeechScript.hpp"
#include "speech/SpeechStandInOptions.hpp"

#include <atomic>
#include <deque>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>

namespace lumora {

// The stand-in speech provider: answers the pre-recorded POST "/v1/listen" as an HTTP
// handler, and takes over live WebSocket GET "/v1/listen" connections. Both check the
// bearer token against the shared secret and transcribe from the script.
//
// The HTTP handler runs on the server's handler thread and live streams on connection
// threads; what they share is fixed at construction, except the frame log and the streams open
// per reservation, which lock. A live connection buffers at most one message of
// `liveMessageLimit` bytes. The tokens of one reservation hold at most `streamsPerReservation`
// streams at once: a newer one ends the oldest, so that a client whose connection broke and who
// opens again is never locked out. When the server holds all the connections it may, a stream
// makes way for a new one until its first audio, and then once it has sent no audio (no whole
// sample) for a while.
class SpeechStandIn final : public ConnectionTakeover {
public:
    using Clock = std::function<std::int64_t()>; // Unix seconds
    static constexpr std::size_t liveMessageLimit = 512 * 1024;
    static constexpr std::size_t streamsPerReservation = 2;

    SpeechStandIn(SpeechStandInOptions options, SpeechScript script, std::string secret, Clock clock);

    // Opens the frame log when one is asked for; an error text when it cannot be written.
    std::optional<std::string> openFrameLog();

    HttpResponse handle(const HttpRequest& request) const;
    // The refusal of a pre-recorded request by its head alone (path, method, query, token),
    // before its body is read.
    std::optional<HttpResponse> checkHead(const HttpRequest& head) const;

    [[nodiscard]] bool wants(const Request& request) const override;
    boost::asio::awaitable<int> takeOver(
        PlainStream& stream, Request request, OpenConnections::Connection& connection) override;
    boost::asio::awaitable<int> takeOver(
        TlsStream& stream, Request request, OpenConnections::Connection& connection) override;

private:
    struct Refusal {
        int status = 0;
        std::string body;
    };
    struct OpenStream;
    class StreamPlace;
    // Why a live handshake is refused (and the sample rate and reservation it asks for when it
    // is not).
    std::optional<Refusal> checkHandshake(
        const Request& request, int& sampleRate, std::string& reservation) const;
    std::optional<Refusal> checkToken(
        std::string_view authorization, std::string* reservation = nullptr) const;
    template <typename Stream>
    boost::asio::awaitable<int> serveLive(
        Stream& stream, Request request, OpenConnections::Connection& connection);
    void logFrame(std::uint64_t connection, const std::string& line);

    SpeechStandInOptions m_options;
    SpeechScript m_script;
    std::string m_secret;
    Clock m_clock;
    std::mutex m_logLock;
    std::ofstream m_frameLog;
    std::atomic<std::uint64_t> m_connections { 0 };
    std::mutex m_streamsLock;
    // Oldest first.
    std::unordered_map<std::string, std::deque<std::shared_ptr<OpenStream>>> m_streamsByReservation;
    mutable std::atomic<qint64> m_prerecordedFailuresLeft;
};

} // namespace lumora
