#include "ProcessCalls.hpp"
#include "controlplane/ControlPlaneStore.hpp"
#include "controlplane/SignInStartStore.hpp"

#include <QDeadlineTimer>
#include <QSqlQuery>
#include <QThread>
#include <map>

namespace lumora {
namespace {

using testing::Backend;
using testing::codeOf;

QString freshKey()
{
    return DeviceIdentity(*P256PrivateKey::generate()).publicKeyBase64URL();
}

QString freshState()
{
    return QUuid::createUuid().toString(QUuid::Id128);
}

// A sign-in start for `key` with `state` as bytes on the wire, asking the server to close the
// connection after it.
QByteArray startBytes(const QString& key, const QString& state = freshState())
{
    const QByteArray body = QJsonDocument(
        QJsonObject { { "device_public_key", key }, { "platform", "linux" },
            { "state",
                state } }).toJson(QJsonDocument::Compact);
    return "POST /v1/auth/apple/web/start HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: application/json\r\n"
           "Connection: close\r\nContent-Length: "
        + QByteArray::number(body.size()) + "\r\n\r\n" + body;
}

// A whole reply as the wire carried it: its status, headers and body.
testing::TestReply replyOf(const QByteArray& reply)
{
    testing::TestReply answer;
    const qsizetype headEnd = reply.indexOf("\r\n\r\n");
    answer.status = reply.mid(9, 3).toInt();
    for (const QByteArray& line : reply.left(headEnd).split('\n').mid(1))
        if (const qsizetype colon = line.indexOf(':'); colon > 0)
            answer.headers.append({ line.left(colon).trimmed(), line.mid(colon + 1).trimmed() });
    answer.body = reply.mid(headEnd + 4);
    return answer;
}

// A sign-in start for `key` over a connection of its own from `source`, an address of the
// loopback network.
testing::TestReply startFrom(const testing::ControlPlaneProcess& server, const std::string& source,
    const QString& key, const QString& state = freshState())
{
    testing::SentRequest start(server.baseUrl(), startBytes(key, state), source.c_str());
    return start.sent() ? replyOf(start.reply()) : testing::TestReply {};
}

// The development page a start's answer leads to.
QUrl pageOf(const testing::TestReply& started)
{
    return QUrl(QJsonDocument::fromJson(started.body).object().value("authorization_url").toString());
}

// Makes every sign-in request stored at `url` `seconds` older, as if that much time had passed.
void ageRequests(const QString& url, qint64 seconds)
{
    auto store = ControlPlaneStore::open(url);
    ASSERT_TRUE(store.has_value());
    QSqlQuery query(QSqlDatabase::database((*store)->connectionName()));
    ASSERT_TRUE(
        query.exec(QStringLiteral("UPDATE sign_in_requests SET created_at = created_at - %1").arg(seconds)));
}

// The sign-in requests stored at `url`.
int storedRequests(const QString& url)
{
    auto store = ControlPlaneStore::open(url);
    EXPECT_TRUE(store.has_value());
    if (!store)
        return -1;
    QSqlQuery count(QSqlDatabase::database((*store)->connectionName()));
    EXPECT_TRUE(count.exec("SELECT COUNT(*) FROM sign_in_requests") && count.next());
    return count.value(0).toInt();
}

// Holds, on a connection of its own for as long as it lives, what a sign-in start from `network`
// waits for while another start takes its turn, as another instance's start would: on PostgreSQL
// the lock of that network's starts, on SQLite the database's write lock.
class HeldStarts {
public:
    HeldStarts(const QString& url, testing::Backend backend, const QString& network)
        : m_store(ControlPlaneStore::open(url).value_or(nullptr))
        , m_sqlite(backend == testing::Backend::sqlite)
    {
        if (!m_store)
            return;
        QSqlQuery hold(QSqlDatabase::database(m_store->connectionName()));
        m_held = hold.exec(m_sqlite
                ? QStringLiteral("BEGIN IMMEDIATE")
                : QStringLiteral("SELECT pg_advisory_lock(%1)").arg(SignInStartStore::networkLock(network)));
    }
    ~HeldStarts()
    {
        if (!m_held)
            return;
        QSqlQuery release(QSqlDatabase::database(m_store->connectionName()));
        release.exec(
            m_sqlite ? QStringLiteral("ROLLBACK") : QStringLiteral("SELECT pg_advisory_unlock_all()"));
    }
    HeldStarts(const HeldStarts&) = delete;
    HeldStarts& operator=(const HeldStarts&) = delete;

    [[nodiscard]] bool held() const { return m_held; }

private:
    std::unique_ptr<ControlPlaneStore> m_store;
    bool m_sqlite;
    bool m_held = false;
};

// The status line and Retry-After of a reply that has begun within `milliseconds`, or what says
// that none came.
std::string answerWithin(testing::SentRequest& request, int milliseconds = 15000)
{
    if (!request.answered(milliseconds))
        return "none within " + std::to_string(milliseconds) + " ms";
    const testing::TestReply reply = replyOf(request.reply());
    const QByteArray wait = reply.header("Retry-After");
    return codeOf(reply) + (wait.isEmpty() ? "" : " after " + wait.toStdString());
}

using SignInStarts = testing::ProcessOnEveryBackend;

// Anyone may start a sign-in: four keep-alive connections from one address stored some 560 a
// second once. Starts are rated by client address and by its network (past which an address
// without a start in the minute still starts one, up to twice the rate), and the requests open
// at once (neither completed nor lapsed) are capped for one device key and in all; what a
// refused start asked for is not stored. Requests that lead nowhere any more are found for their
// clean-up through an index on their time.
TEST_P(SignInStarts, AreRatedPerAddressAndNetworkAndOpenOnesCappedPerKeyAndInAll)
{
    // The limits a server starts with (the tests' servers are given none unless they ask).
    ASSERT_EQ(server->stop(), 0);
    startServer({ "--sign-in-rate-per-address", "10" });
    ASSERT_TRUE(server->started());
    // Twenty starts from one address, four connections at a time: ten a minute are taken.
    std::map<std::string, int> codes;
    for (int round = 0; round < 5; ++round) {
        QList<testing::TestRequest> requests;
        for (int i = 0; i < 4; ++i)
            requests.append(testing::signInStart(*server, freshKey(), freshState()));
        for (const testing::TestReply& reply : testing::sendTogether(requests)) {
            ++codes[codeOf(reply)];
            if (reply.status == 429) {
                // When the first of the minute's ten leaves it.
                const int wait = reply.header("Retry-After").toInt();
                EXPECT_TRUE(wait >= 1 && wait <= 60) << wait;
            }
        }
    }
    EXPECT_EQ(codes, (std::map<std::string, int> { { "200 ", 10 }, { "429 too_many_sign_ins", 10 } }));
    const auto stored = [&] {
        auto store = ControlPlaneStore::open(database.url());
        EXPECT_TRUE(store.has_value());
        QSqlQuery count(QSqlDatabase::database((*store)->connectionName()));
        EXPECT_TRUE(count.exec("SELECT COUNT(*) FROM sign_in_requests") && count.next());
        const int rows = count.value(0).toInt();
        std::optional<QString> plan;
        if (GetParam() == Backend::sqlite
            && count.exec(
                "EXPLAIN QUERY PLAN DELETE FROM sign_in_requests WHERE created_at <= 1 AND (redeemed_at"
                " IS NOT NULL OR superseded_at IS NOT NULL OR ticket_issued_at < 1 OR"
                " (ticket_issued_at IS NULL AND created_at < 1))")
            && count.next())
            plan = count.value(3).toString();
        return std::pair(rows, plan);
    };
    const auto [rows, cleanUp] = stored();
    EXPECT_EQ(rows, 10);
    if (cleanUp) {
        EXPECT_TRUE(cleanUp->contains(u"USING INDEX sign_in_requests_by_time")) << cleanUp->toStdString();
    }

    // Lower limits, over the ten requests still open, from other networks of the loopback range.
    ASSERT_EQ(server->stop(), 0);
    startServer({ "--sign-in-rate-per-address", "2", "--sign-in-rate-per-network", "3",
        "--open-sign-ins-per-key", "2", "--open-sign-ins", "16" });
    ASSERT_TRUE(server->started());
    const auto start = [&](const char* source, const QString& key = freshKey()) {
        return codeOf(startFrom(*server, source, key));
    };
    EXPECT_EQ(start("127.0.1.1"), "200 ");
    EXPECT_EQ(start("127.0.1.1"), "200 ");
    EXPECT_EQ(start("127.0.1.1"), "429 too_many_sign_ins") << "a third from one address";
    EXPECT_EQ(start("127.0.1.2"), "200 ");
    EXPECT_EQ(start("127.0.1.2"), "429 too_many_sign_ins") << "a fourth from one network";
    for (const char* newcomer : { "127.0.1.3", "127.0.1.4", "127.0.1.5" })
        EXPECT_EQ(start(newcomer), "200 ") << "the first in a minute from " << newcomer;
    EXPECT_EQ(start("127.0.1.6"), "429 too_many_sign_ins") << "twice the network's rate";
    const QString key = freshKey();
    EXPECT_EQ(start("127.0.2.1", key), "200 ") << "a seventeenth open in all, from a network of its own";
    EXPECT_EQ(start("127.0.3.1", key), "200 ");
    EXPECT_EQ(start("127.0.4.1", key), "200 ") << "a third for one key supersedes its oldest";
    EXPECT_EQ(start("127.0.5.1"), "200 ");
    EXPECT_EQ(start("127.0.0.1"), "429 too_many_sign_ins") << "an address holding ten past the bound in all";
    EXPECT_EQ(start("127.0.0.2"), "429 too_many_sign_ins") << "its network started ten in the minute";
    EXPECT_EQ(stored().first, 20);
}

// What one network may hold open is a share of its own, and once the bound in all is reached a
// network holds no more than one device key may: however many networks a crowd starts from, a
// start from any other network passes. (The defaults but for a bound in all of 100.)
TEST_P(SignInStarts, OneNetworkHoldsItsShareAndNoCrowdOfNetworksKeepsANewcomerOut)
{
    ASSERT_EQ(server->stop(), 0);
    startServer({ "--sign-in-rate-per-address", "1000", "--sign-in-rate-per-network", "1000",
        "--open-sign-ins", "100" });
    ASSERT_TRUE(server->started());
    // How many of `count` starts from the network 127.0.`network`.0/24 pass, each with a key of
    // its own, from `addresses` addresses in turn.
    const auto passing = [&](int network, int count, int addresses = 6) {
        int passed = 0;
        for (int i = 0; i < count; ++i)
            passed += startFrom(*server,
                          "127.0." + std::to_string(network) + "." + std::to_string(1 + i % addresses),
                          freshKey())
                          .status
                == 200;
        return passed;
    };
    EXPECT_EQ(passing(31, 61), 60) << "a network holds its share of 60";
    const testing::TestReply full = startFrom(*server, "127.0.31.1", freshKey());
    EXPECT_EQ(codeOf(full), "429 too_many_sign_ins");
    EXPECT_GT(full.header("Retry-After").toInt(), 540) << "an address holding its part, until it lapses";
    EXPECT_EQ(passing(32, 41), 40) << "a second network brings the open ones to the bound in all";
    for (int newcomer = 33; newcomer < 37; ++newcomer)
        EXPECT_EQ(passing(newcomer, 6, 1), 5)
            << "a network of its own past the bound in all holds one key's five";
    EXPECT_EQ(passing(31, 1) + passing(32, 1), 0);
}

// A person who gives up on the browser page and starts again is never refused for the attempts
// left behind: a start with a device key supersedes the key's oldest open request, whose page
// then leads nowhere, and only a start naming that key does. A refusal says when the same start
// passes: once the stored requests have aged that long, and not half a minute before.
TEST_P(SignInStarts, AStartSupersedesItsKeysOldestAndEveryRefusalTellsTrulyWhenToRetry)
{
    ASSERT_EQ(server->stop(), 0);
    startServer({ "--sign-in-rate-per-address", "10" });
    ASSERT_TRUE(server->started());
    const QString key = freshKey();
    QList<QUrl> pages;
    for (int attempt = 1; attempt <= 7; ++attempt) {
        const testing::TestReply started = startFrom(*server, "127.0.41.1", key);
        EXPECT_EQ(codeOf(started), "200 ") << "start " << attempt << " with one key";
        pages.append(pageOf(started));
    }
    // Strangers' starts with keys of their own, from the same address, supersede none of these.
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(codeOf(startFrom(*server, "127.0.41.1", freshKey())), "200 ");
    // (Starts of one second have no order among themselves: which two of the first six made way
    // is not told.)
    QList<QUrl> superseded;
    for (const QUrl& page : pages)
        if (testing::send({ "GET", page, {}, {} }).status == 404)
            superseded.append(page);
    EXPECT_EQ(superseded.size(), 2) << "the key keeps five";
    EXPECT_FALSE(superseded.contains(pages.last()));
    const testing::TestReply completed = testing::send({ "POST", testing::endpoint(*server, "/dev/sign-in"),
        "request=" + QUrlQuery(superseded.value(0)).queryItemValue("request").toLatin1() + "&name=Kim",
        { { "Content-Type", "application/x-www-form-urlencoded" } } });
    EXPECT_EQ(codeOf(completed), "404 sign_in_request_not_found") << "a superseded request signs nobody in";

    // The address's eleventh start in a minute waits for its first to leave the minute.
    const testing::TestReply rated = startFrom(*server, "127.0.41.1", freshKey());
    EXPECT_EQ(codeOf(rated), "429 too_many_sign_ins");
    const int rateWait = rated.header("Retry-After").toInt();
    EXPECT_TRUE(rateWait >= 1 && rateWait <= 60) << rateWait;
    // (A server counts the starts it took itself as well: a new one knows only the database.)
    ASSERT_EQ(server->stop(), 0);
    ageRequests(database.url(), rateWait);
    startServer({ "--sign-in-rate-per-address", "10" });
    ASSERT_TRUE(server->started());
    EXPECT_EQ(codeOf(startFrom(*server, "127.0.41.1", freshKey())), "200 ") << "after " << rateWait << " s";

    // Past a bound in all of three, the address holding its part of the crowded network waits for
    // its requests to lapse: minutes.
    ASSERT_EQ(server->stop(), 0);
    startServer({ "--sign-in-rate-per-address", "10", "--open-sign-ins", "3" });
    ASSERT_TRUE(server->started());
    const testing::TestReply bounded = startFrom(*server, "127.0.41.1", freshKey());
    EXPECT_EQ(codeOf(bounded), "429 too_many_sign_ins");
    const int openWait = bounded.header("Retry-After").toInt();
    EXPECT_GT(openWait, 60) << "not a minute: its open requests lapse after ten";
    ageRequests(database.url(), openWait - 30);
    EXPECT_EQ(codeOf(startFrom(*server, "127.0.41.1", freshKey())), "429 too_many_sign_ins")
        << "half a minute before";
    ageRequests(database.url(), 30);
    EXPECT_EQ(codeOf(startFrom(*server, "127.0.41.1", freshKey())), "200 ") << "after " << openWait << " s";
}

// A start that the rates refuse is answered from what this process has taken, without the
// database; the database's work for the others never holds a thread that serves requests, and
// the starts of a network wait for their own turn only. While another instance holds a
// network's starts (on SQLite, while another connection writes), the rates' refusals of that
// network, the reads of any call, and on PostgreSQL a signed call and another network's start,
// are answered; the network's starts are taken once it is their turn.
TEST_P(SignInStarts, RefusedStartsAndOtherCallsAreAnsweredWhileStartsWaitForTheDatabase)
{
    ASSERT_EQ(server->stop(), 0);
    startServer({ "--sign-in-rate-per-address", "10" });
    ASSERT_TRUE(server->started());
    testing::Partner device;
    device.device = testing::signInOver(*server, device.identity, "Ada");
    ASSERT_FALSE(device.device.isNull());
    // An address of the network 127.0.61.0/24 takes its minute's ten.
    QList<QUrl> pages;
    for (int i = 0; i < 10; ++i) {
        const testing::TestReply started = startFrom(*server, "127.0.61.1", freshKey());
        EXPECT_EQ(codeOf(started), "200 ");
        pages.append(pageOf(started));
    }
    std::vector<std::unique_ptr<testing::SentRequest>> waiting;
    {
        const HeldStarts held(database.url(), GetParam(), QStringLiteral("127.0.61.0/24"));
        ASSERT_TRUE(held.held());
        // More than the server has threads wait for their turn, each from an address of its own.
        for (int i = 2; i < 26; ++i)
            waiting.push_back(std::make_unique<testing::SentRequest>(
                server->baseUrl(), startBytes(freshKey()), ("127.0.61." + std::to_string(i)).c_str()));
        testing::SentRequest refused(server->baseUrl(), startBytes(freshKey()), "127.0.61.1");
        const std::string refusal = answerWithin(refused);
        EXPECT_TRUE(refusal.starts_with("429 too_many_sign_ins after ")) << refusal;
        const int wait = QByteArray::fromStdString(refusal.substr(refusal.rfind(' ') + 1)).toInt();
        EXPECT_TRUE(wait >= 1 && wait <= 60) << "when the address's first start leaves the minute: " << wait;
        testing::SentRequest page(server->baseUrl(),
            "GET " + pages.first().toString(QUrl::RemoveScheme | QUrl::RemoveAuthority).toLatin1()
                + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n");
        EXPECT_EQ(answerWithin(page), "200 ") << "a sign-in page, read";
        if (GetParam() == testing::Backend::postgresql) {
            testing::SentRequest state(server->baseUrl(),
                testing::signedRequest(device.identity, device.device, "GET", "/v1/account/state", {}));
            EXPECT_EQ(answerWithin(state), "200 ") << "a proven device's signed call";
            testing::SentRequest other(server->baseUrl(), startBytes(freshKey()), "127.0.62.1");
            EXPECT_EQ(answerWithin(other), "200 ") << "another network's start";
        }
    }
    // Once the turn is theirs, the network's starts are decided (on SQLite, those that waited
    // longer than its patience for the write lock found the database unavailable).
    for (const auto& start : waiting) {
        const std::string answer = answerWithin(*start, 60000);
        if (GetParam() == testing::Backend::sqlite && answer == "503 storage_unavailable")
            continue;
        EXPECT_EQ(answer, "200 ");
    }
}

// Within a network, open sign-ins are shared by address as the network's are among networks: an
// address holding less than its part (as many as one key may hold) is taken, at the cost of the
// oldest open request of the address holding most, and an address that started none in the last
// minute passes the network's rate. Neighbours that take a /24's rate and share keep no other
// address of it out for more than a minute.
TEST_P(SignInStarts, ANeighbourKeepsNoOtherAddressOfItsNetworkFromStarting)
{
    ASSERT_EQ(server->stop(), 0);
    const QStringList defaults { "--sign-in-rate-per-address", "10" };
    startServer(defaults);
    ASSERT_TRUE(server->started());
    // Six neighbours take ten each: the network's rate and its share of 60 open sign-ins.
    QList<QUrl> pages;
    for (int neighbour = 1; neighbour <= 6; ++neighbour)
        for (int i = 0; i < 10; ++i) {
            const testing::TestReply started
                = startFrom(*server, "127.0.71." + std::to_string(neighbour), freshKey());
            EXPECT_EQ(codeOf(started), "200 ");
            pages.append(pageOf(started));
        }
    const testing::TestReply victim = startFrom(*server, "127.0.71.200", freshKey());
    EXPECT_EQ(codeOf(victim), "200 ") << "beside neighbours holding their network's rate and share";
    int superseded = 0;
    for (const QUrl& page : pages)
        superseded += testing::send({ "GET", page, {}, {} }).status == 404;
    EXPECT_EQ(superseded, victim.status == 200 ? 1 : 0) << "the oldest of one neighbour made way";
    const testing::TestReply again = startFrom(*server, "127.0.71.200", freshKey());
    EXPECT_EQ(codeOf(again), "429 too_many_sign_ins") << "a second start in the network's full minute";
    const int wait = again.header("Retry-After").toInt();
    EXPECT_TRUE(wait >= 1 && wait <= 60) << wait;
    const testing::TestReply held = startFrom(*server, "127.0.71.1", freshKey());
    EXPECT_EQ(codeOf(held), "429 too_many_sign_ins");
    EXPECT_GT(held.header("Retry-After").toInt(), 540) << "not when its minute ends: its part lapses later";

    // A minute later the neighbours, each holding its part, wait for their own requests to lapse,
    // and the victim is taken again.
    ASSERT_EQ(server->stop(), 0);
    ageRequests(database.url(), 60);
    startServer(defaults);
    ASSERT_TRUE(server->started());
    const testing::TestReply neighbour = startFrom(*server, "127.0.71.1", freshKey());
    EXPECT_EQ(codeOf(neighbour), "429 too_many_sign_ins");
    EXPECT_GT(neighbour.header("Retry-After").toInt(), 60) << "until its own requests lapse";
    EXPECT_EQ(codeOf(startFrom(*server, "127.0.71.200", freshKey())), "200 ");
}

// A sign-in request is kept while it can still lead somewhere and while the rates count it (a
// minute), not for a day: one key started again and again from a network, which supersedes its
// own requests and is never refused by the open bounds, keeps no more rows than it holds open.
// A request whose ticket can still be redeemed keeps its state from any other attempt.
TEST_P(SignInStarts, RowsKeptStayWithinABoundOfTheOpenRequests)
{
    ASSERT_EQ(server->stop(), 0);
    const QStringList rates { "--sign-in-rate-per-address", "1000", "--sign-in-rate-per-network", "1000" };
    startServer(rates);
    ASSERT_TRUE(server->started());
    const QString key = freshKey();
    for (int i = 0; i < 40; ++i)
        EXPECT_EQ(codeOf(startFrom(*server, "127.0.81.1", key)), "200 ");
    const DeviceIdentity own(*P256PrivateKey::generate());
    const QString ownState = freshState();
    const testing::SignInCallback ticket
        = testing::ticketOver(*server, own.publicKeyBase64URL(), "Ada", ownState);
    ASSERT_FALSE(ticket.ticket.isEmpty());
    EXPECT_EQ(storedRequests(database.url()), 41) << "the rates count what the last minute started";

    // Eleven minutes on, what can no longer lead anywhere is gone; the request whose ticket was
    // issued a moment ago stays, and so does its state.
    ASSERT_EQ(server->stop(), 0);
    ageRequests(database.url(), 11 * 60);
    startServer(rates);
    ASSERT_TRUE(server->started());
    EXPECT_EQ(codeOf(startFrom(*server, "127.0.81.1", key)), "200 ");
    int rows = storedRequests(database.url());
    for (QDeadlineTimer patience(60000); rows > 2 && !patience.hasExpired();
         rows = storedRequests(database.url()))
        QThread::msleep(50);
    EXPECT_EQ(rows, 2) << "the open request and the one whose ticket can be redeemed";
    EXPECT_EQ(codeOf(startFrom(*server, "127.0.81.2", freshKey(), ownState)), "409 state_in_use");
    EXPECT_EQ(testing::send(testing::redemption(*server, ticket, &own)).status, 200);
}

LUMORA_ON_EVERY_BACKEND(SignInStarts);

} // namespace
} // namespace lumora
