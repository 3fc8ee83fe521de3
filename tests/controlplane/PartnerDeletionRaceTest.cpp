#include "ProcessCalls.hpp"

#include <QJsonDocument>
#include <gtest/gtest.h>

namespace lumora {
namespace {

using testing::bodyOf;
using testing::codeOf;
using testing::Partner;
using testing::TestReply;

using PartnerDeletionRace = testing::ProcessOnEveryBackend;

// Both partners delete one shared conversation at the same moment: one request waits for the
// partner and the other is its approval, so the conversation is gone, never two requests that
// each wait for the other.
TEST_P(PartnerDeletionRace, BothPartnersDeletingAtOnceDeleteIt)
{
    Partner ada;
    Partner bob;
    ASSERT_TRUE(testing::signInPartners(*server, ada, bob));

    constexpr int rounds = 20;
    for (int round = 0; round < rounds; ++round) {
        const TestReply stored = send(testing::signedPost(
            *server, ada.identity, ada.device, "/v1/content/conversations", testing::conversationUpload()));
        ASSERT_EQ(stored.status, 201) << codeOf(stored);
        const QString path = "/v1/content/conversations/"
            + bodyOf(stored).value("conversation").toObject().value("id").toString() + "/delete";
        QStringList statuses;
        for (const TestReply& reply :
            testing::sendTogether({ ada.post(*server, path), bob.post(*server, path) })) {
            ASSERT_EQ(reply.status, 200) << "round " << round << ": " << codeOf(reply);
            statuses.append(bodyOf(reply).value("status").toString());
        }
        statuses.sort();
        EXPECT_EQ(statuses, (QStringList { "deleted", "pending_approval" })) << "round " << round;
        const TestReply listed = bob.get(*server, "/v1/content/conversations");
        EXPECT_TRUE(bodyOf(listed).value("conversations").toArray().isEmpty()) << "round " << round;
    }
}

LUMORA_ON_EVERY_BACKEND(PartnerDeletionRace);

} // namespace
} // namespace lumora
