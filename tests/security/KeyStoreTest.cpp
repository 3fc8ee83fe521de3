#include "TestKeyStore.hpp"
#include "security/KeychainKeyStore.hpp"

#include <QCoreApplication>
#include <QProcess>
#include <QUuid>
#include <gtest/gtest.h>

using namespace lumora;
using lumora::test::awaitTask;

namespace {

// Runs against the real Secret Service (true) and MemoryKeyStore (false).
class KeyStoreContract : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override
    {
        // Only scripts/with-test-session gives a private D-Bus session and a throwaway keyring:
        // these tests must never touch a user's own keyring.
        if (GetParam() && !qEnvironmentVariableIsSet("LUMORA_TEST_SESSION"))
            GTEST_SKIP() << "needs scripts/with-test-session";
        store = make(u"com.lumora.native.test."_qs + QUuid::createUuid().toString(QUuid::WithoutBraces));
    }
    std::shared_ptr<SecureKeyStore> make(const QString& service) const
    {
        if (GetParam())
            return std::make_shared<KeychainKeyStore>(service);
        return std::make_shared<MemoryKeyStore>();
    }
    std::optional<QByteArray> read(const QString& account)
    {
        return awaitTask(store->data(account)).value().bytes;
    }
    void write(const QByteArray& bytes, const QString& account)
    {
        ASSERT_TRUE(awaitTask(store->set(bytes, account)).has_value());
    }

    std::shared_ptr<SecureKeyStore> store;
};

} // namespace

TEST_P(KeyStoreContract, BytesAreStoredReplacedAndRemovedPerAccountAndService)
{
    const QString account = u"derived-result-encryption-key-v1"_qs;
    EXPECT_EQ(read(account), std::nullopt);
    EXPECT_TRUE(awaitTask(store->remove(account)).has_value());

    QByteArray binary(32, 0);
    for (int i = 0; i < binary.size(); ++i)
        binary[i] = char(i * 37 + 255);
    write(binary, account);
    EXPECT_EQ(read(account), binary);
    const QByteArray json = R"({"accountID":"0A1B2C3D-4E5F-4061-8273-94A5B6C7D8E9"})";
    write(json, account);
    EXPECT_EQ(read(account), json);
    write("other", u"account-session-v2"_qs);
    EXPECT_EQ(read(account), json);
    if (GetParam()) {
        const auto otherService = make(u"com.lumora.native.test.other"_qs);
        EXPECT_EQ(awaitTask(otherService->data(account)).value().bytes, std::nullopt);
    }

    ASSERT_TRUE(awaitTask(store->remove(account)).has_value());
    EXPECT_EQ(read(account), std::nullopt);
    EXPECT_EQ(read(u"account-session-v2"_qs), QByteArray("other"));
}

INSTANTIATE_TEST_SUITE_P(Stores, KeyStoreContract, ::testing::Bool(),
    [](const ::testing::TestParamInfo<bool>& store) { return store.param ? "Keychain" : "Memory"; });

// Disabled in the ordinary run: NoSecretServiceFailsFast runs it in a child process whose
// session bus does not exist. It must get a keychain error, not wait for a timeout.
TEST(KeychainWithoutSecretService, DISABLED_FailsAtOnceWithAKeychainError)
{
    KeychainKeyStore store(u"com.lumora.native"_qs);
    const QString account = u"device-signing-key-v1"_qs;
    const auto failsAtOnce = [](const auto& result) {
        ASSERT_FALSE(result.has_value());
        EXPECT_EQ(result.error().kind, SecureStoreError::Case::keychain);
        EXPECT_NE(result.error().status, SecureStoreError::timedOutStatus);
    };
    failsAtOnce(awaitTask(store.data(account)));
    failsAtOnce(awaitTask(store.set("x", account)));
    failsAtOnce(awaitTask(store.remove(account)));
}

TEST(KeychainKeyStore, NoSecretServiceFailsFast)
{
    QProcess child;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(u"DBUS_SESSION_BUS_ADDRESS"_qs, u"unix:path=/nonexistent/lumora-test-bus"_qs);
    environment.remove(u"GNOME_KEYRING_CONTROL"_qs);
    child.setProcessEnvironment(environment);
    child.setProcessChannelMode(QProcess::MergedChannels);
    child.start(QCoreApplication::applicationFilePath(),
        { u"--gtest_also_run_disabled_tests"_qs,
            u"--gtest_filter=KeychainWithoutSecretService.DISABLED_FailsAtOnceWithAKeychainError"_qs });
    ASSERT_TRUE(child.waitForFinished(30000));
    const QByteArray output = child.readAll();
    EXPECT_EQ(child.exitCode(), 0) << output.toStdString();
    EXPECT_TRUE(output.contains("[  PASSED  ] 1 test")) << output.toStdString();
    // The store's fixed log texts; a write of an item that is not there is an add.
    for (const char* text : { "Keychain read failed with status ", "Keychain add failed with status ",
             "Keychain delete failed with status " })
        EXPECT_TRUE(output.contains(text)) << text << '\n' << output.toStdString();
}
