#include "AwaitTask.hpp"
#include "FakeHistoryModel.hpp"
#include "HistoryModelAdapter.hpp"
#include "PeopleModelAdapter.hpp"
#include "ViewModelFixture.hpp"
#include "domain/TurnGrouping.hpp"
#include "persistence/EncryptedResultStore.hpp"

#include <QAbstractItemModelTester>
#include <QSignalSpy>
#include <QTest>
#include <cctype>
#include <gtest/gtest.h>

namespace lumora {
namespace {

// An entry whose id is made from `key`, so that a table can name rows by a letter.
ConversationHistoryEntry entryOf(char key, const QString& title = QString())
{
    ConversationHistoryEntry entry;
    entry.id = QUuid(
        QStringLiteral("00000000-0000-4000-8000-0000000000%1").arg(int(key), 2, 16, QLatin1Char('0')));
    entry.title = title.isEmpty() ? std::optional<QString>() : title;
    entry.completedAt = QDateTime(QDate(2026, 2, 9), QTime(19, 30), QTimeZone::utc());
    entry.duration = 600;
    return entry;
}

// An upper-case key is the same entry as its lower-case one, renamed.
QList<ConversationHistoryEntry> entriesOf(const char* keys)
{
    QList<ConversationHistoryEntry> entries;
    for (const char* key = keys; *key; ++key) {
        const bool renamed = std::isupper(static_cast<unsigned char>(*key));
        entries.append(entryOf(char(std::tolower(static_cast<unsigned char>(*key))),
            renamed ? QStringLiteral("Renamed") : QString()));
    }
    return entries;
}

QString keysOf(const HistoryEntryList& list)
{
    QString keys;
    for (const ConversationHistoryEntry& entry : list.entries())
        keys.append(QChar(entry.id.toString(QUuid::WithoutBraces).right(2).toInt(nullptr, 16)));
    return keys;
}

TEST(HistoryEntryList, ARepublishedHistoryChangesOnlyTheRowsThatDiffer)
{
    const struct {
        const char* name;
        const char* keys;
        int inserted;
        int removed;
        int moved;
        int changed;
    } steps[] {
        { "first history", "abc", 3, 0, 0, 0 },
        { "the same again", "abc", 0, 0, 0, 0 },
        { "a new conversation on top", "dabc", 1, 0, 0, 0 },
        { "one deleted from the middle", "dac", 0, 1, 0, 0 },
        { "two neighbours deleted", "d", 0, 1, 0, 0 },
        { "back, reordered", "cbad", 3, 0, 0, 0 },
        { "the last one first", "dcba", 0, 0, 1, 0 },
        { "pairs swapped", "cdab", 0, 0, 2, 0 },
        { "one repeated", "cdabc", 1, 0, 0, 0 },
        { "the repeat gone", "cdab", 0, 1, 0, 0 },
        { "one renamed, one deleted and one new at once", "Cdbe", 1, 1, 0, 1 },
        { "empty", "", 0, 1, 0, 0 },
    };
    HistoryEntryList list;
    QAbstractItemModelTester tester(&list, QAbstractItemModelTester::FailureReportingMode::Fatal);
    QSignalSpy inserted(&list, &QAbstractItemModel::rowsInserted);
    QSignalSpy removed(&list, &QAbstractItemModel::rowsRemoved);
    QSignalSpy moved(&list, &QAbstractItemModel::rowsMoved);
    QSignalSpy changed(&list, &QAbstractItemModel::dataChanged);
    QSignalSpy reset(&list, &QAbstractItemModel::modelReset);
    for (const auto& step : steps) {
        SCOPED_TRACE(step.name);
        for (QSignalSpy* spy : { &inserted, &removed, &moved, &changed })
            spy->clear();
        list.replace(entriesOf(step.keys));
        EXPECT_EQ(keysOf(list), QString::fromLatin1(step.keys).toLower());
        EXPECT_EQ(inserted.size(), step.inserted);
        EXPECT_EQ(removed.size(), step.removed);
        EXPECT_EQ(moved.size(), step.moved);
        EXPECT_EQ(changed.size(), step.changed);
    }
    EXPECT_EQ(reset.size(), 0);
}

TEST(HistoryEntryList, AChangedEntryIsOneChangedRowWithItsRoles)
{
    HistoryEntryList list;
    QAbstractItemModelTester tester(&list, QAbstractItemModelTester::FailureReportingMode::Fatal);
    list.replace(entriesOf("abc"));
    QSignalSpy changed(&list, &QAbstractItemModel::dataChanged);
    QList<ConversationHistoryEntry> entries = entriesOf("abc");
    entries[1].title = QString();
    entries[1].isHidden = true;
    entries[1].turns = 34;
    entries[1].backup = ConversationBackupDisplayState::backedUp;
    entries[1].pendingDeletion = PendingConversationDeletion { true, 1, 2 };
    list.replace(entries);
    ASSERT_EQ(changed.size(), 1);
    EXPECT_EQ(changed.first().at(0).value<QModelIndex>().row(), 1);

    const auto role
        = [&](int row, const char* name) { return list.data(list.index(row), list.roleNames().key(name)); };
    EXPECT_EQ(role(1, "entryID").toString(), entries[1].id.toString(QUuid::WithoutBraces));
    EXPECT_EQ(list.entry(role(1, "entryID").toString()), entries[1]);
    EXPECT_TRUE(role(1, "hasTitle").toBool()) << "an empty title is a title";
    EXPECT_FALSE(role(0, "hasTitle").toBool());
    EXPECT_EQ(role(1, "turns").toInt(), 34);
    EXPECT_EQ(role(0, "turns").toInt(), -1) << "unknown";
    EXPECT_EQ(role(1, "backup").toInt(), HistoryEntryList::BackedUp);
    EXPECT_EQ(role(0, "backup").toInt(), HistoryEntryList::OnlyOnThisComputer);
    EXPECT_TRUE(role(1, "hasPendingDeletion").toBool());
    EXPECT_TRUE(role(1, "deletionRequestedByMe").toBool());
    EXPECT_TRUE(role(1, "isHidden").toBool());
    EXPECT_FALSE(role(0, "isHidden").toBool());
    EXPECT_EQ(list.entry(QStringLiteral("not an id")), std::nullopt);
}

// The keys of a model's rows, read through its entry id role as a view reads them.
QString keysIn(const QAbstractItemModel& rows)
{
    QString keys;
    for (int row = 0; row < rows.rowCount(); ++row) {
        const QString id = rows.index(row, 0).data(HistoryEntryList::EntryIDRole).toString();
        keys.append(QChar(id.right(2).toInt(nullptr, 16)));
    }
    return keys;
}

TEST(HistoryModel, TheVisibleAndHiddenRowsFollowARepublishedHistoryInPlace)
{
    testing::FakeHistoryModel model;
    using Tester = QAbstractItemModelTester;
    Tester all(model.entries(), Tester::FailureReportingMode::Fatal);
    Tester visible(model.visibleEntries(), Tester::FailureReportingMode::Fatal);
    Tester hidden(model.hiddenEntries(), Tester::FailureReportingMode::Fatal);
    QList<ConversationHistoryEntry> entries = entriesOf("abcd");
    entries[3].isHidden = true;
    model.entries()->replace(entries);
    ASSERT_EQ(keysIn(*model.visibleEntries()), "abc");
    ASSERT_EQ(keysIn(*model.hiddenEntries()), "d");

    QSignalSpy inserted(model.visibleEntries(), &QAbstractItemModel::rowsInserted);
    QSignalSpy removed(model.visibleEntries(), &QAbstractItemModel::rowsRemoved);
    QSignalSpy changed(model.visibleEntries(), &QAbstractItemModel::dataChanged);
    QSignalSpy visibleReset(model.visibleEntries(), &QAbstractItemModel::modelReset);
    QSignalSpy hiddenReset(model.hiddenEntries(), &QAbstractItemModel::modelReset);
    // a renamed, b hidden, c deleted, d shown again, e new.
    entries = entriesOf("Abde");
    entries[1].isHidden = true;
    model.entries()->replace(entries);
    EXPECT_EQ(keysIn(*model.visibleEntries()), "ade");
    EXPECT_EQ(keysIn(*model.hiddenEntries()), "b");
    EXPECT_EQ(model.visibleEntries()->index(0, 0).data(HistoryEntryList::TitleRole).toString(), "Renamed");
    EXPECT_EQ(changed.size(), 1) << "only the renamed row changes where it stands";
    EXPECT_GE(inserted.size(), 1);
    EXPECT_GE(removed.size(), 1);
    EXPECT_EQ(visibleReset.size(), 0);
    EXPECT_EQ(hiddenReset.size(), 0);
    EXPECT_TRUE(model.overview().hasVisibleEntries());

    model.entries()->replace({});
    EXPECT_EQ(model.visibleEntries()->rowCount(), 0);
    EXPECT_EQ(model.hiddenEntries()->rowCount(), 0);
}

// `count` turns of the two seats in turn, each long enough to be a paragraph of its own.
QList<ConversationTurn> alternatingTurns(int count)
{
    QList<SpeakerTurn> turns;
    for (int n = 0; n < count; ++n)
        turns.append(SpeakerTurn(n % 2, 6.0 * n, 6.0 * n + 5, QStringLiteral("Paragraph %1 <b>").arg(n)));
    return TurnGrouping::group(turns);
}

TEST(ReviewTranscript, ALongTranscriptComesAFewRowsAtATimeAndFollowsTheSeatNames)
{
    ReviewTranscript transcript;
    QAbstractItemModelTester tester(&transcript, QAbstractItemModelTester::FailureReportingMode::Fatal);
    QSignalSpy hasMore(&transcript, &ReviewTranscript::hasMoreChanged);
    QSignalSpy inserted(&transcript, &QAbstractItemModel::rowsInserted);
    QSignalSpy changed(&transcript, &QAbstractItemModel::dataChanged);
    const QList<ConversationTurn> turns = alternatingTurns(150);
    ASSERT_EQ(turns.size(), 150);
    const int first = ReviewTranscript::firstRows;

    transcript.reset(turns, { QStringLiteral("Sam"), QStringLiteral("Alex") });
    EXPECT_EQ(transcript.rowCount(), first);
    EXPECT_TRUE(transcript.hasMore());
    EXPECT_EQ(hasMore.size(), 1);
    const auto role = [&](int row, int role) { return transcript.data(transcript.index(row), role); };
    EXPECT_EQ(role(0, ReviewTranscript::NameRole).toString(), "Sam");
    EXPECT_TRUE(role(0, ReviewTranscript::IsLeftSeatRole).toBool());
    EXPECT_EQ(role(1, ReviewTranscript::NameRole).toString(), "Alex");
    EXPECT_FALSE(role(0, ReviewTranscript::ParagraphRole).toString().contains("<b>")) << "escaped";
    EXPECT_EQ(role(0, ReviewTranscript::AccessibleTextRole).toString(), "Sam: Paragraph 0 <b>");

    // Rows come one at a time, so that a view makes each one's delegate before the time is
    // looked at again; the time spent, at least one row.
    transcript.showMoreFor(std::chrono::milliseconds(0));
    EXPECT_EQ(transcript.rowCount(), first + 1);
    ASSERT_EQ(inserted.size(), 1);
    EXPECT_EQ(inserted.first().at(1).toInt(), first);
    EXPECT_EQ(inserted.first().at(2).toInt(), first);
    transcript.showMoreFor(std::chrono::minutes(1));
    EXPECT_EQ(transcript.rowCount(), 150) << "the rest, within the time";
    EXPECT_EQ(inserted.size(), 150 - first);
    EXPECT_FALSE(transcript.hasMore());
    EXPECT_EQ(hasMore.size(), 2);
    transcript.showMore();
    EXPECT_EQ(transcript.rowCount(), 150);
    EXPECT_EQ(inserted.size(), 150 - first);

    transcript.setSeatNames({ QStringLiteral("Sam"), QStringLiteral("Jo") });
    ASSERT_EQ(changed.size(), 1);
    EXPECT_EQ(changed.first().at(1).value<QModelIndex>().row(), 149) << "every shown row";
    EXPECT_EQ(role(149, ReviewTranscript::NameRole).toString(), "Jo");
    transcript.setSeatNames({ QStringLiteral("Sam"), QStringLiteral("Jo") });
    EXPECT_EQ(changed.size(), 1) << "the same names change nothing";

    transcript.reset({}, { QStringLiteral("Sam"), QStringLiteral("Jo") });
    EXPECT_EQ(transcript.rowCount(), 0);
    EXPECT_FALSE(transcript.hasMore());
    transcript.reset(alternatingTurns(2), { QStringLiteral("Sam"), QStringLiteral("Jo") });
    EXPECT_EQ(transcript.rowCount(), 2);
    EXPECT_FALSE(transcript.hasMore());
    EXPECT_EQ(hasMore.size(), 2) << "a short transcript never had more";
}

TEST(HistoryModel, OneReviewIsFetchedAtATimeAndCountsAsReviewedFirst)
{
    testing::FakeHistoryModel model;
    model.entries()->replace(entriesOf("ab"));
    const QString a = entryOf('a').id.toString(QUuid::WithoutBraces);
    const QString b = entryOf('b').id.toString(QUuid::WithoutBraces);

    model.openReview(a);
    EXPECT_EQ(model.calls, QStringList({ "reviewed", "fetch " + a }));
    EXPECT_EQ(model.openingEntryID(), a);
    model.openReview(b);
    EXPECT_EQ(model.calls.size(), 2) << "ignored while one is fetched";
    model.answerReview(std::nullopt);
    EXPECT_TRUE(model.openingEntryID().isEmpty()) << "a failed fetch ends the opening";
    EXPECT_TRUE(model.reviewEntryID().isEmpty());

    DerivedSessionResult result;
    result.id = QUuid::createUuid();
    result.summary = QStringLiteral("You both named the bills.");
    QSignalSpy reviewChanged(&model, &HistoryModel::reviewChanged);
    model.openReview(b);
    model.answerReview(result);
    EXPECT_EQ(model.reviewEntryID(), b);
    EXPECT_EQ(model.review(), result);
    EXPECT_TRUE(model.openingEntryID().isEmpty());
    model.closeReview();
    EXPECT_TRUE(model.reviewEntryID().isEmpty());
    EXPECT_EQ(model.review(), std::nullopt);
    EXPECT_EQ(reviewChanged.size(), 2);

    model.openReview(QStringLiteral("gone"));
    EXPECT_TRUE(model.openingEntryID().isEmpty()) << "an unknown entry opens nothing";
}

// Reviews stored on this computer, without an account: the history of the local reviews.
class HistoryAdapterTest : public ::testing::Test {
protected:
    std::unique_ptr<SessionViewModel> launchWithReviews(int count)
    {
        auto first = home.viewModel();
        for (int index = 0; index < count; ++index) {
            DerivedSessionResult review;
            review.id = QUuid::createUuid();
            review.title = QStringLiteral("Review %1").arg(index);
            review.completedAt = QDateTime(QDate(2026, 2, 9 + index), QTime(19, 30), QTimeZone::utc());
            review.duration = 60;
            review.summary = QStringLiteral("Summary %1").arg(index);
            EXPECT_TRUE(test::awaitTask(first->resultStore()->save(review)));
        }
        first.reset();
        return home.viewModel();
    }

    testing::ViewModelHome home;
};

TEST_F(HistoryAdapterTest, RowsFollowTheViewModelsHistoryInPlace)
{
    HistoryEntryList* rows = nullptr;
    auto model = launchWithReviews(3);
    HistoryModelAdapter history(*model, [] { return QDateTime::currentDateTimeUtc(); });
    rows = history.entries();
    QAbstractItemModelTester tester(rows, QAbstractItemModelTester::FailureReportingMode::Fatal);
    ASSERT_EQ(rows->rowCount(), 3);
    EXPECT_EQ(history.results().size(), 3);
    EXPECT_FALSE(history.hasBackupService());
    EXPECT_EQ(history.migrationChoice(), HistoryModel::NotAnswered);
    const QString middle = rows->data(rows->index(1), HistoryEntryList::EntryIDRole).toString();
    EXPECT_EQ(history.deletionKind(middle), HistoryModel::Immediate) << "not on the account";

    QSignalSpy removed(rows, &QAbstractItemModel::rowsRemoved);
    QSignalSpy reset(rows, &QAbstractItemModel::modelReset);
    QSignalSpy resultsChanged(&history, &HistoryModel::resultsChanged);
    history.remove(middle);
    ASSERT_TRUE(QTest::qWaitFor([&] { return rows->rowCount() == 2; }, 60000));
    EXPECT_EQ(removed.size(), 1);
    EXPECT_EQ(reset.size(), 0);
    EXPECT_EQ(history.results().size(), 2);
    EXPECT_GE(resultsChanged.size(), 1);
    EXPECT_EQ(rows->entry(middle), std::nullopt);

    // A stored review opens from this computer.
    const QString first = rows->data(rows->index(0), HistoryEntryList::EntryIDRole).toString();
    history.openReview(first);
    ASSERT_TRUE(QTest::qWaitFor([&] { return history.openingEntryID().isEmpty(); }, 60000));
    ASSERT_TRUE(history.review().has_value());
    EXPECT_EQ(history.review()->id, rows->entry(first)->localID);

    model->setErrorMessage(
        QStringLiteral("That conversation could not be deleted just now. Nothing was removed."));
    EXPECT_FALSE(history.errorMessage().isEmpty());
    history.dismissError();
    EXPECT_EQ(model->errorMessage(), std::nullopt);
    model->setMigrationChoice(ConversationMigrationChoice::declined);
    EXPECT_EQ(history.migrationChoice(), HistoryModel::Declined);
    history.backUpKeptLocal();
    EXPECT_EQ(history.migrationChoice(), HistoryModel::Declined) << "no backup service: nothing changes";
}

TEST_F(HistoryAdapterTest, PeopleReadTheSeatNamesAndTheReviews)
{
    auto model = launchWithReviews(1);
    PeopleModelAdapter people(*model);
    EXPECT_EQ(people.leftName(), "Person 1");
    EXPECT_EQ(people.rightName(), "Person 2");
    EXPECT_TRUE(people.hasResults());
    QSignalSpy left(&people, &PeopleModel::leftNameChanged);
    people.updateParticipantName(0, QStringLiteral("  Sam  "));
    EXPECT_EQ(people.leftName(), "Sam");
    EXPECT_EQ(people.rightName(), "Person 2");
    EXPECT_EQ(left.size(), 1);
}

} // namespace
} // namespace lumora
