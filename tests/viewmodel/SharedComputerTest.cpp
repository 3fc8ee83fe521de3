#include "AccountFixture.hpp"
#include "AnswerLosingRelay.hpp"
#include "appcore/ConversationBackupService.hpp"
#include "appcore/PairingService.hpp"
#include "appcore/SessionCoordinator.hpp"
#include "domain/PairingPolicy.hpp"
#include "persistence/ConversationBackupStore.hpp"
#include "persistence/EncryptedResultStore.hpp"
#include "providers/ControlPlaneClient.hpp"

#include <QFile>
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

} // namespace
} // namespace lumora
