#include "AccountFixture.hpp"
#include "AnswerLosingRelay.hpp"
#include "appcore/ConversationBackupService.hpp"
#include "appcore/PairingService.hpp"
#include "appcore/SessionCoordinator.hpp"
#include "domain/PairingPolicy.hpp"
#include "persistence/ConversationBackupStore.hpp"
#include "persistence/EncryptedResultStore.hpp"
#include "providers/ControlPlaneClient.hpp"
#include "security/AccountSessionStore.hpp"
#include "security/DeviceIdentity.hpp"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <algorithm>

namespace lumora {
namespace {

using testing::settle;

// Several people signing in, one after the other, on one computer whose control plane grants the
// speech credential, so that conversations are recorded there.
class SharedComputerTest : public testing::AccountTest {
protected:
    QStringList extraServerArguments() const override { return speechTokenSecret(secretFolder); }

    // A conversation of the signed-in account, sealed as at the press of Finish; its reservation
    // is then given back.
    DerivedSessionResult record(SessionViewModel& model, const QString& words)
    {
        const auto coordinator = model.coordinator();
        const auto session = test::awaitTask(model.client()->createConversationSession());
        EXPECT_TRUE(coordinator && session && session->sessionID);
        if (!coordinator || !session || !session->sessionID)
            return {};
        EXPECT_TRUE(
            test::awaitTask(coordinator->prepare(*session->sessionID, 60, ConversationMode::conversation)));
        EXPECT_TRUE(coordinator->acceptLiveTurn(SpeakerTurn(0, 0, 20, words)));
        EXPECT_TRUE(coordinator->acceptLiveTurn(SpeakerTurn(1, 20, 40, "Yes, tonight.")));
        const auto sealed = test::awaitTask(coordinator->sealProvisional(AnalysisProviderResult {}, 40));
        test::awaitTask(coordinator->abandon());
        EXPECT_TRUE(sealed.has_value());
        return sealed.value_or(DerivedSessionResult {});
    }

    static QList<QUuid> listed(const ControlPlaneClient& client)
    {
        const auto page = test::awaitTask(client.conversationPage(100, std::nullopt));
        EXPECT_TRUE(page.has_value());
        QList<QUuid> ids;
        for (const ConversationRecordSummary& row :
            page ? page->conversations : QList<ConversationRecordSummary> {})
            ids.append(row.id);
        return ids;
    }

    // What the previous build left of one person's conversations on this computer, in reviews and
    // backup records that name no account: one it uploaded to her account and one whose upload
    // waits (the control plane was out of reach three times, the last just now), with her
    // account's list as the cache and her answer to the offer. Written while no launch holds the
    // data folder.
    struct EarlierConversations {
        QUuid owner;
        DerivedSessionResult uploaded;
        QUuid uploadedID;
        DerivedSessionResult waiting;
        QUuid waitingID;
    };
    EarlierConversations writtenByThePreviousBuild(const QString& owner)
    {
        const QDir data(QDir(home.applicationSupport).filePath(QStringLiteral("Lumora")));
        const auto results
            = EncryptedResultStore::create(data.filePath(QStringLiteral("Results")), keychain());
        const auto backup
            = ConversationBackupStore::create(data.filePath(QStringLiteral("Backup")), keychain());
        EXPECT_TRUE(results && backup);
        if (!results || !backup)
            return {};
        const DeviceIdentity key = testing::newIdentity();
        const DeviceRegistration registration = RealControlPlaneFixture::signIn(key, owner);
        const auto client = std::make_shared<ControlPlaneClient>(base, registration.deviceID, key, manager);
        // That build's service worked on everything its stores held.
        const auto service = ConversationBackupService::create(client, *results, *backup);
        EarlierConversations earlier { registration.accountID,
            testing::reviewHoursAgo(30, owner + u" uploaded"_qs), {},
            testing::reviewHoursAgo(20, owner + u" waits"_qs), QUuid::createUuid() };
        EXPECT_TRUE(test::awaitTask((*results)->save(earlier.uploaded)));
        EXPECT_TRUE(test::awaitTask((*results)->save(earlier.waiting)));
        EXPECT_EQ(test::awaitTask(service->backUp(earlier.uploaded, home.now)),
            ConversationBackupOutcome::stored());
        const auto uploaded = test::awaitTask((*backup)->record(earlier.uploaded.id));
        earlier.uploadedID = uploaded && uploaded->record ? uploaded->record->conversationID : QUuid();
        EXPECT_TRUE(test::awaitTask((*backup)->upsert(ConversationBackupRecord { earlier.waiting.id,
            earlier.waitingID, ConversationBackupState::pending, 3, home.now, u"offline"_qs })));
        EXPECT_TRUE(test::awaitTask(service->refreshServerHistory()));
        EXPECT_TRUE(test::awaitTask((*backup)->setMigrationChoice(ConversationMigrationChoice::accepted)));
        return earlier;
    }

    // The previous build signed `name` in on this computer, with its own device key.
    void savedSessionOf(const QString& name)
    {
        const auto key = test::awaitTask(DeviceIdentity::load(keychain()));
        ASSERT_TRUE(key.has_value());
        const DeviceRegistration registration = RealControlPlaneFixture::signIn(*key, name);
        ASSERT_TRUE(test::awaitTask(
            AccountSessionStore(keychain()).save({ registration.accountID, registration.deviceID })));
    }

    // The history's row of a conversation, by its review or its id on the account.
    static const ConversationHistoryEntry* rowOf(
        const SessionViewModel& model, const DerivedSessionResult& review, const QUuid& id)
    {
        const auto& rows = model.historyEntries();
        const auto row = std::ranges::find_if(rows, [&](const ConversationHistoryEntry& entry) {
            return entry.localID == review.id || entry.id == id;
        });
        return row == rows.end() ? nullptr : &*row;
    }

    // The review is on this computer, whoever it belongs to.
    static bool kept(const SessionViewModel& model, const DerivedSessionResult& review)
    {
        const auto loaded = test::awaitTask(model.resultStore()->load(review.id));
        EXPECT_TRUE(loaded.has_value());
        return loaded && loaded->result;
    }

    QTemporaryDir secretFolder;
};

// A review of an earlier build, which says nowhere whose it is, found while nobody is signed in,
// is given to no account: it shows only while nobody is. Ann's conversation waits for its upload
// (the control plane was out of reach when it went) as she signs out. Ben signs in on the same computer a day
// later and links with his partner: his history, his account and his partner's never hold it, and his Delete
// cannot reach it. Ann finds it on her account when she signs in again; when she deletes her account, her
// conversation goes from this computer and Ben's stays.
TEST_F(SharedComputerTest, AnotherAccountNeitherSeesNorSendsNorDeletesAConversationWaitingForItsUpload)
{
    auto relay = std::make_unique<testing::AnswerLosingRelay>(
        base, certificates.serverCertificate(), certificates.serverKey());
    const QUrl relayed = relay->baseUrl();
    home.info[InfoResource::controlPlaneURLKey] = relayed.toString();
    auto model = launch();
    const DerivedSessionResult earlier = testing::review("Kept by an earlier version");
    ASSERT_TRUE(test::awaitTask(model->resultStore()->save(earlier)));
    model.reset();
    model = launch();
    ASSERT_EQ(model->results().size(), 1);
    signIn(*model, "Ann");
    EXPECT_TRUE(model->results().isEmpty()) << "Ann was given the review of nobody known";
    const QUuid ann = model->account()->accountID;
    const DerivedSessionResult waiting = record(*model, "Can we talk about the bills?");
    relay.reset();
    EXPECT_EQ(test::awaitTask(model->backupService()->backUp(waiting, home.now)).kind(),
        ConversationBackupOutcome::Kind::retryLater);
    const auto kept = test::awaitTask(model->backupStore()->record(waiting.id));
    ASSERT_TRUE(kept && kept->record);
    const QUuid annsConversation = kept->record->conversationID;
    relay = std::make_unique<testing::AnswerLosingRelay>(
        base, certificates.serverCertificate(), certificates.serverKey(), quint16(relayed.port()));
    model->requestSignOut();
    settle(*model);
    ASSERT_FALSE(model->isSignedIn());
    EXPECT_EQ(model->results().size(), 2) << "signed out, this computer shows what it keeps";

    home.now = home.now.addDays(1);
    const auto isAnns = [&](const ConversationHistoryEntry& row) {
        return row.localID == waiting.id || row.id == annsConversation;
    };
    // What History shows from the moment Ben is signed in.
    bool annsShownToBen = false;
    QObject::connect(model.get(), &SessionViewModel::accountChanged, model.get(), [&] {
        if (model->account() && model->account()->accountID != ann)
            annsShownToBen = annsShownToBen || std::ranges::any_of(model->historyEntries(), isAnns);
    });
    signIn(*model, "Ben");
    EXPECT_FALSE(annsShownToBen) << "Ben's history showed Ann's as he signed in";
    EXPECT_TRUE(std::ranges::none_of(model->historyEntries(), isAnns)) << "Ben's history shows Ann's";
    EXPECT_EQ(
        std::ranges::find(model->results(), waiting.id, &DerivedSessionResult::id), model->results().end());
    const DeviceIdentity partnerKey = testing::newIdentity();
    const auto partner = std::make_shared<ControlPlaneClient>(
        base, RealControlPlaneFixture::signIn(partnerKey, "Pat").deviceID, partnerKey, manager);
    const auto invite = test::awaitTask(
        PairingService::create(model->client(), PairingPolicy::version.toString())->createInvite());
    ASSERT_TRUE(invite.has_value());
    const auto joining = PairingService::create(partner, PairingPolicy::version.toString());
    const auto redeemed = test::awaitTask(joining->redeem(invite->code));
    ASSERT_TRUE(redeemed.has_value());
    ASSERT_TRUE(test::awaitTask(joining->confirm(redeemed->inviteID)));
    model->refreshHistory(true);
    settle(*model);
    const DerivedSessionResult bens = record(*model, "Shall we plan the weekend?");
    EXPECT_EQ(
        test::awaitTask(model->backupService()->backUp(bens, home.now)), ConversationBackupOutcome::stored());
    for (const ControlPlaneClient* account : { model->client().get(), partner.get() })
        EXPECT_FALSE(listed(*account).contains(annsConversation))
            << "Ben's account or his partner's holds it";
    ConversationHistoryEntry forged;
    forged.id = annsConversation;
    forged.localID = waiting.id;
    forged.backup = ConversationBackupDisplayState::waiting;
    (void)test::awaitTask(model->remove(forged));
    EXPECT_TRUE(test::awaitTask(model->resultStore()->load(waiting.id))->result.has_value())
        << "Ben's Delete removed Ann's conversation";
    model->requestSignOut();
    settle(*model);

    home.now = home.now.addDays(1);
    signIn(*model, "Ann");
    ASSERT_EQ(model->account()->accountID, ann);
    const auto row = std::ranges::find_if(model->historyEntries(), isAnns);
    ASSERT_NE(row, model->historyEntries().end()) << "Ann's history lacks her conversation";
    EXPECT_EQ(row->backup, ConversationBackupDisplayState::backedUp);
    EXPECT_TRUE(listed(*model->client()).contains(annsConversation));
    EXPECT_TRUE(std::ranges::none_of(model->historyEntries(),
        [&](const ConversationHistoryEntry& entry) { return entry.localID == bens.id; }));

    model->requestAccountDeletion();
    settle(*model);
    const auto left = test::awaitTask(model->resultStore()->list());
    ASSERT_TRUE(left.has_value());
    ASSERT_EQ(left->results.size(), 2) << "Ann's deletion took the conversations of this computer";
    EXPECT_EQ(left->results.first().id, bens.id);
    EXPECT_EQ(left->results.last().id, earlier.id);
}

// The previous build kept conversations in reviews and backup records that name no account. Upgraded
// with Ben signed in, his account takes his own uploaded one (his account's list holds it) and
// nothing else unasked: neither Ann's uploaded one nor her waiting one shows in his history or
// reaches his account. The offer shows him the two waiting ones; he takes his own. Upgraded on
// another computer with nobody signed in, every review shows signed out. When the owner of the
// earlier conversations signs in, her uploaded one is hers, her waiting one is offered to her and
// reaches her account once she takes it; deleting the uploaded one in History, then her account,
// leaves nothing of either on the computer, and nothing that names her.
TEST_F(SharedComputerTest, ConversationsOfThePreviousBuildGoToAnAccountOnlyOnProofOrChoice)
{
    const auto offered = [](const SessionViewModel& model) {
        QSet<QUuid> ids;
        for (const ConversationHistoryEntry& entry : model.conversationsOffered())
            ids.insert(entry.localID.value_or(QUuid()));
        return ids;
    };
    const auto ownerComesBack = [&](SessionViewModel& model, const EarlierConversations& hers,
                                    const QString& name) {
        signIn(model, name);
        ASSERT_EQ(model.account()->accountID, hers.owner);
        const ConversationHistoryEntry* uploaded = rowOf(model, hers.uploaded, hers.uploadedID);
        ASSERT_NE(uploaded, nullptr);
        EXPECT_EQ(uploaded->localID, hers.uploaded.id)
            << name.toStdString() << "'s history shows her uploaded conversation as not on this computer";
        EXPECT_EQ(uploaded->backup, ConversationBackupDisplayState::backedUp);
        EXPECT_EQ(rowOf(model, hers.waiting, hers.waitingID), nullptr) << "shown before she took it";
        EXPECT_EQ(offered(model), QSet<QUuid> { hers.waiting.id });
        test::awaitTask(model.answerMigrationOffer(true, { hers.waiting.id }));
        EXPECT_TRUE(listed(*model.client()).contains(hers.waitingID))
            << "her waiting conversation never reached her account";
        const auto deleted = test::awaitTask(model.remove(*rowOf(model, hers.uploaded, hers.uploadedID)));
        EXPECT_TRUE(deleted && deleted->isDeleted());
        EXPECT_FALSE(kept(model, hers.uploaded)) << "its deletion in History left it on this computer";
        model.requestAccountDeletion();
        settle(model);
        EXPECT_EQ(model.statusText(), SessionViewModel::accountDeletedText());
        EXPECT_FALSE(kept(model, hers.waiting)) << "the account's deletion left it on this computer";
        const auto state = test::awaitTask(model.backupStore()->state());
        ASSERT_TRUE(state.has_value());
        EXPECT_FALSE(QJsonDocument(state->toJson())
                         .toJson()
                         .contains(hers.owner.toString(QUuid::WithoutBraces).toUpper().toLatin1()))
            << "the backup state names the deleted account";
    };

    const EarlierConversations anns = writtenByThePreviousBuild(u"Ann"_qs);
    const EarlierConversations bens = writtenByThePreviousBuild(u"Ben"_qs);
    savedSessionOf(u"Ben"_qs);
    // The upgrade comes a day later: the waiting uploads are due.
    home.now = home.now.addDays(1);
    auto model = launch();
    ASSERT_TRUE(model->isSignedIn());
    ASSERT_EQ(model->account()->accountID, bens.owner);
    EXPECT_EQ(rowOf(*model, anns.uploaded, anns.uploadedID), nullptr)
        << "Ben's history shows Ann's uploaded one";
    EXPECT_EQ(rowOf(*model, anns.waiting, anns.waitingID), nullptr)
        << "Ben's history shows Ann's waiting one";
    EXPECT_FALSE(listed(*model->client()).contains(anns.waitingID))
        << "Ben's account holds Ann's waiting one";
    const ConversationHistoryEntry* his = rowOf(*model, bens.uploaded, bens.uploadedID);
    ASSERT_NE(his, nullptr);
    EXPECT_EQ(his->localID, bens.uploaded.id)
        << "Ben's history shows his uploaded one as not on this computer";
    EXPECT_EQ(offered(*model), (QSet<QUuid> { anns.waiting.id, bens.waiting.id }));
    test::awaitTask(model->answerMigrationOffer(true, { bens.waiting.id }));
    const QList<QUuid> bensAccount = listed(*model->client());
    EXPECT_TRUE(bensAccount.contains(bens.waitingID));
    EXPECT_FALSE(bensAccount.contains(anns.waitingID)) << "Ben's answer took Ann's waiting one";
    model->requestSignOut();
    settle(*model);
    ownerComesBack(*model, anns, u"Ann"_qs);
    EXPECT_TRUE(kept(*model, bens.uploaded) && kept(*model, bens.waiting)) << "Ann's deletion took Ben's";

    model.reset();
    home.applicationSupport = home.path(u"second/data"_qs);
    home.temporaryRoot = home.path(u"second/tmp/Lumora-Conversation"_qs);
    home.preferences
        = std::make_unique<QSettings>(home.path(u"second/preferences.ini"_qs), QSettings::IniFormat);
    service = u"com.lumora.native.test-"_qs + QUuid::createUuid().toString(QUuid::WithoutBraces);
    const EarlierConversations cats = writtenByThePreviousBuild(u"Cat"_qs);
    home.now = home.now.addDays(1);
    model = launch();
    ASSERT_FALSE(model->isSignedIn());
    EXPECT_EQ(model->results().size(), 2) << "signed out, this computer shows what it keeps";
    ownerComesBack(*model, cats, u"Cat"_qs);
}

} // namespace
} // namespace lumora
