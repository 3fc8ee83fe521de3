#include "TestKeyStore.hpp"
#include "security/KeychainKeyStore.hpp"

#include <QCoreApplication>
#include <QLocalServer>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
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

namespace {

// Waits for `task` as QTest::qWaitFor does, which after each turn of the loop deletes what waits
// for deletion, as a window's loop may; empty when no answer came.
template <typename T> std::optional<T> awaitDeletingFirst(QCoro::Task<T> task)
{
    std::optional<T> result;
    auto waiting = test::storeResult(std::move(task), &result);
    (void)QTest::qWaitFor([&] { return result.has_value(); }, 60000);
    return result;
}

template <typename Result> void expectFailure(const std::optional<Result>& result, bool timedOut)
{
    ASSERT_TRUE(result.has_value()) << "the call never ended";
    ASSERT_FALSE(result->has_value());
    EXPECT_EQ(result->error().kind, SecureStoreError::Case::keychain);
    EXPECT_EQ(result->error().status == SecureStoreError::timedOutStatus, timedOut);
}

// What a keychain that cannot answer, or never does, gives each call: a keychain error. The
// store's own time-out is what ends a call that never gets an answer; a refusal must come before
// it however slow the machine, so then it stands for a hang.
void expectEachCallFails(bool timedOut)
{
    KeychainKeyStore store(u"com.lumora.native"_qs, std::chrono::milliseconds(timedOut ? 400 : 50000));
    const QString account = u"device-signing-key-v1"_qs;
    expectFailure(awaitDeletingFirst(store.data(account)), timedOut);
    expectFailure(awaitDeletingFirst(store.set("x", account)), timedOut);
    expectFailure(awaitDeletingFirst(store.remove(account)), timedOut);
}

} // namespace

TEST(KeychainKeyStore, AnswersReachALoopThatDeletesBeforeItDelivers)
{
    if (!qEnvironmentVariableIsSet("LUMORA_TEST_SESSION"))
        GTEST_SKIP() << "needs scripts/with-test-session";
    KeychainKeyStore store(
        u"com.lumora.native.test."_qs + QUuid::createUuid().toString(QUuid::WithoutBraces));
    const QString account = u"account-session-v2"_qs;
    const auto written = awaitDeletingFirst(store.set("{}", account));
    ASSERT_TRUE(written.has_value()) << "the write's answer never arrived";
    EXPECT_TRUE(written->has_value());
    const auto read = awaitDeletingFirst(store.data(account));
    ASSERT_TRUE(read.has_value()) << "the read's answer never arrived";
    EXPECT_EQ(read->value().bytes, QByteArray("{}"));
    const auto removed = awaitDeletingFirst(store.remove(account));
    ASSERT_TRUE(removed.has_value()) << "the removal's answer never arrived";
    EXPECT_TRUE(removed->has_value());
}

// Disabled in the ordinary run: BrokenKeychainsFailEachCall runs them in a child process
// whose session bus does not exist or never answers.
TEST(KeychainWithoutSecretService, DISABLED_FailsAtOnce)
{
    expectEachCallFails(false);
}

TEST(KeychainThatNeverAnswers, DISABLED_TimesOut)
{
    expectEachCallFails(true);
}

TEST(KeychainKeyStore, BrokenKeychainsFailEachCall)
{
    QTemporaryDir folder;
    // Takes the connection and never says a word, as a hung keyring daemon would.
    QLocalServer silentBus;
    ASSERT_TRUE(silentBus.listen(folder.filePath(u"bus"_qs)));
    struct Case {
        QString bus;
        QString test;
        const char* status;
        // A write of an item that is not there is an add; one without an answer cannot tell.
        const char* write;
        const char* reason;
    };
    const Case cases[] = {
        { u"unix:path=/nonexistent/lumora-test-bus"_qs,
            u"KeychainWithoutSecretService.DISABLED_FailsAtOnce"_qs, "", "add", "" },
        { u"unix:path="_qs + silentBus.fullServerName(), u"KeychainThatNeverAnswers.DISABLED_TimesOut"_qs,
            "-1", "update", "no answer from the keychain in time" },
    };
    for (const Case& row : cases) {
        SCOPED_TRACE(row.test.toStdString());
        QProcess child;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(u"DBUS_SESSION_BUS_ADDRESS"_qs, row.bus);
        environment.remove(u"GNOME_KEYRING_CONTROL"_qs);
        child.setProcessEnvironment(environment);
        child.setProcessChannelMode(QProcess::MergedChannels);
        child.start(QCoreApplication::applicationFilePath(),
            { u"--gtest_also_run_disabled_tests"_qs, u"--gtest_filter="_qs + row.test });
        ASSERT_TRUE(child.waitForFinished(30000));
        const QByteArray output = child.readAll();
        EXPECT_EQ(child.exitCode(), 0) << output.toStdString();
        EXPECT_TRUE(output.contains("[  PASSED  ] 1 test")) << output.toStdString();
        // The store's fixed log texts.
        for (const QByteArray& text : { "Keychain read failed with status "_qba + row.status,
                 "Keychain "_qba + row.write + " failed with status " + row.status,
                 "Keychain delete failed with status "_qba + row.status, QByteArray(row.reason) })
            EXPECT_TRUE(output.contains(text)) << text.toStdString() << '\n' << output.toStdString();
    }
}

// A thread busy for longer than a call may take (the window's first frame, a slow machine) is no
// keychain that did not answer: an answer that arrived meanwhile is taken, and a timeout, which
// stops keys from being made for the rest of the run, is not declared.
TEST(KeychainKeyStore, AnAnswerThatCameWhileTheThreadWasBusyIsNoTimeout)
{
    if (!qEnvironmentVariableIsSet("LUMORA_TEST_SESSION"))
        GTEST_SKIP() << "needs scripts/with-test-session";
    KeychainKeyStore store(u"com.lumora.native.test."_qs + QUuid::createUuid().toString(QUuid::WithoutBraces),
        std::chrono::milliseconds(300));
    const QString account = u"derived-result-encryption-key-v1"_qs;
    for (int attempt = 0; attempt < 2; ++attempt) {
        SCOPED_TRACE(attempt);
        auto reading = store.data(account);
        // Long enough for the keychain to answer and for the call's time to run out.
        QThread::msleep(800);
        const auto read = awaitTask(std::move(reading));
        ASSERT_TRUE(read.has_value()) << "status " << read.error().status;
        EXPECT_EQ(read->bytes, std::nullopt);
    }
}
