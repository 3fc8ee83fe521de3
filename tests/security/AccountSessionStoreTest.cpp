#include "security/AccountSessionStore.hpp"

#include "AwaitTask.hpp"
#include "security/MemoryKeyStore.hpp"

#include <QJsonDocument>
#include <QSet>
#include <gtest/gtest.h>

using namespace lumora;
using lumora::test::awaitTask;

namespace {

const LocalAccountSession session { QUuid("{0a1b2c3d-4e5f-4061-8273-94a5b6c7d8e9}"),
    QUuid("{6f1c2a3b-4d5e-4f60-8172-93a4b5c6d7e8}") };
const QByteArray sessionJson
    = R"({"deviceID":"6F1C2A3B-4D5E-4F60-8172-93A4B5C6D7E8","accountID":"0A1B2C3D-4E5F-4061-8273-94A5B6C7D8E9"})";

// A memory store whose operations on chosen accounts fail, to see how errors travel.
class FailingKeyStore final : public SecureKeyStore {
public:
    QSet<QString> failingReads, failingWrites, failingRemovals;
    MemoryKeyStore values;

    QCoro::Task<ReadResult> data(QString account) override
    {
        if (failingReads.contains(account))
            co_return std::unexpected(SecureStoreError::keychain(7));
        co_return co_await values.data(account);
    }
    QCoro::Task<WriteResult> set(QByteArray data, QString account) override
    {
        if (failingWrites.contains(account))
            co_return std::unexpected(SecureStoreError::keychain(5));
        co_return co_await values.set(data, account);
    }
    QCoro::Task<WriteResult> remove(QString account) override
    {
        if (failingRemovals.contains(account))
            co_return std::unexpected(SecureStoreError::keychain(2));
        co_return co_await values.remove(account);
    }

    std::optional<QByteArray> stored(const QString& account)
    {
        return awaitTask(values.data(account))->bytes;
    }
    void put(const QByteArray& bytes, const QString& account) { (void)awaitTask(values.set(bytes, account)); }
};

struct Fixture {
    std::shared_ptr<FailingKeyStore> keys = std::make_shared<FailingKeyStore>();
    AccountSessionStore store { keys };
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
        f.keys->put(sessionJson, u"account-session-v1"_qs);
        EXPECT_EQ(awaitTask(f.store.load()).value().session, session);
        EXPECT_EQ(f.keys->stored(u"account-session-v1"_qs), std::nullopt);
        const auto moved = f.keys->stored(u"account-session-v2"_qs);
        ASSERT_TRUE(moved.has_value());
        EXPECT_EQ(QJsonDocument::fromJson(*moved), QJsonDocument::fromJson(sessionJson));
    }
    {
        Fixture f;
        const LocalAccountSession older { QUuid::createUuid(), QUuid::createUuid() };
        ASSERT_TRUE(awaitTask(f.store.save(session)).has_value());
        f.keys->put(QJsonDocument(older.toJson()).toJson(), u"account-session-v1"_qs);
        EXPECT_EQ(awaitTask(f.store.load()).value().session, session);
        EXPECT_TRUE(f.keys->stored(u"account-session-v1"_qs).has_value());
    }
    {
        Fixture f;
        f.keys->failingRemovals.insert(u"account-session-v1"_qs);
        f.keys->put(sessionJson, u"account-session-v1"_qs);
        EXPECT_EQ(awaitTask(f.store.load()).value().session, session);
    }
}

TEST(AccountSessionStore, SavedJsonHasExactlyTheTwoUpperCaseMembers)
{
    Fixture f;
    ASSERT_TRUE(awaitTask(f.store.save(session)).has_value());
    const QJsonObject object = QJsonDocument::fromJson(*f.keys->stored(u"account-session-v2"_qs)).object();
    EXPECT_EQ(object.size(), 2);
    EXPECT_EQ(object.value(u"accountID").toString(), u"0A1B2C3D-4E5F-4061-8273-94A5B6C7D8E9"_qs);
    EXPECT_EQ(object.value(u"deviceID").toString(), u"6F1C2A3B-4D5E-4F60-8172-93A4B5C6D7E8"_qs);
    EXPECT_EQ(awaitTask(f.store.load()).value().session, session);
}

TEST(AccountSessionStore, UnreadableItemsFailAndStay)
{
    const QByteArray broken[] = { "not json", R"({"accountID":"0A1B2C3D-4E5F-4061-8273-94A5B6C7D8E9"})",
        R"({"accountID":"x","deviceID":"6F1C2A3B-4D5E-4F60-8172-93A4B5C6D7E8"})", "[]" };
    for (const QByteArray& bytes : broken) {
        SCOPED_TRACE(bytes.toStdString());
        for (const QString& account : { u"account-session-v2"_qs, u"account-session-v1"_qs }) {
            Fixture f;
            f.keys->put(bytes, account);
            const auto loaded = awaitTask(f.store.load());
            ASSERT_FALSE(loaded.has_value());
            EXPECT_TRUE(std::holds_alternative<JsonDecodeError>(loaded.error()));
            EXPECT_EQ(f.keys->stored(account), bytes);
        }
    }
}

TEST(AccountSessionStore, KeyStoreErrorsTravelUnchanged)
{
    {
        Fixture f;
        f.keys->failingReads.insert(u"account-session-v2"_qs);
        EXPECT_EQ(
            awaitTask(f.store.load()).error(), AccountSessionStore::Error(SecureStoreError::keychain(7)));
    }
    {
        Fixture f;
        f.keys->put(sessionJson, u"account-session-v1"_qs);
        f.keys->failingWrites.insert(u"account-session-v2"_qs);
        EXPECT_EQ(
            awaitTask(f.store.load()).error(), AccountSessionStore::Error(SecureStoreError::keychain(5)));
        EXPECT_EQ(f.keys->stored(u"account-session-v1"_qs), sessionJson);
    }
    {
        Fixture f;
        ASSERT_TRUE(awaitTask(f.store.clear()).has_value());
        f.keys->put(sessionJson, u"account-session-v2"_qs);
        f.keys->put(sessionJson, u"account-session-v1"_qs);
        f.keys->failingRemovals.insert(u"account-session-v2"_qs);
        EXPECT_EQ(
            awaitTask(f.store.clear()).error(), AccountSessionStore::Error(SecureStoreError::keychain(2)));
        EXPECT_TRUE(f.keys->stored(u"account-session-v1"_qs).has_value());
        f.keys->failingRemovals = { u"account-session-v1"_qs };
        EXPECT_EQ(
            awaitTask(f.store.clear()).error(), AccountSessionStore::Error(SecureStoreError::keychain(2)));
        EXPECT_EQ(f.keys->stored(u"account-session-v2"_qs), std::nullopt);
    }
}
