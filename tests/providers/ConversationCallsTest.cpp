#include "AnalysisFindings.hpp"
#include "RealControlPlaneFixture.hpp"
#include "domain/JsonWriting.hpp"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTemporaryDir>

namespace lumora {
namespace {

using testing::failureOf;
using testing::findings;
using testing::isDecodeError;
using testing::refusal;

const QList<SpeakerTurn> argument { SpeakerTurn(0, 0, 4, "You never listen"),
    SpeakerTurn(1, 4, 5, "Whatever."), SpeakerTurn(0, 5, 9, "I'm sorry, I see what you mean") };

class ConversationCallsTest : public testing::RealControlPlaneFixture {
protected:
    QStringList extraServerArguments() const override { return speechTokenSecret(secretDir); }

    // A signed-in account's client and a draft session of it.
    std::pair<ControlPlaneClient, QUuid> draftOf(const QString& name)
    {
        const DeviceIdentity key = testing::newIdentity();
        ControlPlaneClient client(base, signIn(key, name).deviceID, key, manager);
        const auto draft
            = test::awaitTask(client.createConversationSession()).value_or(ConversationSessionState {});
        EXPECT_TRUE(draft.sessionID.has_value());
        return { std::move(client), draft.sessionID.value_or(QUuid()) };
    }

    QTemporaryDir secretDir;
};

TEST_F(ConversationCallsTest, OneWholeConversation)
{
    const auto [client, session] = draftOf("Ada");
    // The engine holds the client only through its protocols.
    const SessionAuthorizationProvider& authorization = client;
    const ProviderTokenSource& tokens = client;
    const AnalysisProvider& analysis = client;

    const auto reservation = test::awaitTask(authorization.reserve(session, 3600));
    ASSERT_TRUE(reservation.has_value());
    EXPECT_EQ(reservation->maximumSeconds, 3600);
    const QUuid id = reservation->id;
    const auto grant = test::awaitTask(tokens.deepgramGrant(id));
    ASSERT_TRUE(grant.has_value());
    EXPECT_TRUE(grant->accessToken.startsWith("v1." + uuidText(id, UuidCase::lower) + "."));
    EXPECT_EQ(grant->expiresIn, 300);

    const auto live = test::awaitTask(analysis.analyze(
        AnalysisPass::live, AnalysisRubric::conversation, argument, LiveAnalysisContext(1), id));
    ASSERT_TRUE(live.has_value());
    EXPECT_EQ(findings(*live), (QStringList { "0:criticism", "1:contempt", "2:repair", "0:globalizing" }));
    // A later batch counts its indexes from the start of the conversation.
    EXPECT_EQ(live->offsettingTurnIndexes(3).annotations.at(1).turnIndex, 4);
    const auto nudge = test::awaitTask(client.requestNudge(argument, LiveAnalysisContext(2), 1, id));
    EXPECT_TRUE(nudge.has_value() && !nudge->title.isEmpty() && !nudge->guidance.isEmpty());
    EXPECT_TRUE(test::awaitTask(
        client.reportDeepgram(id, DeepgramOperation::liveTranscription, "nova-3", 9, 120, 200)));
    const auto final = test::awaitTask(
        analysis.analyze(AnalysisPass::final, AnalysisRubric::conversation, argument, {}, id));
    EXPECT_EQ(findings(final.value_or(AnalysisProviderResult {})), findings(*live));

    EXPECT_TRUE(test::awaitTask(authorization.finalize(id, 9)));
    EXPECT_EQ(failureOf(test::awaitTask(authorization.finalize(id, 9))), refusal(409, "reservation_closed"));
    EXPECT_EQ(failureOf(test::awaitTask(tokens.deepgramGrant(id))), refusal(409, "reservation_closed"));
}

TEST_F(ConversationCallsTest, CancelledSecondAndForeignReservations)
{
    const auto [client, session] = draftOf("Ada");
    // More than an hour is granted as one hour; a second open reservation is refused.
    const auto reservation = test::awaitTask(client.reserve(session, 7200));
    ASSERT_TRUE(reservation.has_value());
    EXPECT_EQ(reservation->maximumSeconds, 3600);
    EXPECT_EQ(
        failureOf(test::awaitTask(client.reserve(session, 60))), refusal(409, "reservation_already_open"));

    // Another account reaches neither the session nor the reservation, and cannot cancel it.
    const auto [bob, bobSession] = draftOf("Bob");
    EXPECT_EQ(failureOf(test::awaitTask(bob.reserve(session, 60))), refusal(404, "session_not_found"));
    EXPECT_EQ(failureOf(test::awaitTask(bob.deepgramGrant(reservation->id))),
        refusal(404, "reservation_not_found"));
    EXPECT_EQ(failureOf(test::awaitTask(bob.analyze(
                  AnalysisPass::live, AnalysisRubric::conversation, argument, {}, reservation->id))),
        refusal(404, "reservation_not_found"));
    test::awaitTask(bob.cancel(reservation->id));
    EXPECT_TRUE(test::awaitTask(client.deepgramGrant(reservation->id)));

    test::awaitTask(client.cancel(reservation->id));
    EXPECT_EQ(failureOf(test::awaitTask(client.deepgramGrant(reservation->id))),
        refusal(409, "reservation_closed"));
    // Cancelling again is refused by the server, and the refusal is dropped.
    test::awaitTask(client.cancel(reservation->id));
    EXPECT_TRUE(test::awaitTask(client.reserve(session, 60)));
}

// The wire form of each call, against a server that answers every request alike.
class ConversationWireTest : public testing::ScriptedClientTest {
protected:
    static QJsonObject bodyOf(const testing::RecordedRequest& request)
    {
        return QJsonDocument::fromJson(request.body).object();
    }

    const QUuid id = QUuid::fromString(QStringLiteral("ABCDEF01-2345-4678-89AB-CDEF01234567"));
};

TEST_F(ConversationWireTest, PathsHeadersAndIdentifierCases)
{
    // One reply that every call decodes.
    testing::ScriptedServer server(200,
        R"({"ok":true,"estimated_cost_micros":1,"reservation_id":"ABCDEF01-2345-4678-89AB-CDEF01234567",)"
        R"("maximum_seconds":60.5,"access_token":"t","expires_in":5,"model":"m","summary":"s",)"
        R"("annotations":[],"input_tokens":1,"output_tokens":1,"title":"t","guidance":"g",)"
        R"("suggested_words":"w"})");
    const ControlPlaneClient client = clientFor(server);
    const QList<SpeakerTurn> spread { SpeakerTurn(0, 0, 10, "a"), SpeakerTurn(1, 10, 200, "b"),
        SpeakerTurn(0, 200, 300, "c"), SpeakerTurn(1, 300, 400, "d") };
    EXPECT_EQ(test::awaitTask(client.reserve(id, 3600)), (UsageReservation { id, 60.5 }));
    EXPECT_TRUE(test::awaitTask(client.finalize(id, 42)));
    test::awaitTask(client.cancel(id));
    EXPECT_EQ(test::awaitTask(client.deepgramGrant(id)), (DeepgramGrant { "t", 5 }));
    EXPECT_TRUE(
        test::awaitTask(client.analyze(AnalysisPass::final, AnalysisRubric::checkin, spread, {}, id)));
    EXPECT_TRUE(test::awaitTask(
        client.analyze(AnalysisPass::live, AnalysisRubric::conversation, {}, LiveAnalysisContext(0), id)));
    EXPECT_TRUE(test::awaitTask(client.requestNudge(spread, LiveAnalysisContext(-1), 3, id)));
    EXPECT_TRUE(test::awaitTask(client.requestNudge({}, LiveAnalysisContext(8), -2, id)));
    EXPECT_TRUE(test::awaitTask(
        client.reportDeepgram(id, DeepgramOperation::finalTranscription, "nova-3", 61, 250, 599)));

    const QString lower = uuidText(id, UuidCase::lower);
    struct Sent {
        const char* path;
        bool reservationHeader;
        QJsonObject body; // empty: checked below
    };
    const Sent expected[] {
        { "/v1/sessions/reserve", false, { { "session_id", lower }, { "requested_seconds", 3600 } } },
        { "/v1/sessions/finalize", false, { { "reservation_id", lower }, { "actual_seconds", 42 } } },
        { "/v1/sessions/cancel", false, { { "reservation_id", lower } } },
        { "/v1/providers/deepgram/token", true, {} },
        { "/v1/providers/anthropic/analyze", true, {} },
        { "/v1/providers/anthropic/analyze", true,
            { { "pass", "live" }, { "rubric_version", "baseline-2026-07-17" }, { "turns", QJsonArray {} },
                { "current_step", 0 } } },
        { "/v1/providers/anthropic/nudge", true, {} },
        { "/v1/providers/anthropic/nudge", true,
            { { "rubric_version", "context-coach-2026-07-23" }, { "turns", QJsonArray {} },
                { "current_step", 5 }, { "target_speaker", 0 } } },
        { "/v1/providers/usage", false,
            { { "reservation_id", uuidText(id, UuidCase::upper) }, { "operation", "final_transcription" },
                { "model", "nova-3" }, { "duration_seconds", 61 }, { "latency_ms", 250 },
                { "status_code", 599 } } },
    };
    const auto& sent = server.requests();
    ASSERT_EQ(sent.size(), std::size(expected));
    for (qsizetype i = 0; i < sent.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(sent[i].method, "POST");
        EXPECT_EQ(sent[i].target, expected[i].path);
        EXPECT_EQ(sent[i].hasHeader("X-Reservation-ID"), expected[i].reservationHeader);
        EXPECT_EQ(sent[i].header("X-Reservation-ID"), expected[i].reservationHeader ? lower.toLatin1() : "");
        if (!expected[i].body.isEmpty()) {
            EXPECT_EQ(bodyOf(sent[i]), expected[i].body);
        }
    }
    EXPECT_TRUE(sent[3].body.isEmpty());
    const QJsonObject final = bodyOf(sent[4]);
    EXPECT_EQ(final.value("rubric_version"), "checkin-gentle-2026-08-19");
    EXPECT_EQ(final.value("turns").toArray().at(1).toObject().value("end"), 200);
    EXPECT_FALSE(final.contains("current_step"));
    // 400 - 200 is more than the nudge window: only the turns ending at 300 and 400 go.
    const QJsonObject nudge = bodyOf(sent[6]);
    EXPECT_EQ(nudge.value("turns").toArray().size(), 2);
    EXPECT_EQ(nudge.value("turns").toArray().at(0).toObject().value("text"), "c");
    EXPECT_EQ(nudge.value("current_step"), 0);
    EXPECT_EQ(nudge.value("target_speaker"), 1);
}

TEST_F(ConversationWireTest, RepliesThatDoNotDecodeFailExceptForCancel)
{
    testing::ScriptedServer empty(200, "");
    EXPECT_TRUE(isDecodeError(test::awaitTask(clientFor(empty).finalize(id, 1))));
    test::awaitTask(clientFor(empty).cancel(id));
    testing::ScriptedServer okOnly(200, R"({"ok":true})");
    EXPECT_TRUE(isDecodeError(test::awaitTask(
        clientFor(okOnly).reportDeepgram(id, DeepgramOperation::liveTranscription, "nova-3", 1, 1, 200))));
    EXPECT_TRUE(isDecodeError(test::awaitTask(clientFor(okOnly).deepgramGrant(id))));
    EXPECT_TRUE(test::awaitTask(clientFor(okOnly).finalize(id, 1)));
    testing::ScriptedServer refusing(500, R"({"error":"internal"})");
    EXPECT_EQ(failureOf(test::awaitTask(clientFor(refusing).reserve(id, 60))), refusal(500, "internal"));
    test::awaitTask(clientFor(refusing).cancel(id));
    const ControlPlaneClient unreachable(closedUrl(), deviceID, identity, manager);
    test::awaitTask(unreachable.cancel(id));
    EXPECT_TRUE(
        std::holds_alternative<TransportError>(failureOf(test::awaitTask(unreachable.finalize(id, 1)))));
}

} // namespace
} // namespace lumora
