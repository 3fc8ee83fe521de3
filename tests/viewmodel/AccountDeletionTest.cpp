#include "AccountFixture.hpp"
#include "AnswerLosingRelay.hpp"
#include "persistence/EncryptedResultStore.hpp"
#include "providers/ControlPlaneClient.hpp"

#include <algorithm>

namespace lumora {
namespace {

using testing::AccountTest;
using testing::settle;
using testing::turnUntil;
using Answer = testing::AnswerLosingRelay::Answer;

const QByteArray deletionPath = "/v1/account/delete";
const QString pending = u"lumora.pendingAccountDeletion"_qs;

// A review of this computer recorded with `account`.
DerivedSessionResult reviewOf(const QUuid& account, const QString& title)
{
    DerivedSessionResult result = testing::review(title);
    result.accountID = account;
    return result;
}

QList<QUuid> localIDs(const SessionViewModel& model)
{
    QList<QUuid> ids;
    for (const ConversationHistoryEntry& entry : model.historyEntries())
        ids.append(entry.localID.value_or(QUuid()));
    return ids;
}

QList<QUuid> resultIDs(const SessionViewModel& model)
{
    QList<QUuid> ids;
    for (const DerivedSessionResult& result : model.results())
        ids.append(result.id);
    return ids;
}

// A key store whose reads of one item wait while `held` is closed.
class HeldReads final : public SecureKeyStore {
public:
    HeldReads(std::shared_ptr<SecureKeyStore> inner, QString account)
        : m_inner(std::move(inner))
        , m_account(std::move(account))
    {
    }

    testing::Gate held;

    QCoro::Task<ReadResult> data(QString account) override
    {
        if (account == m_account)
            co_await held.pass();
        co_return co_await m_inner->data(account);
    }
    QCoro::Task<WriteResult> set(QByteArray data, QString account) override
    {
        co_return co_await m_inner->set(data, account);
    }
    QCoro::Task<WriteResult> remove(QString account) override { co_return co_await m_inner->remove(account); }

private:
    std::shared_ptr<SecureKeyStore> m_inner;
    QString m_account;
};

// A deletion the control plane has not confirmed is asked again by the run itself, with no launch
// and no press: each answer that proves nothing (a gateway's 502, the control plane's 503, a
// refusal of a request that may repeat an earlier one, a rate limit) leaves it pending, and the
// next ask waits twice as long as the last. The proof that the account is gone wipes it and says
// so; the proof that it is kept (the device revoked meanwhile) says that nothing was removed.
TEST_F(AccountTest, AnUnconfirmedDeletionIsAskedAgainWhileTheProgramRunsAtGrowingPauses)
{
    const std::chrono::milliseconds pause(100);
    deletionRetryDelay = pause;
    const Answer gateway;
    const Answer unavailable { 503, "application/json", R"({"error":"storage_unavailable"})" };
    const Answer refused { 400, "application/json", R"({"error":"invalid_request"})" };
    const Answer limited { 429, "application/json", R"({"error":"rate_limited"})" };
    const struct {
        const char* name;
        // Whether the first request reaches the control plane, which then deletes the account.
        bool reachesTheServer;
        QList<Answer> atTheReasks;
        QString outcome;
    } rows[] = {
        { "a lost answer, re-asks that prove nothing, then the account gone", true,
            { gateway, unavailable, refused, limited }, SessionViewModel::accountDeletedText() },
        { "a gateway's answer, a re-ask that proves nothing, then the device revoked", false, { unavailable },
            SessionViewModel::accountNotDeletedMessage() },
    };
    auto relay = std::make_unique<testing::AnswerLosingRelay>(
        base, certificates.serverCertificate(), certificates.serverKey());
    home.info[InfoResource::controlPlaneURLKey] = relay->baseUrl().toString();
    auto model = launch();
    QString name = u"Ivy"_qs;
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        signIn(*model, name);
        const DerivedSessionResult hers = reviewOf(model->account()->accountID, name + u"'s review"_qs);
        ASSERT_TRUE(test::awaitTask(model->resultStore()->save(hers)));
        const ControlPlaneClient device(base, model->client()->deviceID(), *model->identity(), manager);

        if (row.reachesTheServer)
            relay->loseAnswersTo(deletionPath);
        else
            relay->answerAs(deletionPath, { gateway });
        model->requestAccountDeletion();
        settle(*model);
        ASSERT_EQ(model->errorMessage(), SessionViewModel::accountDeletionUnconfirmedMessage());
        ASSERT_EQ(test::awaitTask(device.accountState()).has_value(), !row.reachesTheServer);
        relay->loseAnswersTo({});
        relay->answerAs(deletionPath, row.atTheReasks);
        relay->watch(deletionPath);
        if (!row.reachesTheServer) {
            ASSERT_TRUE(test::awaitTask(device.revoke(device.deviceID())));
        }

        // Nothing but the run itself asks again.
        ASSERT_TRUE(turnUntil([&] { return model->statusText() == row.outcome; }, std::chrono::seconds(60)))
            << "the run never asked again; it says: " << model->statusText().toStdString();
        settle(*model);
        EXPECT_FALSE(home.preferences->contains(pending));
        EXPECT_FALSE(model->isSignedIn());
        const QList<qint64> asked = relay->arrivals();
        ASSERT_EQ(asked.size(), row.atTheReasks.size() + 1) << "each re-ask once, then the proof";
        for (qsizetype next = 1; next < asked.size(); ++next) {
            SCOPED_TRACE(next);
            // A coarse timer may fire up to 5% early.
            EXPECT_GE(asked[next] - asked[next - 1], pause.count() * (1 << next) * 9 / 10)
                << "the pause before a re-ask doubles";
        }
        const auto stored = test::awaitTask(model->resultStore()->list());
        ASSERT_TRUE(stored.has_value());
        EXPECT_EQ(stored->results.size(), row.reachesTheServer ? 0 : 1) << "removed exactly when gone";
        name = u"Pia"_qs;
    }
}

// What a deletion proven within the run leaves on screen: "Account deleted", and, signed out, the
// reviews that another account keeps on this computer, whether the control plane answered at once
// or proved the account gone at a press of Sign in after a lost answer. The press that found the
// deletion proven signs nobody in; the next one does.
TEST_F(AccountTest, ADeletionProvenInTheRunSaysAccountDeletedAndShowsTheReviewsOfOtherAccounts)
{
    // Nothing but the press asks again.
    deletionRetryDelay = std::chrono::hours(1);
    auto relay = std::make_unique<testing::AnswerLosingRelay>(
        base, certificates.serverCertificate(), certificates.serverKey());
    home.info[InfoResource::controlPlaneURLKey] = relay->baseUrl().toString();
    auto model = launch();
    signIn(*model, "Ben");
    const DerivedSessionResult bens = reviewOf(model->account()->accountID, u"Ben's review"_qs);
    ASSERT_TRUE(test::awaitTask(model->resultStore()->save(bens)));
    model->requestSignOut();
    settle(*model);
    ASSERT_EQ(resultIDs(*model), QList<QUuid> { bens.id });

    const struct {
        const char* name;
        const char* person;
        bool answerLost;
    } rows[] = {
        { "answered at once", "Ivy", false },
        { "proven at a press of Sign in", "Pia", true },
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        signIn(*model, row.person);
        const DerivedSessionResult hers = reviewOf(model->account()->accountID, u"Her review"_qs);
        ASSERT_TRUE(test::awaitTask(model->resultStore()->save(hers)));
        model.reset();
        model = launch();
        ASSERT_EQ(localIDs(*model), QList<QUuid> { hers.id });

        if (row.answerLost)
            relay->loseAnswersTo(deletionPath);
        model->requestAccountDeletion();
        settle(*model);
        if (row.answerLost) {
            ASSERT_EQ(model->errorMessage(), SessionViewModel::accountDeletionUnconfirmedMessage());
            relay->loseAnswersTo({});
            const qsizetype pages = opened.size();
            model->requestSignIn();
            settle(*model);
            EXPECT_EQ(opened.size(), pages) << "the press that proved the deletion went on to sign in";
            EXPECT_FALSE(model->isAppleAuthorizationActive());
        }
        EXPECT_EQ(model->statusText(), SessionViewModel::accountDeletedText());
        EXPECT_EQ(model->errorMessage(), std::nullopt);
        EXPECT_FALSE(model->isSignedIn());
        EXPECT_FALSE(home.preferences->contains(pending));
        EXPECT_EQ(resultIDs(*model), QList<QUuid> { bens.id }) << "the other account's review is not shown";
        EXPECT_EQ(localIDs(*model), QList<QUuid> { bens.id }) << "History lacks the other account's review";
    }
    signIn(*model, "Zoe");
}

// The launch has connected the account and not yet shown its reviews when its deletion is asked,
// and the control plane answers before the launch reads them: nothing of the account shows from
// the moment its deletion is asked, and what shows at the end is what this computer keeps.
TEST_F(AccountTest, AnAccountDeletedBeforeItsLaunchShowedItsReviewsNeverShowsThem)
{
    auto model = launch();
    signIn(*model, "Ivy");
    const DerivedSessionResult hers = reviewOf(model->account()->accountID, u"Ivy's review"_qs);
    ASSERT_TRUE(test::awaitTask(model->resultStore()->save(hers)));
    model.reset();
    // The launch's reading of the reviews waits until the deletion is answered.
    const auto held = std::make_shared<HeldReads>(
        std::make_shared<KeychainKeyStore>(service), EncryptedResultStore::keyAccount());
    chosenKeychain = held;
    bool answered = false;
    accountDeletionAnswered = [&]() -> QCoro::Task<void> {
        answered = true;
        held->held.open();
        co_return;
    };

    model = open();
    bool asked = false;
    QStringList shown;
    SessionViewModel& launching = *model;
    QObject::connect(&launching, &SessionViewModel::accountChanged, &launching, [&] {
        if (launching.account() && !asked)
            held->held.close();
    });
    QObject::connect(&launching, &SessionViewModel::isBusyChanged, &launching, [&] {
        if (asked || !launching.isSignedIn() || launching.isBusy())
            return;
        asked = true;
        launching.requestAccountDeletion();
    });
    QObject::connect(&launching, &SessionViewModel::resultsChanged, &launching, [&] {
        for (const DerivedSessionResult& result :
            asked ? launching.results() : QList<DerivedSessionResult> {})
            shown.append(result.title.value_or(QString()));
    });
    QObject::connect(&launching, &SessionViewModel::historyEntriesChanged, &launching, [&] {
        for (const ConversationHistoryEntry& entry :
            asked ? launching.historyEntries() : QList<ConversationHistoryEntry> {})
            shown.append(entry.title.value_or(QString()));
    });
    settle(launching);
    ASSERT_TRUE(asked && answered);
    EXPECT_EQ(shown, QStringList {}) << "shown while or after its deletion was asked";
    EXPECT_EQ(launching.statusText(), SessionViewModel::accountDeletedText());
    EXPECT_TRUE(launching.results().isEmpty());
    EXPECT_TRUE(launching.historyEntries().isEmpty());
}

} // namespace
} // namespace lumora
