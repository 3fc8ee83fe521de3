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
#include <QMutex>
#include <QNetworkRequest>
#include <QObject>
#include <QPointer>
#include <QSslConfiguration>
#include <QTimer>
#include <QUrl>
#include <QUuid>
#include <QWebSocket>
#include <chrono>
#include <coroutine>
#include <deque>
#include <functional>
#include <memory>
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
    // How long the stop waits for the analysis of the turns left at the end.
    std::chrono::milliseconds flushLimit { 8000 };
};

// The live transcription stream of one conversation: sends the microphone's PCM blocks to
// the provider over one WebSocket, turns every final provider message into settled turns
// and hands each on, batches them for live analysis, and at the end closes the stream,
// analyses what is left and reports the stream's usage once.
//
// Lives on one Qt thread; the callbacks run there. Nothing throws or reports errors to
// the caller: the usage report's status (200, or 599 after a failed send, an abnormal
// drop or a refused handshake) is the only trace. The session must stay alive until `stop`
// has returned; the analysis provider and the usage reporter are held as long as a call to
// them runs, which may be after that.
//
// An analysis runs on its own: the receive loop waits for it before it reads on, but the stop
// does not. The stop cancels the loop, which then hands on the turns it holds without waiting
// for analyses, and waits only for the analysis of what is left, up to `flushLimit`. An
// insight that arrives after the stop has returned is dropped.
class DeepgramLiveSession : public QObject {
public:
    using TurnHandler = std::function<void(const SpeakerTurn&)>;
    using ContextProvider = std::function<std::optional<LiveAnalysisContext>()>;
    using InsightHandler = std::function<void(const AnalysisProviderResult&)>;

    static constexpr int healthyStatus = 200;
    static constexpr int failedStatus = 599;

    // Builds the request; nothing goes on the network before `start`.
    DeepgramLiveSession(DeepgramGrant grant, int sampleRate, QUuid reservationID,
        std::shared_ptr<const AnalysisProvider> analysis, std::shared_ptr<const ProviderUsageReporter> usage,
        TurnHandler turnHandler, ContextProvider contextProvider, InsightHandler insightHandler,
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
    // `sendPCM` from any thread (the capture's audio thread): the block is handed to the
    // session's thread in the order of these calls. Every block handed over before `stop` is
    // called goes out before the close message.
    void postPCM(QByteArray data);
    // Sends {"type":"CloseStream"}, waits up to the grace for the provider's last results
    // and its close, closes the socket, waits for the turns in hand to be handed on,
    // analyses the rest and reports usage. Runs once; later calls return at once.
    QCoro::Task<void> stop(qint64 durationSeconds);
    // Gives the stream up at once, as the application ends with its conversation thrown away:
    // the socket is dropped with the audio still queued, and what `stop` would send after it
    // (the last analysis, the usage report) is not sent, as the reservation it is made under is
    // cancelled next. An analysis under way goes on by itself; its answer is dropped. Runs
    // once, and not after `stop`; the session must stay alive until it returns.
    QCoro::Task<void> abandon();

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
    // Sends what `postPCM` has handed over so far.
    void takePostedPCM();
    void enqueueIncoming(QByteArray message);
    void handleDisconnected();
    // Resumes the waiting coroutines from the event loop (never inside a socket's signal).
    void wakeWaiting();
    QCoro::Task<void> receiveLoop();
    // Starts the analysis of one batch on its own; the flag turns true when it has ended and
    // its insight, if any, has been handed on.
    std::shared_ptr<bool> startAnalysis(LiveAnalysisBatch batch);
    static QCoro::Task<void> runAnalysis(QPointer<DeepgramLiveSession> session,
        std::shared_ptr<const AnalysisProvider> analysis, LiveAnalysisBatch batch,
        std::optional<LiveAnalysisContext> context, QUuid reservationID, std::shared_ptr<bool> done);
    void analysisEnded(std::optional<AnalysisProviderResult> insight);
    // Waits until the condition holds or the limit passes (a negative limit: no limit).
    QCoro::Task<void> waitUntil(std::function<bool()> condition, std::chrono::milliseconds limit);

    QWebSocket m_socket;
    QNetworkRequest m_request;
    QTimer m_handshakeTimer;
    std::shared_ptr<const AnalysisProvider> m_analysis;
    std::shared_ptr<const ProviderUsageReporter> m_usage;
    QUuid m_reservationID;
    TurnHandler m_turnHandler;
    ContextProvider m_contextProvider;
    InsightHandler m_insightHandler;
    DeepgramLiveSessionOptions m_options;
    LiveAnalysisBatcher m_batcher;
    QElapsedTimer m_startedAt;

    std::deque<Outgoing> m_outgoing;
    // Blocks handed over by `postPCM` and not yet taken on the session's thread.
    QMutex m_postedLock;
    std::deque<QByteArray> m_posted;
    std::deque<QByteArray> m_incoming;
    // Batches released after the receive loop was cancelled, analysed with the flush.
    std::optional<LiveAnalysisBatch> m_leftOver;
    std::vector<std::coroutine_handle<>> m_waiting;
    bool m_receiving = false; // the receive loop is handing on messages
    bool m_streamEnded = false; // the socket is closed, or never opened
    bool m_everConnected = false;
    bool m_closeStreamSent = false;
    bool m_transportFailed = false; // the connection broke rather than closed
    bool m_closedByUs = false;
    bool m_stopping = false;
    bool m_receiveCancelled = false;
    bool m_stopped = false;
    int m_statusCode = healthyStatus;
};

} // namespace lumora
