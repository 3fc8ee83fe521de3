#include "security/AccountSessionStore.hpp"

#include "TestKeyStore.hpp"

#include <QJsonDocument>
#include <gtest/gtest.h>

using namespace lumora;
using lumora::test::awaitTask;

namespace {

const LocalAccountSession session { QUuid("{0a1b2c3d-4e5f-4061-8273-94a5b6c7d8e9}"),
    QUuid("{6f1c2a3b-4d5e-4f60-8172-93a4b5c6d7e8}") };
const QByteArray sessionJson
    = R"({"deviceID":"6F1C2A3B-4D5E-4F60-8172-93A4B5C6D7E8","accountID":"0A1B2C3D-4E5F-4061-8273-94A5B6C7D8E9"})";
const QString v1 = u"account-session-v1"_qs;
const QString v2 = u"account-session-v2"_qs;

struct Fixture {
    std::shared_ptr<test::TestKeyStore> keys = std::make_shared<test::TestKeyStore>();
    AccountSessionStore store { keys };

    // The failure of a call that must fail; a call that succeeds fails the test instead.
    AccountSessionStore::Error error(auto task)
    {
        auto result = awaitTask(std::move(task));
        if (result.has_value()) {
            ADD_FAILURE() << "succeeded where a failure was expected";
            return {};
        }
        return result.error();
    }
};

} // namespace

TEST(AccountSessionStore, LoadsTheCurrentItemOrMovesTheFormerOne)
{
    {
        Fixture f;
        EXPECT_EQ(awaitTask(f.store.load()).value().session, std::nullopt);
    }
    {
        Fixture f;
        f.keys->put(sessionJson, v1);
        EXPECT_EQ(awaitTask(f.store.load()).value().session, session);
        EXPECT_EQ(f.keys->stored(v1), std::nullopt);
        EXPECT_EQ(QJsonDocument::fromJson(f.keys->stored(v2).value()), QJsonDocument::fromJson(sessionJson));
    }
    {
        // Saved with exactly the two upper-case members; the current item wins over a former one.
        Fixture f;
        ASSERT_TRUE(awaitTask(f.store.save(session)).has_value());
        EXPECT_EQ(QJsonDocument::fromJson(f.keys->stored(v2).value()), QJsonDocument::fromJson(sessionJson));
        f.keys->put(
            QJsonDocument(LocalAccountSession { QUuid::createUuid(), QUuid::createUuid() }.toJson()).toJson(),
            v1);
        EXPECT_EQ(awaitTask(f.store.load()).value().session, session);
        EXPECT_TRUE(f.keys->stored(v1).has_value());
    }
    {
        // A former item that cannot be removed still loads.
        Fixture f;
        f.keys->failingRemovals.insert(v1);
        f.keys->put(sessionJson, v1);
        EXPECT_EQ(awaitTask(f.store.load()).value().session, session);
    }
}

TEST(AccountSessionStore, UnreadableItemsFailAndStay)
{
    const QByteArray broken[] = { "not json", R"({"accountID":"0A1B2C3D-4E5F-4061-8273-94A5B6C7D8E9"})",
        R"({"accountID":"x","deviceID":"6F1C2A3B-4D5E-4F60-8172-93A4B5C6D7E8"})", "[]" };
    for (const QByteArray& bytes : broken) {
        for (const QString& account : { v2, v1 }) {
            SCOPED_TRACE(bytes.toStdString() + ' ' + account.toStdString());
            Fixture f;
            f.keys->put(bytes, account);
            EXPECT_TRUE(std::holds_alternative<JsonDecodeError>(f.error(f.store.load())));
            EXPECT_EQ(f.keys->stored(account), bytes);
        }
    }
}

TEST(AccountSessionStore, KeyStoreErrorsTravelUnchangedAndLoseNothing)
{
    using Error = AccountSessionStore::Error;
    {
        Fixture f;
        f.keys->put(sessionJson, v1);
        f.keys->failingWrites.insert(v2);
        EXPECT_EQ(f.error(f.store.load()), Error(SecureStoreError::keychain(5)));
        EXPECT_EQ(f.keys->stored(v1), sessionJson);
    }
    {
        // Sign-out that fails part-way never leaves the older session to come back at the next
        // launch: the current item goes last.
        Fixture f;
        ASSERT_TRUE(awaitTask(f.store.clear()).has_value());
        const LocalAccountSession older { session.deviceID, session.accountID };
        f.keys->put(sessionJson, v2);
        f.keys->put(QJsonDocument(older.toJson()).toJson(), v1);
        f.keys->failingRemovals.insert(v1);
        EXPECT_EQ(f.error(f.store.clear()), Error(SecureStoreError::keychain(2)));
        EXPECT_EQ(awaitTask(f.store.load()).value().session, session);
        f.keys->failingRemovals = { v2 };
        EXPECT_EQ(f.error(f.store.clear()), Error(SecureStoreError::keychain(2)));
        EXPECT_EQ(f.keys->stored(v1), std::nullopt);
        EXPECT_EQ(awaitTask(f.store.load()).value().session, session);
        f.keys->failingRemovals.clear();
        ASSERT_TRUE(awaitTask(f.store.clear()).has_value());
        EXPECT_EQ(awaitTask(f.store.load()).value().session, std::nullopt);
    }
}
