#include "providers/DeepgramLiveSession.hpp"

#include "RealControlPlaneFixture.hpp"
#include "SpeechStandInFixture.hpp"
#include "providers/LiveCoaching.hpp"

#include <QDeadlineTimer>
#include <QTemporaryDir>
#include <QThread>
#include <qcoro/qcorotimer.h>
#include <thread>

namespace lumora {
namespace {

constexpr int sampleRate = 16000;
constexpr qsizetype framesPerBlock = 4096;
// How long a stop waits after the close message for the stand-in's last results and its close:
// as long as a loaded machine takes (a minute stands for a hang). Only a provider that never
// closes lets the wait run out.
constexpr std::chrono::milliseconds providerClose = std::chrono::seconds(60);

// One capture block whose every sample is its sequence number, so the frame log shows order.
QByteArray block(qint16 sequence)
{
    QByteArray data(framesPerBlock * 2, Qt::Uninitialized);
    for (qsizetype i = 0; i < framesPerBlock; ++i) {
        data[2 * i] = char(sequence & 0xff);
        data[2 * i + 1] = char((sequence >> 8) & 0xff);
    }
    return data;
}

struct UsageReport {
    QUuid reservationID;
    DeepgramOperation operation;
    QString model;
    qint64 durationSeconds;
    qint64 latencyMilliseconds;
    qint64 statusCode;
    bool delivered = true;
};

// Records each usage report; forwards it to `next` when there is one.
class RecordingUsage final : public ProviderUsageReporter {
public:
    explicit RecordingUsage(const ProviderUsageReporter* next = nullptr)
        : m_next(next)
    {
    }

    QCoro::Task<std::expected<void, ProviderFailure>> reportDeepgram(QUuid reservationID,
        DeepgramOperation operation, QString model, qint64 durationSeconds, qint64 latencyMilliseconds,
        qint64 statusCode) const override
    {
        reports.append({ reservationID, operation, model, durationSeconds, latencyMilliseconds, statusCode });
        if (!m_next)
            co_return {};
        auto result = co_await m_next->reportDeepgram(
            reservationID, operation, model, durationSeconds, latencyMilliseconds, statusCode);
        reports.last().delivered = result.has_value();
        co_return result;
    }

    mutable QList<UsageReport> reports;

private:
    const ProviderUsageReporter* m_next;
};

// Fails the calls whose numbers (from 1) are listed; the others go to `next`, or answer
// with one annotation on the batch's first turn.
class ScriptedAnalysis final : public AnalysisProvider {
public:
    explicit ScriptedAnalysis(QList<int> failing, const AnalysisProvider* next = nullptr)
        : m_failing(std::move(failing))
        , m_next(next)
    {
    }

    QCoro::Task<std::expected<AnalysisProviderResult, ProviderFailure>> analyze(AnalysisPass pass,
        AnalysisRubric rubric, QList<SpeakerTurn> turns, std::optional<LiveAnalysisContext> context,
        QUuid reservationID) const override
    {
        batches.append(turns);
        contexts.append(context);
        if (m_failing.contains(int(batches.size())))
            co_return std::unexpected(ProviderFailure(ControlPlaneFailure(ControlPlaneError::rejected(503))));
        if (m_next)
            co_return co_await m_next->analyze(pass, rubric, turns, context, reservationID);
        AnalysisProviderResult result;
        result.annotations.append(
            BehaviorAnnotation(0, turns.first().speaker, BehaviorCode::criticism, 0.9, 0, 1));
        co_return result;
    }

    mutable QList<QList<SpeakerTurn>> batches;
    mutable QList<std::optional<LiveAnalysisContext>> contexts;

private:
    QList<int> m_failing;
    const AnalysisProvider* m_next;
};

// A provider the test keeps alive itself, handed to the session as a shared one.
template <typename T> std::shared_ptr<const T> borrowed(const T& object)
{
    return std::shared_ptr<const T>(std::shared_ptr<const void>(), &object);
}

// What one live session handed on.
struct Outcome {
    QList<SpeakerTurn> turns;
    QList<AnalysisProviderResult> insights;
};

// Streams `blocks` capture blocks to the stand-in through a session and stops it.
class LiveSessionRun {
public:
    LiveSessionRun(const DeepgramGrant& grant, const QUrl& base, const QSslConfiguration& tls,
        const AnalysisProvider& analysis, const ProviderUsageReporter& usage, QUuid reservation,
        std::chrono::milliseconds flushLimit = DeepgramLiveSessionOptions {}.flushLimit,
        std::chrono::milliseconds closeGrace = providerClose)
    {
        DeepgramLiveSessionOptions options;
        options.baseURL = base;
        options.tls = tls;
        options.closeGrace = closeGrace;
        options.flushLimit = flushLimit;
        // Twenty seconds pass between turns, so four turns have waited long enough.
        options.clock = [this] { return start.addSecs(20 * clockReads++); };
        session = std::make_unique<DeepgramLiveSession>(
            grant, sampleRate, reservation, borrowed(analysis), borrowed(usage),
            [this](const SpeakerTurn& turn) { outcome.turns.append(turn); },
            [this] { return std::optional<LiveAnalysisContext>(LiveAnalysisContext(step)); },
            [this](const AnalysisProviderResult& result) { outcome.insights.append(result); }, options);
    }

    Outcome run(int blocks, qint64 durationSeconds)
    {
        session->start();
        for (int i = 0; i < blocks; ++i)
            session->sendPCM(block(qint16(i)));
        session->sendPCM({});
        test::awaitTask(session->stop(durationSeconds));
        return outcome;
    }

    std::unique_ptr<DeepgramLiveSession> session;
    Outcome outcome;
    QDateTime start = QDateTime::fromSecsSinceEpoch(1'800'000'000, Qt::UTC);
    int clockReads = 0;
    qint64 step = 2;
};

class DeepgramLiveSessionTest : public testing::SpeechStandInFixture {
protected:
    Outcome stream(const DeepgramGrant& grant, const AnalysisProvider& analysis, int blocks = 16,
        std::chrono::milliseconds closeGrace = providerClose)
    {
        LiveSessionRun run(grant, standIn->baseUrl(), tls(), analysis, usage, reservation,
            DeepgramLiveSessionOptions {}.flushLimit, closeGrace);
        return run.run(blocks, 5);
    }

    // The frame log without the connection numbers, one line each, once its last line is
    // `last` when one is named (the stand-in may still be writing it when the session has
    // stopped); a minute without it stands for a hang.
    std::string frames(const QString& last) const
    {
        QStringList lines;
        for (const QDeadlineTimer hang(60000);;) {
            lines.clear();
            for (const QString& line : standIn->frames())
                lines.append(line.section(u' ', 1));
            if (last.isEmpty() || (!lines.isEmpty() && lines.last() == last) || hang.hasExpired())
                break;
            QThread::msleep(20);
        }
        return lines.join(u'\n').toStdString();
    }

    RecordingUsage usage;
    QUuid reservation = QUuid::createUuid();
};

TEST_F(DeepgramLiveSessionTest, StreamsInOrderAndSettlesTurnsBySeat)
{
    startStandIn({ "--script", scriptFile() });
    ScriptedAnalysis analysis({});
    const Outcome outcome = stream(grant(), analysis, 40);

    // Every block in capture order, then the close message, then the provider's normal close.
    QStringList expected;
    for (int i = 0; i < 40; ++i)
        expected.append(QStringLiteral("binary 8192 %1 %1").arg(i));
    expected << R"(text {"type":"CloseStream"})"
             << "closing 1000";
    EXPECT_EQ(frames(expected.last()), expected.join(u'\n').toStdString());

    const QList<SpeakerTurn> turns { SpeakerTurn(0, 0.2, 1.2, "You never listen."),
        SpeakerTurn(1, 1.5, 2.0, "Whatever."), SpeakerTurn(0, 2.3, 3.0, "I am sorry."),
        SpeakerTurn(1, 3.3, 3.6, "Thanks.") };
    EXPECT_EQ(outcome.turns, turns);
    // Four turns within 45 seconds of clock wait for the stop's flush: one batch of all.
    ASSERT_EQ(analysis.batches.size(), 1);
    EXPECT_EQ(analysis.batches.first(), turns);
    EXPECT_EQ(analysis.contexts.first(), LiveAnalysisContext(2));
    ASSERT_EQ(outcome.insights.size(), 1);

    ASSERT_EQ(usage.reports.size(), 1);
    const UsageReport& report = usage.reports.first();
    EXPECT_EQ(report.reservationID, reservation);
    EXPECT_EQ(report.operation, DeepgramOperation::liveTranscription);
    EXPECT_EQ(report.model, "nova-3");
    EXPECT_EQ(report.durationSeconds, 5);
    EXPECT_EQ(report.statusCode, 200);
    EXPECT_GT(report.latencyMilliseconds, 0);
}

TEST_F(DeepgramLiveSessionTest, OnlyANormalCloseAfterTheCloseMessageIsHealthy)
{
    struct Case {
        const char* name;
        QStringList hook;
        std::int64_t tokenLifetime;
        int status;
        QString lastFrame;
        int blocks = 8;
    };
    const Case cases[] = {
        { "the provider closes after the close message", {}, 300, 200, "closing 1000" },
        { "the provider stays open; the stop closes", { "--stay-open-after-close-stream" }, 300, 200,
            "close 1000" },
        { "the connection drops", { "--drop-after-frames", "3" }, 300, 599, "dropped" },
        { "the handshake is refused", { "--refuse-handshake", "403" }, 300, 599, {} },
        { "the token has expired", {}, -5, 599, {} },
        { "refused before any audio", { "--refuse-handshake", "401" }, 300, 599, {}, 0 },
        { "stopped before any audio", {}, 300, 200, "closing 1000", 0 },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        startStandIn(c.hook);
        usage.reports.clear();
        ScriptedAnalysis analysis({});
        // A provider that stays open is closed once the grace has run out.
        const bool staysOpen = c.hook.contains(u"--stay-open-after-close-stream"_qs);
        stream(grant(c.tokenLifetime), analysis, c.blocks,
            staysOpen ? std::chrono::milliseconds(400) : providerClose);
        ASSERT_EQ(usage.reports.size(), 1);
        EXPECT_EQ(usage.reports.first().statusCode, c.status);
        const std::string lines = frames(c.lastFrame);
        EXPECT_TRUE(lines.ends_with(c.lastFrame.toStdString())) << lines;
        stopStandIn();
    }
}

// Ten one-turn results; with twenty clock seconds between turns, batches of four are
// released at the fourth and eighth turn and the last two are flushed at the stop.
QByteArray tenTurns()
{
    QByteArray utterances;
    for (int i = 0; i < 10; ++i) {
        utterances += (i ? "," : "")
            + QStringLiteral(R"({"speaker":%1,"words":[{"word":"w%2","start":%3,"end":%4}]})")
                  .arg(i % 2)
                  .arg(i)
                  .arg(0.1 + 0.3 * i)
                  .arg(0.3 + 0.3 * i)
                  .toUtf8();
    }
    return R"({"utterances":[)" + utterances + "]}";
}

// The stand-in's script of those ten turns, written at `path`.
QString tenTurnsScript(const QString& path)
{
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(tenTurns());
    return path;
}

TEST_F(DeepgramLiveSessionTest, OffsetsStayRightAfterAFailedBatch)
{
    startStandIn({ "--script", tenTurnsScript(scratch.filePath("ten.json")) });
    ScriptedAnalysis analysis({ 1 });
    const Outcome outcome = stream(grant(), analysis, 20);
    ASSERT_EQ(outcome.turns.size(), 10);
    ASSERT_EQ(analysis.batches.size(), 3);
    EXPECT_EQ(analysis.batches[0].size(), 4);
    EXPECT_EQ(analysis.batches[1].size(), 4);
    EXPECT_EQ(analysis.batches[2].size(), 2);
    // The first batch failed; the later ones still point at their own turns (4 and 8).
    ASSERT_EQ(outcome.insights.size(), 2);
    EXPECT_EQ(outcome.insights[0].annotations.first().turnIndex, 4);
    EXPECT_EQ(outcome.insights[1].annotations.first().turnIndex, 8);
    EXPECT_EQ(outcome.turns.at(outcome.insights[1].annotations.first().turnIndex).text, "w8");
    EXPECT_EQ(usage.reports.first().statusCode, 200);
}

TEST_F(DeepgramLiveSessionTest, ACheckinStreamsButGetsNoInsights)
{
    startStandIn({ "--script", tenTurnsScript(scratch.filePath("ten.json")) });
    ScriptedAnalysis client({});
    const Outcome outcome
        = stream(grant(), *LiveCoaching::analyzer(ConversationMode::checkin, borrowed(client)), 20);
    EXPECT_EQ(outcome.turns.size(), 10);
    EXPECT_TRUE(outcome.insights.isEmpty());
    EXPECT_TRUE(client.batches.isEmpty());
    ASSERT_EQ(usage.reports.size(), 1);
    EXPECT_EQ(usage.reports.first().statusCode, 200);
}

// Audio handed over from the capture's thread right before the stop still goes out, all of it
// and in order, before the close message.
TEST_F(DeepgramLiveSessionTest, BlocksHandedOverBeforeTheStopGoOutBeforeTheCloseMessage)
{
    startStandIn({ "--script", scriptFile() });
    ScriptedAnalysis analysis({});
    LiveSessionRun run(grant(), standIn->baseUrl(), tls(), analysis, usage, reservation);
    run.session->start();
    std::thread capture([&] {
        for (int i = 0; i < 24; ++i)
            run.session->postPCM(block(qint16(i)));
    });
    capture.join();
    test::awaitTask(run.session->stop(3));

    QStringList expected;
    for (int i = 0; i < 24; ++i)
        expected.append(QStringLiteral("binary 8192 %1 %1").arg(i));
    expected << R"(text {"type":"CloseStream"})"
             << "closing 1000";
    EXPECT_EQ(frames(expected.last()), expected.join(u'\n').toStdString());
    EXPECT_EQ(usage.reports.first().statusCode, 200);
}

// Answers no analysis until it is let go; each answer names its batch's first turn.
class HeldAnalysis final : public AnalysisProvider {
public:
    QCoro::Task<std::expected<AnalysisProviderResult, ProviderFailure>> analyze(AnalysisPass, AnalysisRubric,
        QList<SpeakerTurn> turns, std::optional<LiveAnalysisContext>, QUuid) const override
    {
        batches.append(turns);
        while (!released)
            co_await QCoro::sleepFor(std::chrono::milliseconds(10));
        AnalysisProviderResult result;
        result.summary = turns.first().text;
        ++answered;
        co_return result;
    }

    mutable QList<QList<SpeakerTurn>> batches;
    mutable int answered = 0;
    bool released = false;
};

// The stop waits for no analysis but that of the turns left at the end, and for that one only up
// to its limit: every turn received is still handed on, the turns released or pending at the
// stop go to that one last analysis, and answers that come after the stop are dropped.
TEST_F(DeepgramLiveSessionTest, TheStopWaitsOnlyForTheLastAnalysisAndOnlySoLong)
{
    startStandIn({ "--script", tenTurnsScript(scratch.filePath("ten.json")) });
    HeldAnalysis analysis;
    LiveSessionRun run(
        grant(), standIn->baseUrl(), tls(), analysis, usage, reservation, std::chrono::milliseconds(300));
    run.session->start();
    for (int i = 0; i < 20; ++i)
        run.session->sendPCM(block(qint16(i)));
    // The first batch (turns 0 to 3) is under way, and the loop waits for it.
    ASSERT_TRUE(test::spinUntil([&] { return analysis.batches.size() == 1; }, 60000));

    test::awaitTask(run.session->stop(5), providerClose + std::chrono::seconds(30));
    EXPECT_EQ(run.outcome.turns.size(), 10);
    ASSERT_EQ(analysis.batches.size(), 2);
    EXPECT_EQ(analysis.batches[0], run.outcome.turns.mid(0, 4));
    EXPECT_EQ(analysis.batches[1], run.outcome.turns.mid(4));
    ASSERT_EQ(usage.reports.size(), 1);
    EXPECT_EQ(usage.reports.first().statusCode, 200);

    analysis.released = true;
    ASSERT_TRUE(test::spinUntil([&] { return analysis.answered == 2; }, 60000));
    // An answer dropped leaves nothing to wait for: a few turns of the loop let one that was
    // kept after all show.
    test::spinFor(50);
    EXPECT_TRUE(run.outcome.insights.isEmpty());
}

// Given up as the application ends: no analysis of what is left and no usage report follow (the
// reservation they would name is cancelled next), and the answer of the analysis under way is
// dropped.
TEST_F(DeepgramLiveSessionTest, AGiveUpSendsNothingMore)
{
    startStandIn({ "--script", tenTurnsScript(scratch.filePath("ten.json")) });
    HeldAnalysis analysis;
    LiveSessionRun run(grant(), standIn->baseUrl(), tls(), analysis, usage, reservation);
    run.session->start();
    for (int i = 0; i < 20; ++i)
        run.session->sendPCM(block(qint16(i)));
    ASSERT_TRUE(test::spinUntil([&] { return analysis.batches.size() == 1; }, 60000));

    test::awaitTask(run.session->abandon());
    test::awaitTask(run.session->stop(5));
    EXPECT_EQ(analysis.batches.size(), 1) << "nothing left is analysed";
    EXPECT_TRUE(usage.reports.isEmpty());
    analysis.released = true;
    ASSERT_TRUE(test::spinUntil([&] { return analysis.answered == 1; }, 60000));
    test::spinFor(50);
    EXPECT_TRUE(run.outcome.insights.isEmpty());
}

// The whole live path against both real servers sharing one speech token secret.
class LiveSessionWithControlPlaneTest : public testing::RealControlPlaneFixture {
protected:
    QStringList extraServerArguments() const override
    {
        return speechTokenSecret(folder, testing::SpeechStandInProcess::secret);
    }

    QTemporaryDir folder;
};

TEST_F(LiveSessionWithControlPlaneTest, AnalysesLiveBatchesAndReportsUsageThroughTheControlPlane)
{
    QFile scriptFile(folder.filePath("script.json"));
    ASSERT_TRUE(scriptFile.open(QIODevice::WriteOnly));
    scriptFile.write(tenTurns().replace("w0", "never").replace("w5", "whatever"));
    scriptFile.close();
    testing::SpeechStandInProcess standIn(
        { "--tls-cert", certificates.serverCertificate(), "--tls-key", certificates.serverKey(),
            "--speech-token-secret", folder.filePath("speech.secret"), "--script", scriptFile.fileName() });
    ASSERT_TRUE(standIn.started());

    const DeviceIdentity key = testing::newIdentity();
    const ControlPlaneClient client(base, signIn(key, "Ada").deviceID, key, manager);
    const auto draft = test::awaitTask(client.createConversationSession());
    ASSERT_TRUE(draft && draft->sessionID);
    const auto reservation = test::awaitTask(client.reserve(*draft->sessionID, 3600));
    ASSERT_TRUE(reservation.has_value());
    const auto grant = test::awaitTask(client.deepgramGrant(reservation->id));
    ASSERT_TRUE(grant.has_value());

    // The first live analysis fails; the real control plane analyses the others.
    ScriptedAnalysis analysis({ 1 }, &client);
    RecordingUsage usage(&client);
    QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
    LiveSessionRun run(*grant, standIn.baseUrl(), tls, analysis, usage, reservation->id);
    const Outcome outcome = run.run(20, 6);
    ASSERT_EQ(outcome.turns.size(), 10);
    ASSERT_EQ(outcome.insights.size(), 2);
    // Every finding of a batch points into that batch's own turns.
    for (qsizetype b = 0; b < 2; ++b) {
        for (const BehaviorAnnotation& a : outcome.insights[b].annotations) {
            EXPECT_GE(a.turnIndex, 4 * (b + 1));
            EXPECT_LT(a.turnIndex, b == 0 ? 8 : 10);
        }
    }
    EXPECT_TRUE(std::ranges::any_of(outcome.insights[0].annotations,
        [&](const BehaviorAnnotation& a) { return outcome.turns.at(a.turnIndex).text == "whatever"; }));
    ASSERT_EQ(usage.reports.size(), 1);
    EXPECT_EQ(usage.reports.first().statusCode, 200);
    EXPECT_TRUE(usage.reports.first().delivered);
    EXPECT_EQ(standIn.stop(), 0) << standIn.log().toStdString();
}

} // namespace
} // namespace lumora
