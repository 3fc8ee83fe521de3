#include "providers/DeepgramLiveSession.hpp"

#include "domain/JsonObjectReader.hpp"
#include "domain/Seat.hpp"
#include "providers/DeepgramWord.hpp"

#include <QUrlQuery>

namespace lumora {

namespace {

const QByteArray closeStreamMessage = QByteArrayLiteral(R"({"type":"CloseStream"})");

} // namespace

DeepgramLiveSession::DeepgramLiveSession(DeepgramGrant grant, int sampleRate, QUuid reservationID,
    std::shared_ptr<const AnalysisProvider> analysis, std::shared_ptr<const ProviderUsageReporter> usage,
    TurnHandler turnHandler, ContextProvider contextProvider, InsightHandler insightHandler,
    DeepgramLiveSessionOptions options)
    : m_request(requestURL(options.baseURL, sampleRate))
    , m_analysis(std::move(analysis))
    , m_usage(std::move(usage))
    , m_reservationID(reservationID)
    , m_turnHandler(std::move(turnHandler))
    , m_contextProvider(std::move(contextProvider))
    , m_insightHandler(std::move(insightHandler))
    , m_options(std::move(options))
{
    m_startedAt.start();
    m_request.setRawHeader("Authorization", "Bearer " + grant.accessToken.toUtf8());
    if (m_options.tls)
        m_socket.setSslConfiguration(*m_options.tls);
    m_handshakeTimer.setSingleShot(true);
    connect(&m_handshakeTimer, &QTimer::timeout, this, [this] {
        if (m_socket.state() != QAbstractSocket::ConnectedState)
            m_socket.abort();
    });
    connect(&m_socket, &QWebSocket::connected, this, [this] {
        m_handshakeTimer.stop();
        m_everConnected = true;
        writeOutgoing();
    });
    connect(&m_socket, &QWebSocket::textMessageReceived, this,
        [this](const QString& message) { enqueueIncoming(message.toUtf8()); });
    connect(&m_socket, &QWebSocket::binaryMessageReceived, this,
        [this](const QByteArray& message) { enqueueIncoming(message); });
    // A connection that breaks (reset, refused handshake, TLS failure) reports an error before
    // it ends; a closing handshake does not.
    connect(&m_socket, qOverload<QAbstractSocket::SocketError>(&QWebSocket::error), this,
        [this](QAbstractSocket::SocketError) { m_transportFailed = true; });
    connect(&m_socket, &QWebSocket::disconnected, this, &DeepgramLiveSession::handleDisconnected);
}

DeepgramLiveSession::~DeepgramLiveSession()
{
    // A session dropped without `stop` ends its stream; the receive loop, if one is
    // still waiting for a callback, is the owner's fault and cannot be saved here.
    m_socket.disconnect(this);
    m_socket.abort();
}

QUrl DeepgramLiveSession::requestURL(const QUrl& baseURL, int sampleRate)
{
    QUrl url = baseURL;
    url.setScheme(baseURL.scheme() == u"http" ? QStringLiteral("ws") : QStringLiteral("wss"));
    url.setPath(QStringLiteral("/v1/listen"));
    url.setFragment(QString());
    QUrlQuery query;
    query.setQueryItems({ { QStringLiteral("model"), QStringLiteral("nova-3") },
        { QStringLiteral("encoding"), QStringLiteral("linear16") },
        { QStringLiteral("sample_rate"), QString::number(sampleRate) },
        { QStringLiteral("channels"), QStringLiteral("1") },
        { QStringLiteral("diarize"), QStringLiteral("true") },
        { QStringLiteral("smart_format"), QStringLiteral("true") },
        { QStringLiteral("interim_results"), QStringLiteral("true") },
        { QStringLiteral("punctuate"), QStringLiteral("true") },
        { QStringLiteral("mip_opt_out"), QStringLiteral("true") } });
    url.setQuery(query);
    return url;
}

QList<SpeakerTurn> DeepgramLiveSession::settledTurns(const QByteArray& message)
{
    const auto object = parseJsonObject(message);
    if (!object)
        return {};
    JsonObjectReader reply(*object, QStringLiteral("live response"));
    const bool isFinal = reply.optionalBoolean(u"is_final").value_or(false);
    const QJsonValue channel = object->value(u"channel");
    const bool hasChannel = !channel.isUndefined() && !channel.isNull();
    // A message of the wrong shape yields nothing, whether final or not.
    const auto words = hasChannel ? firstAlternativeWords(channel) : QList<DeepgramWord> {};
    if (reply.failed() || !words || !isFinal || words->isEmpty())
        return {};

    QList<SpeakerTurn> turns;
    qint64 runSeat = -1;
    for (const DeepgramWord& word : *words) {
        const qint64 seat = seatOf(word.speaker.value_or(0));
        if (turns.isEmpty() || seat != runSeat) {
            turns.append(SpeakerTurn(seat, word.start, word.end, word.text()));
            runSeat = seat;
        } else {
            SpeakerTurn& turn = turns.last();
            turn.text += u' ';
            turn.text += word.text();
            turn.end = word.end;
        }
    }
    return turns;
}

void DeepgramLiveSession::start()
{
    if (m_socket.state() != QAbstractSocket::UnconnectedState || m_stopping || m_streamEnded)
        return;
    m_handshakeTimer.start(m_options.handshakeLimit);
    m_socket.open(m_request);
}

void DeepgramLiveSession::sendPCM(const QByteArray& data)
{
    // Nothing may follow the close message; the capture is stopped before the session.
    if (data.isEmpty() || m_stopping)
        return;
    m_outgoing.push_back({ false, data });
    writeOutgoing();
}

void DeepgramLiveSession::postPCM(QByteArray data)
{
    bool first = false;
    {
        const QMutexLocker lock(&m_postedLock);
        first = m_posted.empty();
        m_posted.push_back(std::move(data));
    }
    // One call takes every block handed over until it runs.
    if (first)
        QMetaObject::invokeMethod(this, &DeepgramLiveSession::takePostedPCM, Qt::QueuedConnection);
}

void DeepgramLiveSession::takePostedPCM()
{
    std::deque<QByteArray> blocks;
    {
        const QMutexLocker lock(&m_postedLock);
        blocks.swap(m_posted);
    }
    for (const QByteArray& block : blocks)
        sendPCM(block);
}

// The one writer: hands queued messages to the socket in order once it is open. While the
// handshake runs they wait; once the stream has ended, audio still queued failed to go out.
void DeepgramLiveSession::writeOutgoing()
{
    if (m_socket.state() != QAbstractSocket::ConnectedState) {
        if (m_streamEnded) {
            for (const Outgoing& item : m_outgoing) {
                if (!item.text)
                    m_statusCode = failedStatus;
            }
            m_outgoing.clear();
        }
        return;
    }
    while (!m_outgoing.empty()) {
        const Outgoing item = std::move(m_outgoing.front());
        m_outgoing.pop_front();
        const qint64 written = item.text ? m_socket.sendTextMessage(QString::fromUtf8(item.data))
                                         : m_socket.sendBinaryMessage(item.data);
        if (written != item.data.size()) {
            if (!item.text)
                m_statusCode = failedStatus;
        } else if (item.text) {
            m_closeStreamSent = true;
        }
    }
}

void DeepgramLiveSession::enqueueIncoming(QByteArray message)
{
    if (m_streamEnded)
        return;
    m_incoming.push_back(std::move(message));
    if (!m_receiving) {
        // Runs detached; `stop` waits for it through `m_receiving`.
        [[maybe_unused]] auto loop = receiveLoop();
    }
}

// A provider that closes normally after our close message did what it should; any other
// end of the stream, before the stop closed it, is a failure of the stream.
void DeepgramLiveSession::handleDisconnected()
{
    m_handshakeTimer.stop();
    const bool normalClose = m_closeStreamSent && !m_transportFailed
        && m_socket.closeCode() == QWebSocketProtocol::CloseCodeNormal;
    if (!m_closedByUs && !normalClose)
        m_statusCode = failedStatus;
    m_streamEnded = true;
    writeOutgoing();
    wakeWaiting();
}

QCoro::Task<void> DeepgramLiveSession::receiveLoop()
{
    m_receiving = true;
    while (!m_incoming.empty()) {
        const QByteArray message = std::move(m_incoming.front());
        m_incoming.pop_front();
        for (const SpeakerTurn& turn : settledTurns(message)) {
            if (m_turnHandler)
                m_turnHandler(turn);
            auto batch = m_batcher.append(turn, m_options.clock());
            if (!batch)
                continue;
            if (m_receiveCancelled) {
                // Released batches follow each other, so they join into one for the flush.
                if (m_leftOver)
                    m_leftOver->turns.append(batch->turns);
                else
                    m_leftOver = std::move(batch);
                continue;
            }
            // No further message is read until this analysis has ended, unless the stop
            // cancels the loop meanwhile.
            const std::shared_ptr<bool> done = startAnalysis(std::move(*batch));
            std::function<bool()> endedOrCancelled = [this, done] { return *done || m_receiveCancelled; };
            co_await waitUntil(std::move(endedOrCancelled), std::chrono::milliseconds { -1 });
        }
    }
    m_receiving = false;
    wakeWaiting();
}

std::shared_ptr<bool> DeepgramLiveSession::startAnalysis(LiveAnalysisBatch batch)
{
    auto done = std::make_shared<bool>(false);
    std::optional<LiveAnalysisContext> context
        = m_contextProvider ? m_contextProvider() : std::optional<LiveAnalysisContext>();
    // Detached: it holds the provider, and the session only through a guard.
    [[maybe_unused]] auto run = runAnalysis(QPointer<DeepgramLiveSession>(this), m_analysis, std::move(batch),
        std::move(context), m_reservationID, done);
    return done;
}

QCoro::Task<void> DeepgramLiveSession::runAnalysis(QPointer<DeepgramLiveSession> session,
    std::shared_ptr<const AnalysisProvider> analysis, LiveAnalysisBatch batch,
    std::optional<LiveAnalysisContext> context, QUuid reservationID, std::shared_ptr<bool> done)
{
    const auto result = co_await analysis->analyze(
        AnalysisPass::live, AnalysisRubric::conversation, batch.turns, context, reservationID);
    *done = true;
    if (!session)
        co_return;
    std::optional<AnalysisProviderResult> insight;
    if (result)
        insight = result->offsettingTurnIndexes(batch.firstTurnIndex);
    session->analysisEnded(std::move(insight));
}

void DeepgramLiveSession::analysisEnded(std::optional<AnalysisProviderResult> insight)
{
    if (insight && m_insightHandler && !m_stopped)
        m_insightHandler(*insight);
    wakeWaiting();
}

void DeepgramLiveSession::wakeWaiting()
{
    QMetaObject::invokeMethod(
        this,
        [this] {
            for (const std::coroutine_handle<> handle : std::exchange(m_waiting, {}))
                handle.resume();
        },
        Qt::QueuedConnection);
}

QCoro::Task<void> DeepgramLiveSession::waitUntil(
    std::function<bool()> condition, std::chrono::milliseconds limit)
{
    QTimer timer;
    timer.setSingleShot(true);
    connect(&timer, &QTimer::timeout, this, &DeepgramLiveSession::wakeWaiting);
    if (limit.count() >= 0)
        timer.start(limit);
    while (!condition() && (limit.count() < 0 || timer.isActive()))
        co_await Wakeup { m_waiting };
}

QCoro::Task<void> DeepgramLiveSession::stop(qint64 durationSeconds)
{
    if (m_stopping)
        co_return;
    // Audio handed over before the stop goes out before the close message.
    takePostedPCM();
    m_stopping = true;

    m_outgoing.push_back({ true, closeStreamMessage });
    writeOutgoing();
    // The provider answers the close message with its last results and a normal close.
    co_await waitUntil([this] { return m_streamEnded; }, m_options.closeGrace);

    // A stream that never opened (a refused or unfinished handshake) failed, sent audio or not.
    if (!m_everConnected)
        m_statusCode = failedStatus;
    if (!m_streamEnded) {
        m_closedByUs = true;
        // Audio still waiting for a handshake that never came did not go out.
        for (const Outgoing& item : m_outgoing) {
            if (!item.text)
                m_statusCode = failedStatus;
        }
        m_outgoing.clear();
        if (m_socket.state() == QAbstractSocket::ConnectedState) {
            m_socket.close(QWebSocketProtocol::CloseCodeNormal);
            // Lets the closing handshake finish, so the provider sees a clean close.
            co_await waitUntil([this] { return m_streamEnded; }, m_options.closeGrace);
        } else {
            m_socket.abort();
        }
    }
    m_streamEnded = true;

    // Cancels the receive loop: it hands on the turns it holds at once, without waiting for an
    // analysis (one under way goes on by itself), and leaves what it releases to the flush.
    m_receiveCancelled = true;
    wakeWaiting();
    co_await waitUntil([this] { return !m_receiving; }, std::chrono::milliseconds { -1 });

    std::optional<LiveAnalysisBatch> rest = std::exchange(m_leftOver, std::nullopt);
    if (auto flushed = m_batcher.flush()) {
        if (rest)
            rest->turns.append(flushed->turns);
        else
            rest = std::move(flushed);
    }
    if (rest) {
        const std::shared_ptr<bool> done = startAnalysis(std::move(*rest));
        std::function<bool()> ended = [done] { return *done; };
        co_await waitUntil(std::move(ended), m_options.flushLimit);
    }
    m_stopped = true;

    const qint64 latency = m_startedAt.elapsed();
    const auto reported
        = co_await m_usage->reportDeepgram(m_reservationID, DeepgramOperation::liveTranscription,
            QStringLiteral("nova-3"), durationSeconds, latency, m_statusCode);
    Q_UNUSED(reported);
}

QCoro::Task<void> DeepgramLiveSession::abandon()
{
    if (m_stopping)
        co_return;
    m_stopping = true;
    {
        QMutexLocker lock(&m_postedLock);
        m_posted.clear();
    }
    m_outgoing.clear();
    m_incoming.clear();
    m_closedByUs = true;
    m_streamEnded = true;
    m_socket.abort();
    m_receiveCancelled = true;
    wakeWaiting();
    std::function<bool()> loopEnded = [this] { return !m_receiving; };
    co_await waitUntil(std::move(loopEnded), std::chrono::milliseconds { -1 });
    m_leftOver.reset();
    m_stopped = true;
}

} // namespace lumora
