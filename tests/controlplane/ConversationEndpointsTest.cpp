#include "controlplane/ConversationEndpoints.hpp"

#include "ServiceFixture.hpp"
#include "analysis/RuleBasedAnalyzer.hpp"
#include "common/SpeechToken.hpp"
#include "controlplane/DeepgramGrantClient.hpp"
#include "controlplane/JsonReplies.hpp"
#include "controlplane/ReservationStore.hpp"
#include "domain/JsonWriting.hpp"

#include <QJsonArray>
#include <atomic>

namespace lumora {
namespace {

using testing::bodyOf;
using testing::codeOf;
using testing::json;
using testing::Member;

const std::string secret(32, 'k');

class ConversationEndpointsTest : public testing::BackendServiceTest {
protected:
    ConversationEndpointsTest()
    {
        settings.conversation.speechTokenSecret = secret;
        restart();
    }

    // Signed POSTs, by Ada unless `as` names another member.
    HttpResponse call(const std::string& path, const QJsonObject& body, const Member* as = nullptr)
    {
        return ControlPlaneServiceTest::call(as ? *as : ada, "POST", path, json(body));
    }

    // A signed call naming the reservation in the header.
    HttpResponse callFor(const std::string& path, const QUuid& reservation, const std::string& body = {},
        const Member* as = nullptr)
    {
        const Member& who = as ? *as : ada;
        return sendSigned(who.identity, who.device.id, "POST", path, body, {}, QUuid::createUuid(),
            { { "X-Reservation-ID", uuidText(reservation, UuidCase::upper).toStdString() } });
    }

    QUuid draftSession()
    {
        return QUuid::fromString(post(ada, "/v1/sessions/draft").value("session_id").toString());
    }

    HttpResponse reserve(const QUuid& session, double seconds, const Member* as = nullptr)
    {
        return call("/v1/sessions/reserve",
            { { "session_id", idText(session) }, { "requested_seconds", seconds } }, as);
    }

    QUuid reservationOf(const HttpResponse& reply)
    {
        EXPECT_EQ(reply.status, 200) << reply.body;
        return QUuid::fromString(bodyOf(reply).value("reservation_id").toString());
    }

    HttpResponse finalize(const QUuid& reservation, double seconds, const Member* as = nullptr)
    {
        return call("/v1/sessions/finalize",
            { { "reservation_id", idText(reservation) }, { "actual_seconds", seconds } }, as);
    }

    HttpResponse cancel(const QUuid& reservation, const Member* as = nullptr)
    {
        return call("/v1/sessions/cancel", { { "reservation_id", idText(reservation) } }, as);
    }

    HttpResponse usage(const QUuid& reservation, const char* operation, qint64 seconds = 10, int status = 200,
        const Member* as = nullptr)
    {
        return call("/v1/providers/usage",
            { { "reservation_id", uuidText(reservation, UuidCase::upper) }, { "operation", operation },
                { "model", "nova-3" }, { "duration_seconds", seconds }, { "latency_ms", 5 },
                { "status_code", status } },
            as);
    }

    QString reservationStatus(const QUuid& id) { return ReservationStore(*store).reservation(id)->status; }

    Member ada = member("Ada");
    Member bob = member("Bob");
};

LUMORA_ON_EVERY_BACKEND(ConversationEndpointsTest);

TEST_P(ConversationEndpointsTest, ReservationsAreCappedHeldOncePerSessionAndClosedOnce)
{
    const QUuid session = draftSession();
    const HttpResponse first = reserve(session, 7200);
    const QUuid reservation = reservationOf(first);
    EXPECT_EQ(bodyOf(first).value("maximum_seconds").toDouble(), 3600);
    EXPECT_EQ(codeOf(reserve(session, 60)), "409 reservation_already_open");

    // Finalize records the actual seconds, never more than granted.
    EXPECT_EQ(finalize(reservation, 5000).status, 200);
    const auto stored = ReservationStore(*store).reservation(reservation);
    ASSERT_TRUE(stored.has_value());
    EXPECT_EQ(stored->status, "finalized");
    EXPECT_EQ(stored->actualSeconds, 3600);
    EXPECT_EQ(codeOf(finalize(reservation, 10)), "409 reservation_closed");
    // A cancel after the finalize, and any repeat of it, is answered as done and keeps the
    // finalized seconds.
    for (int attempt = 0; attempt < 2; ++attempt) {
        EXPECT_EQ(cancel(reservation).status, 200);
        EXPECT_EQ(reservationStatus(reservation), "finalized");
        EXPECT_EQ(ReservationStore(*store).reservation(reservation)->actualSeconds, 3600);
    }

    // Once closed, the session may be reserved again; a short request is granted as asked.
    const HttpResponse second = reserve(session, 90.5);
    EXPECT_EQ(bodyOf(second).value("maximum_seconds").toDouble(), 90.5);
    const QUuid again = reservationOf(second);
    EXPECT_EQ(cancel(again).status, 200);
    EXPECT_EQ(reservationStatus(again), "cancelled");
    EXPECT_EQ(cancel(again).status, 200);
    EXPECT_EQ(codeOf(finalize(again, 10)), "409 reservation_closed");
    EXPECT_EQ(reservationStatus(again), "cancelled");
    EXPECT_EQ(codeOf(callFor("/v1/providers/deepgram/token", again)), "409 reservation_closed");
}

TEST_P(ConversationEndpointsTest, AnotherAccountsSessionAndReservationAreUnknownToIt)
{
    const QUuid session = draftSession();
    EXPECT_EQ(codeOf(reserve(session, 60, &bob)), "404 session_not_found");
    const QUuid reservation = reservationOf(reserve(session, 60));
    EXPECT_EQ(codeOf(finalize(reservation, 1, &bob)), "404 reservation_not_found");
    EXPECT_EQ(codeOf(cancel(reservation, &bob)), "404 reservation_not_found");
    EXPECT_EQ(codeOf(usage(reservation, "live_transcription", 1, 200, &bob)), "404 reservation_not_found");
    for (const char* path : { "/v1/providers/deepgram/token", "/v1/providers/anthropic/analyze",
             "/v1/providers/anthropic/nudge" })
        EXPECT_EQ(codeOf(callFor(path, reservation, {}, &bob)), "404 reservation_not_found") << path;
    // Nothing was changed by the refusals.
    EXPECT_EQ(reservationStatus(reservation), "open");
    EXPECT_EQ(store->countRows("usage_reports", bob.device.accountID), 0);
}

TEST_P(ConversationEndpointsTest, SpeechTokensAreSignedBoundToTheReservationAndShortLived)
{
    const QUuid session = draftSession();
    const QUuid reservation = reservationOf(reserve(session, 60));
    const HttpResponse grant = callFor("/v1/providers/deepgram/token", reservation);
    ASSERT_EQ(grant.status, 200) << grant.body;
    const qint64 lifetime = bodyOf(grant).value("expires_in").toInteger();
    EXPECT_EQ(lifetime, ConversationEndpoints::speechTokenLifetime);
    const std::string token = bodyOf(grant).value("access_token").toString().toStdString();
    const auto claims = speechtoken::verify(secret, token, now);
    ASSERT_TRUE(claims.has_value());
    EXPECT_EQ(claims->reservationID, idText(reservation).toStdString());
    EXPECT_EQ(
        speechtoken::verify(secret, token, now + lifetime), std::unexpected(speechtoken::Error::expired));

    // Near the reservation's end a token lives no longer than the reservation.
    const qint64 lapse = now + 60 + ConversationEndpoints::reservationMargin;
    now = lapse - 100;
    EXPECT_EQ(
        bodyOf(callFor("/v1/providers/deepgram/token", reservation)).value("expires_in").toInteger(), 100);
    // An open reservation lapses: it is refused, and the session may be reserved again.
    now = lapse;
    EXPECT_EQ(codeOf(callFor("/v1/providers/deepgram/token", reservation)), "409 reservation_expired");
    EXPECT_EQ(codeOf(finalize(reservation, 1)), "409 reservation_expired");
    const QUuid renewed = reservationOf(reserve(session, 60));
    EXPECT_EQ(reservationStatus(reservation), "expired");

    // Without a secret no speech token is issued.
    settings.conversation.speechTokenSecret.reset();
    restart();
    EXPECT_EQ(codeOf(callFor("/v1/providers/deepgram/token", renewed)), "503 speech_not_configured");
}

TEST_P(ConversationEndpointsTest, AnalysisAndNudgesComeFromTheTurnsSent)
{
    const QUuid reservation = reservationOf(reserve(draftSession(), 600));
    const QJsonArray turns {
        QJsonObject { { "speaker", 0 }, { "start", 0 }, { "end", 4 }, { "text", "You never listen to me." } },
        QJsonObject { { "speaker", 1 }, { "start", 4 }, { "end", 5 }, { "text", "Whatever." } },
    };
    const HttpResponse analysis = callFor("/v1/providers/anthropic/analyze", reservation,
        json({ { "pass", "live" }, { "rubric_version", "baseline-2026-07-17" }, { "turns", turns },
            { "current_step", 2 } }));
    ASSERT_EQ(analysis.status, 200) << analysis.body;
    const QJsonObject result = bodyOf(analysis);
    EXPECT_EQ(result.value("model"), "lumora-rules-1");
    EXPECT_EQ(result.value("annotations").toArray().size(), 2);
    EXPECT_TRUE(result.value("harsh_startup").toObject().value("detected").toBool());

    const HttpResponse nudge = callFor("/v1/providers/anthropic/nudge", reservation,
        json({ { "rubric_version", "context-coach-2026-07-23" }, { "turns", turns }, { "current_step", 9 },
            { "target_speaker", -3 } }));
    ASSERT_EQ(nudge.status, 200) << nudge.body;
    EXPECT_FALSE(bodyOf(nudge).value("suggested_words").toString().isEmpty());
}

TEST_P(ConversationEndpointsTest, BadInputGetsACodeAndChangesNothing)
{
    const QUuid session = draftSession();
    const QUuid reservation = reservationOf(reserve(session, 60));
    const std::string turns = R"("turns":[{"speaker":0,"start":0,"end":1,"text":"Hi"}])";
    const auto analyze = [&](const std::string& fields) {
        return callFor("/v1/providers/anthropic/analyze", reservation, "{" + fields + "}");
    };
    struct Case {
        const char* what;
        HttpResponse response;
        std::string expected;
    };
    const std::vector<Case> cases {
        { "no seconds", reserve(session, 0), "400 invalid_requested_seconds" },
        { "negative seconds", reserve(session, -5), "400 invalid_requested_seconds" },
        { "unknown session", reserve(QUuid::createUuid(), 60), "404 session_not_found" },
        { "session id not a UUID",
            call("/v1/sessions/reserve", { { "session_id", "abc" }, { "requested_seconds", 60 } }),
            "400 invalid_request" },
        { "negative actual seconds", finalize(reservation, -1), "400 invalid_actual_seconds" },
        { "fractional actual seconds", finalize(reservation, 1.5), "400 invalid_request" },
        { "unknown reservation", cancel(QUuid::createUuid()), "404 reservation_not_found" },
        { "unknown pass", analyze(R"("pass":"midway","rubric_version":"baseline-2026-07-17",)" + turns),
            "400 unknown_pass" },
        { "unknown rubric", analyze(R"("pass":"final","rubric_version":"baseline-1999",)" + turns),
            "400 unknown_rubric" },
        { "analysis without turns", analyze(R"("pass":"final","rubric_version":"baseline-2026-07-17")"),
            "400 invalid_request" },
        { "analysis rubric for a nudge",
            callFor("/v1/providers/anthropic/nudge", reservation,
                R"({"rubric_version":"baseline-2026-07-17","current_step":0,"target_speaker":0,)" + turns
                    + "}"),
            "400 unknown_rubric" },
        { "not JSON", callFor("/v1/providers/anthropic/analyze", reservation, "[1"), "400 invalid_json" },
        { "no reservation header", ControlPlaneServiceTest::call(ada, "POST", "/v1/providers/deepgram/token"),
            "400 missing_reservation_id" },
        { "unknown usage operation", usage(reservation, "liveTranscription"), "400 invalid_operation" },
        { "status beyond HTTP", usage(reservation, "live_transcription", 10, 600), "400 invalid_request" },
    };
    for (const Case& c : cases)
        EXPECT_EQ(codeOf(c.response), c.expected) << c.what;
    EXPECT_EQ(reservationStatus(reservation), "open");
    EXPECT_EQ(store->countRows("usage_reports", ada.device.accountID), 0);
}

TEST_P(ConversationEndpointsTest, UsageIsStoredWithItsEstimatedCost)
{
    const QUuid reservation = reservationOf(reserve(draftSession(), 600));
    const auto cost = [&](const char* operation, qint64 seconds) {
        const QJsonObject reply = bodyOf(usage(reservation, operation, seconds));
        EXPECT_EQ(reply.value("ok"), true);
        return reply.value("estimated_cost_micros").toInteger();
    };
    EXPECT_EQ(cost("live_transcription", 90), 11550); // 1.5 min at 7700
    EXPECT_EQ(cost("final_transcription", 1), 72); // 71.7 up
    EXPECT_EQ(cost("final_transcription", 0), 0);
    EXPECT_EQ(store->countRows("usage_reports", ada.device.accountID), 3);
}

// A paid analyzer: the rule-based answers under a name of its own, counted.
class PaidAnalyzer final : public ConversationAnalyzer {
public:
    mutable std::atomic<int> calls = 0;

    std::expected<AnalysisProviderResult, AnalyzerError> analyze(
        const AnalysisProviderPayload& request) const override
    {
        ++calls;
        auto result = RuleBasedAnalyzer().analyze(request);
        result->model = "paid-model";
        return result;
    }
    std::expected<ConversationNudge, AnalyzerError> nudge(const NudgeProviderPayload& request) const override
    {
        ++calls;
        auto nudge = RuleBasedAnalyzer().nudge(request);
        nudge->title = "paid";
        return nudge;
    }
};

// Each reservation and each account makes a limited number of paid calls a minute, counted
// in the database; past a limit the rule-based analyzer answers and a speech grant is
// refused until the next minute.
TEST_P(ConversationEndpointsTest, PaidCallsPastTheLimitsAreAnsweredWithoutTheProvider)
{
    auto model = std::make_shared<PaidAnalyzer>();
    settings.conversation.analyzer = model;
    // A provider that refuses every connection: a grant that reaches it fails with 503.
    settings.conversation.speechGrants = std::make_shared<DeepgramGrantClient>(
        *HttpsClient::create(*HttpsTarget::parse("https://127.0.0.1:1")), "key", ProviderLog {},
        std::chrono::milliseconds(2000));
    settings.conversation.callRates = { .perReservation = 3, .perAccount = 5 };
    restart();
    const QJsonArray turns { QJsonObject {
        { "speaker", 0 }, { "start", 0 }, { "end", 4 }, { "text", "You never listen to me." } } };
    const std::string analysis
        = json({ { "pass", "live" }, { "rubric_version", "baseline-2026-07-17" }, { "turns", turns } });
    const std::string coaching = json({ { "rubric_version", "context-coach-2026-07-23" }, { "turns", turns },
        { "current_step", 1 }, { "target_speaker", 0 } });
    const auto answeredBy = [&](const QUuid& reservation, const char* path, const Member* as = nullptr) {
        const bool analyzing = std::string(path) == "analyze";
        const HttpResponse reply = callFor(
            std::string("/v1/providers/anthropic/") + path, reservation, analyzing ? analysis : coaching, as);
        EXPECT_EQ(reply.status, 200) << reply.body;
        const QString name = bodyOf(reply).value(analyzing ? "model" : "title").toString();
        return name == u"paid-model" || name == u"paid" ? std::string("paid") : std::string("rules");
    };
    const auto grant = [&](const QUuid& reservation) {
        return codeOf(callFor("/v1/providers/deepgram/token", reservation));
    };

    const QUuid first = reservationOf(reserve(draftSession(), 600));
    EXPECT_EQ(answeredBy(first, "analyze"), "paid");
    EXPECT_EQ(answeredBy(first, "nudge"), "paid");
    EXPECT_EQ(grant(first), "503 provider_token_unavailable");
    EXPECT_EQ(answeredBy(first, "analyze"), "rules");
    EXPECT_EQ(answeredBy(first, "nudge"), "rules");
    const HttpResponse refused = callFor("/v1/providers/deepgram/token", first);
    EXPECT_EQ(codeOf(refused), "429 too_many_provider_calls");
    ASSERT_EQ(refused.headers.size(), 1u);
    EXPECT_EQ(refused.headers[0], (std::pair<std::string, std::string> { "Retry-After", "60" }));

    // Another reservation of the account has calls of its own until the account's run out.
    const QUuid second = reservationOf(reserve(draftSession(), 600));
    EXPECT_EQ(answeredBy(second, "analyze"), "paid");
    EXPECT_EQ(answeredBy(second, "nudge"), "paid");
    EXPECT_EQ(answeredBy(second, "analyze"), "rules");
    EXPECT_EQ(model->calls, 4);

    // Another account is not held back; the next minute the calls begin again.
    const QUuid bobs = reservationOf(reserve(
        QUuid::fromString(post(bob, "/v1/sessions/draft").value("session_id").toString()), 600, &bob));
    EXPECT_EQ(answeredBy(bobs, "analyze", &bob), "paid");
    now += 45;
    EXPECT_EQ(codeOf(callFor("/v1/providers/deepgram/token", first)), "429 too_many_provider_calls");
    now += 15;
    EXPECT_EQ(answeredBy(first, "analyze"), "paid");
    EXPECT_EQ(model->calls, 6);
    // Only this minute's counts are kept: the reservation's and the account's.
    EXPECT_EQ(store->countRows("provider_calls", ada.device.accountID), 2);
}

} // namespace
} // namespace lumora
