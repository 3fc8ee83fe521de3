#include "ProcessCalls.hpp"
#include "controlplane/ControlPlaneStore.hpp"

#include <QSqlQuery>
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

// A sign-in start for `key` over a connection of its own from `source`, an address of the
// loopback network.
testing::TestReply startFrom(
    const testing::ControlPlaneProcess& server, const std::string& source, const QString& key)
{
    const QByteArray body = QJsonDocument(
        QJsonObject { { "device_public_key", key }, { "platform", "linux" }, { "state", freshState() } })
                                .toJson(QJsonDocument::Compact);
    testing::TestReply answer;
    const int socket = testing::connectTo(server.baseUrl(), source.c_str());
    if (socket < 0)
        return answer;
    testing::sendAll(socket,
        "POST /v1/auth/apple/web/start HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: application/json\r\n"
        "Connection: close\r\nContent-Length: "
            + QByteArray::number(body.size()) + "\r\n\r\n" + body);
    QByteArray reply;
    char buffer[4096];
    for (ssize_t got = 0; (got = ::recv(socket, buffer, sizeof buffer, 0)) > 0;)
        reply.append(buffer, got);
    ::close(socket);
    const qsizetype headEnd = reply.indexOf("\r\n\r\n");
    answer.status = reply.mid(9, 3).toInt();
    for (const QByteArray& line : reply.left(headEnd).split('\n').mid(1))
        if (const qsizetype colon = line.indexOf(':'); colon > 0)
            answer.headers.append({ line.left(colon).trimmed(), line.mid(colon + 1).trimmed() });
    answer.body = reply.mid(headEnd + 4);
    return answer;
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

using SignInStarts = testing::ProcessOnEveryBackend;

// Anyone may start a sign-in, and each start is kept for a day: four keep-alive connections
// from one address stored some 560 a second. Starts are rated by client address and by its
// network, and the requests open at once (neither completed nor lapsed) are capped for one
// device key and in all; what a refused start asked for is not stored. Lapsed requests are
// found for their clean-up through an index on their time.
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
            && count.exec("EXPLAIN QUERY PLAN DELETE FROM sign_in_requests"
                          " WHERE created_at < 1")
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
    EXPECT_EQ(start("127.0.1.3"), "429 too_many_sign_ins") << "a fourth from one network";
    const QString key = freshKey();
    EXPECT_EQ(start("127.0.2.1", key), "200 ");
    EXPECT_EQ(start("127.0.3.1", key), "200 ");
    EXPECT_EQ(start("127.0.4.1", key), "200 ") << "a third for one key supersedes its oldest";
    EXPECT_EQ(start("127.0.5.1"), "200 ");
    EXPECT_EQ(start("127.0.6.1"), "200 ") << "a sixteenth open in all, from a network of its own";
    EXPECT_EQ(start("127.0.0.2"), "429 too_many_sign_ins") << "a network holding ten past the bound in all";
    EXPECT_EQ(stored().first, 18);
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
    // its own, from six addresses in turn.
    const auto passing = [&](int network, int count) {
        int passed = 0;
        for (int i = 0; i < count; ++i)
            passed += startFrom(*server, "127.0." + std::to_string(network) + "." + std::to_string(1 + i % 6),
                          freshKey())
                          .status
                == 200;
        return passed;
    };
    EXPECT_EQ(passing(31, 61), 60) << "a network holds its share of 60";
    const testing::TestReply full = startFrom(*server, "127.0.31.7", freshKey());
    EXPECT_EQ(codeOf(full), "429 too_many_sign_ins");
    EXPECT_GT(full.header("Retry-After").toInt(), 540) << "its share frees when its oldest request lapses";
    EXPECT_EQ(passing(32, 41), 40) << "a second network brings the open ones to the bound in all";
    for (int newcomer = 33; newcomer < 37; ++newcomer)
        EXPECT_EQ(passing(newcomer, 6), 5)
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
    ageRequests(database.url(), rateWait);
    EXPECT_EQ(codeOf(startFrom(*server, "127.0.41.1", freshKey())), "200 ") << "after " << rateWait << " s";

    // Past a bound in all of three, the crowded network waits for its requests to lapse: minutes.
    ASSERT_EQ(server->stop(), 0);
    startServer({ "--sign-in-rate-per-address", "10", "--open-sign-ins", "3" });
    ASSERT_TRUE(server->started());
    const testing::TestReply bounded = startFrom(*server, "127.0.41.2", freshKey());
    EXPECT_EQ(codeOf(bounded), "429 too_many_sign_ins");
    const int openWait = bounded.header("Retry-After").toInt();
    EXPECT_GT(openWait, 60) << "not a minute: its open requests lapse after ten";
    ageRequests(database.url(), openWait - 30);
    EXPECT_EQ(codeOf(startFrom(*server, "127.0.41.2", freshKey())), "429 too_many_sign_ins")
        << "half a minute before";
    ageRequests(database.url(), 30);
    EXPECT_EQ(codeOf(startFrom(*server, "127.0.41.2", freshKey())), "200 ") << "after " << openWait << " s";
}

LUMORA_ON_EVERY_BACKEND(SignInStarts);

} // namespace
} // namespace lumora
