#include "AwaitTask.hpp"
#include "security/KeychainKeyStore.hpp"
#include "security/MemoryKeyStore.hpp"

#include <QCoreApplication>
#include <QProcess>
#include <QUuid>
#include <functional>
#include <gtest/gtest.h>

using namespace lumora;
using lumora::test::awaitTask;

namespace {

// Keychain tests run only inside scripts/with-test-session, which gives them a private D-Bus
// session and an unlocked throwaway keyring: they must never touch a user's own keyring.
bool insideTestSession()
{
    return qEnvironmentVariableIsSet("LUMORA_TEST_SESSION");
}

struct StoreKind {
    const char* name;
    std::function<std::shared_ptr<SecureKeyStore>(const QString& service)> make;
    bool needsSecretService;
};

void PrintTo(const StoreKind& kind, std::ostream* out)
{
    *out << kind.name;
}

class KeyStoreContract : public ::testing::TestWithParam<StoreKind> {
protected:
    void SetUp() override
    {
        if (GetParam().needsSecretService && !insideTestSession())
            GTEST_SKIP() << "needs scripts/with-test-session";
        service = u"com.lumora.native.test."_qs + QUuid::createUuid().toString(QUuid::WithoutBraces);
        store = GetParam().make(service);
    }

    std::optional<QByteArray> read(const QString& account)
    {
        const auto result = awaitTask(store->data(account));
        EXPECT_TRUE(result.has_value());
        return result ? result->bytes : std::nullopt;
    }

    QString service;
    std::shared_ptr<SecureKeyStore> store;
};

} // namespace

TEST_P(KeyStoreContract, MissingItemsReadAsAbsentAndDeleteWithoutError)
{
    EXPECT_EQ(read(u"device-signing-key-v1"_qs), std::nullopt);
    EXPECT_TRUE(awaitTask(store->remove(u"device-signing-key-v1"_qs)).has_value());
    EXPECT_EQ(read(u"device-signing-key-v1"_qs), std::nullopt);
}

TEST_P(KeyStoreContract, BytesRoundTripAreReplacedAndRemoved)
{
    QByteArray binary(32, 0);
    for (int i = 0; i < binary.size(); ++i)
        binary[i] = char(i * 37 + 255);
    const QByteArray json = R"({"accountID":"0A1B2C3D-4E5F-4061-8273-94A5B6C7D8E9"})";

    ASSERT_TRUE(awaitTask(store->set(binary, u"derived-result-encryption-key-v1"_qs)).has_value());
    EXPECT_EQ(read(u"derived-result-encryption-key-v1"_qs), binary);
    ASSERT_TRUE(awaitTask(store->set(json, u"derived-result-encryption-key-v1"_qs)).has_value());
    EXPECT_EQ(read(u"derived-result-encryption-key-v1"_qs), json);
    EXPECT_EQ(read(u"account-session-v2"_qs), std::nullopt);

    ASSERT_TRUE(awaitTask(store->remove(u"derived-result-encryption-key-v1"_qs)).has_value());
    EXPECT_EQ(read(u"derived-result-encryption-key-v1"_qs), std::nullopt);
}

TEST_P(KeyStoreContract, ServicesAndAccountsAreSeparate)
{
    ASSERT_TRUE(awaitTask(store->set("one", u"a"_qs)).has_value());
    ASSERT_TRUE(awaitTask(store->set("two", u"b"_qs)).has_value());
    EXPECT_EQ(read(u"a"_qs), QByteArray("one"));
    EXPECT_EQ(read(u"b"_qs), QByteArray("two"));
    const auto other = GetParam().make(service + u".other"_qs);
    EXPECT_EQ(awaitTask(other->data(u"a"_qs)).value().bytes, std::nullopt);
}

INSTANTIATE_TEST_SUITE_P(Stores, KeyStoreContract,
    ::testing::Values(
        StoreKind { "Memory", [](const QString&) { return std::make_shared<MemoryKeyStore>(); }, false },
        StoreKind { "Keychain",
            [](const QString& service) { return std::make_shared<KeychainKeyStore>(service); }, true }),
    [](const ::testing::TestParamInfo<StoreKind>& info) { return std::string(info.param.name); });

// Runs in a child process whose session bus does not exist (see below).
TEST(KeychainWithoutSecretService, FailsAtOnceWithAKeychainError)
{
    if (!qEnvironmentVariableIsSet("LUMORA_EXPECT_NO_KEYCHAIN"))
        GTEST_SKIP() << "runs only as the child of NoSecretServiceFailsFast";
    KeychainKeyStore store(u"com.lumora.native"_qs);
    for (const auto& result : { awaitTask(store.data(u"device-signing-key-v1"_qs)) }) {
        ASSERT_FALSE(result.has_value());
        EXPECT_EQ(result.error().kind, SecureStoreError::Case::keychain);
        EXPECT_NE(result.error().status, SecureStoreError::timedOutStatus);
    }
    const auto written = awaitTask(store.set("x", u"device-signing-key-v1"_qs));
    ASSERT_FALSE(written.has_value());
    EXPECT_NE(written.error().status, SecureStoreError::timedOutStatus);
    const auto removed = awaitTask(store.remove(u"device-signing-key-v1"_qs));
    ASSERT_FALSE(removed.has_value());
    EXPECT_NE(removed.error().status, SecureStoreError::timedOutStatus);
}

TEST(KeychainKeyStore, NoSecretServiceFailsFast)
{
    QProcess child;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(u"LUMORA_EXPECT_NO_KEYCHAIN"_qs, u"1"_qs);
    environment.insert(u"DBUS_SESSION_BUS_ADDRESS"_qs, u"unix:path=/nonexistent/lumora-test-bus"_qs);
    environment.remove(u"GNOME_KEYRING_CONTROL"_qs);
    child.setProcessEnvironment(environment);
    child.setProcessChannelMode(QProcess::MergedChannels);
    child.start(QCoreApplication::applicationFilePath(),
        { u"--gtest_filter=KeychainWithoutSecretService.FailsAtOnceWithAKeychainError"_qs });
    ASSERT_TRUE(child.waitForFinished(30000));
    const QByteArray output = child.readAll();
    EXPECT_EQ(child.exitCode(), 0) << output.toStdString();
    EXPECT_TRUE(output.contains("[  PASSED  ] 1 test")) << output.toStdString();
    EXPECT_TRUE(output.contains("Keychain read failed with status")) << output.toStdString();
}
