#include "AccountFixture.hpp"
#include "AnswerLosingRelay.hpp"
#include "appcore/ConversationBackupService.hpp"
#include "controlplane/ControlPlaneStore.hpp"
#include "controlplane/ReservationStore.hpp"
#include "persistence/ConversationBackupStore.hpp"
#include "persistence/EncryptedResultStore.hpp"
#include "providers/ControlPlaneBootstrap.hpp"
#include "providers/ControlPlaneClient.hpp"

#include <QDirIterator>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QNetworkReply>
#include <qcoro/qcorotimer.h>

namespace lumora {
namespace {

using testing::AccountTest;
using testing::ControlPlaneProcess;
using testing::OverwrittenSessionKeychain;
using testing::review;
using testing::reviewOf;
using testing::settle;

const QString notAuthorized = QStringLiteral("This device is no longer authorized. Sign in again.");

TEST_F(AccountTest, TheFirstLaunchSignsInThroughTheBrowserAndTheNextRestoresWithoutIt)
{
    auto first = launch();
    // A device key the control plane does not know: nothing recovered, nothing said.
    EXPECT_FALSE(first->isSignedIn());
    EXPECT_EQ(first->statusText(), "Sign in to begin");
    EXPECT_EQ(first->errorMessage(), std::nullopt);

    first->requestSignIn();
    settle(*first);
    ASSERT_EQ(opened.size(), 1);
    EXPECT_EQ(opened[0].host(), base.host());
    EXPECT_TRUE(first->isAppleAuthorizationActive());
    EXPECT_FALSE(first->isBusy());
    first->requestSignIn();
    settle(*first);
    EXPECT_EQ(opened.size(), 1) << "a second press while the browser is open does nothing";

    const QUrl callback = browse(opened[0], "Ada");
    EXPECT_EQ(callback.scheme(), "lumora");
    first->handleExternalURL(callback);
    EXPECT_FALSE(first->isAppleAuthorizationActive());
    settle(*first);
    ASSERT_TRUE(first->isSignedIn()) << first->statusText().toStdString();
    EXPECT_EQ(first->errorMessage(), std::nullopt);
    EXPECT_EQ(first->statusText(), "Recording agreement required");
    EXPECT_TRUE(first->currentSession().has_value());
    expectServices(*first, true);
    EXPECT_NE(first->checkinService(), nullptr);
    const AccountState account = *first->account();
    EXPECT_EQ(savedSession(), (LocalAccountSession { account.accountID, account.deviceID }));
    first->acceptRecordingAgreement();
    EXPECT_EQ(first->statusText(), "Ready to record");
    first.reset();

    auto second = launch();
    EXPECT_EQ(opened.size(), 1);
    EXPECT_EQ(second->account(), account);
    EXPECT_EQ(second->statusText(), "Ready to record");
    expectServices(*second, true);
    second.reset();

    // Each launch reported the app opening once; the second found the first ended uncleanly
    // (nothing marked a clean exit) and said so once.
    ASSERT_EQ(server->stop(), 0) << server->log().toStdString();
    {
        const auto database = ControlPlaneStore::open(u"sqlite:"_qs + server->databasePath());
        ASSERT_TRUE(database.has_value()) << database.error().toStdString();
        EXPECT_EQ((*database)->countRows("product_events", account.accountID), 2);
        EXPECT_EQ((*database)->countRows("diagnostics", account.accountID), 1);
    }
    server.reset();
}

TEST_F(AccountTest, ARevokedDeviceIsToldToSignInAgainAndKeepsOnlyItsLocalData)
{
    auto model = launch();
    signIn(*model, "Ben");
    const DerivedSessionResult kept = review("Kept here");
    ASSERT_TRUE(test::awaitTask(model->resultStore()->save(kept)));
    // Another of the account's devices revokes this one.
    ASSERT_TRUE(test::awaitTask(model->client()->revoke(model->account()->deviceID)));
    model.reset();

    auto again = launch();
    EXPECT_FALSE(again->isSignedIn());
    EXPECT_EQ(again->errorMessage(), notAuthorized);
    EXPECT_EQ(again->statusText(), notAuthorized);
    expectServices(*again, false);
    EXPECT_NE(again->checkinService(), nullptr) << "the check-in service stays";
    EXPECT_EQ(again->currentSession(), std::nullopt);
    EXPECT_EQ(savedSession(), std::nullopt);
    ASSERT_EQ(again->results().size(), 1);
    EXPECT_EQ(again->results()[0].id, kept.id);
    ASSERT_EQ(again->historyEntries().size(), 1) << "the history comes from the local reviews";
    EXPECT_EQ(again->historyEntries()[0].localID, kept.id);
}

TEST_F(AccountTest, ADeviceWhoseSavedSessionWasClearedRecoversItsRegistration)
{
    auto model = launch();
    signIn(*model, "Cleo");
    const AccountState account = *model->account();
    model.reset();
    ASSERT_TRUE(test::awaitTask(AccountSessionStore(keychain()).clear()));

    auto again = launch();
    EXPECT_EQ(opened.size(), 1) << "no browser";
    EXPECT_EQ(again->account(), account);
    EXPECT_EQ(again->errorMessage(), std::nullopt);
    EXPECT_EQ(savedSession(), (LocalAccountSession { account.accountID, account.deviceID }));
    expectServices(*again, true);
}

// Without the server the saved account still connects its services, but nobody is signed in
// until a refresh succeeds; the saved session stays for the next launch.
TEST_F(AccountTest, ASavedSessionWhoseRefreshFailsStaysSavedAndConnected)
{
    auto model = launch();
    signIn(*model, "Ona");
    const AccountState account = *model->account();
    model.reset();
    EXPECT_EQ(server->stop(), 0) << server->log().toStdString();
    server.reset();

    auto offline = launch();
    EXPECT_EQ(offline->errorMessage(), "That request could not be completed.");
    EXPECT_EQ(offline->statusText(), "That request could not be completed.");
    EXPECT_FALSE(offline->isSignedIn());
    EXPECT_FALSE(offline->isBusy());
    expectServices(*offline, true);
    EXPECT_EQ(savedSession(), (LocalAccountSession { account.accountID, account.deviceID }));
}

// The device key is gone while a session is saved (another keyring, a restored home folder):
// no new key is made behind the session's back, so the start-up stops; signing out is the way
// out, and the next launch starts afresh.
TEST_F(AccountTest, WithoutItsDeviceKeyASavedSessionCanStillBeSignedOut)
{
    realKeychain = false;
    auto model = launch();
    signIn(*model, "Pia");
    model.reset();
    ASSERT_TRUE(test::awaitTask(home.keychain->values.remove(DeviceIdentity::storeAccount())));

    auto stuck = launch();
    EXPECT_EQ(stuck->errorMessage(), "Secure local storage could not be prepared.");
    EXPECT_FALSE(stuck->identity().has_value());
    stuck->requestSignOut();
    settle(*stuck);
    EXPECT_EQ(stuck->statusText(), "Sign in to begin");
    EXPECT_EQ(savedSession(), std::nullopt);
    stuck.reset();

    auto fresh = launch();
    EXPECT_EQ(fresh->errorMessage(), std::nullopt);
    ASSERT_TRUE(fresh->identity().has_value());
    signIn(*fresh, "Pia");
}

// While an account is connected no sign-in starts, and a sign-in link that arrives anyway (made
// by someone else for this computer's public key, in their own account) is ignored: the account
// signed in on this computer stays as it was, and the link is never redeemed.
TEST_F(AccountTest, ASignInThatWouldMoveThisKeyToAnotherAccountLeavesTheFirstSignedIn)
{
    auto model = launch();
    signIn(*model, "Kim");
    const AccountState account = *model->account();
    model->requestSignIn();
    settle(*model);
    EXPECT_EQ(opened.size(), 1) << "no second sign-in page";

    const auto page = test::awaitTask(ControlPlaneBootstrap::beginWebAppleAuthorization(
        base, *model->identity(), ControlPlaneBootstrap::newState(), manager));
    ASSERT_TRUE(page.has_value());
    const QUrl crafted = browse(*page, "Lee");
    model->handleExternalURL(crafted);
    settle(*model);
    EXPECT_EQ(model->errorMessage(), std::nullopt) << "nothing was sent";
    EXPECT_EQ(model->account(), account);
    EXPECT_EQ(savedSession(), (LocalAccountSession { account.accountID, account.deviceID }));
    expectServices(*model, true);
}

// A control plane without a sign-in of its own (no identity provider behind it, nor the
// development sign-in) refuses every start; the window says that sign-in is not available on
// that server, rather than that the request could not be completed safely.
TEST_F(AccountTest, ASignInTheServerDoesNotOfferIsSaidToBeUnavailableThere)
{
    ASSERT_EQ(server->stop(), 0);
    server = std::make_unique<ControlPlaneProcess>(QStringList {
        "--tls-cert", certificates.serverCertificate(), "--tls-key", certificates.serverKey() });
    ASSERT_TRUE(server->started());
    home.info[InfoResource::controlPlaneURLKey] = server->baseUrl().toString();
    auto model = launch();
    model->requestSignIn();
    settle(*model);
    EXPECT_TRUE(opened.isEmpty());
    EXPECT_FALSE(model->isBusy());
    EXPECT_EQ(model->errorMessage(), "Sign-in is not available on this server.");
    EXPECT_EQ(model->statusText(), "Sign-in is not available on this server.");
}

TEST_F(AccountTest, SignOutRevokesThisDeviceAndKeepsTheReviewsOnThisComputer)
{
    auto model = launch();
    signIn(*model, "Dara");
    model->acceptRecordingAgreement();
    const DerivedSessionResult kept = reviewOf(*model, "Kept here");
    ASSERT_TRUE(test::awaitTask(model->resultStore()->save(kept)));
    model.reset();
    model = launch();
    ASSERT_TRUE(model->isSignedIn());
    ASSERT_EQ(model->results().size(), 1);
    const auto revoked = model->client();
    model->changeCheckinReminder(true, 7, 19, 0);
    settle(*model);
    ASSERT_TRUE(model->checkinReminder().isOn);

    model->requestSignOut();
    settle(*model);
    EXPECT_FALSE(model->isSignedIn());
    EXPECT_EQ(model->statusText(), "Sign in to begin");
    // Its switch shows only while signed in: it is off, stored off, and nothing is pending.
    EXPECT_FALSE(model->checkinReminder().isOn);
    EXPECT_FALSE(SessionViewModel::storedReminder(*home.preferences).isOn);
    EXPECT_EQ(home.scheduler->calls.last(), "remove");
    expectServices(*model, false);
    EXPECT_NE(model->checkinService(), nullptr);
    EXPECT_EQ(savedSession(), std::nullopt);
    EXPECT_TRUE(model->recordingAgreementAccepted());
    ASSERT_EQ(model->historyEntries().size(), 1);
    EXPECT_EQ(model->historyEntries()[0].localID, kept.id);
    const auto refused = test::awaitTask(revoked->accountState());
    ASSERT_FALSE(refused.has_value());
    const auto* refusal = std::get_if<ControlPlaneError>(&refused.error());
    ASSERT_NE(refusal, nullptr);
    EXPECT_EQ(refusal->status(), 401);

    // Signed out, a deletion has nobody to ask: it is refused and removes nothing.
    model->requestAccountDeletion();
    settle(*model);
    EXPECT_EQ(
        model->errorMessage(), "Your account could not be deleted. Nothing was removed; please try again.");
    EXPECT_EQ(model->results().size(), 1);
    EXPECT_TRUE(model->recordingAgreementAccepted());
    EXPECT_FALSE(model->isBusy());
}

// Signed out while the control plane could not be reached: no later launch reconnects or
// recovers this device; the next one that reaches the control plane revokes it.
TEST_F(AccountTest, AnOfflineSignOutSticksAndItsRevocationIsDeliveredLater)
{
    auto model = launch();
    signIn(*model, "Ola");
    const AccountState account = *model->account();
    const DeviceIdentity key = *model->identity();
    const std::unique_ptr<ControlPlaneProcess> offline = std::move(server);
    ASSERT_EQ(offline->stop(), 0) << offline->log().toStdString();

    model->requestSignOut();
    settle(*model);
    EXPECT_FALSE(model->isSignedIn());
    EXPECT_EQ(model->statusText(), "Sign in to begin");
    EXPECT_EQ(savedSession(), std::nullopt);
    model.reset();

    // The same control plane back on the same address.
    server = std::make_unique<ControlPlaneProcess>(
        QStringList { "--dev-sign-in", "--tls-cert", certificates.serverCertificate(), "--tls-key",
            certificates.serverKey(), "--database", u"sqlite:"_qs + offline->databasePath(), "--listen",
            u"127.0.0.1:"_qs + QString::number(base.port()) });
    ASSERT_TRUE(server->started()) << server->log().toStdString();
    for (const char* launchName : { "the launch that delivers the revocation", "a later launch" }) {
        SCOPED_TRACE(launchName);
        auto again = launch();
        EXPECT_FALSE(again->isSignedIn());
        expectServices(*again, false);
        EXPECT_EQ(again->errorMessage(), std::nullopt);
        EXPECT_EQ(again->statusText(), "Sign in to begin");
        EXPECT_EQ(savedSession(), std::nullopt);
    }
    EXPECT_FALSE(home.preferences->contains("lumora.pendingRevocation"));
    const auto refused
        = test::awaitTask(ControlPlaneClient(base, account.deviceID, key, manager).accountState());
    ASSERT_FALSE(refused.has_value());
    const auto* refusal = std::get_if<ControlPlaneError>(&refused.error());
    ASSERT_NE(refusal, nullptr);
    EXPECT_EQ(refusal->status(), 401);

    // Signing in again afterwards works as on a new computer.
    auto fresh = launch();
    signIn(*fresh, "Ola");
}

// A sign-out holds until the control plane proves the device revoked. Answered by what proves
// nothing (a refusal of a request signed ten minutes ahead, a gateway's 5xx, a lost answer,
// another control plane's unknown device), the device stays marked, the launch after it sends the
// revocation again and neither recovers the device nor shows the account, and the launch that
// meets the control plane's proof ends the mark. An account deleted on another computer never
// proves it: a sign-in in the browser still signs this computer in anew, and the old mark, even
// one the sign-in's run could not forget, leaves the new session be.
TEST_F(AccountTest, ASignOutHoldsUntilTheControlPlaneProvesTheDeviceRevoked)
{
    using Answer = testing::AnswerLosingRelay::Answer;
    const QString pending = u"lumora.pendingRevocation"_qs;
    const QByteArray revoke = "/v1/devices/revoke";
    // A control plane whose database never knew the device.
    ControlPlaneProcess other(QStringList {
        "--tls-cert", certificates.serverCertificate(), "--tls-key", certificates.serverKey() });
    ASSERT_TRUE(other.started()) << other.log().toStdString();
    const struct {
        const char* name;
        // What answers the revocation at Sign out and at the launch after it.
        qint64 clockAhead;
        QList<Answer> gateway;
        bool answerLost;
        bool otherControlPlane;
        // The account, before Sign out.
        bool deletedElsewhere;
        // What the control plane says of the device after Sign out.
        const char* leftOnServer;
    } rows[] = {
        { "a clock ten minutes ahead", 600, {}, false, false, false, "active" },
        { "a gateway's 502, then its 503", 0,
            { Answer {}, Answer { 503, "text/html", "<html><body>Service Unavailable</body></html>" } },
            false, false, false, "active" },
        { "a lost answer, then a refused connection", 0, {}, true, false, false, "device_revoked" },
        { "another control plane behind the address", 0, {}, false, true, false, "active" },
        { "the account deleted on another computer", 0, {}, false, false, true, "unknown_device" },
    };
    std::unique_ptr<testing::AnswerLosingRelay> relay;
    quint16 port = 0;
    const auto relayTo = [&](const QUrl& target) {
        relay.reset();
        relay = std::make_unique<testing::AnswerLosingRelay>(
            target, certificates.serverCertificate(), certificates.serverKey(), port);
        port = relay->port();
    };
    relayTo(base);
    home.info[InfoResource::controlPlaneURLKey] = relay->baseUrl().toString();
    const auto deviceState = [](const ControlPlaneClient& device) {
        const auto state = test::awaitTask(device.accountState());
        if (state)
            return u"active"_qs;
        const auto* refusal = std::get_if<ControlPlaneError>(&state.error());
        return refusal ? refusal->code().value_or(u"no code"_qs) : u"no answer"_qs;
    };
    const auto expectSignedOut = [this](const SessionViewModel& model) {
        EXPECT_FALSE(model.isSignedIn()) << "the signed-out device was recovered";
        EXPECT_EQ(model.account(), std::nullopt);
        expectServices(model, false);
        EXPECT_EQ(model.statusText(), "Sign in to begin");
        EXPECT_EQ(savedSession(), std::nullopt);
    };

    auto model = launch();
    int signedIn = 0;
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const QString name = u"Person "_qs + QString::number(++signedIn);
        relayTo(base);
        // A row that failed may have left its account signed in: each row starts signed out.
        if (model->isSignedIn()) {
            model->requestSignOut();
            settle(*model);
        }
        signIn(*model, name);
        const AccountState account = *model->account();
        const QString marked = account.deviceID.toString(QUuid::WithoutBraces);
        const ControlPlaneClient device(base, account.deviceID, *model->identity(), manager);
        if (row.deletedElsewhere) {
            ASSERT_TRUE(test::awaitTask(device.deleteAccount()).has_value());
        }
        const auto arrange = [&](int moment) {
            relayTo(row.otherControlPlane ? other.baseUrl() : base);
            relay->skewClock(row.clockAhead);
            relay->answerAs(revoke, row.gateway.mid(moment, 1));
            if (row.answerLost) {
                relay->loseAnswersTo(revoke);
                relay->stopListeningAfterLoss();
            }
        };

        arrange(0);
        model->requestSignOut();
        settle(*model);
        expectSignedOut(*model);
        EXPECT_EQ(relay->lostAnswers() > 0, row.answerLost);
        EXPECT_EQ(deviceState(device), QString::fromLatin1(row.leftOnServer));
        EXPECT_EQ(home.preferences->value(pending).toString(), marked)
            << "the sign-out was taken as proven by an answer that proves nothing";
        model.reset();

        // The revocation is sent again, and what answers proves nothing yet.
        if (row.answerLost)
            relay.reset();
        else
            arrange(1);
        model = launch();
        expectSignedOut(*model);
        EXPECT_EQ(home.preferences->value(pending).toString(), marked);
        EXPECT_EQ(deviceState(device), QString::fromLatin1(row.leftOnServer));
        model.reset();

        // The control plane that registered the device answers.
        relayTo(base);
        model = launch();
        expectSignedOut(*model);
        if (row.deletedElsewhere) {
            EXPECT_EQ(home.preferences->value(pending).toString(), marked) << "nothing proves it now";
            signIn(*model, name);
            const AccountState again = *model->account();
            EXPECT_NE(again.deviceID, account.deviceID);
            EXPECT_FALSE(home.preferences->contains(pending));
            model.reset();
            // As a run that ended once the new session was saved, before it forgot the mark.
            home.preferences->setValue(pending, marked);
            model = launch();
            EXPECT_EQ(model->account(), again) << "the old mark signed the new session out";
            EXPECT_FALSE(home.preferences->contains(pending));
            EXPECT_EQ(savedSession(), (LocalAccountSession { again.accountID, again.deviceID }));
        } else {
            EXPECT_FALSE(home.preferences->contains(pending)) << "the control plane's proof did not end it";
            EXPECT_EQ(deviceState(device), u"device_revoked"_qs);
            model.reset();
            model = launch();
            expectSignedOut(*model);
        }
    }
}

// Signing out stops the account's services before the revocation goes out: what the window asks
// for meanwhile (a history refresh when it is activated again, the pairing state) sends nothing
// signed with the device, and an account refresh on its way publishes nothing.
TEST_F(AccountTest, NothingOfTheAccountOutlivesTheSignOut)
{
    auto model = launch();
    signIn(*model, "Uma");
    auto* network = model->findChild<QNetworkAccessManager*>();
    ASSERT_NE(network, nullptr);
    QStringList sent;
    QObject::connect(network, &QNetworkAccessManager::finished, network, [&sent](QNetworkReply* reply) {
        sent.append(reply->url().path() + u' '
            + QString::number(reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt()));
    });
    auto refresh = model->refreshAfterConversation();
    const QStringList before = sent;
    model->requestSignOut();
    model->refreshHistory(true);
    model->requestPairingState();
    settle(*model);
    test::awaitTask(std::move(refresh));
    EXPECT_FALSE(model->isSignedIn());
    EXPECT_EQ(model->currentSession(), std::nullopt);
    EXPECT_EQ(model->statusText(), "Sign in to begin");
    expectServices(*model, false);
    // The refresh's first call was on its way; it goes no further.
    sent.sort();
    EXPECT_EQ(sent, (QStringList { "/v1/account/state 200", "/v1/devices/revoke 200" }));
    EXPECT_TRUE(before.isEmpty());
}

// What the account kept in the desktop keyring (over the Secret Service) and in the data
// folder: nothing of it is left, and the reminder it set is off.
TEST_F(AccountTest, DeletingTheAccountRemovesItOnTheServerAndEverythingThisComputerKeptForIt)
{
    auto model = launch();
    signIn(*model, "Eli");
    model->acceptRecordingAgreement();
    model->updateParticipantName(0, "Eli");
    ASSERT_TRUE(test::awaitTask(model->resultStore()->save(reviewOf(*model, "Gone"))));
    model.reset();
    model = launch();
    ASSERT_EQ(model->results().size(), 1);
    ASSERT_EQ(model->historyEntries().size(), 1);
    const auto client = model->client();
    const QByteArray deviceKey = model->identity()->publicKeyBase64URL().toUtf8();
    model->changeCheckinReminder(true, 7, 19, 0);
    settle(*model);
    ASSERT_TRUE(model->checkinReminder().isOn);
    const QStringList items { AccountSessionStore::currentAccount(), AccountSessionStore::formerAccount(),
        DeviceIdentity::storeAccount(), EncryptedResultStore::keyAccount(),
        ConversationBackupStore::keyAccount() };
    const auto kept = [&] {
        QStringList found;
        for (const QString& item : items) {
            const auto stored = test::awaitTask(keychain()->data(item));
            EXPECT_TRUE(stored.has_value()) << item.toStdString();
            if (stored && stored->bytes)
                found.append(item);
        }
        QDirIterator files(home.applicationSupport, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
        while (files.hasNext())
            found.append(QFileInfo(files.next()).fileName());
        found.removeAll(u"lumora.lock"_qs);
        found.removeAll(u"launch-active"_qs);
        return found;
    };
    const QStringList before = kept();
    for (const QString& item : items.mid(2)
            + QStringList { u"derived-result-encryption-key-v1.fingerprint"_qs,
                u"conversation-backup-state-key-v1.fingerprint"_qs, u"backup-state.lbs"_qs })
        ASSERT_TRUE(before.contains(item)) << item.toStdString() << " in " << before.join(' ').toStdString();

    model->requestAccountDeletion();
    settle(*model);
    EXPECT_EQ(model->statusText(), "Account deleted");
    EXPECT_EQ(model->errorMessage(), std::nullopt);
    EXPECT_FALSE(model->isSignedIn());
    expectServices(*model, false);
    EXPECT_TRUE(model->results().isEmpty());
    EXPECT_TRUE(model->historyEntries().isEmpty());
    EXPECT_FALSE(model->recordingAgreementAccepted());
    EXPECT_EQ(model->participantNames(), (QStringList { "Person 1", "Person 2" }));
    EXPECT_FALSE(home.preferences->contains("corvane.participantName.left"));
    EXPECT_FALSE(home.preferences->contains("lumora.recordingAgreementVersion"));
    EXPECT_EQ(savedSession(), std::nullopt);
    const auto listed = test::awaitTask(model->resultStore()->list());
    ASSERT_TRUE(listed.has_value());
    EXPECT_TRUE(listed->results.isEmpty());
    EXPECT_FALSE(test::awaitTask(client->accountState()).has_value());
    EXPECT_EQ(kept(), QStringList {}) << "keys, sealed files and their fingerprints";
    EXPECT_FALSE(model->checkinReminder().isOn);
    EXPECT_FALSE(SessionViewModel::storedReminder(*home.preferences).isOn);
    EXPECT_EQ(home.scheduler->calls.last(), "remove");

    // The next account on this computer starts afresh, with a device key of its own.
    signIn(*model, "Eli");
    EXPECT_NE(model->identity()->publicKeyBase64URL().toUtf8(), deviceKey);
    EXPECT_FALSE(model->checkinReminder().isOn);
}

// An account deletion whose answer the last run never had (it ended during the call) is asked
// again at the next launch, before anything of the account shows: an account that is gone, whether
// by this request or an earlier one, leaves nothing here; one that cannot be asked (the control
// plane out of reach) keeps everything here, unshown, and the deletion stays pending.
TEST_F(AccountTest, ADeletionWhoseAnswerNeverCameIsAskedAgainAtTheNextLaunch)
{
    const QString pending = u"lumora.pendingAccountDeletion"_qs;
    const struct {
        const char* name;
        bool goneBefore;
        bool reachable;
    } rows[] = {
        { "the account is still there", false, true },
        { "the account is gone already", true, true },
        { "the control plane is out of reach", false, false },
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        auto model = launch();
        signIn(*model, "Ivy");
        ASSERT_TRUE(test::awaitTask(model->resultStore()->save(reviewOf(*model, "Kept until the answer"))));
        const auto client = std::make_shared<ControlPlaneClient>(
            base, model->client()->deviceID(), *model->identity(), manager);
        model.reset();
        if (row.goneBefore) {
            ASSERT_TRUE(test::awaitTask(client->deleteAccount()));
        }
        if (!row.reachable) {
            ASSERT_EQ(server->stop(), 0) << server->log().toStdString();
            server.reset();
        }
        home.preferences->setValue(pending, u"requested"_qs);

        model = launch();
        EXPECT_EQ(home.preferences->contains(pending), !row.reachable);
        EXPECT_FALSE(model->isSignedIn());
        EXPECT_TRUE(model->results().isEmpty());
        EXPECT_EQ(model->statusText(),
            row.reachable ? u"Account deleted"_qs : SessionViewModel::accountDeletionUnconfirmedMessage());
        const auto found = test::awaitTask(keychain()->data(EncryptedResultStore::keyAccount()));
        ASSERT_TRUE(found.has_value());
        EXPECT_EQ(found->bytes.has_value(), !row.reachable);
        if (row.reachable) {
            EXPECT_FALSE(test::awaitTask(client->accountState()).has_value());
        }
    }
}

// A deletion that reached the control plane and deleted the account, whose answer was lost on
// the way back. Until a control plane says what became of the account, the account is neither
// shown nor signed in again, and the window says that its deletion is not confirmed yet; the
// first control plane that answers (refusing the device, as the account is gone) has everything
// of it wiped before anything shows, and the next account signed in here meets nothing of it.
TEST_F(AccountTest, ADeletionWhoseAnswerWasLostStaysPendingUntilTheControlPlaneAnswers)
{
    const QString pending = u"lumora.pendingAccountDeletion"_qs;
    const QString unconfirmed = u"Your account's deletion is not confirmed yet. Corvane will finish it, or "
                                "try it again, when the server answers."_qs;
    auto relay = std::make_unique<testing::AnswerLosingRelay>(
        base, certificates.serverCertificate(), certificates.serverKey());
    home.info[InfoResource::controlPlaneURLKey] = relay->baseUrl().toString();
    auto model = launch();
    signIn(*model, "Ivy");
    model->acceptRecordingAgreement();
    model->updateParticipantName(0, "Ivy");
    ASSERT_TRUE(
        test::awaitTask(model->resultStore()->save(reviewOf(*model, "Kept until the account answers"))));
    model.reset();
    model = launch();
    ASSERT_EQ(model->historyEntries().size(), 1);
    const ControlPlaneClient ivy(base, model->client()->deviceID(), *model->identity(), manager);
    // Whatever a launch publishes, from its first moment.
    QList<qsizetype> shown;
    const auto watch = [&shown](SessionViewModel& watched) {
        QObject::connect(&watched, &SessionViewModel::historyEntriesChanged, &watched,
            [&shown, &watched] { shown.append(watched.historyEntries().size()); });
        QObject::connect(&watched, &SessionViewModel::resultsChanged, &watched,
            [&shown, &watched] { shown.append(watched.results().size()); });
    };

    relay->loseAnswersTo("/v1/account/delete");
    model->requestAccountDeletion();
    settle(*model);
    ASSERT_GE(relay->lostAnswers(), 1);
    ASSERT_FALSE(test::awaitTask(ivy.accountState()).has_value()) << "the control plane deleted the account";
    EXPECT_EQ(model->errorMessage(), unconfirmed);
    EXPECT_EQ(home.preferences->value(pending).toString(), u"requested"_qs);
    EXPECT_FALSE(model->isSignedIn());
    EXPECT_FALSE(model->isBusy());
    expectServices(*model, false);
    EXPECT_TRUE(model->historyEntries().isEmpty());
    model.reset();

    // The control plane out of reach: nothing of the account shows, nothing is removed, and no
    // other account can sign in over it.
    relay.reset();
    model = open();
    watch(*model);
    settle(*model);
    EXPECT_EQ(model->errorMessage(), unconfirmed);
    EXPECT_EQ(home.preferences->value(pending).toString(), u"requested"_qs);
    EXPECT_FALSE(model->isSignedIn());
    model->requestSignIn();
    settle(*model);
    EXPECT_EQ(opened.size(), 1) << "no sign-in page while the deletion is not confirmed";
    EXPECT_EQ(model->errorMessage(), unconfirmed);
    const auto stored = test::awaitTask(model->resultStore()->list());
    ASSERT_TRUE(stored.has_value());
    EXPECT_EQ(stored->results.size(), 1) << "kept until the account answers";
    // Back within that run, the control plane completes a sign-in that the browser returns from
    // late (started before the deletion); no account is signed in over the one being deleted.
    const auto port = quint16(QUrl(home.info[InfoResource::controlPlaneURLKey].toString()).port());
    relay = std::make_unique<testing::AnswerLosingRelay>(
        base, certificates.serverCertificate(), certificates.serverKey(), port);
    const QString state = ControlPlaneBootstrap::newState();
    home.preferences->setValue("lumora.pendingSignInState", state);
    const auto late = test::awaitTask(
        ControlPlaneBootstrap::beginWebAppleAuthorization(base, *model->identity(), state, manager));
    ASSERT_TRUE(late.has_value());
    model->handleExternalURL(browse(*late, "Lee"));
    settle(*model);
    EXPECT_FALSE(model->isSignedIn());
    EXPECT_EQ(home.preferences->value(pending).toString(), u"requested"_qs);
    model.reset();
    relay.reset();

    // Reachable again, the control plane refuses the device of the account it deleted.
    home.info[InfoResource::controlPlaneURLKey] = base.toString();
    model = open();
    watch(*model);
    settle(*model);
    EXPECT_EQ(model->statusText(), "Account deleted");
    EXPECT_EQ(model->errorMessage(), std::nullopt);
    EXPECT_FALSE(home.preferences->contains(pending));
    EXPECT_FALSE(home.preferences->contains("lumora.recordingAgreementVersion"));
    EXPECT_FALSE(home.preferences->contains("corvane.participantName.left"));
    EXPECT_EQ(savedSession(), std::nullopt);
    for (const QString& item : { EncryptedResultStore::keyAccount(), ConversationBackupStore::keyAccount(),
             DeviceIdentity::storeAccount() }) {
        const auto found = test::awaitTask(keychain()->data(item));
        ASSERT_TRUE(found.has_value());
        EXPECT_FALSE(found->bytes.has_value()) << item.toStdString();
    }
    EXPECT_FALSE(shown.contains(1)) << "the review never showed";

    // The next account on this computer meets nothing of the first, now or at a later launch.
    signIn(*model, "Pia");
    for (const char* moment : { "signed in", "the next launch" }) {
        SCOPED_TRACE(moment);
        EXPECT_TRUE(model->results().isEmpty());
        EXPECT_TRUE(model->historyEntries().isEmpty());
        EXPECT_FALSE(model->recordingAgreementAccepted());
        EXPECT_EQ(model->participantNames(), (QStringList { "Person 1", "Person 2" }));
        EXPECT_FALSE(shown.contains(1));
        model.reset();
        model = open();
        watch(*model);
        settle(*model);
        ASSERT_TRUE(model->isSignedIn());
    }
}

// Once a deletion may have reached the control plane (this run's request, the network library's
// own resend of it, an earlier launch's), only the control plane's proof that the account is gone
// settles it: a refused connection after a lost answer, a gateway's 502 and 503, and a refusal of
// a request signed ten minutes ahead leave it pending, with nothing of the account shown or
// removed, its reminder off and its seat names unshown from a launch's first moment, and ask
// again. The launch that is told the account is gone wipes it and says so; the next person to
// sign in on this computer meets nothing of it, now or after a relaunch.
TEST_F(AccountTest, ADeletionStaysPendingUntilTheControlPlaneProvesTheAccountGone)
{
    const QString pending = u"lumora.pendingAccountDeletion"_qs;
    const QStringList fallback { u"Person 1"_qs, u"Person 2"_qs };
    using Answer = testing::AnswerLosingRelay::Answer;
    const struct {
        const char* name;
        bool answerLost;
        bool resendRefused;
        QList<Answer> atTheReasks;
        qint64 clockAhead;
    } rows[] = {
        { "a lost answer, then a refused connection", true, true, {}, 0 },
        { "a lost answer, then a gateway's 502 and 503 at the re-asks", true, false,
            { Answer {}, Answer { 503, "application/json", R"({"error":"storage_unavailable"})" } }, 0 },
        { "a clock ten minutes ahead at the first call and at the re-ask", false, false, {}, 600 },
    };
    auto relay = std::make_unique<testing::AnswerLosingRelay>(
        base, certificates.serverCertificate(), certificates.serverKey());
    const quint16 port = relay->port();
    home.info[InfoResource::controlPlaneURLKey] = relay->baseUrl().toString();
    // Whatever a launch publishes of the account, from its first moment.
    QString name = u"Ivy"_qs;
    QStringList shown;
    const auto watch = [&shown](SessionViewModel& watched) {
        shown.append(watched.participantNames());
        QObject::connect(&watched, &SessionViewModel::participantNamesChanged, &watched,
            [&shown, &watched] { shown.append(watched.participantNames()); });
        QObject::connect(&watched, &SessionViewModel::historyEntriesChanged, &watched, [&shown, &watched] {
            for (const ConversationHistoryEntry& entry : watched.historyEntries())
                shown.append(entry.title.value_or(QString()));
        });
    };
    auto model = launch();
    signIn(*model, name);
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        model->acceptRecordingAgreement();
        model->updateParticipantName(0, name);
        model->changeCheckinReminder(true, 7, 19, 0);
        ASSERT_TRUE(test::awaitTask(model->resultStore()->save(reviewOf(*model, name + u"'s review"_qs))));
        settle(*model);
        model.reset();
        model = launch();
        ASSERT_EQ(model->historyEntries().size(), 1);
        const ControlPlaneClient account(base, model->client()->deviceID(), *model->identity(), manager);
        shown.clear();

        if (row.answerLost)
            relay->loseAnswersTo("/v1/account/delete");
        if (row.resendRefused)
            relay->stopListeningAfterLoss();
        relay->skewClock(row.clockAhead);
        const qsizetype remindersBefore = home.scheduler->calls.size();
        model->requestAccountDeletion();
        settle(*model);
        EXPECT_EQ(test::awaitTask(account.accountState()).has_value(), !row.answerLost)
            << "the control plane acted on the deletion exactly when its answer was lost";
        EXPECT_EQ(model->errorMessage(), SessionViewModel::accountDeletionUnconfirmedMessage());
        EXPECT_FALSE(model->isSignedIn());
        EXPECT_TRUE(model->historyEntries().isEmpty());
        EXPECT_EQ(model->participantNames(), fallback);
        model.reset();
        relay.reset();

        // At each launch the control plane is asked again; what it says proves nothing yet.
        const qsizetype reasks = row.atTheReasks.size() + (row.clockAhead ? 1 : 0);
        for (qsizetype asked = 0; asked <= reasks; ++asked) {
            SCOPED_TRACE(asked);
            EXPECT_EQ(home.preferences->value(pending).toString(), u"requested"_qs);
            relay = std::make_unique<testing::AnswerLosingRelay>(
                base, certificates.serverCertificate(), certificates.serverKey(), port);
            if (asked < reasks) {
                relay->skewClock(row.clockAhead);
                relay->answerAs("/v1/account/delete", row.atTheReasks.mid(asked, 1));
            }
            model = open();
            watch(*model);
            settle(*model);
            if (asked < reasks) {
                EXPECT_EQ(model->errorMessage(), SessionViewModel::accountDeletionUnconfirmedMessage());
                EXPECT_FALSE(model->isSignedIn());
                const auto stored = test::awaitTask(model->resultStore()->list());
                ASSERT_TRUE(stored.has_value());
                EXPECT_EQ(stored->results.size(), 1) << "kept until the account is known to be gone";
                model.reset();
                relay.reset();
            }
        }
        // Told at last: the account is gone, and this launch wiped it before anything showed.
        EXPECT_EQ(model->statusText(), "Account deleted");
        EXPECT_EQ(model->errorMessage(), std::nullopt);
        EXPECT_FALSE(home.preferences->contains(pending));
        EXPECT_FALSE(test::awaitTask(account.accountState()).has_value()) << "gone on the server";
        shown.removeAll(fallback[0]);
        shown.removeAll(fallback[1]);
        EXPECT_EQ(shown, QStringList {}) << "nothing of the account showed while its deletion was pending";
        const QStringList reminders = home.scheduler->calls.mid(remindersBefore);
        EXPECT_FALSE(reminders.join(u' ').contains(u"schedule"_qs)) << reminders.join(u", ").toStdString();

        name = name == u"Ivy"_qs ? u"Pia"_qs : name == u"Pia"_qs ? u"Uma"_qs : u"Zoe"_qs;
        signIn(*model, name);
        for (const char* moment : { "signed in", "the next launch" }) {
            SCOPED_TRACE(moment);
            EXPECT_TRUE(model->results().isEmpty());
            EXPECT_TRUE(model->historyEntries().isEmpty());
            EXPECT_FALSE(model->recordingAgreementAccepted());
            EXPECT_EQ(model->participantNames(), fallback);
            EXPECT_FALSE(model->checkinReminder().isOn);
            model.reset();
            model = launch();
            ASSERT_TRUE(model->isSignedIn());
        }
    }
}

// A discard that the last run could not finish (it ended right after the user's choice) is
// finished by the next launch before anything shows or sends the conversation: its review and its
// backup record go, its reservation is cancelled, nothing of it reaches the account, and no loss
// is told. Another review stays as it was.
TEST_F(AccountTest, ADiscardLeftByTheLastRunIsFinishedAtTheNextLaunch)
{
    auto model = launch();
    signIn(*model, "Jo");
    const auto client = std::make_shared<ControlPlaneClient>(
        base, model->client()->deviceID(), *model->identity(), manager);
    const auto session = test::awaitTask(client->createConversationSession());
    ASSERT_TRUE(session && session->sessionID);
    const auto reserved = test::awaitTask(client->reserve(*session->sessionID, 600));
    ASSERT_TRUE(reserved.has_value());
    DerivedSessionResult discarded = reviewOf(*model, "Discarded");
    discarded.id = *session->sessionID;
    const DerivedSessionResult kept = reviewOf(*model, "Kept");
    for (const DerivedSessionResult& result : { discarded, kept })
        ASSERT_TRUE(test::awaitTask(model->resultStore()->save(result)));
    // As at the press of Finish: its record waits to be sent.
    const auto held = test::awaitTask(model->backupService()->holdBackUp(discarded.id));
    ASSERT_TRUE(model->marks()->write({ discarded.id, reserved->id, ConversationMarks::State::discarded }));
    model.reset();

    model = launch();
    EXPECT_EQ(model->errorMessage(), std::nullopt);
    ASSERT_EQ(model->results().size(), 1);
    EXPECT_EQ(model->results().first().id, kept.id);
    const auto record = test::awaitTask(model->backupStore()->record(discarded.id));
    ASSERT_TRUE(record.has_value());
    EXPECT_EQ(record->record, std::nullopt);
    EXPECT_EQ(model->marks()->list().value(), QList<ConversationMarks::Mark> {});
    const auto page = test::awaitTask(client->conversationPage(100, std::nullopt));
    ASSERT_TRUE(page.has_value());
    EXPECT_TRUE(page->conversations.isEmpty());
    model.reset();
    ASSERT_EQ(server->stop(), 0) << server->log().toStdString();
    const auto database = ControlPlaneStore::open(u"sqlite:"_qs + server->databasePath());
    server.reset();
    ASSERT_TRUE(database.has_value());
    EXPECT_EQ(ReservationStore(**database).reservation(reserved->id)->status, "cancelled");
}

// A session that the keychain acknowledges but that reads back as another is written again
// after 250 ms and then 500 ms; after the third attempt the sign-in stops and connects nothing.
TEST_F(AccountTest, TheSavedSessionMustReadBackAsWrittenWithinThreeAttempts)
{
    struct Row {
        int overwritten;
        bool signedIn;
    };
    for (const Row row : { Row { 2, true }, Row { 3, false } }) {
        SCOPED_TRACE(row.overwritten);
        // A computer never signed in: no saved session, a new device key.
        ASSERT_TRUE(test::awaitTask(home.keychain->values.remove(AccountSessionStore::currentAccount())));
        ASSERT_TRUE(test::awaitTask(home.keychain->values.remove(DeviceIdentity::storeAccount())));
        auto keychain = std::make_shared<OverwrittenSessionKeychain>(home.keychain, row.overwritten);
        chosenKeychain = keychain;
        auto model = launch();
        model->requestSignIn();
        settle(*model);
        ASSERT_TRUE(model->isAppleAuthorizationActive());
        const QUrl callback = browse(opened.last(), row.signedIn ? "Fay" : "Gil");
        QElapsedTimer clock;
        clock.start();
        model->handleExternalURL(callback);
        settle(*model);
        EXPECT_GE(clock.elapsed(), 700) << "waits of 250 and 500 ms (coarse timers)";
        EXPECT_EQ(keychain->sessionWrites, 3);
        EXPECT_EQ(model->isSignedIn(), row.signedIn);
        EXPECT_EQ(model->client() != nullptr, row.signedIn);
        EXPECT_EQ(model->errorMessage(),
            row.signedIn ? std::nullopt : std::optional<QString>("That request could not be completed."));
    }
}

// Smoke mode has an account without a server. With no review stored it shows the demo
// review; deleting the account wipes what this computer keeps, each step on its own.
TEST_F(AccountTest, SmokeModeSignsInOfflineAndADeletionReportsALocalStepThatFailed)
{
    realKeychain = false;
    struct Row {
        const char* name;
        bool sessionRemovalFails;
        bool backupStateStays;
        QString status;
        std::optional<QString> error;
    };
    const QString partly
        = QStringLiteral("Your account was deleted, but some data on this computer could not be removed.");
    for (const Row& row : { Row { "every step", false, false, "Account deleted", std::nullopt },
             Row { "the saved session stays", true, false, partly, partly },
             Row { "the backup state stays", false, true, partly, partly } }) {
        SCOPED_TRACE(row.name);
        home.keychain->failingRemovals.clear();
        if (row.sessionRemovalFails)
            home.keychain->failingRemovals.insert(AccountSessionStore::formerAccount());
        home.preferences->setValue("lumora.recordingAgreementVersion", 2);
        auto model = launch({ "--ui-smoke" });
        ASSERT_TRUE(model->isSignedIn());
        EXPECT_EQ(model->statusText(), "Start a private conversation");
        ASSERT_EQ(model->results().size(), 1);
        const DerivedSessionResult& demo = model->results()[0];
        EXPECT_EQ(demo.title, "The Phone at Dinner");
        EXPECT_EQ(demo.duration, 141.0);
        EXPECT_EQ(demo.transcript->size(), 16);
        EXPECT_EQ(demo.annotations.size(), 13);
        EXPECT_EQ(demo.fouls->size(), 3);
        EXPECT_EQ(demo.stats.size(), 2);
        model->requestSignIn();
        settle(*model);
        EXPECT_TRUE(opened.isEmpty()) << "no browser in smoke mode";

        // The backup state (the history's titles and summaries) cannot be removed: its folder
        // has become a link.
        const QString backupFolder = QFileInfo(model->backupStore()->file()).path();
        if (row.backupStateStays) {
            ASSERT_TRUE(test::awaitTask(
                model->backupStore()->setMigrationChoice(ConversationMigrationChoice::declined)));
            ASSERT_TRUE(QFile::rename(backupFolder, backupFolder + "-real"));
            ASSERT_TRUE(QFile::link(backupFolder + "-real", backupFolder));
        }

        model->requestAccountDeletion();
        settle(*model);
        EXPECT_EQ(model->statusText(), row.status);
        EXPECT_EQ(model->errorMessage(), row.error);
        EXPECT_FALSE(model->isSignedIn());
        EXPECT_TRUE(model->results().isEmpty());
        EXPECT_FALSE(model->recordingAgreementAccepted());
        EXPECT_FALSE(home.preferences->contains("lumora.recordingAgreementVersion"))
            << "the steps after the failed one still ran";
        EXPECT_FALSE(model->isBusy());
        if (row.backupStateStays) {
            model.reset();
            ASSERT_TRUE(QFile::remove(backupFolder));
            ASSERT_TRUE(QFile::rename(backupFolder + "-real", backupFolder));
        }
    }

    auto preview = launch({ "--ui-sign-in" });
    EXPECT_EQ(preview->statusText(), "Sign in to begin");
    EXPECT_FALSE(preview->isSignedIn());
    EXPECT_EQ(preview->errorMessage(), std::nullopt);
}

// The view model closed while its operations wait on the keychain or the control plane: they
// end without touching it (the sanitizers see to that), and the next launch starts cleanly.
TEST_F(AccountTest, ClosingWhileOperationsWaitEndsThemQuietly)
{
    const std::pair<const char*, std::function<void(SessionViewModel&)>> cases[] {
        { "start-up", nullptr },
        { "history", [](SessionViewModel& model) { model.refreshHistory(true); } },
        { "pairing", [](SessionViewModel& model) { model.requestPairingInvite(); } },
        { "sign-in",
            [](SessionViewModel& model) {
                model.requestSignOut();
                model.requestSignIn();
            } },
        { "sign-out", [](SessionViewModel& model) { model.requestSignOut(); } },
        { "check-in", [](SessionViewModel& model) { model.requestCheckin(); } },
    };
    {
        auto model = launch();
        signIn(*model, "Noor");
    }
    for (const auto& [name, operation] : cases) {
        SCOPED_TRACE(name);
        auto model = operation ? launch() : open();
        if (operation) {
            operation(*model);
            ASSERT_GT(model->runningOperations(), 0);
        }
        model.reset();
        // The operations left waiting end on their own and nothing is left to mark it: time for
        // them to, in which a touch of the closed view model would show under the sanitizers.
        test::awaitTask(QCoro::sleepFor(std::chrono::milliseconds(200)));
        model = launch();
        EXPECT_TRUE(model->identity().has_value());
        if (model->isSignedIn())
            continue;
        signIn(*model, "Noor");
    }
}

} // namespace
} // namespace lumora
