#include "ServiceFixture.hpp"
#include "controlplane/JsonReplies.hpp"
#include "domain/PairingCode.hpp"
#include "domain/PairingPolicy.hpp"
#include "security/RequestSigner.hpp"

#include <QJsonArray>
#include <map>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

namespace lumora {
namespace {

using testing::bodyOf;
using testing::codeOf;
using testing::Member;

const QString policy = PairingPolicy::version.toString();

// Short pairing lifetimes: codes last 100 s, redeemed codes wait 50 s for confirmation.
class PairingEndpointsTest : public testing::BackendServiceTest {
protected:
    PairingEndpointsTest()
    {
        settings.pairing = PairingLifetimes { 100, 50 };
        restart();
    }

    QJsonObject state(const Member& of) { return get(of, "/v1/pairing/state"); }

    QJsonObject invite(const Member& from)
    {
        return post(from, "/v1/pairing/invites", { { "policy_version", policy } });
    }

    HttpResponse redeem(const Member& from, const QString& code)
    {
        return call(from, "POST", "/v1/pairing/invites/redeem", testing::json({ { "code", code } }));
    }

    HttpResponse confirm(const Member& from, const QJsonObject& invite, const QString& version = policy)
    {
        return call(from, "POST", "/v1/pairing/invites/confirm",
            testing::json({ { "invite_id", invite.value("invite_id") }, { "policy_version", version } }));
    }

    // The workspaces of an account as the views of the current and the readable ones list them.
    QStringList workspacesIn(const char* view, const Member& of)
    {
        QSqlQuery query(QSqlDatabase::database(store->connectionName()));
        query.prepare(QStringLiteral("SELECT workspace_id FROM %1 WHERE account_id = ? ORDER BY workspace_id")
                          .arg(QLatin1StringView(view)));
        query.addBindValue(idText(of.device.accountID));
        EXPECT_TRUE(query.exec());
        QStringList workspaces;
        while (query.next())
            workspaces.append(query.value(0).toString());
        return workspaces;
    }

    QString currentWorkspaceOf(const Member& of)
    {
        const QStringList current = workspacesIn("current_workspaces", of);
        EXPECT_EQ(current.size(), 1);
        return current.value(0);
    }

    Member ada = member("Ada");
    Member bob = member("Bob");
};

LUMORA_ON_EVERY_BACKEND(PairingEndpointsTest);

TEST_P(PairingEndpointsTest, CodesAreFreshTwelveSymbolsOfTheAlphabet)
{
    const QString first = invite(ada).value("code").toString();
    std::set<QString> codes { first };
    for (int i = 1; i < 40; ++i) {
        const QString code = invite(ada).value("code").toString();
        EXPECT_EQ(PairingCode::normalize(code), code);
        codes.insert(code);
    }
    EXPECT_EQ(codes.size(), 40U);
    // Only the newest one is outstanding.
    EXPECT_EQ(state(ada).value("pending_invite").toObject().value("status"), "open");
    EXPECT_EQ(codeOf(redeem(bob, first)), "409 pairing_invite_unavailable");
}

TEST_P(PairingEndpointsTest, CodesAndRedemptionsLapseAtTheirDeadlines)
{
    const QJsonObject lapsed = invite(ada);
    EXPECT_EQ(lapsed.value("expires_at").toInteger(), now + 100);
    now += 100;
    EXPECT_EQ(codeOf(redeem(bob, lapsed.value("code").toString())), "410 pairing_invite_expired");
    EXPECT_FALSE(state(ada).contains("pending_invite"));

    const QJsonObject slow = invite(ada);
    now += 99;
    const HttpResponse redeemed = redeem(bob, slow.value("code").toString());
    ASSERT_EQ(redeemed.status, 200) << redeemed.body;
    EXPECT_EQ(bodyOf(redeemed).value("confirm_expires_at").toInteger(), now + 50);
    EXPECT_EQ(
        state(ada).value("pending_invite").toObject().value("confirm_expires_at").toInteger(), now + 50);
    now += 50;
    EXPECT_EQ(codeOf(confirm(bob, slow)), "410 pairing_confirmation_expired");
    EXPECT_EQ(codeOf(redeem(bob, slow.value("code").toString())), "410 pairing_confirmation_expired");
    EXPECT_FALSE(state(ada).contains("pending_invite"));
    EXPECT_FALSE(state(bob).contains("pending_confirmation"));

    const QJsonObject quick = invite(ada);
    ASSERT_EQ(redeem(bob, quick.value("code").toString()).status, 200);
    now += 49;
    // Another pairing policy than the code's is refused and changes nothing.
    EXPECT_EQ(codeOf(confirm(bob, quick, "pairing-1999-01-01")), "422 pairing_policy_mismatch");
    EXPECT_TRUE(state(bob).contains("pending_confirmation"));
    EXPECT_EQ(confirm(bob, quick).status, 200);
    EXPECT_TRUE(state(ada).value("workspace").toObject().value("paired").toBool());
}

TEST_P(PairingEndpointsTest, WrongCodesLockRedeemingForTheAccountUntilTheWindowPasses)
{
    const Member carol = member("Carol");
    const QString code = invite(ada).value("code").toString();

    for (int attempt = 0; attempt < 5; ++attempt) {
        EXPECT_EQ(codeOf(redeem(bob, "0000-0000-0000")), "404 pairing_invite_not_found");
        EXPECT_EQ(codeOf(redeem(bob, "not a code")), "422 pairing_code_invalid");
    }
    const qint64 lastFailure = now;
    EXPECT_EQ(codeOf(redeem(bob, code)), "429 too_many_attempts");
    // Another account is not held back by Bob's guessing.
    EXPECT_EQ(codeOf(redeem(carol, "0000-0000-0000")), "404 pairing_invite_not_found");
    now = lastFailure + PairingStore::wrongCodeWindow;
    const QString fresh = invite(ada).value("code").toString();
    EXPECT_EQ(codeOf(redeem(bob, fresh)), "429 too_many_attempts");
    now += 1;
    EXPECT_EQ(redeem(bob, fresh).status, 200);
}

// The seconds a refused guess is told to wait, when it is told.
std::optional<qint64> retryAfterOf(const HttpResponse& reply)
{
    for (const auto& [name, value] : reply.headers)
        if (name == "Retry-After")
            return std::stoll(value);
    return std::nullopt;
}

// A refused guess is told in Retry-After when the wrong codes counted let the next guess through:
// when the oldest of them lapses, to the second, however they were spread over the window.
TEST_P(PairingEndpointsTest, TooManyAttemptsCarriesTheTrueRetryAfter)
{
    const qint64 firstWrong = now;
    for (int guess = 0; guess < PairingStore::wrongCodeBurst; ++guess) {
        EXPECT_EQ(codeOf(redeem(bob, "0000-0000-0000")), "404 pairing_invite_not_found");
        now += 30;
    }
    const HttpResponse refused = redeem(bob, "0000-0000-0000");
    EXPECT_EQ(codeOf(refused), "429 too_many_attempts");
    const qint64 wait = firstWrong + PairingStore::wrongCodeWindow + 1 - now;
    EXPECT_EQ(retryAfterOf(refused), wait) << "the retry after";
    now += wait - 1;
    const HttpResponse early = redeem(bob, "0000-0000-0000");
    EXPECT_EQ(codeOf(early), "429 too_many_attempts") << "a second early";
    EXPECT_EQ(retryAfterOf(early), 1) << "the retry after a second early";
    now += 1;
    EXPECT_EQ(codeOf(redeem(bob, "0000-0000-0000")), "404 pairing_invite_not_found") << "taken when told";
    // That guess was wrong too: the next one waits for the second oldest.
    EXPECT_EQ(retryAfterOf(redeem(bob, "0000-0000-0000")),
        firstWrong + 30 + PairingStore::wrongCodeWindow + 1 - now)
        << "the retry after the second oldest";
}

// Servers that share the database count one account's wrong codes together, also when
// the guesses arrive at once: several services, each on a connection and a thread of its
// own, look up exactly as many codes as the limit allows and refuse the rest.
TEST_P(PairingEndpointsTest, WrongCodesGuessedAtOnceThroughSeveralInstancesStayWithinTheLimit)
{
    const QString code = invite(ada).value("code").toString();
    constexpr int instances = 4;
    constexpr int guessesEach = 6;
    // Signed here: each thread only hands its requests to its own service.
    std::vector<std::vector<HttpRequest>> guesses(instances);
    for (auto& batch : guesses)
        for (int i = 0; i < guessesEach; ++i) {
            const std::string body = testing::json({ { "code", i % 2 ? "0000-0000-0000" : "not a code" } });
            const auto signature = RequestSigner::sign(bob.identity, bob.device.id, QStringLiteral("POST"),
                QStringLiteral("/v1/pairing/invites/redeem"), QByteArrayView(body),
                QDateTime::fromSecsSinceEpoch(now, Qt::UTC), QUuid::createUuid());
            ASSERT_TRUE(signature.has_value());
            batch.push_back(HttpRequest { "POST", "/v1/pairing/invites/redeem", {},
                { { "Authorization", signature->authorization().toStdString() } }, body });
        }
    std::mutex lock;
    std::map<std::string, int> answers;
    {
        std::vector<std::jthread> threads;
        for (const auto& batch : guesses)
            threads.emplace_back([&, &batch = batch] {
                auto own = ControlPlaneStore::open(database.url());
                ASSERT_TRUE(own.has_value()) << own.error().toStdString();
                const ControlPlaneService instance(**own, settings, [this] { return now; });
                for (const HttpRequest& request : batch) {
                    const std::string answer = codeOf(instance.handle(request));
                    const std::lock_guard locked(lock);
                    ++answers[answer];
                }
            });
    }
    const int refused = instances * guessesEach - PairingStore::wrongCodeBurst;
    EXPECT_EQ(answers["404 pairing_invite_not_found"] + answers["422 pairing_code_invalid"],
        PairingStore::wrongCodeBurst);
    EXPECT_EQ(answers["429 too_many_attempts"], refused);
    EXPECT_EQ(codeOf(redeem(bob, code)), "429 too_many_attempts");
    now += PairingStore::wrongCodeWindow + 1;
    EXPECT_EQ(redeem(bob, invite(ada).value("code").toString()).status, 200);
}

// Linked and unlinked within one second (the store's times are seconds): the workspaces come in
// the order they were left all the same, the joiner's own first.
TEST_P(PairingEndpointsTest, WorkspacesLeftInOneSecondKeepTheOrderTheyWereLeftIn)
{
    const QJsonObject code = invite(ada);
    ASSERT_EQ(redeem(bob, code.value("code").toString()).status, 200);
    ASSERT_EQ(confirm(bob, code).status, 200);
    ASSERT_EQ(call(bob, "POST", "/v1/pairing/unlink").status, 200);
    const QJsonArray previous = state(bob).value("previous_workspaces").toArray();
    ASSERT_EQ(previous.size(), 2);
    EXPECT_EQ(previous.first().toObject().value("workspace_id"), idText(bob.device.accountID));
    EXPECT_EQ(previous.last().toObject().value("workspace_id"), idText(ada.device.accountID));
}

TEST_P(PairingEndpointsTest, TheCurrentWorkspaceFollowsLinkingAndUnlinking)
{
    const auto workspaceIn = [&](const QJsonObject& reply) {
        return reply.value("workspace").toObject().value("workspace_id").toString();
    };

    EXPECT_EQ(currentWorkspaceOf(ada), idText(ada.device.accountID));
    EXPECT_EQ(workspacesIn("account_workspaces", ada), QStringList { idText(ada.device.accountID) });
    EXPECT_EQ(currentWorkspaceOf(ada), workspaceIn(state(ada)));

    const QJsonObject code = invite(ada);
    ASSERT_EQ(redeem(bob, code.value("code").toString()).status, 200);
    // Asking again after a lost answer gets the same redemption.
    EXPECT_EQ(redeem(bob, code.value("code").toString()).status, 200);
    now += 10;
    ASSERT_EQ(confirm(bob, code).status, 200);
    EXPECT_EQ(
        codeOf(call(bob, "POST", "/v1/pairing/invites", testing::json({ { "policy_version", policy } }))),
        "409 already_paired");
    const QString shared = workspaceIn(state(ada));
    EXPECT_EQ(currentWorkspaceOf(ada), shared);
    EXPECT_EQ(currentWorkspaceOf(bob), shared);

    // Bob joined Ada's workspace, which is linked from now on.
    EXPECT_EQ(shared, idText(ada.device.accountID));
    EXPECT_EQ(workspacesIn("account_workspaces", ada), QStringList { shared });

    now += 10;
    ASSERT_EQ(call(ada, "POST", "/v1/pairing/unlink").status, 200);
    EXPECT_EQ(codeOf(call(bob, "POST", "/v1/pairing/unlink")), "409 not_paired");
    for (const Member* who : { &ada, &bob }) {
        const QJsonObject after = state(*who);
        EXPECT_EQ(currentWorkspaceOf(*who), workspaceIn(after));
        const QJsonArray previous = after.value("previous_workspaces").toArray();
        ASSERT_EQ(previous.size(), who == &bob ? 2 : 1);
        if (who == &bob) {
            EXPECT_EQ(previous.first().toObject().value("member_count"), 1);
        }
        EXPECT_EQ(previous.last().toObject(),
            (QJsonObject { { "workspace_id", shared }, { "linked_at", now - 10 }, { "unlinked_at", now },
                { "member_count", 2 }, { "conversation_count", 0 } }));
    }
    EXPECT_NE(currentWorkspaceOf(ada), currentWorkspaceOf(bob));
    QStringList readable { shared, currentWorkspaceOf(ada) };
    readable.sort();
    EXPECT_EQ(workspacesIn("account_workspaces", ada), readable);
}

} // namespace
} // namespace lumora
