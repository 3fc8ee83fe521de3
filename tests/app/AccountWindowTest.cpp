#include "AccountFixture.hpp"
#include "AccountSession.hpp"
#include "AnswerLosingRelay.hpp"
#include "ShellSessionAdapter.hpp"
#include "WindowHarness.hpp"
#include "appcore/ConversationBackupService.hpp"
#include "appcore/PairingService.hpp"
#include "domain/PairingPolicy.hpp"
#include "persistence/EncryptedResultStore.hpp"
#include "providers/ControlPlaneClient.hpp"
#include "providers/PairingClient.hpp"

#include <QClipboard>
#include <QGuiApplication>
#include <QRegularExpression>
#include <QTest>

namespace lumora {
namespace {

using testing::settle;
using testing::WindowHarness;

// 2026-02-09 19:30:00 UTC and three weeks later.
constexpr qint64 february9 = 1770665400;
constexpr qint64 march2 = february9 + 21 * 86400;

// A partner's control plane that remembers what the steps did: a code makes an outstanding
// invite, a confirmation links the workspace, an unlink keeps it as an earlier one. Answers
// are copies, as a coroutine's return may move from what it is given.
class PartnerControlPlane final : public PairingClient {
public:
    mutable PairingState state;
    mutable QStringList calls;
    PairingInvite invite { QUuid::createUuid(), QStringLiteral("7K3M-9Q2W-4X8Z"), march2 };
    PairingRedemption redemption { QUuid::createUuid(), march2, { 4, february9, march2 } };

    QCoro::Task<std::expected<PairingInvite, ControlPlaneFailure>> createPairingInvite(QString) const override
    {
        calls.append("invite");
        state.pendingInvite = PairingPendingInvite { invite.inviteID, "pending", invite.expiresAt, {} };
        co_return PairingInvite(invite);
    }
    QCoro::Task<std::expected<PairingRedemption, ControlPlaneFailure>> redeemPairingInvite(
        QString code) const override
    {
        calls.append("redeem " + code);
        co_return PairingRedemption(redemption);
    }
    QCoro::Task<std::expected<PairingConfirmation, ControlPlaneFailure>> confirmPairingInvite(
        QUuid, QString) const override
    {
        calls.append("confirm");
        state.workspace = { "shared", true, 2, february9, february9 };
        state.pendingInvite.reset();
        co_return PairingConfirmation { february9, 2 };
    }
    QCoro::Task<std::expected<void, ControlPlaneFailure>> unlinkPairing() const override
    {
        calls.append("unlink");
        state.previousWorkspaces.append({ "shared", february9, march2, 2, 1 });
        state.workspace = { "own", false, 1, {}, {} };
        co_return std::expected<void, ControlPlaneFailure> {};
    }
    QCoro::Task<std::expected<PairingState, ControlPlaneFailure>> pairingState() const override
    {
        co_return PairingState(state);
    }
};

// The smoke account of the view model (signed in, no control plane) in the real window.
struct SmokeAccount {
    SmokeAccount()
    {
        home.zone = QTimeZone::utc();
        model = home.viewModel({ "--ui-smoke" });
        model->acceptRecordingAgreement();
        session
            = std::make_unique<ShellSessionAdapter>(*model, [] { return QDateTime::currentDateTimeUtc(); });
    }
    ~SmokeAccount() { page.close(); }

    // The window on the Account section.
    QQuickWindow* open()
    {
        QQuickWindow* window = page.openWindow(*session);
        if (window)
            page.content()->setProperty("section", 3);
        return window;
    }

    void connectPartnerControlPlane()
    {
        model->adoptServices({ model->client(), model->backupService(),
            PairingService::create(partner, PairingPolicy::version.toString()), model->checkinService() });
    }

    testing::ViewModelHome home;
    std::unique_ptr<SessionViewModel> model;
    std::unique_ptr<ShellSessionAdapter> session;
    std::shared_ptr<PartnerControlPlane> partner = std::make_shared<PartnerControlPlane>();
    WindowHarness page;
};

TEST(AccountWindow, SignedInAndSignedOutShowTheirOwnCards)
{
    SmokeAccount account;
    ASSERT_NE(account.open(), nullptr);
    WindowHarness& page = account.page;
    ASSERT_TRUE(account.model->isSignedIn());
    EXPECT_EQ(page.text("identityTitle"), "Private Corvane account");
    EXPECT_FALSE(page.shows("signInHint"));
    EXPECT_FALSE(page.shows("goToConversationButton"));
    const QString device = page.find("deviceLabel")->property("text").toString();
    EXPECT_TRUE(QRegularExpression(u"^This computer \u00b7 [0-9a-f]{8}$"_qs).match(device).hasMatch())
        << device.toStdString();
    for (const char* part : { "pairingSection", "reminderSection", "accountControls" })
        EXPECT_TRUE(page.shows(part)) << part;
    EXPECT_FALSE(page.shows("accountStores"));
    EXPECT_EQ(page.text("versionTitle"), "Corvane 1.4");
    EXPECT_FALSE(page.find("checkForUpdatesButton")->property("enabled").toBool());
    EXPECT_LT(page.find("checkForUpdatesButton")->property("opacity").toReal(), 0.5) << "drawn as disabled";
    EXPECT_TRUE(page.shows("updatesUnavailable"));

    // The fifth tap on the version shows the quiet note.
    QObject* version = page.find("versionTitle");
    auto* title = qobject_cast<QQuickItem*>(version);
    for (int tap = 1; tap <= 6; ++tap) {
        QTest::mouseClick(title->window(), Qt::LeftButton, {},
            title->mapToScene(QPointF(20, title->height() / 2)).toPoint());
        EXPECT_EQ(page.shows("quietNote"), tap >= 5) << tap;
    }
    page.screenshots("account-signed-in", "pageTitle");

    // The smoke account has no pairing service: inviting says so on the failure line.
    page.scrollTo("pairingSection");
    EXPECT_FALSE(page.shows("pairingError"));
    page.click("inviteButton");
    EXPECT_EQ(page.text("pairingError"), SessionViewModel::notConnectedMessage());
    page.screenshot("pairing-not-connected");
    page.click("haveCodeButton");
    EXPECT_FALSE(page.shows("pairingError")) << "I have a code clears the line";
    page.click("cancelCodeButton");
    page.scrollTo("accountControls");
    page.screenshot("account-signed-in-controls");

    // Sign out keeps the window on the page, which turns into its signed-out form.
    page.click("signOutButton");
    ASSERT_TRUE(QTest::qWaitFor([&] { return !account.model->isSignedIn(); }, 60000));
    settle(*account.model);
    EXPECT_EQ(page.text("identityTitle"), "Not signed in");
    EXPECT_TRUE(page.shows("signInHint"));
    EXPECT_FALSE(page.shows("deviceLabel"));
    for (const char* part : { "pairingSection", "reminderSection", "accountControls" })
        EXPECT_FALSE(page.shows(part)) << part;
    EXPECT_TRUE(page.shows("accountStores"));
    page.scrollTo("pageTitle");
    page.screenshot("account-signed-out");

    page.click("goToConversationButton");
    EXPECT_EQ(page.find("contentView")->property("section").toInt(), 0);
}

TEST(AccountWindow, PairingWalksThroughItsFiveSteps)
{
    SmokeAccount account;
    account.connectPartnerControlPlane();
    // One conversation kept from an earlier partner.
    account.partner->state.previousWorkspaces.append({ "earlier", february9 - 86400 * 90, february9, 2, 1 });
    ASSERT_NE(account.open(), nullptr);
    WindowHarness& page = account.page;
    const auto step = [&] { return account.session->account()->pairingStep(); };
    const auto waitForStep = [&](AccountSession::PairingStep expected) {
        EXPECT_TRUE(
            QTest::qWaitFor([&] { return step() == expected && !account.model->isPairingBusy(); }, 60000))
            << step();
    };
    page.scrollTo("pairingSection");
    waitForStep(AccountSession::Unlinked);
    EXPECT_TRUE(page.shows("pairingUnlinked"));
    EXPECT_TRUE(page.shows("earlierHistoryNote"));
    EXPECT_TRUE(page.find("earlierHistoryNote")
                    ->property("text")
                    .toString()
                    .startsWith("You also have one conversation from before."));
    page.screenshot("pairing-unlinked");

    // The inviting partner: a fresh code, copied, then the waiting step.
    page.click("inviteButton");
    waitForStep(AccountSession::FreshCode);
    EXPECT_EQ(page.text("inviteCode"), "7K3M-9Q2W-4X8Z");
    EXPECT_EQ(
        account.session->account()->inviteCodeAccessibleName(), "Pairing code 7 K 3 M - 9 Q 2 W - 4 X 8 Z");
    EXPECT_EQ(page.text("copyCodeButton"), "Copy code");
    page.click("copyCodeButton");
    EXPECT_EQ(QGuiApplication::clipboard()->text(), "7K3M-9Q2W-4X8Z");
    EXPECT_EQ(page.text("copyCodeButton"), "Copied");
    EXPECT_TRUE(page.text("inviteExpiry").startsWith("The code works once, and it expires Mar 2, 2026"))
        << page.text("inviteExpiry").toStdString();
    page.screenshots("pairing-fresh-code", "pairingSection");
    // A new code shows the first title again.
    account.model->setPairingInvite(PairingInvite { QUuid::createUuid(), "C0DE-C0DE-C0DE", march2 });
    EXPECT_EQ(page.text("copyCodeButton"), "Copy code");
    page.click("copyCodeButton");
    EXPECT_EQ(QGuiApplication::clipboard()->text(), "C0DE-C0DE-C0DE");
    page.click("inviteDoneButton");
    waitForStep(AccountSession::Waiting);
    EXPECT_EQ(page.text("waitingTitle"), "Waiting for your partner");
    page.screenshot("pairing-waiting");
    account.partner->state.pendingInvite->status = "pending_confirmation";
    account.model->requestPairingState();
    settle(*account.model);
    EXPECT_EQ(page.text("waitingTitle"), "Your partner is deciding");

    // The joining partner: the code as typed, the confirmation, the link.
    account.partner->state.pendingInvite.reset();
    account.model->requestPairingState();
    settle(*account.model);
    waitForStep(AccountSession::Unlinked);
    page.click("haveCodeButton");
    EXPECT_FALSE(page.find("continueButton")->property("enabled").toBool()) << "nothing typed yet";
    page.type("codeField", "   ");
    EXPECT_FALSE(page.find("continueButton")->property("enabled").toBool()) << "only spaces";
    for (int count = 0; count < 3; ++count)
        page.press(Qt::Key_Backspace);
    page.type("codeField", "7k3m 9q2w 4x8z");
    EXPECT_EQ(page.text("codeField"), "7k3m 9q2w 4x8z") << "kept as typed";
    EXPECT_TRUE(page.find("continueButton")->property("enabled").toBool());
    page.screenshots("pairing-code-entry", "pairingSection");
    page.press(Qt::Key_Return);
    waitForStep(AccountSession::Confirmation);
    EXPECT_EQ(account.partner->calls.last(), "redeem 7K3M9Q2W4X8Z");
    EXPECT_EQ(page.text("sharedHistorySentence"),
        u"You\u2019ll share a history with 4 conversations, from Feb 9, 2026 to Mar 2, 2026."_qs);
    EXPECT_TRUE(page.text("confirmationDeadline").startsWith("Decide by "));
    page.screenshots("pairing-confirmation", "pairingSection");

    // Cancel shows the plain step again, with the two buttons and an empty field.
    page.click("cancelConfirmationButton");
    EXPECT_EQ(step(), AccountSession::Unlinked);
    EXPECT_TRUE(page.shows("inviteButton"));
    EXPECT_FALSE(page.shows("codeField"));
    EXPECT_EQ(page.text("codeField"), QString());
    account.model->setPairingRedemption(account.partner->redemption);
    page.click("confirmPairingButton");
    waitForStep(AccountSession::Linked);
    EXPECT_EQ(page.text("linkedSince"), u"Linked since Feb 9, 2026 \u00b7 2 people"_qs);
    page.screenshots("pairing-linked", "pairingSection");

    // Unlinking asks first; Cancel leaves everything as it was.
    page.click("unlinkButton");
    EXPECT_TRUE(page.shows("unlinkConfirmation"));
    page.screenshot("pairing-unlink-confirmation");
    page.click("unlinkConfirmationCancel");
    EXPECT_TRUE(QTest::qWaitFor([&] { return !page.shows("unlinkConfirmation"); }, 60000));
    EXPECT_FALSE(account.partner->calls.contains("unlink"));
    page.click("unlinkButton");
    page.click("unlinkConfirmationConfirm");
    waitForStep(AccountSession::Unlinked);
    EXPECT_TRUE(account.partner->calls.contains("unlink"));
    EXPECT_TRUE(page.text("earlierHistoryNote").startsWith("You also have 2 conversations from before."))
        << page.text("earlierHistoryNote").toStdString();
}

// The inviting partner's code goes as soon as the partner has used it: the section, left on
// screen with the fresh code or the wait, reads the pairing state again now and then.
TEST(AccountWindow, AUsedCodeLeavesTheSectionWithoutDone)
{
    SmokeAccount account;
    account.connectPartnerControlPlane();
    account.session->account()->setPairingRefreshInterval(std::chrono::milliseconds(200));
    ASSERT_NE(account.open(), nullptr);
    WindowHarness& page = account.page;
    const auto step = [&] { return account.session->account()->pairingStep(); };
    page.scrollTo("pairingSection");
    ASSERT_TRUE(QTest::qWaitFor([&] { return step() == AccountSession::Unlinked; }, 60000));
    page.click("inviteButton");
    ASSERT_TRUE(QTest::qWaitFor([&] { return step() == AccountSession::FreshCode; }, 60000));
    EXPECT_TRUE(page.shows("inviteCode"));

    // The partner joins with it.
    account.partner->state.workspace = { "shared", true, 2, february9, february9 };
    account.partner->state.pendingInvite.reset();
    EXPECT_TRUE(QTest::qWaitFor([&] { return step() == AccountSession::Linked; }, 60000)) << step();
    EXPECT_FALSE(page.shows("inviteCode"));
    EXPECT_TRUE(page.shows("pairingLinked"));
    page.screenshots("pairing-code-used", "pairingSection");
}

TEST(AccountWindow, ReminderCardFollowsThePublishedSettings)
{
    SmokeAccount account;
    ASSERT_NE(account.open(), nullptr);
    WindowHarness& page = account.page;
    page.scrollTo("reminderSection");
    EXPECT_FALSE(page.find("reminderSwitch")->property("checked").toBool());
    EXPECT_FALSE(page.shows("reminderPickers"));
    page.screenshot("reminder-off");

    page.click("reminderSwitch");
    ASSERT_TRUE(QTest::qWaitFor([&] { return account.model->checkinReminder().isOn; }, 60000));
    settle(*account.model);
    EXPECT_TRUE(page.find("reminderSwitch")->property("checked").toBool());
    EXPECT_TRUE(page.shows("reminderPickers"));
    EXPECT_EQ(page.find("reminderWeekday")->property("currentText").toString(), "Sunday");
    EXPECT_EQ(page.find("reminderHour")->property("displayText").toString(), "19");
    EXPECT_EQ(page.find("reminderMinute")->property("displayText").toString(), "00");

    QMetaObject::invokeMethod(page.find("reminderWeekday"), "activated", Q_ARG(int, 3));
    settle(*account.model);
    QMetaObject::invokeMethod(page.find("reminderHour"), "activated", Q_ARG(int, 7));
    settle(*account.model);
    QMetaObject::invokeMethod(page.find("reminderMinute"), "activated", Q_ARG(int, 30));
    settle(*account.model);
    EXPECT_EQ(account.model->checkinReminder(), CheckinReminderSettings(true, 4, 7, 30));
    EXPECT_EQ(page.find("reminderWeekday")->property("currentText").toString(), "Wednesday");
    EXPECT_EQ(page.find("reminderHour")->property("displayText").toString(), "07");
    EXPECT_EQ(page.find("reminderMinute")->property("displayText").toString(), "30");
    page.scrollTo("reminderSection");
    page.screenshot("reminder-on");

    // The open list of hours: every entry in ink, the chosen one in semibold on sand.
    QObject* list = page.find("reminderHour")->property("popup").value<QObject*>();
    QMetaObject::invokeMethod(list, "open");
    ASSERT_TRUE(QTest::qWaitFor([&] { return list->property("opened").toBool(); }, 60000));
    const auto* entries
        = list->property("contentItem").value<QQuickItem*>()->property("contentItem").value<QQuickItem*>();
    const auto entry = [&](int hour) -> QQuickItem* {
        for (QQuickItem* item : entries->childItems()) {
            if (item->property("index").toInt() == hour
                && item->property("text").toString() == QString::number(hour).rightJustified(2, u'0'))
                return item;
        }
        return nullptr;
    };
    for (const int hour : { 7, 8, 9 }) {
        ASSERT_TRUE(QTest::qWaitFor([&] { return entry(hour) != nullptr; }, 60000)) << hour;
        const auto* label = entry(hour)->property("contentItem").value<QQuickItem*>();
        const auto* fill = entry(hour)->property("background").value<QQuickItem*>();
        EXPECT_EQ(label->property("color").value<QColor>(), QColor(27, 44, 73)) << hour;
        EXPECT_EQ(label->property("font").value<QFont>().weight() == QFont::DemiBold, hour == 7) << hour;
        EXPECT_EQ(fill->property("color").value<QColor>() == QColor(237, 231, 220), hour == 7) << hour;
    }
    page.screenshots("reminder-hour-list", "reminderSection");
    QMetaObject::invokeMethod(list, "close");

    // Without a notification server it turns off again and says that none is running.
    page.click("reminderSwitch");
    settle(*account.model);
    account.home.scheduler->serverRunning = false;
    page.click("reminderSwitch");
    ASSERT_TRUE(QTest::qWaitFor([&] { return account.model->reminderNote().has_value(); }, 60000));
    settle(*account.model);
    EXPECT_FALSE(page.find("reminderSwitch")->property("checked").toBool());
    EXPECT_FALSE(page.shows("reminderPickers"));
    EXPECT_TRUE(page.shows("reminderNote"));
    EXPECT_EQ(page.text("reminderNote"), SessionViewModel::noNotificationServerNote());
    page.screenshots("reminder-refused", "reminderSection");
}

// Deleting the account from the page, against the real control plane on loopback.
class AccountDeletionWindowTest : public testing::AccountTest { };

TEST_F(AccountDeletionWindowTest, CancelKeepsEverythingAndDeleteAccountRemovesIt)
{
    realKeychain = false;
    auto model = launch();
    signIn(*model, "Noor");
    model->acceptRecordingAgreement();
    DerivedSessionResult review;
    review.id = QUuid::createUuid();
    review.title = "Kept until deleted";
    review.completedAt = QDateTime::currentDateTimeUtc().addSecs(-3600);
    review.duration = 60;
    review.fouls = QList<ProcessFoulAnnotation> {};
    review.summary = QStringLiteral("You both named the bills.");
    review.transcript = QList<SpeakerTurn> { SpeakerTurn(0, 0, 60, "Can we look at the bills?") };
    review.accountID = model->account()->accountID;
    ASSERT_TRUE(test::awaitTask(model->resultStore()->save(review)));
    model.reset();
    model = launch();
    ASSERT_TRUE(model->isSignedIn());
    ASSERT_EQ(model->results().size(), 1);
    const auto client = model->client();
    // The earlier review is kept on this computer only, so no migration offer covers the page
    // when the window becomes active and refreshes the history.
    test::awaitTask(model->backupService()->declineMigration());
    test::awaitTask(model->synchronizeHistory(false));
    ASSERT_FALSE(model->needsMigrationOffer());
    ShellSessionAdapter session(*model, [] { return QDateTime::currentDateTimeUtc(); });
    WindowHarness page;
    ASSERT_NE(page.openWindow(session), nullptr);
    page.content()->setProperty("section", 3);
    page.scrollTo("accountControls");

    page.click("deleteAccountButton");
    EXPECT_TRUE(page.shows("deleteConfirmation"));
    page.screenshot("account-delete-confirmation");
    page.click("deleteConfirmationCancel");
    EXPECT_TRUE(QTest::qWaitFor([&] { return !page.shows("deleteConfirmation"); }, 60000));
    settle(*model);
    EXPECT_TRUE(model->isSignedIn());
    EXPECT_EQ(model->results().size(), 1);
    EXPECT_TRUE(test::awaitTask(client->accountState()).has_value());

    page.click("deleteAccountButton");
    EXPECT_TRUE(page.shows("deleteConfirmation"));
    page.click("deleteConfirmationConfirm");
    ASSERT_TRUE(QTest::qWaitFor([&] { return !model->isSignedIn(); }, 60000));
    settle(*model);
    EXPECT_EQ(model->statusText(), "Account deleted");
    EXPECT_TRUE(model->results().isEmpty());
    const auto listed = test::awaitTask(model->resultStore()->list());
    ASSERT_TRUE(listed.has_value());
    EXPECT_TRUE(listed->results.isEmpty());
    EXPECT_FALSE(test::awaitTask(client->accountState()).has_value()) << "gone on the server";
    EXPECT_EQ(page.text("identityTitle"), "Not signed in");
    page.close();
}

// On a computer that another account signed in to as well, the words before a deletion say what it
// removes: the account's metadata and this account's transcripts and reviews here. The other
// account's review stays, and shows once this account is gone.
TEST_F(AccountDeletionWindowTest, TheDeleteWordsSayThatOnlyThisAccountsReviewsGoAndTheOthersStay)
{
    realKeychain = false;
    auto model = launch();
    signIn(*model, "Ben");
    DerivedSessionResult bens = testing::review("Ben's review");
    bens.accountID = model->account()->accountID;
    ASSERT_TRUE(test::awaitTask(model->resultStore()->save(bens)));
    model->requestSignOut();
    settle(*model);
    signIn(*model, "Noor");
    model->acceptRecordingAgreement();
    DerivedSessionResult hers = testing::review("Noor's review");
    hers.accountID = model->account()->accountID;
    ASSERT_TRUE(test::awaitTask(model->resultStore()->save(hers)));
    model.reset();
    model = launch();
    ASSERT_EQ(model->results().size(), 1);
    // Her review is kept on this computer only, so that no migration offer covers the page.
    test::awaitTask(model->backupService()->declineMigration());
    test::awaitTask(model->synchronizeHistory(false));
    ShellSessionAdapter session(*model, [] { return QDateTime::currentDateTimeUtc(); });
    WindowHarness page;
    ASSERT_NE(page.openWindow(session), nullptr);
    page.content()->setProperty("section", 3);
    page.scrollTo("accountControls");

    EXPECT_EQ(page.text("deleteCaption"),
        u"Removes the account metadata and this account\u2019s encrypted transcripts and reviews on this "
        "computer."_qs);
    page.screenshots("account-delete-caption-shared", "accountControls");
    page.resize(QSize(1440, 900));
    page.scrollTo("accountControls");
    page.screenshot("account-delete-caption-shared-1440");
    page.click("deleteAccountButton");
    ASSERT_TRUE(page.shows("deleteConfirmation"));
    EXPECT_EQ(page.find("deleteConfirmation")->property("message").toString(),
        u"Deleting removes your account metadata and permanently removes this account\u2019s encrypted "
        "transcripts and reviews stored on this computer. This cannot be undone."_qs);
    page.screenshots("account-delete-confirmation-shared", "deleteConfirmation");
    page.click("deleteConfirmationConfirm");
    ASSERT_TRUE(QTest::qWaitFor([&] { return !model->isSignedIn(); }, 60000));
    settle(*model);
    EXPECT_EQ(model->statusText(), "Account deleted");
    const auto stored = test::awaitTask(model->resultStore()->list());
    ASSERT_TRUE(stored.has_value());
    ASSERT_EQ(stored->results.size(), 1);
    EXPECT_EQ(stored->results.first().id, bens.id) << "the other account's review went";
    page.close();
}

// What became of a deletion shows where it was asked, and nothing of an account being deleted is
// drawn. A refusal is said beside the button that asked, the account kept as it was; a lost answer
// leaves the page signed out saying that the deletion is not confirmed yet, and the room's corners
// without the account's seat names; the launch that is told the account is gone draws none of them
// from its first frame and says that the account was deleted.
TEST_F(AccountDeletionWindowTest, WhatBecameOfADeletionShowsWhereItWasAskedAndNoSeatNameOfItIsDrawn)
{
    realKeychain = false;
    auto relay = std::make_unique<testing::AnswerLosingRelay>(
        base, certificates.serverCertificate(), certificates.serverKey());
    home.info[InfoResource::controlPlaneURLKey] = relay->baseUrl().toString();
    auto model = launch();
    signIn(*model, "Noor");
    model->acceptRecordingAgreement();
    model->updateParticipantName(0, "Ann");
    model->updateParticipantName(1, "Ben");
    settle(*model);
    const QStringList fallback { "Person 1", "Person 2" };
    const auto corners = [](const WindowHarness& window) {
        QStringList names;
        for (const char* corner : { "leftCorner", "rightCorner" }) {
            const auto* name = window.find(corner)->findChild<QObject*>("cornerName");
            names.append(name ? name->property("text").toString() : QString());
        }
        return names;
    };
    // Shown whole in the page's view, and saying `text`.
    const auto says = [](const WindowHarness& window, const QString& name, const QString& text) {
        if (!window.has(name) || !window.shows(name) || window.text(name) != text)
            return false;
        const auto* item = qobject_cast<QQuickItem*>(window.find(name));
        const auto* view = qobject_cast<QQuickItem*>(window.find("accountScroll"));
        return item && view && item->width() > 0 && item->height() > 0
            && view->mapRectToScene(QRectF(0, 0, view->width(), view->height()))
                   .contains(item->mapRectToScene(QRectF(0, 0, item->width(), item->height())));
    };
    auto session
        = std::make_unique<ShellSessionAdapter>(*model, [] { return QDateTime::currentDateTimeUtc(); });
    auto page = std::make_unique<WindowHarness>();
    ASSERT_NE(page->openWindow(*session), nullptr);
    EXPECT_EQ(corners(*page), (QStringList { "Ann", "Ben" }));
    page->content()->setProperty("section", 3);
    page->scrollTo("accountControls");

    relay->answerAs("/v1/account/delete", { { 400, "application/json", R"({"error":"invalid_request"})" } });
    page->click("deleteAccountButton");
    page->click("deleteConfirmationConfirm");
    ASSERT_TRUE(QTest::qWaitFor([&] { return !model->isBusy(); }, 30000));
    settle(*model);
    page->waitForFrame();
    EXPECT_TRUE(model->isSignedIn());
    EXPECT_TRUE(says(*page, "deletionNote", SessionViewModel::accountNotDeletedMessage()))
        << "beside the button that asked";
    page->screenshots("account-deletion-refused", "accountControls");
    page->resize(QSize(1440, 900));
    page->screenshot("account-deletion-refused-1440");

    relay->loseAnswersTo("/v1/account/delete");
    page->click("deleteAccountButton");
    page->click("deleteConfirmationConfirm");
    ASSERT_TRUE(QTest::qWaitFor([&] { return !model->isBusy() && !model->isSignedIn(); }, 30000));
    settle(*model);
    page->waitForFrame();
    EXPECT_EQ(page->text("identityTitle"), "Not signed in");
    EXPECT_TRUE(says(*page, "identityDeletionNote", SessionViewModel::accountDeletionUnconfirmedMessage()));
    page->screenshots("account-deletion-unconfirmed");
    page->content()->setProperty("section", 0);
    page->waitForFrame();
    EXPECT_EQ(corners(*page), fallback);
    page->close();
    session.reset();
    model.reset();
    const quint16 port = relay->port();
    relay.reset();
    relay = std::make_unique<testing::AnswerLosingRelay>(
        base, certificates.serverCertificate(), certificates.serverKey(), port);

    // The next launch: what each frame drew in the corners, from the first.
    model = open();
    session = std::make_unique<ShellSessionAdapter>(*model, [] { return QDateTime::currentDateTimeUtc(); });
    page = std::make_unique<WindowHarness>();
    QStringList drawn;
    QObject* window = page->openWindow(*session);
    ASSERT_NE(window, nullptr);
    drawn += corners(*page);
    QObject::connect(page->window(), &QQuickWindow::frameSwapped, window, [&] { drawn += corners(*page); });
    settle(*model);
    ASSERT_TRUE(QTest::qWaitFor([&] { return page->shows("setupSheet"); }, 30000));
    page->waitForFrame();
    EXPECT_TRUE(page->has("setupDeletionNotice") && page->shows("setupDeletionNotice")
        && page->text("setupDeletionNotice") == "Account deleted");
    drawn.removeAll(fallback[0]);
    drawn.removeAll(fallback[1]);
    EXPECT_EQ(drawn, QStringList {}) << "a seat name of the account being deleted was drawn";
    page->screenshots("account-deleted-welcome");
    page->resize(QSize(1440, 900));
    page->screenshot("account-deleted-welcome-1440");
    page->close();
}

} // namespace
} // namespace lumora
