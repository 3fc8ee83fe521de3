#include "ControlPlaneProcess.hpp"
#include "ProcessCalls.hpp"
#include "controlplane/IdText.hpp"

#include <QSet>
#include <gtest/gtest.h>

namespace lumora {
namespace {

using testing::codeOf;
using testing::ControlPlaneProcess;
using testing::recoverOver;
using testing::redemption;
using testing::send;
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

LUMORA_ON_EVERY_BACKEND(KeyBindingRace);

} // namespace
} // namespace lumora
