#include "JsonEdits.hpp"
#include "ServiceFixture.hpp"
#include "controlplane/ContentSeal.hpp"
#include "controlplane/ConversationContentStore.hpp"
#include "controlplane/IdText.hpp"
#include "domain/ConversationUploadCodec.hpp"
#include "domain/JsonWriting.hpp"

#include <QJsonArray>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <functional>
#include <limits>
#include <string_view>

namespace lumora {
namespace {

using testing::bodyOf;
using testing::codeOf;
using testing::Member;

ConversationUploadPayload payloadOf(const QUuid& id, qint64 endedAt, const QString& text = "Hello")
{
    ConversationUploadPayload payload;
    payload.conversationID = id;
    payload.startedAt = endedAt - 60;
    payload.endedAt = endedAt;
    payload.durationSeconds = 60;
    payload.title = "Sunday";
    payload.transcript.segments = { SpeakerTurn(0, 0, 5, text), SpeakerTurn(1, 5, 9, "Yes"),
        SpeakerTurn(0, 9, 12, "Good"), SpeakerTurn(1, 12, 15, "Fine") };
    payload.analysis = ConversationAnalysisPayload { 1, "Calm", {}, {}, {}, false };
    payload.analysis->stats
        = { SpeakerStats { .speaker = 0, .turns = 4 }, SpeakerStats { .speaker = 1, .turns = 3 } };
    return payload;
}

std::string encoded(const ConversationUploadPayload& payload)
{
    return ConversationUploadCodec::encode(payload)->toStdString();
}

std::string idPath(const QUuid& id, const std::string& action = {})
{
    return "/v1/content/conversations/" + uuidText(id, UuidCase::lower).toStdString()
        + (action.empty() ? "" : "/" + action);
}

QStringList idsOf(const QJsonObject& page)
{
    QStringList ids;
    for (const QJsonValue& row : page.value("conversations").toArray())
        ids.append(row.toObject().value("id").toString());
    return ids;
}

class ConversationContentTest : public testing::BackendServiceTest {
protected:
    HttpResponse storeAs(const Member& who, const ConversationUploadPayload& payload)
    {
        return call(who, "POST", "/v1/content/conversations", encoded(payload));
    }

    // Stores a new conversation ended now and answers its id.
    QUuid stored(const Member& who)
    {
        const QUuid id = QUuid::createUuid();
        const HttpResponse reply = storeAs(who, payloadOf(id, now));
        EXPECT_EQ(reply.status, 201) << reply.body;
        return id;
    }

    QJsonObject list(const Member& who, const std::string& query = {})
    {
        return get(who, "/v1/content/conversations" + query);
    }

    // Runs again the schema steps from `version` on, as a server upgrading would.
    void upgradeFrom(int version)
    {
        QSqlQuery takeBack(QSqlDatabase::database(store->connectionName()));
        for (const QString& sql : testing::withoutLatestSteps())
            ASSERT_TRUE(takeBack.exec(sql)) << takeBack.lastError().text().toStdString();
        execute(QStringLiteral("DELETE FROM schema_migrations WHERE version >= %1").arg(version));
        service.reset();
        store.reset();
        auto opened = ControlPlaneStore::open(database.url(), settings.contentSeal.get());
        ASSERT_TRUE(opened.has_value()) << opened.error().toStdString();
        store = std::move(*opened);
        restart();
    }

    // Runs a statement on the store's database directly, its values bound in order.
    void execute(const QString& sql, const QVariantList& values = {})
    {
        QSqlQuery query(QSqlDatabase::database(store->connectionName()));
        query.prepare(sql);
        for (const QVariant& value : values)
            query.addBindValue(value);
        ASSERT_TRUE(query.exec()) << query.lastError().text().toStdString();
    }

    Member ada = member("Ada");
    Member bob = member("Bob");
};

LUMORA_ON_EVERY_BACKEND(ConversationContentTest);

TEST_P(ConversationContentTest, StoringAgainIsIdempotentAndAnotherAccountsIdConflicts)
{
    const QUuid id = QUuid::createUuid();
    const HttpResponse stored = storeAs(ada, payloadOf(id, now - 5));
    ASSERT_EQ(stored.status, 201) << stored.body;
    const QJsonObject summary = bodyOf(stored).value("conversation").toObject();
    EXPECT_EQ(summary.value("id"), uuidText(id, UuidCase::lower));
    EXPECT_EQ(summary.value("mode"), "conversation");
    EXPECT_EQ(summary.value("title"), "Sunday");
    EXPECT_EQ(summary.value("ended_at").toInteger(), now - 5);
    EXPECT_EQ(summary.value("created_at").toInteger(), now);
    EXPECT_EQ(summary.value("workspace"), "current");
    EXPECT_FALSE(summary.contains("pending_deletion"));
    // Its turns as the application counts them, from its statistics: what the partner's History
    // counts without its body.
    EXPECT_EQ(summary.value("turns"), 7);
    EXPECT_EQ(list(ada).value("conversations").toArray().at(0).toObject().value("turns"), 7);

    // A retry after a lost reply: the same row, nothing duplicated, nothing changed.
    now += 30;
    const HttpResponse again = storeAs(ada, payloadOf(id, now - 5, "Changed"));
    EXPECT_EQ(again.status, 200);
    EXPECT_EQ(bodyOf(again).value("conversation").toObject(), summary);
    EXPECT_EQ(store->countRows("content_conversations", ada.device.accountID), 1);

    EXPECT_EQ(codeOf(storeAs(bob, payloadOf(id, now))), "409 conversation_id_conflict");
    EXPECT_EQ(store->countRows("content_conversations", bob.device.accountID), 0);
    EXPECT_TRUE(idsOf(list(bob)).isEmpty());
    EXPECT_EQ(call(bob, "GET", idPath(id)).status, 404);

    const HttpResponse fetched = call(ada, "GET", idPath(id));
    ASSERT_EQ(fetched.status, 200);
    EXPECT_EQ(ConversationUploadPayload::fromJson(bodyOf(fetched).value("content")), payloadOf(id, now - 35));
}

// Each account stores up to its quota, counted in the bytes of its own documents (with text
// beyond ASCII); a retry of one stored before is answered whatever the quota, and a deletion
// makes room again.
TEST_P(ConversationContentTest, AnAccountStoresUpToItsQuota)
{
    const auto payload = [&](const QUuid& id) { return payloadOf(id, now, QString(400, QChar(0x00e9))); };
    const auto size = qint64(encoded(payload(QUuid::createUuid())).size());
    ASSERT_GT(size, 800);
    settings.storageQuota = 2 * size + size / 2;
    restart();
    const QUuid first = QUuid::createUuid();
    EXPECT_EQ(storeAs(ada, payload(first)).status, 201);
    EXPECT_EQ(storeAs(ada, payload(first)).status, 200);
    const QUuid second = QUuid::createUuid();
    EXPECT_EQ(storeAs(ada, payload(second)).status, 201);
    const QUuid third = QUuid::createUuid();
    EXPECT_EQ(codeOf(storeAs(ada, payload(third))), "507 storage_quota_exceeded");
    EXPECT_EQ(store->countRows("content_conversations", ada.device.accountID), 2);
    EXPECT_EQ(storeAs(ada, payload(second)).status, 200);
    // Another account's documents count for it alone.
    EXPECT_EQ(storeAs(bob, payload(third)).status, 201);

    EXPECT_EQ(call(ada, "POST", idPath(second, "delete")).status, 200);
    EXPECT_EQ(storeAs(ada, payload(QUuid::createUuid())).status, 201);
}

TEST_P(ConversationContentTest, BodiesOverTheLimitOrUnreadableAreRefusedAndStoreNothing)
{
    // A document of exactly the limit: segments as long as a document holds them fill what the
    // rest leaves, the last one with what is left.
    constexpr auto limit = qsizetype(ConversationContentEndpoints::maximumBodyBytes);
    ConversationUploadPayload exact = payloadOf(QUuid::createUuid(), now, {});
    while (limit - qsizetype(encoded(exact).size()) > 20'000)
        exact.transcript.segments.append(SpeakerTurn(0, 0, 5, QString(19'000, u'x')));
    exact.transcript.segments.append(SpeakerTurn(0, 0, 5, QString()));
    exact.transcript.segments.last().text = QString(limit - qsizetype(encoded(exact).size()), u'x');
    ASSERT_EQ(encoded(exact).size(), std::size_t(limit));
    ConversationUploadPayload over = exact;
    over.conversationID = QUuid::createUuid();
    over.transcript.segments.last().text += u'x';

    const auto with = [&](const char* key, const QJsonValue& value) {
        QJsonObject changed = payloadOf(QUuid::createUuid(), now).toJson();
        if (value.isUndefined())
            changed.remove(key);
        else
            changed[key] = value;
        return testing::json(changed);
    };
    const std::pair<std::string, const char*> cases[] = {
        { encoded(over), "413 payload_too_large" },
        { std::string(3 * 1024 * 1024, ' '), "413 payload_too_large" },
        { "", "400 invalid_request" },
        { "{\"conversation_id\":", "400 invalid_request" },
        { "[]", "400 invalid_request" },
        { with("mode", "chat"), "400 invalid_request" },
        { with("transcript", QJsonValue::Undefined), "400 invalid_request" },
        { with("conversation_id", "not-a-uuid"), "400 invalid_request" },
        // Times no review can be stored with: past 9999 and 2^63 seconds before 1970.
        { with("ended_at", qint64(253'402'300'800)), "400 invalid_request" },
        { with("started_at", std::numeric_limits<qint64>::min()), "400 invalid_request" },
        // What the application never sends (the decoder's tests have every bound).
        { with("title", QString(201, u't')), "400 invalid_request" },
        { with("title", QStringLiteral("\u202Elive")), "400 invalid_request" },
        { with("duration_seconds", qint64(1) << 53), "400 invalid_request" },
        { with("ended_at", now - 3600), "400 invalid_request" },
    };
    for (const auto& [body, code] : cases)
        EXPECT_EQ(codeOf(call(ada, "POST", "/v1/content/conversations", body)), code) << body.substr(0, 80);
    EXPECT_EQ(store->countRows("content_conversations", ada.device.accountID), 0);
    EXPECT_EQ(storeAs(ada, exact).status, 201);
}

// A partner's device may send anything: what the application never sends is refused (whatever
// the list or the partner's review would make of it), what it sends is stored as written.
TEST_P(ConversationContentTest, UploadsTheApplicationNeverSendsAreRefused)
{
    const auto edited = [&](const std::function<void(QJsonObject&)>& edit) {
        QJsonObject json = payloadOf(QUuid::createUuid(), now).toJson();
        edit(json);
        // "<lone>" is half of a surrogate pair, which no QString the writer is given would give.
        std::string body = testing::json(json);
        if (const auto at = body.find("<lone>"); at != std::string::npos)
            body.replace(at, 6, "\\udc00");
        return body;
    };
    const auto top = [&](const char* key, const QJsonValue& value) {
        return edited([=](QJsonObject& json) { json.insert(key, value); });
    };
    const auto first = [&](const char* part, const char* list, const char* key, const QJsonValue& value) {
        return edited([=](QJsonObject& json) { test::setInFirst(json, part, list, key, value); });
    };
    const auto finding = [&](const char* list, qint64 turnIndex) {
        return edited([=](QJsonObject& json) {
            QJsonObject analysis = json.value("analysis").toObject();
            const QJsonObject one = list == std::string_view("fouls")
                ? ProcessFoulAnnotation(turnIndex, 0, ProcessFoul::globalizing, 0.7, 1, 2).toJson()
                : BehaviorAnnotation(turnIndex, 0, BehaviorCode::repair, 0.7, 1, 2).toJson();
            analysis.insert(list, QJsonArray { one });
            json.insert("analysis", analysis);
        });
    };
    const auto times = [&](qint64 startedAt, qint64 endedAt) {
        return edited([=](QJsonObject& json) {
            json.insert("started_at", startedAt);
            json.insert("ended_at", endedAt);
        });
    };
    const QString family = QStringLiteral("\U0001F468\u200D\U0001F469\u200D\U0001F467");
    const QString persian = QStringLiteral("\u0645\u06CC\u200C\u062E\u0648\u0627\u0647\u0645");
    constexpr qint64 day = 86'400;
    struct Case {
        const char* name;
        std::string body;
        int status;
    };
    const Case cases[] = {
        { "a seat of 2^62 turns", first("analysis", "stats", "turns", qint64(1) << 62), 400 },
        { "a seat of more turns than segments", first("analysis", "stats", "turns", 5), 400 },
        { "a seat of as many", first("analysis", "stats", "turns", 4), 201 },
        { "speaker -1", first("transcript", "segments", "speaker", -1), 400 },
        { "speaker 7", first("transcript", "segments", "speaker", 7), 400 },
        { "speaker 2^62", first("transcript", "segments", "speaker", qint64(1) << 62), 400 },
        { "statistics of speaker 2", first("analysis", "stats", "speaker", 2), 400 },
        { "an annotation past the turns", finding("annotations", 4), 400 },
        { "on the last turn", finding("annotations", 3), 201 },
        { "a foul past the turns", finding("fouls", 4), 400 },
        { "a segment 5.5 s past the length", first("transcript", "segments", "end", 65.5), 400 },
        { "5 s", first("transcript", "segments", "end", 65), 201 },
        { "started in 1970's first second", times(0, now), 400 },
        { "ending in 9999", times(253'402'300'799 - 60, 253'402'300'799), 400 },
        { "ending a day after now", times(now + day - 60, now + day), 201 },
        { "and a second", times(now + day - 59, now + day + 1), 400 },
        { "ending a week after the start", times(now - 7 * day, now), 201 },
        { "and a second", times(now - 7 * day - 1, now), 400 },
        { "a fractional length", top("duration_seconds", 59.5), 400 },
        { "a segment of 20,001 units", first("transcript", "segments", "text", QString(20'001, u'w')), 400 },
        { "a segment with a line separator", first("transcript", "segments", "text", "a\u2028b"), 400 },
        { "a title with a paragraph separator", top("title", QStringLiteral("a\u2029b")), 400 },
        { "31 marks on a letter", top("title", u'a' + QString(31, QChar(0x0301))), 400 },
        { "30", top("title", u'a' + QString(30, QChar(0x0301))), 201 },
        { "half a pair in a title", top("title", "a<lone>b"), 400 },
        { "in a segment", first("transcript", "segments", "text", "<lone>."), 400 },
        { "a family of joined people", top("title", family.repeated(100)), 201 },
        { "a Persian word", first("transcript", "segments", "text", persian), 201 },
        { "a red heart", top("title", QStringLiteral("\u2764\uFE0F")), 201 },
        { "a zero-width space", top("title", QStringLiteral("a\u200Bb")), 400 },
    };
    int stored = 0;
    for (const Case& c : cases) {
        const HttpResponse reply = call(ada, "POST", "/v1/content/conversations", c.body);
        EXPECT_EQ(reply.status, c.status) << c.name << ' ' << reply.body;
        stored += reply.status == 201;
    }
    EXPECT_EQ(store->countRows("content_conversations", ada.device.accountID), stored);
    // Texts are kept as written: the joiners of a family and of a Persian word.
    QStringList titles;
    for (const QJsonValue& row : list(ada, "?limit=100").value("conversations").toArray())
        titles.append(row.toObject().value("title").toString());
    EXPECT_TRUE(titles.contains(family.repeated(100)));
}

// What an older server stored unchecked (a title of most of a megabyte with direction overrides,
// statistics whose turns counted below nothing) is listed within what the application uploads.
TEST_P(ConversationContentTest, ListedRowsAreBroughtWithinWhatTheApplicationUploads)
{
    const QUuid id = stored(ada);
    const QString hostile = QStringLiteral("\u202Elive\u0000 ").repeated(150'000);
    const QByteArray sealedTitle
        = settings.contentSeal->seal(ContentSeal::Field::title, id, ada.device.accountID, hostile.toUtf8());
    QSqlQuery query(QSqlDatabase::database(store->connectionName()));
    query.prepare(
        QStringLiteral("UPDATE content_conversations SET sealed_title = ?, turns = -3 WHERE id = ?"));
    query.addBindValue(sealedTitle);
    query.addBindValue(idText(id));
    ASSERT_TRUE(query.exec()) << query.lastError().text().toStdString();

    const QJsonObject row = list(ada).value("conversations").toArray().at(0).toObject();
    EXPECT_EQ(row.value("title").toString(), QStringLiteral("live  ").repeated(33) + QStringLiteral("li"));
    EXPECT_EQ(row.value("turns"), 0);
}

// What an older server stored of a device that sent what the application never does (2^62 turns
// a seat, speakers 7 and -1, an end in 9999 after a start in 1970, a segment past the length, a
// finding on no turn, a title broken by a line separator) is brought within the bounds once, at
// the upgrade: listed and read again as the application uploads; what was within stays as it was.
TEST_P(ConversationContentTest, UpgradingBringsStoredConversationsWithinTheBounds)
{
    link(bob, ada);
    ConversationUploadPayload hostile = payloadOf(QUuid::createUuid(), 253'402'300'799);
    hostile.startedAt = 1;
    hostile.title = QStringLiteral("Sunday\u2028night");
    hostile.transcript.segments[0].speaker = 7;
    hostile.transcript.segments[1].speaker = -1;
    hostile.transcript.segments[1].end = 100;
    for (SpeakerStats& seat : hostile.analysis->stats)
        seat.turns = qint64(1) << 62;
    hostile.analysis->annotations = { BehaviorAnnotation(9, 0, BehaviorCode::repair, 0.9, 1, 2) };
    const QByteArray body = *ConversationUploadCodec::encode(hostile);
    ASSERT_FALSE(ConversationUploadCodec::payload(body).has_value());
    ASSERT_EQ(ConversationContentStore(*store, *settings.contentSeal)
                  .add(ada.device.accountID, hostile, body, now, 1 << 20)
                  .outcome,
        ConversationContentStore::AddOutcome::added);
    const QUuid within = QUuid::createUuid();
    ASSERT_EQ(storeAs(ada, payloadOf(within, now - 50)).status, 201);
    const std::string withinBody = call(bob, "GET", idPath(within)).body;
    ASSERT_EQ(list(bob).value("conversations").toArray().at(0).toObject().value("turns").toInteger(),
        std::numeric_limits<qint64>::max());

    now += 100;
    upgradeFrom(ControlPlaneStore::boundsVersion);
    const QJsonArray rows = list(bob).value("conversations").toArray();
    ASSERT_EQ(rows.size(), 2);
    const QJsonObject row = rows.at(0).toObject();
    EXPECT_EQ(row.value("id"), uuidText(hostile.conversationID, UuidCase::lower));
    EXPECT_EQ(row.value("title"), "Sunday night");
    EXPECT_EQ(row.value("turns"), 8) << "four segments, each seat's turns";
    EXPECT_EQ(row.value("ended_at").toInteger(), now - 100) << "taken to end when it was stored";
    EXPECT_EQ(row.value("started_at").toInteger(), now - 160);
    const HttpResponse fetched = call(bob, "GET", idPath(hostile.conversationID));
    const auto content = ConversationUploadPayload::fromJson(bodyOf(fetched).value("content"));
    ASSERT_TRUE(content.has_value()) << fetched.body;
    EXPECT_EQ(content->transcript.segments.at(0).speaker, 1);
    EXPECT_EQ(content->transcript.segments.at(1), SpeakerTurn(1, 5, 65, "Yes"));
    EXPECT_TRUE(content->analysis->annotations.isEmpty());
    EXPECT_EQ(call(bob, "GET", idPath(within)).body, withinBody);
}

// Before an account's deletion ended its partnership, what it shared stayed in the partner's
// current history with its deletion requests on it, where a next partner could join it and
// approve them. The upgrade withdraws those requests and makes it the partner's earlier history:
// a partner still alone there starts anew, and where a next partner joined since, what was there
// before they came is the keeper's alone (whether the one deleted had made it or joined it).
TEST_P(ConversationContentTest, UpgradingEndsThePartnershipsOfDeletedAccounts)
{
    // The upgrade runs on the server's own clock: what it ends, it ends now.
    now = QDateTime::currentSecsSinceEpoch() - 3600;
    struct Departure {
        const char* name;
        Member leaving;
        Member keeper;
        bool leavingMadeIt;
        std::optional<Member> next;
        QUuid shared;
        QUuid requested;
    };
    QList<Departure> departures;
    departures.append({ "a keeper alone", bob, ada, false, std::nullopt, {}, {} });
    departures.append(
        { "the maker gone, a next partner", member("Dee"), member("Cy"), true, member("Eve"), {}, {} });
    departures.append(
        { "the joiner gone, a next partner", member("Gus"), member("Fay"), false, member("Hal"), {}, {} });
    for (Departure& d : departures) {
        SCOPED_TRACE(d.name);
        d.leavingMadeIt ? link(d.keeper, d.leaving) : link(d.leaving, d.keeper);
        const QString workspace = get(d.keeper, "/v1/pairing/state")
                                      .value("workspace")
                                      .toObject()
                                      .value("workspace_id")
                                      .toString();
        d.shared = stored(d.keeper);
        d.requested = stored(d.leaving);
        ASSERT_EQ(call(d.leaving, "POST", idPath(d.requested, "delete")).status, 200);
        now += 10;
        ASSERT_EQ(call(d.leaving, "POST", "/v1/account/delete").status, 200);
        // As an older server left it: the request stands, the keeper is still in the workspace.
        execute(QStringLiteral("UPDATE content_conversations SET deletion_requested_by = ?,"
                               " deletion_requested_at = ?, deletion_expires_at = ? WHERE id = ?"),
            { idText(d.leaving.device.accountID), now, now + 3600, idText(d.requested) });
        execute(QStringLiteral("DELETE FROM workspace_members WHERE account_id = ? AND left_at IS NULL"),
            { idText(d.keeper.device.accountID) });
        execute(QStringLiteral(
                    "UPDATE workspace_members SET left_at = NULL WHERE account_id = ? AND workspace_id = ?"),
            { idText(d.keeper.device.accountID), workspace });
        now += 10;
        if (d.next) {
            link(*d.next, d.keeper);
            ASSERT_EQ(idsOf(list(*d.next)).size(), 2);
        }
        now += 10;
    }
    now += 10;
    QList<QUuid> later;
    for (const Departure& d : departures)
        later.append(d.next ? stored(*d.next) : QUuid());

    upgradeFrom(ControlPlaneStore::departuresVersion);
    for (qsizetype at = 0; at < departures.size(); ++at) {
        const Departure& d = departures.at(at);
        SCOPED_TRACE(d.name);
        const QJsonArray rows = list(d.keeper).value("conversations").toArray();
        for (const QJsonValue& row : rows) {
            const QJsonObject conversation = row.toObject();
            EXPECT_FALSE(conversation.contains("pending_deletion"));
            const bool before = conversation.value("id") != uuidText(later.at(at), UuidCase::lower);
            EXPECT_EQ(conversation.value("workspace"), before ? "previous" : "current");
        }
        EXPECT_EQ(rows.size(), d.next ? 3 : 2);
        if (!d.next) {
            EXPECT_FALSE(
                get(d.keeper, "/v1/pairing/state").value("workspace").toObject().value("paired").toBool());
            continue;
        }
        EXPECT_EQ(idsOf(list(*d.next)), QStringList { uuidText(later.at(at), UuidCase::lower) });
        for (const QUuid& earlier : { d.shared, d.requested }) {
            EXPECT_EQ(call(*d.next, "GET", idPath(earlier)).status, 404);
            EXPECT_EQ(call(*d.next, "POST", idPath(earlier, "delete/approve")).status, 404);
        }
        EXPECT_TRUE(
            get(d.keeper, "/v1/pairing/state").value("workspace").toObject().value("paired").toBool());
    }
}

TEST_P(ConversationContentTest, PagesRunNewestFirstThroughAnOpaqueCursor)
{
    QStringList expected;
    const qint64 ends[] = { now - 500, now - 100, now - 300, now - 100, now - 200 };
    QList<QUuid> ids;
    for (qint64 end : ends) {
        now = end;
        ids.append(stored(ada));
    }
    // Equal end times: the larger id first.
    const auto [first, second] = std::minmax(ids[1], ids[3]);
    for (const QUuid& id : { second, first, ids[4], ids[2], ids[0] })
        expected.append(uuidText(id, UuidCase::lower));

    QStringList seen;
    std::string query = "?limit=2";
    for (int pageCount = 1;; ++pageCount) {
        const QJsonObject page = list(ada, query);
        seen += idsOf(page);
        ASSERT_LE(pageCount, 3);
        if (page.value("next_cursor").isNull()) {
            EXPECT_EQ(pageCount, 3);
            break;
        }
        query = "?limit=2&cursor=" + page.value("next_cursor").toString().toStdString();
    }
    EXPECT_EQ(seen, expected);

    EXPECT_EQ(idsOf(list(ada, "?limit=0")), expected.mid(0, 1));
    EXPECT_EQ(idsOf(list(ada, "?limit=-7")), expected.mid(0, 1));
    EXPECT_EQ(idsOf(list(ada, "?limit=250")), expected);
    EXPECT_EQ(idsOf(list(ada)), expected);
    EXPECT_EQ(idsOf(list(ada, "?limit=5&cursor=")), expected);
    EXPECT_TRUE(list(ada, "?limit=5").value("next_cursor").isNull());

    for (const std::string bad : { "?limit=ten", "?limit=2&cursor=zz*", "?cursor=bm9wZQ" })
        EXPECT_EQ(call(ada, "GET", "/v1/content/conversations" + bad).status, 400) << bad;
}

TEST_P(ConversationContentTest, HidingLeavesTheConversationOutOfThatMembersListOnly)
{
    link(bob, ada);
    const QUuid id = stored(ada);
    const QStringList both { uuidText(id, UuidCase::lower) };
    EXPECT_EQ(idsOf(list(bob)), both);

    EXPECT_EQ(call(bob, "POST", idPath(id, "hide")).body, R"({"ok":true})");
    EXPECT_EQ(call(bob, "POST", idPath(id, "hide")).status, 200);
    EXPECT_TRUE(idsOf(list(bob)).isEmpty());
    EXPECT_EQ(idsOf(list(ada)), both);
    EXPECT_EQ(call(bob, "GET", idPath(id)).status, 200);

    EXPECT_EQ(call(bob, "POST", idPath(id, "unhide")).status, 200);
    EXPECT_EQ(idsOf(list(bob)), both);

    const Member eve = member("Eve");
    EXPECT_EQ(call(eve, "POST", idPath(id, "hide")).status, 404);
    EXPECT_EQ(call(eve, "POST", "/v1/content/conversations/not-an-id/hide").status, 400);
}

TEST_P(ConversationContentTest, DeletionInAWorkspaceOfOneIsImmediate)
{
    const QUuid id = stored(ada);
    ASSERT_EQ(call(ada, "POST", idPath(id, "hide")).status, 200);
    const HttpResponse deleted = call(ada, "POST", idPath(id, "delete"));
    EXPECT_EQ(deleted.body, R"({"status":"deleted"})");
    EXPECT_EQ(store->countRows("content_conversations", ada.device.accountID), 0);
    EXPECT_EQ(call(ada, "GET", idPath(id)).status, 404);
    EXPECT_EQ(call(ada, "POST", idPath(id, "delete")).status, 404);
    // The id is free again.
    EXPECT_EQ(storeAs(ada, payloadOf(id, now)).status, 201);
}

TEST_P(ConversationContentTest, DeletingASharedConversationWaitsForThePartner)
{
    const qint64 lifetime = ControlPlaneServiceSettings {}.conversationDeletionLifetime;
    link(bob, ada);
    const QUuid id = stored(ada);
    const QJsonObject pending { { "status", "pending_approval" }, { "requested_by_me", true },
        { "requested_at", now }, { "expires_at", now + lifetime } };
    EXPECT_EQ(bodyOf(call(ada, "POST", idPath(id, "delete"))), pending);
    now += 10;
    EXPECT_EQ(bodyOf(call(ada, "POST", idPath(id, "delete"))), pending);

    const auto pendingOf = [&](const Member& who) {
        const QJsonObject row = list(who).value("conversations").toArray().at(0).toObject();
        return row.value("pending_deletion").toObject();
    };
    EXPECT_TRUE(pendingOf(ada).value("requested_by_me").toBool());
    EXPECT_FALSE(pendingOf(bob).value("requested_by_me").toBool());
    EXPECT_EQ(pendingOf(bob).value("expires_at").toInteger(), now - 10 + lifetime);

    EXPECT_EQ(
        bodyOf(call(ada, "POST", idPath(id, "delete/approve"))).value("error"), "deletion_requested_by_you");
    EXPECT_EQ(call(bob, "POST", idPath(id, "delete/decline")).status, 200);
    EXPECT_TRUE(pendingOf(ada).isEmpty());
    EXPECT_EQ(call(bob, "POST", idPath(id, "delete/approve")).status, 404);

    // A request that lapses is no longer there to approve.
    ASSERT_EQ(call(ada, "POST", idPath(id, "delete")).status, 200);
    now += lifetime;
    EXPECT_TRUE(pendingOf(bob).isEmpty());
    EXPECT_EQ(
        bodyOf(call(bob, "POST", idPath(id, "delete/approve"))).value("error"), "deletion_request_not_found");

    ASSERT_EQ(call(ada, "POST", idPath(id, "delete")).status, 200);
    EXPECT_EQ(call(bob, "POST", idPath(id, "delete/approve")).body, R"({"ok":true})");
    EXPECT_TRUE(idsOf(list(ada)).isEmpty());
    EXPECT_TRUE(idsOf(list(bob)).isEmpty());

    // When the partner asked first, the other's own request completes the deletion.
    const QUuid other = stored(bob);
    ASSERT_EQ(bodyOf(call(bob, "POST", idPath(other, "delete"))).value("status"), "pending_approval");
    EXPECT_EQ(bodyOf(call(ada, "POST", idPath(other, "delete"))).value("status"), "deleted");
}

TEST_P(ConversationContentTest, AWorkspaceLeftStaysReadableAsPreviousUpToTheMomentOfLeaving)
{
    link(bob, ada);
    const QUuid shared = stored(bob);
    now += 100;
    post(bob, "/v1/pairing/unlink");
    now += 1;
    const QUuid later = stored(ada);

    const QJsonArray rows = list(bob).value("conversations").toArray();
    ASSERT_EQ(rows.size(), 1);
    EXPECT_EQ(rows.at(0).toObject().value("id"), uuidText(shared, UuidCase::lower));
    EXPECT_EQ(rows.at(0).toObject().value("workspace"), "previous");
    EXPECT_EQ(call(bob, "GET", idPath(later)).status, 404);
    EXPECT_EQ(idsOf(list(ada)).size(), 2);
    // The pairing state counts what the shared workspace held.
    QList<qint64> counts;
    for (const QJsonValue& previous : get(bob, "/v1/pairing/state").value("previous_workspaces").toArray())
        counts.append(previous.toObject().value("conversation_count").toInteger());
    EXPECT_TRUE(counts.contains(1)) << counts.size();

    // Bob stores in a new workspace of his own; Ada still sees what he left behind.
    const QUuid alone = stored(bob);
    EXPECT_EQ(call(ada, "GET", idPath(alone)).status, 404);
    EXPECT_EQ(bodyOf(call(bob, "GET", idPath(alone))).value("conversation").toObject().value("workspace"),
        "current");
}

// Every feature's rows of the account go, its partner's stay, and its devices are locked out.
// What the two recorded together stays for the partner, sealed for them; what Ada recorded alone
// (before she joined Bob) goes.
TEST_P(ConversationContentTest, DeletingAnAccountRemovesEverythingOfItAndNothingElse)
{
    Member laptop = member("Ada");
    stored(ada);
    now += 10;
    link(ada, bob);
    const QUuid adas = stored(ada);
    const QUuid bobs = stored(bob);
    post(ada, idPath(bobs, "hide"));
    post(bob, idPath(adas, "hide"));
    for (const Member* who : { &ada, &bob }) {
        const QJsonValue session = post(*who, "/v1/sessions/draft").value("session_id");
        const QJsonValue reservation
            = post(*who, "/v1/sessions/reserve", { { "session_id", session }, { "requested_seconds", 60 } })
                  .value("reservation_id");
        post(*who, "/v1/providers/usage",
            { { "reservation_id", reservation }, { "operation", "live_transcription" }, { "model", "nova-3" },
                { "duration_seconds", 1 }, { "latency_ms", 1 }, { "status_code", 200 } });
        post(*who, "/v1/diagnostics", { { "event_type", "update_failed" }, { "status", "x" } });
        post(*who, "/v1/analytics/product",
            { { "event_id", QUuid::createUuid().toString(QUuid::WithoutBraces) },
                { "event_type", "app_opened" }, { "app_version", "1.0" }, { "occurred_at", now } });
        EXPECT_EQ(codeOf(call(*who, "POST", "/v1/pairing/invites/redeem",
                      testing::json({ { "code", "0000-0000-0000" } }))),
            "404 pairing_invite_not_found");
    }

    EXPECT_EQ(call(ada, "POST", "/v1/account/delete").body, R"({"ok":true})");
    for (const char* table : { "accounts", "devices", "conversation_sessions", "diagnostics",
             "product_events", "usage_reservations", "usage_reports", "pairing_invites",
             "pairing_redeem_failures", "workspace_members", "content_conversations", "content_hidden" })
        EXPECT_EQ(store->countRows(table, ada.device.accountID), 0) << table;
    for (const char* table : { "accounts", "devices", "conversation_sessions", "diagnostics",
             "product_events", "usage_reservations", "usage_reports", "pairing_redeem_failures",
             "workspace_members", "content_conversations" })
        EXPECT_GT(store->countRows(table, bob.device.accountID), 0) << table;
    // The shared conversation Ada recorded is Bob's now, still hidden from his view as he chose.
    EXPECT_EQ(store->countRows("content_conversations", bob.device.accountID), 2);
    EXPECT_EQ(store->countRows("content_hidden", bob.device.accountID), 1);
    EXPECT_EQ(idsOf(list(bob)), QStringList { uuidText(bobs, UuidCase::lower) });
    EXPECT_EQ(call(bob, "GET", idPath(adas)).status, 200);
    post(bob, idPath(adas, "unhide"));
    EXPECT_EQ(idsOf(list(bob)).size(), 2);
    for (const Member* device : { &ada, &laptop })
        EXPECT_EQ(codeOf(call(*device, "GET", "/v1/account/state")), "401 unknown_device");

    // The partner goes on alone, free to pair again.
    const QJsonObject workspace = get(bob, "/v1/pairing/state").value("workspace").toObject();
    EXPECT_FALSE(workspace.value("paired").toBool());
    EXPECT_EQ(workspace.value("member_count"), 1);
    post(bob, "/v1/pairing/invites", { { "policy_version", testing::pairingPolicy } });
    // Signing in again under the same name makes a new account.
    EXPECT_NE(signIn(ada.identity, "Ada").accountID, ada.device.accountID);
}

// After an unlink each keeps what they recorded together: a deleted account takes only what it
// recorded alone since, and the partner's earlier history is then theirs alone to delete.
TEST_P(ConversationContentTest, AnAccountDeletedAfterAnUnlinkLeavesThePartnerTheirEarlierHistory)
{
    link(bob, ada);
    const QUuid together = stored(ada);
    now += 100;
    post(ada, "/v1/pairing/unlink");
    now += 1;
    const QUuid alone = stored(ada);

    EXPECT_EQ(call(ada, "POST", "/v1/account/delete").body, R"({"ok":true})");
    const QJsonArray rows = list(bob).value("conversations").toArray();
    ASSERT_EQ(rows.size(), 1);
    EXPECT_EQ(rows.at(0).toObject().value("id"), uuidText(together, UuidCase::lower));
    EXPECT_EQ(rows.at(0).toObject().value("workspace"), "previous");
    EXPECT_EQ(bodyOf(call(bob, "GET", idPath(together))).value("content").toObject().value("conversation_id"),
        uuidText(together, UuidCase::lower));
    EXPECT_EQ(store->countRows("content_conversations", ada.device.accountID), 0);
    EXPECT_EQ(store->countRows("content_conversations", bob.device.accountID), 1) << "the later one went";
    EXPECT_EQ(call(bob, "GET", idPath(alone)).status, 404);
    EXPECT_EQ(bodyOf(call(bob, "POST", idPath(together, "delete"))).value("status"), "deleted");
}

TEST_P(ConversationContentTest, UnsignedAndMisroutedRequestsAreRefused)
{
    EXPECT_EQ(send("GET", "/v1/content/conversations").status, 401);
    EXPECT_EQ(send("POST", idPath(QUuid::createUuid(), "hide")).status, 401);
    EXPECT_EQ(call(ada, "DELETE", idPath(QUuid::createUuid())).status, 405);
    EXPECT_EQ(call(ada, "GET", idPath(QUuid::createUuid())).status, 404);
    EXPECT_EQ(call(ada, "GET",
                  "/v1/content/conversations/{"
                      + QUuid::createUuid().toString(QUuid::WithoutBraces).toStdString() + "}")
                  .status,
        400);
}

} // namespace
} // namespace lumora
