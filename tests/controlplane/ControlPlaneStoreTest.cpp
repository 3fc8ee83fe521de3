#include "controlplane/ControlPlaneStore.hpp"

#include "TestDatabase.hpp"
#include "controlplane/ReservationStore.hpp"

#include <gtest/gtest.h>

namespace lumora {
namespace {

using testing::Backend;

// Each test gets an empty database of its own (see TestDatabase).
class ControlPlaneStoreTest : public ::testing::TestWithParam<Backend> {
protected:
    void SetUp() override
    {
        ASSERT_FALSE(database.failed());
        url = database.url();
        if (url.isEmpty())
            GTEST_SKIP() << "LUMORA_TEST_POSTGRESQL_URL is not set (scripts/with-test-postgresql sets it)";
    }

    std::unique_ptr<ControlPlaneStore> open()
    {
        auto store = ControlPlaneStore::open(url);
        EXPECT_TRUE(store.has_value()) << (store ? "" : store.error().toStdString());
        return store ? std::move(*store) : nullptr;
    }

    // A device registered through a redeemed sign-in, as the service does it; a ticket is
    // issued once per request and redeemed once.
    DeviceRecord signIn(ControlPlaneStore& store, const QString& name, const QString& key)
    {
        const QUuid requestID = QUuid::createUuid();
        store.addSignInRequest({ requestID, key, "macos", now, std::nullopt, std::nullopt, false });
        const QString ticket = "hash-" + requestID.toString();
        EXPECT_TRUE(store.issueTicket(requestID, ticket, name, now));
        EXPECT_FALSE(store.issueTicket(requestID, ticket + "-again", "Eve", now));
        auto device = store.redeemTicket(ticket, now);
        EXPECT_TRUE(device.has_value());
        EXPECT_FALSE(store.redeemTicket(ticket, now).has_value());
        EXPECT_FALSE(store.redeemTicket(ticket + "-again", now).has_value());
        return device.value_or(DeviceRecord {});
    }

    testing::TestDatabase database { GetParam() };
    QString url;
    qint64 now = 1'800'000'000;
};

LUMORA_ON_EVERY_BACKEND(ControlPlaneStoreTest);

TEST_P(ControlPlaneStoreTest, AppliesMigrationsOnceAndKeepsDataAcrossOpens)
{
    QUuid deviceID;
    {
        auto store = open();
        ASSERT_TRUE(store);
        EXPECT_EQ(store->schemaVersion(), ControlPlaneStore::latestSchemaVersion());
        deviceID = signIn(*store, "Ada", "key-a").id;
    }
    auto store = open();
    ASSERT_TRUE(store);
    EXPECT_EQ(store->schemaVersion(), ControlPlaneStore::latestSchemaVersion());
    EXPECT_TRUE(store->device(deviceID).has_value());
}

TEST(ControlPlaneStoreAddress, RefusesUnusableDatabaseAddresses)
{
    for (const char* url : { "mysql://u@h/db", "sqlite:", "postgresql:///nohost", "postgresql://u@h/", "" })
        EXPECT_FALSE(ControlPlaneStore::open(url).has_value()) << url;
}

TEST_P(ControlPlaneStoreTest, SameNameSameAccountAndAKeyMovesBetweenAccounts)
{
    auto store = open();
    const DeviceRecord first = signIn(*store, "Ada", "key-a");
    const DeviceRecord again = signIn(*store, "Ada", "key-a");
    EXPECT_EQ(again.id, first.id);
    const DeviceRecord second = signIn(*store, "Ada", "key-b");
    EXPECT_EQ(second.accountID, first.accountID);
    EXPECT_NE(second.id, first.id);

    const DeviceRecord moved = signIn(*store, "Bob", "key-a");
    EXPECT_NE(moved.accountID, first.accountID);
    EXPECT_TRUE(store->device(first.id)->revoked);
    EXPECT_EQ(store->activeDeviceWithKey("key-a")->id, moved.id);
}

TEST_P(ControlPlaneStoreTest, NoncesAreRefusedOnceSeenAndForgottenWhenOld)
{
    auto store = open();
    const QUuid nonce = QUuid::createUuid();
    EXPECT_TRUE(store->rememberNonce("device:a", nonce, now, now - 300));
    EXPECT_FALSE(store->rememberNonce("device:a", nonce, now, now - 300));
    EXPECT_TRUE(store->rememberNonce("device:b", nonce, now, now - 300));
    EXPECT_TRUE(store->rememberNonce("device:a", nonce, now + 400, now + 1));
}

TEST_P(ControlPlaneStoreTest, DeletingAnAccountRemovesEverythingOfItAndNothingElse)
{
    auto store = open();
    const DeviceRecord ada = signIn(*store, "Ada", "key-a");
    const DeviceRecord bob = signIn(*store, "Bob", "key-b");
    for (const DeviceRecord& device : { ada, bob }) {
        store->addConversationSession(device.accountID, { QUuid::createUuid(), "draft", now + 60 }, now);
        store->addDiagnostic({ device.accountID, device.id, "unclean_termination", "observed" }, now);
        // A repeated event is stored once.
        const ProductEventRecord event { device.accountID, device.id, QUuid::createUuid(), "app_opened",
            "1.0", now };
        store->addProductEvent(event, now);
        store->addProductEvent(event, now);
    }
    store->deleteAccount(ada.accountID);
    for (const char* table :
        { "accounts", "devices", "conversation_sessions", "diagnostics", "product_events" }) {
        EXPECT_EQ(store->countRows(table, ada.accountID), 0) << table;
        EXPECT_EQ(store->countRows(table, bob.accountID), 1) << table;
    }
    EXPECT_FALSE(store->device(ada.id).has_value());
    EXPECT_FALSE(store->activeDeviceWithKey("key-a").has_value());
}

TEST_P(ControlPlaneStoreTest, CurrentSessionIsTheNewestUnexpiredOne)
{
    auto store = open();
    const QUuid account = signIn(*store, "Ada", "key-a").accountID;
    EXPECT_FALSE(store->currentConversationSession(account, now).has_value());
    const ConversationSessionRecord older { QUuid::createUuid(), "draft", now + 100 };
    const ConversationSessionRecord newer { QUuid::createUuid(), "draft", now + 200 };
    store->addConversationSession(account, older, now);
    store->addConversationSession(account, newer, now + 1);
    EXPECT_EQ(store->currentConversationSession(account, now + 50)->id, newer.id);
    EXPECT_FALSE(store->currentConversationSession(account, now + 200).has_value());
}

TEST_P(ControlPlaneStoreTest, ReservationsOpenOncePerSessionCloseOnceAndGoWithTheAccount)
{
    auto store = open();
    ReservationStore reservations(*store);
    const QUuid account = signIn(*store, "Ada", "key-a").accountID;
    const ConversationSessionRecord session { QUuid::createUuid(), "draft", now + 3600 };
    store->addConversationSession(account, session, now);
    EXPECT_EQ(reservations.session(account, session.id)->id, session.id);
    EXPECT_FALSE(reservations.session(QUuid::createUuid(), session.id).has_value());

    const UsageReservationRecord first { QUuid::createUuid(), account, session.id, 90.5, "open", now,
        now + 100, std::nullopt };
    EXPECT_TRUE(reservations.addReservation(first, now));
    UsageReservationRecord second = first;
    second.id = QUuid::createUuid();
    EXPECT_FALSE(reservations.addReservation(second, now + 99));
    EXPECT_FALSE(reservations.reservation(second.id).has_value());
    EXPECT_EQ(reservations.reservation(first.id)->maximumSeconds, 90.5);

    // Lapsed, the first no longer holds the session.
    EXPECT_TRUE(reservations.addReservation(second, now + 100));
    EXPECT_EQ(reservations.reservation(first.id)->status, "expired");
    EXPECT_TRUE(reservations.closeReservation(second.id, "finalized", 60, now + 101));
    EXPECT_FALSE(reservations.closeReservation(second.id, "cancelled", std::nullopt, now + 102));
    const auto closed = reservations.reservation(second.id);
    EXPECT_EQ(closed->status, "finalized");
    EXPECT_EQ(closed->actualSeconds, 60);

    reservations.addUsageReport(
        { account, second.id, "live_transcription", "nova-3", 60, 10, 200, 7700 }, now);
    EXPECT_EQ(store->countRows("usage_reports", account), 1);
    store->deleteAccount(account);
    EXPECT_EQ(store->countRows("usage_reports", account), 0);
    EXPECT_EQ(store->countRows("usage_reservations", account), 0);
}

} // namespace
} // namespace lumora
