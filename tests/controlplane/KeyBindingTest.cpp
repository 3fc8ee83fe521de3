#include "ControlPlaneProcess.hpp"
#include "ProcessCalls.hpp"
#include "controlplane/ControlPlaneStore.hpp"
#include "controlplane/IdText.hpp"

#include <QCryptographicHash>
#include <QSet>
#include <QSqlError>
#include <QSqlQuery>
#include <gtest/gtest.h>
#include <map>
#include <utility>

namespace lumora {
namespace {

using testing::codeOf;
using testing::ControlPlaneProcess;
using testing::recoverOver;
using testing::redemption;
using testing::send;
using testing::SignInCallback;
using testing::TestReply;
using testing::ticketOver;

QString accountOf(const TestReply& reply)
{
    return QJsonDocument::fromJson(reply.body).object().value("account_id").toString();
}

// The attack as it ran against the server: a ticket taken for the victim's public key while
// it is active, kept until the victim signs out and redeemed then, would have bound the key
// into the attacker's account, and the victim's recovery would have answered with it.
TEST(KeyBinding, ATicketTakenForSomeoneElsesKeyNeverBindsIt)
{
    ControlPlaneProcess server({ "--dev-sign-in" });
    ASSERT_TRUE(server.started());
    const DeviceIdentity victim(*P256PrivateKey::generate());
    const QUuid device = testing::signInOver(server, victim, "Ada");
    ASSERT_FALSE(device.isNull());
    const QString victimsAccount = accountOf(recoverOver(server, victim));

    const auto taken = ticketOver(server, victim.publicKeyBase64URL(), "Mallory");
    ASSERT_FALSE(taken.ticket.isEmpty());
    EXPECT_EQ(
        testing::postSigned(server, victim, device, "/v1/devices/revoke", { { "device_id", idText(device) } })
            .status,
        200);
    const DeviceIdentity mallory(*P256PrivateKey::generate());
    EXPECT_EQ(codeOf(send(redemption(server, taken, nullptr))), "401 invalid_signature");
    EXPECT_EQ(codeOf(send(redemption(server, taken, &mallory))), "401 invalid_signature");
    EXPECT_EQ(codeOf(recoverOver(server, victim)), "401 unknown_device");

    // The victim signs in again and is back in the account of their own name.
    EXPECT_FALSE(testing::signInOver(server, victim, "Ada").isNull());
    EXPECT_EQ(accountOf(recoverOver(server, victim)), victimsAccount);
    EXPECT_EQ(server.stop(), 0);
}

// A ticket completes only the sign-in attempt it was started for: the state value the start
// carried is in the callback, and redeeming needs it, so a ticket someone else started for this
// key carries their state and never the one the key's holder started with.
TEST(KeyBinding, ATicketIsRedeemedOnlyWithTheStateItsSignInStartedWith)
{
    ControlPlaneProcess server({ "--dev-sign-in" });
    ASSERT_TRUE(server.started());
    const DeviceIdentity device(*P256PrivateKey::generate());
    const auto mallorys = ticketOver(server, device.publicKeyBase64URL(), "Mallory");
    const auto own = ticketOver(server, device.publicKeyBase64URL(), "Ada");
    ASSERT_FALSE(mallorys.state.isEmpty());
    ASSERT_NE(mallorys.state, own.state);
    EXPECT_EQ(codeOf(send(redemption(server, mallorys, &device, own.state))), "400 state_mismatch");
    EXPECT_EQ(codeOf(send(redemption(server, own, &device, mallorys.state))), "400 state_mismatch");
    EXPECT_EQ(codeOf(recoverOver(server, device)), "401 unknown_device") << "nothing was bound";
    const TestReply completed = send(redemption(server, own, &device));
    ASSERT_EQ(completed.status, 200) << codeOf(completed);
    EXPECT_EQ(accountOf(recoverOver(server, device)), accountOf(completed));
    EXPECT_EQ(server.stop(), 0);
}

// A sign-in's state value belongs to one attempt: a start that carries the state of an attempt
// still under way is refused, so that nobody hands the key's holder a ticket of their own that
// returns with the state its own attempt started with. The holder's attempt goes on.
TEST(KeyBinding, AStartWithTheStateOfAnAttemptUnderWayIsRefused)
{
    ControlPlaneProcess server({ "--dev-sign-in" });
    ASSERT_TRUE(server.started());
    const DeviceIdentity device(*P256PrivateKey::generate());
    const QString key = device.publicKeyBase64URL();
    const QString state = QUuid::createUuid().toString(QUuid::Id128);
    const auto own = ticketOver(server, key, "Ada", state);
    ASSERT_EQ(own.state, state);
    EXPECT_EQ(codeOf(send(testing::signInStart(server, key, state))), "409 state_in_use");
    EXPECT_EQ(codeOf(send(testing::signInStart(
                  server, DeviceIdentity(*P256PrivateKey::generate()).publicKeyBase64URL(), state))),
        "409 state_in_use")
        << "whatever the key";
    EXPECT_EQ(
        send(testing::signInStart(server, key, QUuid::createUuid().toString(QUuid::Id128))).status, 200);
    const TestReply completed = send(redemption(server, own, &device));
    ASSERT_EQ(completed.status, 200) << codeOf(completed);
    EXPECT_EQ(accountOf(recoverOver(server, device)), accountOf(completed));
    EXPECT_EQ(server.stop(), 0);
}

using KeyBindingRace = testing::ProcessOnEveryBackend;

// Sign-ins of one key into many accounts at once bind it into one of them; the others are
// refused as a sign-in of a key that is active elsewhere, never with a server failure.
TEST_P(KeyBindingRace, SimultaneousSignInsOfOneKeyBindItOnce)
{
    constexpr int rounds = 3;
    constexpr int signIns = 30;
    for (int round = 0; round < rounds; ++round) {
        const DeviceIdentity key(*P256PrivateKey::generate());
        QList<testing::TestRequest> requests;
        for (int i = 0; i < signIns; ++i)
            requests.append(redemption(*server,
                ticketOver(
                    *server, key.publicKeyBase64URL(), QStringLiteral("Racer %1-%2").arg(round).arg(i)),
                &key));
        QSet<QString> accounts;
        int refused = 0;
        for (const TestReply& reply : testing::sendTogether(requests)) {
            if (reply.status == 200)
                accounts.insert(accountOf(reply));
            else if (codeOf(reply) == "409 device_key_in_use")
                ++refused;
            else
                ADD_FAILURE() << reply.status << ' ' << reply.body.toStdString();
        }
        EXPECT_EQ(accounts.size(), 1) << "round " << round;
        EXPECT_EQ(refused, signIns - 1) << "round " << round;
        const TestReply recovered = recoverOver(*server, key);
        EXPECT_EQ(recovered.status, 200);
        EXPECT_TRUE(accounts.contains(accountOf(recovered)));
    }
}

// A state is taken by one start alone, whatever starts run at once: of many that carry one
// state together, one is accepted and the others are refused as a state in use. A database of
// before, where several requests could carry one state, keeps it with the first of them (the
// application's own: anyone else had it from there), and that sign-in completes.
TEST_P(KeyBindingRace, AStateIsTakenByOneStartOnly)
{
    // The database as the schema before kept it, with requests that carry one state: the
    // application's own, waiting for its completion, and one started later with its state, as
    // well as some of before, with empty states or none.
    constexpr int oneStateVersion = 17;
    ASSERT_EQ(server->stop(), 0);
    auto store = ControlPlaneStore::open(database.url());
    ASSERT_TRUE(store.has_value()) << store.error().toStdString();
    QSqlQuery query(QSqlDatabase::database((*store)->connectionName()));
    for (const QString& sql :
        testing::withoutLatestSteps() + QStringList { "DROP INDEX sign_in_requests_one_state" })
        ASSERT_TRUE(query.exec(sql)) << query.lastError().text().toStdString();
    ASSERT_TRUE(
        query.exec(QStringLiteral("DELETE FROM schema_migrations WHERE version >= %1").arg(oneStateVersion)));
    const qint64 now = QDateTime::currentSecsSinceEpoch();
    const auto addRequest = [&](const QString& key, qint64 createdAt, const QString& state,
                                const QString& ticket = {}) {
        const QVariant none;
        const bool ticketed = !ticket.isEmpty();
        query.prepare("INSERT INTO sign_in_requests (id, device_public_key, platform, created_at, state,"
                      " ticket_hash, account_name, ticket_issued_at) VALUES (?, ?, 'linux', ?, ?, ?, ?, ?)");
        for (const QVariant& value :
            { QVariant(idText(QUuid::createUuid())), QVariant(key), QVariant(createdAt), QVariant(state),
                ticketed ? QVariant(QString::fromLatin1(
                    QCryptographicHash::hash(ticket.toUtf8(), QCryptographicHash::Sha256).toHex()))
                         : none,
                ticketed ? QVariant("Ada") : none, ticketed ? QVariant(now) : none })
            query.addBindValue(value);
        return query.exec();
    };
    const DeviceIdentity own(*P256PrivateKey::generate());
    const QString otherKey = DeviceIdentity(*P256PrivateKey::generate()).publicKeyBase64URL();
    const QString state = QUuid::createUuid().toString(QUuid::Id128);
    const SignInCallback waiting { "own-ticket", state };
    const SignInCallback later { "later-ticket", state };
    ASSERT_TRUE(addRequest(own.publicKeyBase64URL(), now - 120, state, waiting.ticket));
    ASSERT_TRUE(addRequest(otherKey, now - 60, state, later.ticket));
    for (const QString& old : { QStringLiteral(""), QStringLiteral(""), QString(), QString() })
        ASSERT_TRUE(addRequest(otherKey, now - 300, old)) << query.lastError().text().toStdString();
    startServer();

    EXPECT_EQ(codeOf(send(redemption(*server, later, nullptr))), "400 invalid_ticket");
    EXPECT_EQ(
        codeOf(send(testing::signInStart(*server, own.publicKeyBase64URL(), state))), "409 state_in_use");
    const TestReply completed = send(redemption(*server, waiting, &own));
    EXPECT_EQ(completed.status, 200) << codeOf(completed);
    ASSERT_TRUE(
        query.exec("SELECT COUNT(state), COUNT(*) FROM sign_in_requests WHERE state IS NULL OR state = ''")
        && query.next());
    EXPECT_EQ(std::pair(query.value(0).toInt(), query.value(1).toInt()), std::pair(1, 3))
        << "one of the empty states, all of the missing ones";

    constexpr int rounds = 12;
    constexpr int starts = 8;
    for (int round = 0; round < rounds; ++round) {
        const QString one = QUuid::createUuid().toString(QUuid::Id128);
        QList<testing::TestRequest> requests;
        for (int i = 0; i < starts; ++i)
            requests.append(testing::signInStart(
                *server, DeviceIdentity(*P256PrivateKey::generate()).publicKeyBase64URL(), one));
        std::map<std::string, int> codes;
        for (const TestReply& reply : testing::sendTogether(requests))
            ++codes[reply.status == 200 ? "200" : codeOf(reply)];
        EXPECT_EQ(codes, (std::map<std::string, int> { { "200", 1 }, { "409 state_in_use", starts - 1 } }))
            << "round " << round;
    }
}

LUMORA_ON_EVERY_BACKEND(KeyBindingRace);

} // namespace
} // namespace lumora
