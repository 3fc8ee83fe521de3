#include "domain/ConversationHistoryMerge.hpp"

#include "domain/ConversationDeletionPlan.hpp"
#include "domain/ConversationMigrationOffer.hpp"

#include <gtest/gtest.h>

using namespace lumora;

namespace {

QUuid uuid(int n)
{
    return QUuid(static_cast<uint>(n), 0, 0x4000, 0x80, 0, 0, 0, 0, 0, 0, 0);
}

DerivedSessionResult review(int n, qint64 completedSeconds)
{
    DerivedSessionResult result;
    result.id = uuid(n);
    result.title = QStringLiteral("Local %1").arg(n);
    result.completedAt = QDateTime::fromSecsSinceEpoch(completedSeconds, Qt::UTC);
    result.duration = 90.5;
    result.stats = { SpeakerStats { .speaker = 0, .turns = 4 }, SpeakerStats { .speaker = 1, .turns = 3 } };
    return result;
}

ConversationRecordSummary row(int n, qint64 endedAt, QString mode = QStringLiteral("conversation"))
{
    return { .id = uuid(n),
        .mode = std::move(mode),
        .status = QStringLiteral("stored"),
        .startedAt = endedAt - 60,
        .endedAt = endedAt,
        .durationSeconds = 60,
        .title = QStringLiteral("Account %1").arg(n),
        .createdAt = endedAt + 5,
        .workspace = ConversationWorkspaceScope::current,
        .pendingDeletion = std::nullopt,
        .turns = 5 };
}

ConversationBackupRecord record(int local, int account, ConversationBackupState state)
{
    return { .localID = uuid(local),
        .conversationID = uuid(account),
        .state = state,
        .attempts = 0,
        .lastAttemptAt = std::nullopt,
        .lastFailureCode = std::nullopt };
}

QList<QUuid> ids(const QList<ConversationHistoryEntry>& entries)
{
    QList<QUuid> result;
    for (const auto& entry : entries)
        result.append(entry.id);
    return result;
}

const PendingConversationDeletion partnerAsked { .requestedByMe = false, .requestedAt = 10, .expiresAt = 20 };

} // namespace

// A local review's row reads its length in the whole seconds the account keeps (90.5 s are 91,
// as the partner's computer shows them) and its turns from its statistics.
TEST(ConversationHistoryMerge, LocalReviewsAloneAreOnlyOnThisComputer)
{
    EXPECT_TRUE(ConversationHistoryMerge::entries({}, {}, {}, {}).isEmpty());

    const auto entries
        = ConversationHistoryMerge::entries({ review(1, 100), review(2, 300), review(3, 200) }, {}, {}, {});
    EXPECT_EQ(ids(entries), (QList<QUuid> { uuid(2), uuid(3), uuid(1) }));
    EXPECT_EQ(entries[0],
        (ConversationHistoryEntry { .id = uuid(2),
            .localID = uuid(2),
            .title = QStringLiteral("Local 2"),
            .completedAt = QDateTime::fromSecsSinceEpoch(300, Qt::UTC),
            .duration = 91,
            .mode = ConversationMode::conversation,
            .turns = 7,
            .backup = ConversationBackupDisplayState::onlyOnThisMac,
            .workspace = ConversationWorkspaceScope::current,
            .pendingDeletion = std::nullopt,
            .isHidden = false }));
}

TEST(ConversationHistoryMerge, OnlyAStoredRecordHidesTheAccountRow)
{
    ConversationRecordSummary shared = row(10, 500);
    shared.workspace = ConversationWorkspaceScope::previous;
    shared.pendingDeletion = partnerAsked;

    struct Case {
        ConversationBackupState state;
        ConversationBackupDisplayState badge;
        qsizetype count;
    };
    for (const Case& c :
        { Case { ConversationBackupState::stored, ConversationBackupDisplayState::backedUp, 1 },
            Case { ConversationBackupState::pending, ConversationBackupDisplayState::waiting, 2 },
            Case { ConversationBackupState::abandoned, ConversationBackupDisplayState::onlyOnThisMac, 2 },
            Case { ConversationBackupState::declined, ConversationBackupDisplayState::onlyOnThisMac, 2 } }) {
        SCOPED_TRACE(toString(c.state).toStdString());
        const auto entries = ConversationHistoryMerge::entries(
            { review(1, 500) }, { shared }, { record(1, 10, c.state) }, {});
        ASSERT_EQ(entries.size(), c.count);
        // The local entry takes the account row's id, workspace and deletion request.
        const ConversationHistoryEntry& local = entries[0];
        EXPECT_EQ(local.id, uuid(10));
        EXPECT_EQ(local.localID, uuid(1));
        EXPECT_EQ(local.backup, c.badge);
        EXPECT_EQ(local.workspace, ConversationWorkspaceScope::previous);
        EXPECT_EQ(local.pendingDeletion, partnerAsked);
        if (c.count == 2) {
            EXPECT_EQ(entries[1].localID, std::nullopt);
        }
    }

    // The first of two records for one review decides; a stored record for another
    // account id leaves this row alone.
    const auto entries = ConversationHistoryMerge::entries({ review(1, 100) }, { row(10, 200) },
        { record(1, 11, ConversationBackupState::stored), record(1, 10, ConversationBackupState::stored) },
        {});
    EXPECT_EQ(ids(entries), (QList<QUuid> { uuid(10), uuid(11) }));
    EXPECT_EQ(entries[0].localID, std::nullopt);
    EXPECT_EQ(entries[1].localID, uuid(1));
}

TEST(ConversationHistoryMerge, AccountRowsAndHiddenRows)
{
    ConversationRecordSummary hiddenRow = row(20, 700, QStringLiteral("checkin"));
    hiddenRow.title.reset();
    const auto entries = ConversationHistoryMerge::entries({ review(2, 50) },
        { row(21, 600, QStringLiteral("Checkin")), row(22, 650, QStringLiteral(" checkin")), row(23, 660) },
        { record(2, 20, ConversationBackupState::pending) }, { hiddenRow });
    EXPECT_EQ(ids(entries), (QList<QUuid> { uuid(20), uuid(23), uuid(22), uuid(21), uuid(20) }));

    EXPECT_TRUE(entries[0].isHidden);
    EXPECT_TRUE(entries[0].isCheckin());
    EXPECT_FALSE(entries[1].isHidden);
    // A row from the account counts the turns the account says it has.
    EXPECT_EQ(entries[1].turns, 5);
    EXPECT_EQ(entries[1].duration, 60);
    EXPECT_FALSE(entries[2].isCheckin());
    EXPECT_FALSE(entries[3].isCheckin());
    // The local review uploading under the hidden row's id is hidden with it.
    EXPECT_EQ(entries[4].localID, uuid(2));
    EXPECT_TRUE(entries[4].isHidden);
}

TEST(ConversationHistoryMerge, ServerRowsWinOverHiddenOnesAndEqualTimesKeepTheirOrder)
{
    ConversationRecordSummary listed = row(30, 100);
    listed.workspace = ConversationWorkspaceScope::previous;
    ConversationRecordSummary hiddenCopy = row(30, 100);
    const auto entries = ConversationHistoryMerge::entries({ review(3, 100), review(4, 100) },
        { listed, row(31, 100) }, { record(4, 30, ConversationBackupState::pending) }, { hiddenCopy });
    EXPECT_EQ(ids(entries), (QList<QUuid> { uuid(3), uuid(30), uuid(30), uuid(31), uuid(30) }));
    EXPECT_EQ(entries[1].localID, uuid(4));
    EXPECT_EQ(entries[1].workspace, ConversationWorkspaceScope::previous);
    EXPECT_TRUE(entries[1].isHidden);
    // A row listed twice gives two entries; both are hidden because the id is.
    EXPECT_EQ(entries[2].workspace, ConversationWorkspaceScope::previous);
    EXPECT_TRUE(entries[2].isHidden);
    EXPECT_FALSE(entries[3].isHidden);
    EXPECT_EQ(entries[4].workspace, ConversationWorkspaceScope::current);
}

TEST(ConversationMigrationOffer, OfferedOnceToASignedInUserWithSomethingToAdd)
{
    struct Case {
        bool signedIn;
        std::optional<ConversationMigrationChoice> choice;
        qint64 unoffered;
        bool offer;
    };
    for (const Case& c : { Case { true, std::nullopt, 1, true }, Case { true, std::nullopt, 0, false },
             Case { false, std::nullopt, 5, false },
             Case { true, ConversationMigrationChoice::declined, 5, false },
             Case { true, ConversationMigrationChoice::accepted, 5, false } }) {
        SCOPED_TRACE(testing::Message() << c.signedIn << " " << c.unoffered);
        EXPECT_EQ(ConversationMigrationOffer::shouldOffer(c.signedIn, c.choice, c.unoffered), c.offer);
    }
    EXPECT_EQ(ConversationMigrationOffer::unofferedLocalIDs({ uuid(3), uuid(1), uuid(2), uuid(3) },
                  { record(1, 9, ConversationBackupState::declined),
                      record(5, 1, ConversationBackupState::stored) }),
        (QList<QUuid> { uuid(3), uuid(2), uuid(3) }));
}

TEST(ConversationDeletionPlan, KindFollowsTheWorkspace)
{
    const auto earlier = [](qint64 members, qint64 conversations) {
        return PairingPreviousWorkspace { .workspaceID = QStringLiteral("w"),
            .linkedAt = 1,
            .unlinkedAt = 2,
            .memberCount = members,
            .conversationCount = conversations };
    };
    using Kind = ConversationDeletionKind;
    constexpr auto current = ConversationWorkspaceScope::current;
    constexpr auto previous = ConversationWorkspaceScope::previous;
    struct Case {
        ConversationWorkspaceScope workspace;
        bool paired;
        QList<PairingPreviousWorkspace> previousWorkspaces;
        Kind kind;
    };
    for (const Case& c : {
             Case { current, true, {}, Kind::sharedWithPartner },
             Case { current, false, { earlier(2, 5) }, Kind::immediate },
             Case { previous, true, {}, Kind::undetermined },
             Case { previous, false, { earlier(2, 0), earlier(1, 0) }, Kind::undetermined },
             Case { previous, true, { earlier(1, 3) }, Kind::immediate },
             Case { previous, false, { earlier(0, 1), earlier(2, 0) }, Kind::immediate },
             Case { previous, false, { earlier(2, 1), earlier(3, 4) }, Kind::sharedWithPartner },
             Case { previous, false, { earlier(2, 1), earlier(1, 4) }, Kind::undetermined },
         }) {
        SCOPED_TRACE(testing::Message()
            << toString(c.workspace).toStdString() << " " << c.paired << " " << c.previousWorkspaces.size());
        EXPECT_EQ(ConversationDeletionPlan::kind(c.workspace, c.paired, c.previousWorkspaces), c.kind);
    }
}
