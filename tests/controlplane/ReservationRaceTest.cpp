#include "ProcessCalls.hpp"

#include <QJsonDocument>
#include <QJsonObject>
#include <gtest/gtest.h>

namespace lumora {
namespace {

using testing::codeOf;
using testing::TestReply;
using testing::TestRequest;

using ReservationRace = testing::ProcessOnEveryBackend;

// A session reserved by several requests at once is reserved once: the others are told it
// already is, never that the server failed.
TEST_P(ReservationRace, OneOfManyReservesOfASessionAtOnceIsGranted)
{
    const DeviceIdentity identity(*P256PrivateKey::generate());
    const QUuid device = testing::signInOver(*server, identity, QStringLiteral("Ada"));
    ASSERT_FALSE(device.isNull());
    for (int round = 0; round < 8; ++round) {
        const TestReply draft = testing::postSigned(*server, identity, device, "/v1/sessions/draft", {});
        const QJsonValue session = QJsonDocument::fromJson(draft.body).object().value("session_id");
        QList<TestRequest> reserves;
        for (int i = 0; i < 6; ++i)
            reserves.append(testing::signedPost(*server, identity, device, "/v1/sessions/reserve",
                QJsonObject { { "session_id", session }, { "requested_seconds", 60 } }));
        int granted = 0;
        for (const TestReply& reply : testing::sendTogether(reserves)) {
            const std::string code = codeOf(reply);
            granted += reply.status == 200 ? 1 : 0;
            EXPECT_TRUE(reply.status == 200 || code == "409 reservation_already_open")
                << "round " << round << ": " << code;
        }
        EXPECT_EQ(granted, 1) << "round " << round;
    }
}

LUMORA_ON_EVERY_BACKEND(ReservationRace);

} // namespace
} // namespace lumora
