#include "ProcessCalls.hpp"

#include <QJsonArray>
#include <gtest/gtest.h>

namespace lumora {
namespace {

using testing::bodyOf;
using testing::codeOf;
using testing::Partner;
using testing::TestReply;

using PartnerDeparture = testing::ProcessOnEveryBackend;

QString conversationPath(const QString& id, const QString& action = {})
{
    return "/v1/content/conversations/" + id + (action.isEmpty() ? QString() : "/" + action);
}

// Ada and Bob share a history; Bob asks to delete two of their conversations and then deletes
// his account. What they shared stays Ada's, as her earlier history, read only and hers alone
// to delete, without Bob's requests on it. Cy, who links with Ada next, sees none of it and can
// approve nothing of it; what the two record from then on is their shared history.
TEST_P(PartnerDeparture, WhatALeaverSharedIsTheKeepersEarlierHistoryAlone)
{
    Partner ada;
    Partner bob;
    Partner cy;
    for (auto [partner, name] :
        { std::pair { &ada, "Ada" }, std::pair { &bob, "Bob" }, std::pair { &cy, "Cy" } })
        partner->device = testing::signInOver(*server, partner->identity, name);
    ASSERT_FALSE(ada.device.isNull() || bob.device.isNull() || cy.device.isNull());
    ASSERT_TRUE(testing::linkOver(*server, bob, ada));
    const auto stored = [&](const Partner& who) {
        const TestReply reply = send(who.post(*server, "/v1/content/conversations",
            QJsonDocument::fromJson(testing::conversationUpload()).object()));
        EXPECT_EQ(reply.status, 201) << codeOf(reply);
        return bodyOf(reply).value("conversation").toObject().value("id").toString();
    };
    const QStringList shared { stored(ada), stored(bob) };
    for (const QString& id : shared) {
        const TestReply asked = send(bob.post(*server, conversationPath(id, "delete")));
        EXPECT_EQ(bodyOf(asked).value("status"), "pending_approval") << codeOf(asked);
    }
    ASSERT_EQ(send(bob.post(*server, "/v1/account/delete")).status, 200);

    const auto rowsOf = [&](const Partner& who) {
        const TestReply listed = who.get(*server, "/v1/content/conversations");
        EXPECT_EQ(listed.status, 200) << codeOf(listed);
        return bodyOf(listed).value("conversations").toArray();
    };
    const auto workspaceOf = [&](const Partner& who) {
        return bodyOf(who.get(*server, "/v1/pairing/state")).value("workspace").toObject();
    };
    const QJsonArray kept = rowsOf(ada);
    ASSERT_EQ(kept.size(), 2);
    for (const QJsonValue& row : kept) {
        EXPECT_EQ(row.toObject().value("workspace"), "previous");
        EXPECT_FALSE(row.toObject().contains("pending_deletion"));
        EXPECT_EQ(codeOf(send(ada.post(
                      *server, conversationPath(row.toObject().value("id").toString(), "delete/approve")))),
            "404 deletion_request_not_found");
    }
    EXPECT_FALSE(workspaceOf(ada).value("paired").toBool());

    ASSERT_TRUE(testing::linkOver(*server, cy, ada));
    EXPECT_TRUE(workspaceOf(cy).value("paired").toBool());
    EXPECT_TRUE(rowsOf(cy).isEmpty());
    for (const QString& id : shared) {
        EXPECT_EQ(cy.get(*server, conversationPath(id)).status, 404);
        EXPECT_EQ(send(cy.post(*server, conversationPath(id, "delete/approve"))).status, 404);
    }
    const QString together = stored(cy);
    QStringList current;
    for (const QJsonValue& row : rowsOf(ada)) {
        if (row.toObject().value("workspace") == "current")
            current.append(row.toObject().value("id").toString());
    }
    EXPECT_EQ(current, QStringList { together });
    // Nobody else sees what Bob left: Ada deletes it at once.
    EXPECT_EQ(
        bodyOf(send(ada.post(*server, conversationPath(shared.at(1), "delete")))).value("status"), "deleted");
    EXPECT_EQ(rowsOf(ada).size(), 2);
}

// What a departing partner stored passes to the keeper without counting towards the keeper's
// quota: Bob fills his quota and leaves, and Ada's own uploads are taken as before, up to as
// much again of her own.
TEST_P(PartnerDeparture, WhatALeaverPassesNeverRefusesTheKeepersOwnUploads)
{
    ASSERT_EQ(server->stop(), 0);
    startServer({ "--storage-quota", "16K" });
    Partner ada;
    Partner bob;
    ASSERT_TRUE(testing::signInPartners(*server, ada, bob));
    // The uploads the partner makes until one is refused for the quota.
    const auto fill = [&](const Partner& who) {
        int stored = 0;
        for (; stored < 100; ++stored) {
            const TestReply reply = send(who.post(*server, "/v1/content/conversations",
                QJsonDocument::fromJson(testing::conversationUpload()).object()));
            if (reply.status != 201) {
                EXPECT_EQ(codeOf(reply), "507 storage_quota_exceeded");
                break;
            }
        }
        return stored;
    };
    const int bobs = fill(bob);
    ASSERT_GT(bobs, 1);
    ASSERT_EQ(send(bob.post(*server, "/v1/account/delete")).status, 200);
    EXPECT_EQ(fill(ada), bobs) << "her own quota, whatever passed to her";
    const TestReply listed = ada.get(*server, "/v1/content/conversations");
    EXPECT_EQ(bodyOf(listed).value("conversations").toArray().size(), 2 * bobs);
}

// A stored conversation whose seal no longer opens cannot pass to anyone: it goes with the
// account that stored it, the log names it, and the departure completes (it answered 503 every
// time). What opens passes to the keeper as before.
TEST_P(PartnerDeparture, AnUnopenableRowNeverKeepsTheLeaverFromLeaving)
{
    Partner ada;
    Partner bob;
    ASSERT_TRUE(testing::signInPartners(*server, ada, bob));
    const QList<QUuid> bobs { QUuid::createUuid(), QUuid::createUuid(), QUuid::createUuid() };
    for (const QUuid& id : bobs) {
        QJsonObject payload = QJsonDocument::fromJson(testing::conversationUpload()).object();
        payload["conversation_id"] = id.toString(QUuid::WithoutBraces);
        ASSERT_EQ(send(bob.post(*server, "/v1/content/conversations", payload)).status, 201);
    }
    const QString spoiled = bobs.at(1).toString(QUuid::WithoutBraces);
    ASSERT_TRUE(testing::spoilSealedValue(database.url(), "sealed_body", bobs.at(1)));

    const TestReply left = send(bob.post(*server, "/v1/account/delete"));
    EXPECT_EQ(left.status, 200) << codeOf(left);
    const TestReply listed = ada.get(*server, "/v1/content/conversations");
    QStringList kept;
    for (const QJsonValue& row : bodyOf(listed).value("conversations").toArray())
        kept.append(row.toObject().value("id").toString());
    kept.sort();
    QStringList readable { bobs.at(0).toString(QUuid::WithoutBraces),
        bobs.at(2).toString(QUuid::WithoutBraces) };
    readable.sort();
    EXPECT_EQ(kept, readable);
    for (const QString& id : readable)
        EXPECT_EQ(ada.get(*server, conversationPath(id)).status, 200);
    EXPECT_EQ(ada.get(*server, conversationPath(spoiled)).status, 404);
    EXPECT_TRUE(server->log().contains(spoiled + " does not open")) << server->log().toStdString();
}

LUMORA_ON_EVERY_BACKEND(PartnerDeparture);

} // namespace
} // namespace lumora
