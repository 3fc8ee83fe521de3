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
// loopback network: its status and error code.
std::string startFrom(const testing::ControlPlaneProcess& server, const char* source, const QString& key)
{
    const QByteArray body = QJsonDocument(
        QJsonObject { { "device_public_key", key }, { "platform", "linux" }, { "state", freshState() } })
                                .toJson(QJsonDocument::Compact);
    const int socket = testing::connectTo(server.baseUrl(), source);
    if (socket < 0)
        return "no connection";
    testing::sendAll(socket,
        "POST /v1/auth/apple/web/start HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: application/json\r\n"
        "Connection: close\r\nContent-Length: "
            + QByteArray::number(body.size()) + "\r\n\r\n" + body);
    QByteArray reply;
    char buffer[4096];
    for (ssize_t got = 0; (got = ::recv(socket, buffer, sizeof buffer, 0)) > 0;)
        reply.append(buffer, got);
    ::close(socket);
    testing::TestReply answer;
    answer.status = reply.mid(9, 3).toInt();
    answer.body = reply.mid(reply.indexOf("\r\n\r\n") + 4);
    return codeOf(answer);
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
                EXPECT_EQ(reply.header("Retry-After"), "60");
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
        return startFrom(*server, source, key);
    };
    EXPECT_EQ(start("127.0.1.1"), "200 ");
    EXPECT_EQ(start("127.0.1.1"), "200 ");
    EXPECT_EQ(start("127.0.1.1"), "429 too_many_sign_ins") << "a third from one address";
    EXPECT_EQ(start("127.0.1.2"), "200 ");
    EXPECT_EQ(start("127.0.1.3"), "429 too_many_sign_ins") << "a fourth from one network";
    const QString key = freshKey();
    EXPECT_EQ(start("127.0.2.1", key), "200 ");
    EXPECT_EQ(start("127.0.3.1", key), "200 ");
    EXPECT_EQ(start("127.0.4.1", key), "429 too_many_sign_ins") << "a third open for one key";
    EXPECT_EQ(start("127.0.5.1"), "200 ");
    EXPECT_EQ(start("127.0.6.1"), "429 too_many_sign_ins") << "a seventeenth open in all";
    EXPECT_EQ(stored().first, 16);
}

LUMORA_ON_EVERY_BACKEND(SignInStarts);

} // namespace
} // namespace lumora
