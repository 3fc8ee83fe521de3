#include "AccountFixture.hpp"
#include "appcore/ConversationBackupService.hpp"
#include "persistence/EncryptedResultStore.hpp"
#include "providers/ControlPlaneClient.hpp"

#include <algorithm>

namespace lumora {
namespace {

using testing::settle;
using testing::turnUntil;

// An account whose storage holds one conversation and a half.
class FullAccountTest : public testing::AccountTest {
protected:
    QStringList extraServerArguments() const override { return testing::quotaOfOneConversationAndAHalf(); }
};

// The account refused an upload for want of room, and the program shows no History page (nothing
// asks for the account's list). Room made on another computer of the account sends the waiting
// upload all the same, and nothing says any longer that the storage is full.
TEST_F(FullAccountTest, RoomMadeOnAnotherComputerSendsTheWaitingUploadWhicheverPageShows)
{
    roomCheckInterval = std::chrono::milliseconds(100);
    auto model = launch();
    signIn(*model, "Ada");
    const QUuid ada = model->account()->accountID;
    DerivedSessionResult bills = testing::reviewHoursAgo(3, QStringLiteral("Bills"));
    DerivedSessionResult week = testing::reviewHoursAgo(2, QStringLiteral("Week"));
    for (DerivedSessionResult* review : { &bills, &week }) {
        review->accountID = ada;
        ASSERT_TRUE(test::awaitTask(model->resultStore()->save(*review)));
    }
    const auto service = model->backupService();
    ASSERT_EQ(test::awaitTask(service->backUp(bills, home.now)), ConversationBackupOutcome::stored());
    ASSERT_EQ(test::awaitTask(service->backUp(week, home.now)),
        ConversationBackupOutcome::retryLater("storage_quota_exceeded"));
    model->refreshHistory(true);
    settle(*model);
    const auto row = [&model](const QUuid& localID) {
        const auto found
            = std::ranges::find(model->historyEntries(), localID, &ConversationHistoryEntry::localID);
        return found == model->historyEntries().end() ? std::nullopt : std::optional(*found);
    };
    ASSERT_TRUE(row(bills.id) && row(week.id));
    ASSERT_EQ(row(bills.id)->backup, ConversationBackupDisplayState::backedUp);
    ASSERT_TRUE(row(week.id)->waitsForRoom);

    const DeviceIdentity otherKey = testing::newIdentity();
    const ControlPlaneClient other(
        base, RealControlPlaneFixture::signIn(otherKey, "Ada").deviceID, otherKey, manager);
    ASSERT_TRUE(test::awaitTask(other.deleteConversation(row(bills.id)->id)).has_value());

    EXPECT_TRUE(turnUntil(
        [&] { return row(week.id) && row(week.id)->backup == ConversationBackupDisplayState::backedUp; },
        std::chrono::seconds(60)))
        << "the waiting upload was not sent";
    EXPECT_TRUE(std::ranges::none_of(model->historyEntries(), &ConversationHistoryEntry::waitsForRoom))
        << "the storage is still said to be full";
}

} // namespace
} // namespace lumora
