#pragma once

#include "domain/SpeakerTurn.hpp"
#include "providers/AccountRecords.hpp"
#include "providers/AnalysisProvider.hpp"
#include "providers/DeepgramClient.hpp"
#include "providers/LiveAnalysisBatcher.hpp"
#include "providers/ProviderUsageReporter.hpp"

#include <QByteArray>
#include <QDateTime>
#include <QElapsedTimer>
#include <QNetworkRequest>
#include <QObject>
#include <QSslConfiguration>
#include <QTimer>
#include <QUrl>
#include <QUuid>
#include <QWebSocket>
#include <chrono>
#include <coroutine>
#include <deque>
#include <functional>
#include <optional>
#include <qcoro/qcorotask.h>
#include <vector>

namespace lumora {

// How a live session reaches the provider and keeps time; the defaults are the real ones.
struct DeepgramLiveSessionOptions {
    // Scheme and host of the provider's API: "https" is reached as "wss", "http" as "ws".
    QUrl baseURL = DeepgramClient::defaultBaseURL();
    // The TLS configuration of the socket (a test CA, for instance); else the process default.
    std::optional<QSslConfiguration> tls;
    // The time that batching reads.
    std::function<QDateTime()> clock = &QDateTime::currentDateTimeUtc;
    // How long the stop waits after the close message for the provider's last results.
    std::chrono::milliseconds closeGrace { 1000 };
    // How long the opening handshake may take.
    std::chrono::milliseconds handshakeLimit { 60'000 };
};

// The live transcription stream of one conversation: sends the microphone's PCM blocks to
// the provider over one WebSocket, turns every final provider message into settled turns
// and hands each on, batches them for live analysis, and at the end closes the stream,
// analyses what is left and reports the stream's usage once.
//
// Lives on one Qt thread; the callbacks run there. Nothing throws or reports errors to
// the caller: the usage report's status (200, or 599 after a failed send, an abnormal
// drop or a refused handshake) is the only trace. The analysis provider, the usage
// reporter and the session itself must stay alive until `stop` has returned.
class DeepgramLiveSession : public QObject {
public:
    using TurnHandler = std::function<void(const SpeakerTurn&)>;
    using ContextProvider = std::function<std::optional<LiveAnalysisContext>()>;
    using InsightHandler = std::function<void(const AnalysisProviderResult&)>;

    static constexpr int healthyStatus = 200;
    static constexpr int failedStatus = 599;

    // Builds the request; nothing goes on the network before `start`.
    DeepgramLiveSession(DeepgramGrant grant, int sampleRate, QUuid reservationID,
        const AnalysisProvider& analysis, const ProviderUsageReporter& usage, TurnHandler turnHandler,
        ContextProvider contextProvider, InsightHandler insightHandler,
        DeepgramLiveSessionOptions options = {});
    ~DeepgramLiveSession() override;

    // The live listen URL under `baseURL` for PCM at `sampleRate` hertz.
    static QUrl requestURL(const QUrl& baseURL, int sampleRate);
    // The settled turns of one provider message: none unless it is a final result that
    // decodes; one turn per run of words on the same seat (|speaker| mod 2, an absent
    // speaker counting as 0), in order.
    static QList<SpeakerTurn> settledTurns(const QByteArray& message);

    // Opens the stream. Audio sent before the handshake completes waits in order.
    void start();
    // Queues one block of PCM behind every earlier one; a single writer hands them to the
    // socket in the order of these calls. An empty block, or one after `stop`, is skipped.
    void sendPCM(const QByteArray& data);
    // Sends {"type":"CloseStream"}, waits up to the grace for the provider's last results
    // and its close, closes the socket, waits for the turns in hand to be handed on,
    // analyses the rest and reports usage. Runs once; later calls return at once.
    QCoro::Task<void> stop(qint64 durationSeconds);

    [[nodiscard]] int statusCode() const { return m_statusCode; }

private:
    // Suspends the awaiting coroutine until the next `wakeWaiting`.
    struct Wakeup {
        std::vector<std::coroutine_handle<>>& waiting;
        bool await_ready() const noexcept { return false; }
        void await_suspend(std::coroutine_handle<> handle) { waiting.push_back(handle); }
        void await_resume() const noexcept { }
    };

    struct Outgoing {
        bool text = false;
        QByteArray data;
    };

    void writeOutgoing();
    void enqueueIncoming(QByteArray message);
    void handleDisconnected();
    // Resumes the waiting coroutines from the event loop (never inside a socket's signal).
    void wakeWaiting();
    QCoro::Task<void> receiveLoop();
    QCoro::Task<void> analyze(LiveAnalysisBatch batch);
    // Waits until the condition holds or the limit passes (a negative limit: no limit).
    QCoro::Task<void> waitUntil(std::function<bool()> condition, std::chrono::milliseconds limit);

    QWebSocket m_socket;
    QNetworkRequest m_request;
    QTimer m_handshakeTimer;
    const AnalysisProvider& m_analysis;
    const ProviderUsageReporter& m_usage;
    QUuid m_reservationID;
    TurnHandler m_turnHandler;
    ContextProvider m_contextProvider;
    InsightHandler m_insightHandler;
    DeepgramLiveSessionOptions m_options;
    LiveAnalysisBatcher m_batcher;
    QElapsedTimer m_startedAt;

    std::deque<Outgoing> m_outgoing;
    std::deque<QByteArray> m_incoming;
    std::vector<std::coroutine_handle<>> m_waiting;
    bool m_receiving = false; // the receive loop is handing on messages
    bool m_streamEnded = false; // the socket is closed, or never opened
    bool m_everConnected = false;
    bool m_closeStreamSent = false;
    bool m_transportFailed = false; // the connection broke rather than closed
    bool m_closedByUs = false;
    bool m_stopping = false;
    int m_statusCode = healthyStatus;
};

} // namespace lumora
