#include "FakeHistoryModel.hpp"
#include "HistoryRecords.hpp"
#include "ObjectSearch.hpp"
#include "WindowHarness.hpp"

#include <QAccessible>
#include <QImage>
#include <QQuickItem>
#include <QQuickWindow>
#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>

namespace lumora {
namespace {

using testing::keyOf;
using testing::WindowHarness;

// The History page alone over a fake model whose dates read in English and GMT.
class HistoryWindowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        history.setDateTexts(DateTexts(QLocale(QLocale::English, QLocale::UnitedStates), QTimeZone::utc()));
    }

    QQuickItem* open()
    {
        return page.openComponent(
            "Lumora.History", "HistoryView", { { "model", QVariant::fromValue<QObject*>(&history) } });
    }
    QString text(const QString& name) const { return page.text(name); }
    // The menu of a card, opened with its button, and whether an item of it shows.
    QObject* openMenu(char key)
    {
        page.click("moreActions:" + keyOf(key));
        QObject* menu = page.find("historyActions:" + keyOf(key));
        EXPECT_TRUE(QTest::qWaitFor([&] { return menu->property("opened").toBool(); }, 60000));
        return menu;
    }
    static bool offers(QObject* menu, const char* item)
    {
        auto* found = menu->findChild<QQuickItem*>(QString::fromLatin1(item));
        return found && found->isVisible() && found->height() > 0;
    }

    // Where the named item draws, in the window: the box of the pixels that change when it
    // goes transparent, which keeps every other item where it was.
    QRect drawnExtent(const QString& name)
    {
        auto* item = qobject_cast<QQuickItem*>(page.find(name));
        if (!item)
            return {};
        const QImage with = page.window()->grabWindow();
        item->setOpacity(0);
        const QImage without = page.window()->grabWindow();
        item->setOpacity(1);
        QRect extent;
        for (int y = 0; y < with.height(); ++y) {
            for (int x = 0; x < with.width(); ++x) {
                if (with.pixel(x, y) != without.pixel(x, y))
                    extent |= QRect(x, y, 1, 1);
            }
        }
        return extent;
    }
    QRect placeOf(const QString& name) const
    {
        auto* item = qobject_cast<QQuickItem*>(page.find(name));
        return item ? item->mapRectToScene(QRectF(0, 0, item->width(), item->height())).toAlignedRect()
                    : QRect();
    }

    // Whether the named banner came in and stopped moving.
    bool settled(const QString& banner)
    {
        return QTest::qWaitFor(
            [&] { return page.shows(banner) && page.find(banner)->property("opacity") == 1.0; }, 60000);
    }

    testing::FakeHistoryModel history;
    WindowHarness page;
};

TEST_F(HistoryWindowTest, TheThreeStatesOfThePage)
{
    ASSERT_NE(open(), nullptr);
    EXPECT_TRUE(page.shows("emptyHistory"));
    for (const char* part : { "historyMetrics", "historyGrid", "hiddenSection", "keptLocalNotice" })
        EXPECT_FALSE(page.shows(part)) << part;
    QSignalSpy toConversation(page.content(), SIGNAL(goToConversation()));
    page.click("startConversationButton");
    EXPECT_EQ(toConversation.size(), 1);
    page.screenshot("history-empty");

    // Two visible conversations of 30:00 and 32:05, one with an unknown turn count.
    QList<ConversationHistoryEntry> rows { testing::storedRow('a', "Bills"), testing::historyRow('b') };
    rows[0].duration = 1800;
    rows[0].turns = 34;
    rows[1].duration = 1925;
    rows[1].backup = ConversationBackupDisplayState::backedUp;
    history.entries()->replace(rows);
    EXPECT_FALSE(page.shows("emptyHistory"));
    EXPECT_EQ(text("conversationsMetricValue"), "2");
    EXPECT_EQ(text("timeMetricValue"), "62:05");
    EXPECT_EQ(text("turnsMetricValue"), "34");
    EXPECT_EQ(text("card:" + keyOf('a') + ":heading"), "Bills");
    EXPECT_EQ(text("card:" + keyOf('b') + ":heading"), u"Conversation \u00b7 Feb 9, 2026"_qs);
    EXPECT_EQ(text("card:" + keyOf('b') + ":summary"), "Saved in your account. Open it to read the review.");
    EXPECT_FALSE(page.shows("card:" + keyOf('a') + ":tally")) << "its review is not loaded";
    page.screenshot("history-two-entries");

    // The review of the first is stored here: its tally, floor and summary show.
    history.update([](auto& s) { s.results = { testing::conversationReview('a') }; });
    EXPECT_TRUE(page.shows("card:" + keyOf('a') + ":tally"));
    EXPECT_EQ(text("card:" + keyOf('a') + ":summary"), testing::conversationReview('a').summary);

    // Declined migration with two kept here: the notice, whose button uploads them.
    history.update([](auto& s) {
        s.conversationsKeptLocal = 2;
        s.migrationChoice = HistoryModel::Declined;
    });
    EXPECT_EQ(text("keptLocalLine"), "2 conversations are only on this computer");
    page.click("addToHistoryButton");
    EXPECT_EQ(history.calls, QStringList { "backUpKeptLocal" });
    page.screenshot("history-kept-local");

    // Everything hidden: only the hidden section, folded until its toggle opens it.
    for (auto& row : rows)
        row.isHidden = true;
    history.entries()->replace(rows);
    for (const char* part : { "emptyHistory", "historyMetrics", "historyGrid" })
        EXPECT_FALSE(page.shows(part)) << part;
    EXPECT_TRUE(page.shows("hiddenSection"));
    EXPECT_FALSE(page.shows("hiddenRow:" + keyOf('b')));
    page.click("hiddenToggle");
    EXPECT_TRUE(page.shows("hiddenRow:" + keyOf('b')));
    page.click("showInHistory:" + keyOf('b'));
    EXPECT_EQ(history.calls.last(), "unhide " + keyOf('b'));
    page.scrollTo("hiddenSection");
    page.screenshot("history-all-hidden-expanded");
}

// The longest title a card can be given shows in three lines at most, at every window size,
// and the card stays the height of its neighbour's within those lines.
TEST_F(HistoryWindowTest, AHeadingShowsAtMostThreeLines)
{
    ASSERT_NE(open(), nullptr);
    QList<ConversationHistoryEntry> rows { testing::storedRow('a', QString(200, u'W')),
        testing::storedRow('b', QStringLiteral("Bills")) };
    history.entries()->replace(rows);
    for (const QSize size : { QSize(920, 680), QSize(1180, 760), QSize(1440, 900) }) {
        page.resize(size);
        auto* heading = qobject_cast<QQuickItem*>(page.find("card:" + keyOf('a') + ":heading"));
        auto* shortOne = qobject_cast<QQuickItem*>(page.find("card:" + keyOf('b') + ":heading"));
        ASSERT_TRUE(heading && shortOne);
        EXPECT_EQ(heading->property("lineCount").toInt(), 3) << size.width();
        EXPECT_TRUE(heading->property("truncated").toBool()) << size.width();
        EXPECT_LE(heading->height(), 3 * shortOne->height() + 1) << size.width();
        page.screenshot(QStringLiteral("history-long-heading-%1").arg(size.width()));
    }
}

// A title of one character under hundreds of stacked accents, above and below, is drawn within
// its heading, so within its card: never over the totals, the time and length under it or the
// next card, on a card and in the hidden list, at every window size. A title that draws
// nothing reads as none.
TEST_F(HistoryWindowTest, HeadingsDrawWithinTheirPlaceAndBlankTitlesReadAsNone)
{
    const QString tower
        = u'A' + QStringLiteral("\u030D\u0363\u0352\u0357\u0365\u0353\u0348\u0347\u0359\u035A").repeated(79);
    QList<ConversationHistoryEntry> rows { testing::storedRow('a', tower),
        testing::storedRow('b', QStringLiteral("Bills")), testing::historyRow('c', QStringLiteral("\u3164")),
        testing::historyRow('d', QStringLiteral(" \u200B\u2060 ")), testing::historyRow('e', tower) };
    rows[4].isHidden = true;
    rows[4].backup = ConversationBackupDisplayState::backedUp;
    history.entries()->replace(rows);
    ASSERT_NE(open(), nullptr);
    EXPECT_EQ(text("card:" + keyOf('c') + ":heading"), u"Conversation \u00b7 Feb 9, 2026"_qs);
    EXPECT_EQ(text("card:" + keyOf('d') + ":heading"), u"Conversation \u00b7 Feb 9, 2026"_qs);
    page.click("hiddenToggle");

    const auto drawnWithin = [&](const QString& name, const QString& place) {
        const QRect drawn = drawnExtent(name);
        EXPECT_FALSE(drawn.isEmpty()) << name.toStdString() << " draws nothing";
        for (const QString& within : { name, place }) {
            const QRect bounds = placeOf(within);
            EXPECT_TRUE(bounds.contains(drawn))
                << name.toStdString() << " draws at " << drawn.top() << ".." << drawn.bottom() << ", "
                << drawn.left() << ".." << drawn.right() << "; " << within.toStdString() << " is at "
                << bounds.top() << ".." << bounds.bottom() << ", " << bounds.left() << ".." << bounds.right();
        }
    };
    for (const QSize size : { QSize(920, 680), QSize(1180, 760), QSize(1440, 900) }) {
        SCOPED_TRACE(size.width());
        page.resize(size);
        page.scrollTo("historyMetrics");
        drawnWithin("card:" + keyOf('a') + ":heading", "card:" + keyOf('a'));
        page.screenshot(QStringLiteral("history-stacked-accents-%1").arg(size.width()));
        page.scrollTo("hiddenSection");
        drawnWithin("hiddenTitle:" + keyOf('e'), "hiddenRow:" + keyOf('e'));
        page.screenshot(QStringLiteral("history-stacked-accents-hidden-%1").arg(size.width()));
    }
}

TEST_F(HistoryWindowTest, MenusOfferWhatTheAccountAllowsAndDialogsFollowTheDeletionKind)
{
    QList<ConversationHistoryEntry> rows { testing::storedRow('a', "Backed up"),
        testing::historyRow('b', "Waiting"), testing::historyRow('c', "Pending") };
    rows[0].backup = ConversationBackupDisplayState::backedUp;
    rows[1].backup = ConversationBackupDisplayState::waiting;
    rows[2].backup = ConversationBackupDisplayState::backedUp;
    rows[2].pendingDeletion = PendingConversationDeletion { false, 1, 2 };
    history.entries()->replace(rows);
    history.deletionKinds[keyOf('a')] = HistoryModel::SharedWithPartner;
    history.deletionKinds[keyOf('c')] = HistoryModel::Undetermined;
    ASSERT_NE(open(), nullptr);

    QObject* menu = openMenu('a');
    EXPECT_TRUE(offers(menu, "hideItem"));
    EXPECT_FALSE(offers(menu, "showInHistoryItem"));
    EXPECT_EQ(menu->findChild<QObject*>("deleteItem")->property("text").toString(), "Request deletion");
    page.screenshot("history-menu");
    QMetaObject::invokeMethod(menu->findChild<QObject*>("hideItem"), "triggered");
    EXPECT_EQ(history.calls.last(), "hide " + keyOf('a'));
    QMetaObject::invokeMethod(menu, "close");

    menu = openMenu('b');
    EXPECT_FALSE(offers(menu, "hideItem")) << "not in the account: only the delete item";
    EXPECT_FALSE(offers(menu, "showInHistoryItem"));
    EXPECT_EQ(menu->findChild<QObject*>("deleteItem")->property("text").toString(), "Delete");
    // The keys reach only what shows: the first item down is the delete item.
    page.press(Qt::Key_Down);
    page.press(Qt::Key_Return);
    ASSERT_TRUE(QTest::qWaitFor([&] { return page.shows("historyDeleteConfirmation"); }, 60000));
    EXPECT_EQ(history.calls.last(), "hide " + keyOf('a')) << "neither unhide nor hide for it";
    page.click("historyDeleteConfirmationCancel");
    ASSERT_TRUE(QTest::qWaitFor([&] { return !page.shows("historyDeleteConfirmation"); }, 60000));
    // A visible entry of the account: down to hiding, past the item that does not show.
    openMenu('a');
    page.press(Qt::Key_Down);
    page.press(Qt::Key_Return);
    EXPECT_EQ(history.calls.mid(1), QStringList { "hide " + keyOf('a') });
    history.calls.removeLast();

    // The partner's request: the row answers it.
    EXPECT_EQ(text("pendingDeletion:" + keyOf('c') + ":text"), "Your partner asked to delete this");
    page.click("pendingDeletion:" + keyOf('c') + ":decline");
    page.click("pendingDeletion:" + keyOf('c') + ":approve");
    EXPECT_EQ(history.calls.mid(1), QStringList({ "decline " + keyOf('c'), "approve " + keyOf('c') }));
    EXPECT_FALSE(page.shows("pendingDeletion:" + keyOf('a')));

    // Each kind's dialog; Cancel deletes nothing, the destructive button deletes what the
    // dialog was opened for even when the history changed meanwhile.
    const struct {
        char key;
        const char* screenshot;
        const char* title;
        const char* confirm;
    } dialogs[] {
        { 'a', "history-dialog-shared", "Ask to delete this conversation?", "Request deletion" },
        { 'b', "history-dialog-immediate", "Delete this conversation?", "Delete" },
        { 'c', "history-dialog-undetermined", "Delete this conversation?", "Delete" },
    };
    for (const auto& dialog : dialogs) {
        SCOPED_TRACE(dialog.screenshot);
        QMetaObject::invokeMethod(openMenu(dialog.key)->findChild<QObject*>("deleteItem"), "triggered");
        ASSERT_TRUE(QTest::qWaitFor([&] { return page.shows("historyDeleteConfirmation"); }, 60000));
        EXPECT_EQ(history.deletingEntryID(), keyOf(dialog.key));
        EXPECT_EQ(page.find("historyDeleteConfirmation")->property("title").toString(), dialog.title);
        EXPECT_EQ(text("historyDeleteConfirmationConfirm"), dialog.confirm);
        page.screenshot(dialog.screenshot);
        page.click("historyDeleteConfirmationCancel");
        ASSERT_TRUE(QTest::qWaitFor([&] { return !page.shows("historyDeleteConfirmation"); }, 60000));
        EXPECT_TRUE(history.deletingEntryID().isEmpty());
    }
    EXPECT_FALSE(history.calls.last().startsWith("remove"));
    QMetaObject::invokeMethod(openMenu('b')->findChild<QObject*>("deleteItem"), "triggered");
    ASSERT_TRUE(QTest::qWaitFor([&] { return page.shows("historyDeleteConfirmation"); }, 60000));
    history.entries()->replace({ rows[0], rows[2] });
    page.click("historyDeleteConfirmationConfirm");
    EXPECT_EQ(history.calls.last(), "remove " + keyOf('b'));
    EXPECT_TRUE(history.deletingEntryID().isEmpty());
}

TEST_F(HistoryWindowTest, OneReviewOpensAtATimeInTheSheet)
{
    QList<ConversationHistoryEntry> rows { testing::storedRow('a', "Bills"),
        testing::storedRow('b', "Week") };
    rows[0].backup = ConversationBackupDisplayState::backedUp;
    rows[0].workspace = ConversationWorkspaceScope::previous;
    rows[1].mode = ConversationMode::checkin;
    history.entries()->replace(rows);
    history.deletionKinds[keyOf('a')] = HistoryModel::SharedWithPartner;
    ASSERT_NE(open(), nullptr);

    page.click("historyCard:" + keyOf('a'));
    EXPECT_EQ(history.calls, QStringList({ "reviewed", "fetch " + keyOf('a') }));
    EXPECT_TRUE(page.shows("card:" + keyOf('a') + ":opening"));
    EXPECT_FALSE(page.shows("card:" + keyOf('b') + ":opening"));
    // The sign of work is drawn, not only there: its square is not all the card's paper.
    auto* spinner = qobject_cast<QQuickItem*>(page.find("card:" + keyOf('a') + ":opening"));
    const QImage drawn = page.window()->grabWindow().copy(
        spinner->mapRectToScene(QRectF(0, 0, spinner->width(), spinner->height())).toAlignedRect());
    int marked = 0;
    for (int y = 0; y < drawn.height(); ++y) {
        for (int x = 0; x < drawn.width(); ++x)
            marked += qGray(drawn.pixel(x, y)) < 200;
    }
    EXPECT_GT(marked, 8) << "the card shows no sign of opening";
    EXPECT_FALSE(page.find("historyCard:" + keyOf('b'))->property("enabled").toBool()) << "one at a time";
    history.answerReview(testing::conversationReview('a'));
    ASSERT_TRUE(QTest::qWaitFor([&] { return page.shows("reviewDetail"); }, 60000));
    auto* sheet
        = qobject_cast<QQuickItem*>(page.find("reviewDetail")->property("contentItem").value<QObject*>());
    ASSERT_NE(sheet, nullptr);
    EXPECT_GE(sheet->width(), 900);
    EXPECT_GE(sheet->height(), 648);
    EXPECT_EQ(text("reviewTitle"), "Conversation review");
    EXPECT_EQ(text("reviewSubtitle"), u"2/9/2026, 7:30 PM \u00b7 1:36"_qs);
    EXPECT_EQ(text("reviewDeleteButton"), "Request deletion");
    EXPECT_TRUE(page.shows("startupLine"));
    EXPECT_FALSE(page.shows("howItWentCard"));
    EXPECT_TRUE(page.shows("arcCard"));
    page.screenshot("review-conversation");
    page.scrollTo("lifecycleCard");
    EXPECT_EQ(page.find("recordingBadge")->property("title").toString(),
        "The recording was deleted after the careful second read.");
    page.screenshot("review-conversation-lifecycle");

    // Asked to the partner: the sheet stays and says so.
    history.deletionOutcome = ConversationDeletionOutcome::awaitingPartner({ true, 1, 2 });
    page.click("reviewDeleteButton");
    ASSERT_TRUE(QTest::qWaitFor([&] { return page.shows("reviewDeleteConfirmation"); }, 60000));
    EXPECT_EQ(page.find("reviewDeleteConfirmation")->property("title").toString(),
        "Ask to delete this conversation?");
    page.click("reviewDeleteConfirmationConfirm");
    ASSERT_TRUE(QTest::qWaitFor([&] { return page.shows("deletionNote"); }, 60000));
    EXPECT_TRUE(page.shows("reviewDetail"));
    page.press(Qt::Key_Escape);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !page.shows("reviewDetail"); }, 60000));
    EXPECT_TRUE(history.reviewEntryID().isEmpty()) << "Escape is Done";

    // A check-in that stayed as it was heard live: how it went, no arc, and the lifecycle says
    // what the review was made from, within its card; deleted, the sheet closes.
    DerivedSessionResult checkin = testing::conversationReview('b');
    checkin.mode = ConversationMode::checkin;
    checkin.fromLiveTranscript = true;
    checkin.summary = QStringLiteral("A gentle week: you named one worry each and a plan for Sunday.");
    page.click("historyCard:" + keyOf('b'));
    history.answerReview(checkin);
    ASSERT_TRUE(QTest::qWaitFor([&] { return page.shows("reviewDetail"); }, 60000));
    EXPECT_EQ(text("reviewTitle"), "Check-in");
    EXPECT_TRUE(page.shows("howItWentCard"));
    EXPECT_FALSE(page.shows("arcCard"));
    EXPECT_FALSE(page.shows("observerCard"));
    EXPECT_FALSE(page.shows("deletionNote")) << "the note belonged to the other review";
    page.screenshot("review-checkin");
    auto* badge = qobject_cast<QQuickItem*>(page.find("recordingBadge"));
    auto* lifecycle = qobject_cast<QQuickItem*>(page.find("lifecycleCard"));
    EXPECT_EQ(badge->property("title").toString(),
        "The recording was deleted. This review uses the live transcript.");
    // Checked in the narrowest window, where the card is narrowest.
    page.resize({ 920, 680 });
    EXPECT_LE(badge->mapRectToItem(lifecycle, QRectF(0, 0, badge->width(), badge->height())).right(),
        lifecycle->width());
    page.screenshots("review-checkin-lifecycle", "lifecycleCard");
    history.deletionOutcome = ConversationDeletionOutcome::deleted();
    page.click("reviewDeleteButton");
    ASSERT_TRUE(QTest::qWaitFor([&] { return page.shows("reviewDeleteConfirmation"); }, 60000));
    EXPECT_EQ(text("reviewDeleteConfirmationConfirm"), "Delete");
    page.click("reviewDeleteConfirmationConfirm");
    ASSERT_TRUE(QTest::qWaitFor([&] { return !page.shows("reviewDetail"); }, 60000));
    EXPECT_EQ(history.calls.last(), "remove " + keyOf('b'));
}

TEST_F(HistoryWindowTest, CardsFarOutsideTheViewAreNotDrawnUntilScrolledTo)
{
    QList<ConversationHistoryEntry> rows;
    for (char key = '0'; key < '0' + 40; ++key)
        rows.append(testing::historyRow(key));
    history.entries()->replace(rows);
    const char last = '0' + 39;
    ASSERT_NE(open(), nullptr);
    const auto drawn
        = [&](char key) { return page.find("historyCell:" + keyOf(key))->property("opacity") == 1.0; };
    EXPECT_TRUE(drawn('0'));
    EXPECT_FALSE(drawn(last));
    page.scrollTo("historyCell:" + keyOf(last));
    EXPECT_TRUE(drawn(last));
    EXPECT_FALSE(drawn('0'));
    page.screenshot("history-long-scrolled");
    page.click("moreActions:" + keyOf(last - 1));
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return page.find("historyActions:" + keyOf(last - 1))->property("opened").toBool(); }, 60000));
}

// A long transcript's first frame lays out one page; the rest follows without anyone
// scrolling, so the last turn is there to read (and to be read out) right after.
TEST_F(HistoryWindowTest, ALongTranscriptIsWholeSoonAfterTheSheetShows)
{
    history.entries()->replace({ testing::storedRow('a', "Bills") });
    const DerivedSessionResult review = testing::longReview('a', 200);
    const QList<SpeakerTurn>& turns = *review.transcript;
    ASSERT_NE(open(), nullptr);
    page.click("historyCard:" + keyOf('a'));
    history.answerReview(review);
    ASSERT_TRUE(QTest::qWaitFor([&] { return page.shows("reviewDetail"); }, 60000));
    const auto paragraphs = [&] {
        QStringList texts;
        for (QObject* paragraph : testing::allUnder(page.window(), QStringLiteral("transcriptParagraph")))
            texts.append(paragraph->property("text").toString());
        return texts;
    };
    ASSERT_TRUE(QTest::qWaitFor([&] { return paragraphs().size() == 200; }, 60000)) << paragraphs().size();
    EXPECT_TRUE(std::ranges::any_of(
        paragraphs(), [&](const QString& paragraph) { return paragraph.contains(turns.last().text); }));
    page.scrollTo("lifecycleCard");
    page.screenshot("review-long-transcript-end");
}

// The turns of a long transcript, as the sheet made them, in order.
QList<QQuickItem*> turnsOf(QQuickWindow* window)
{
    QList<QQuickItem*> turns;
    for (QObject* turn : testing::allUnder(window, QStringLiteral("transcriptTurn")))
        turns.append(qobject_cast<QQuickItem*>(turn));
    std::ranges::sort(turns, {}, [&](QQuickItem* turn) { return turn->mapToScene(QPointF()).y(); });
    return turns;
}

// Whether the review shows all of `item`.
bool inView(QQuickItem* review, QQuickItem* item)
{
    const QRectF area = item->mapRectToItem(review, QRectF(0, 0, item->width(), item->height()));
    return area.top() >= 0 && area.bottom() <= review->height();
}

// A long transcript draws only the turns near the view, so that each of its frames costs those
// alone; every turn keeps its place and its words for a screen reader.
TEST_F(HistoryWindowTest, ALongTranscriptDrawsOnlyTheTurnsNearTheView)
{
    history.entries()->replace({ testing::storedRow('a', "Bills") });
    const DerivedSessionResult review = testing::longReview('a', 200);
    ASSERT_NE(open(), nullptr);
    page.click("historyCard:" + keyOf('a'));
    history.answerReview(review);
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return testing::allUnder(page.window(), QStringLiteral("transcriptParagraph")).size() == 200; },
        60000));
    page.waitForFrame();
    const auto drawn = [&] {
        QList<int> turns;
        const QList<QObject*> paragraphs
            = testing::allUnder(page.window(), QStringLiteral("transcriptParagraph"));
        for (qsizetype turn = 0; turn < paragraphs.size(); ++turn) {
            if (qobject_cast<QQuickItem*>(paragraphs.at(turn))->isVisible())
                turns.append(int(turn));
        }
        return turns;
    };
    ASSERT_FALSE(drawn().isEmpty());
    EXPECT_EQ(drawn().first(), 0);
    EXPECT_LT(drawn().size(), 40) << "of 200";
    // Nor does the pointer's hover, walked after every frame, visit the paragraphs.
    for (QObject* paragraph : testing::allUnder(page.window(), QStringLiteral("transcriptParagraph")))
        EXPECT_FALSE(qobject_cast<QQuickItem*>(paragraph)->acceptHoverEvents());

    page.scrollTo("lifecycleCard");
    page.waitForFrame();
    ASSERT_FALSE(drawn().isEmpty());
    EXPECT_EQ(drawn().last(), 199);
    EXPECT_LT(drawn().size(), 40);
    const QList<QQuickItem*> turns = turnsOf(page.window());
    for (qsizetype turn = 0; turn < turns.size(); ++turn) {
        QAccessibleInterface* words = QAccessible::queryAccessibleInterface(turns.at(turn));
        ASSERT_NE(words, nullptr);
        const SpeakerTurn& said = review.transcript->at(turn);
        EXPECT_EQ(
            words->text(QAccessible::Name), QStringLiteral("Person %1: ").arg(said.speaker + 1) + said.text);
        EXPECT_TRUE(turns.at(turn)->isVisible()) << turn;
    }
    page.screenshot("review-long-transcript-end-drawn");
}

// The keyboard walks a long transcript turn by turn (the arrows), a view at a time (Page Up,
// Page Down) and to either end (Home, End), and the review follows the turn it is on.
TEST_F(HistoryWindowTest, TheKeysWalkATranscriptAndTheReviewFollows)
{
    history.entries()->replace({ testing::storedRow('a', "Bills") });
    ASSERT_NE(open(), nullptr);
    page.click("historyCard:" + keyOf('a'));
    history.answerReview(testing::longReview('a', 200));
    ASSERT_TRUE(QTest::qWaitFor([&] { return turnsOf(page.window()).size() == 200; }, 60000));
    auto* review = qobject_cast<QQuickItem*>(page.find("reviewScroll"));
    const QList<QQuickItem*> turns = turnsOf(page.window());
    const auto onTurn = [&] { return qsizetype(turns.indexOf(page.window()->activeFocusItem())); };
    for (int tab = 0; tab < 12 && onTurn() < 0; ++tab)
        page.press(Qt::Key_Tab);
    ASSERT_EQ(onTurn(), 0) << "Tab reaches the transcript at its first turn";
    EXPECT_TRUE(inView(review, turns.first()));

    page.press(Qt::Key_Down);
    EXPECT_EQ(onTurn(), 1);
    page.press(Qt::Key_End);
    EXPECT_EQ(onTurn(), 199);
    EXPECT_TRUE(inView(review, turns.last()));
    page.waitForFrame();
    page.screenshot("review-transcript-last-turn-focused");
    page.screenshots("review-transcript-last-turn-focused");
    page.resize(QSize(1440, 900));
    page.press(Qt::Key_End);
    EXPECT_EQ(onTurn(), 199);
    EXPECT_TRUE(inView(review, turns.last())) << "after a resize, End brings it back";
    page.screenshot("review-transcript-last-turn-focused-1440");
    page.resize(WindowHarness::desktop);
    page.press(Qt::Key_PageUp);
    const qsizetype pageUp = onTurn();
    EXPECT_LT(pageUp, 198) << "more than one turn up";
    EXPECT_TRUE(inView(review, turns.at(pageUp)));
    page.press(Qt::Key_Up);
    EXPECT_EQ(onTurn(), pageUp - 1);
    page.press(Qt::Key_Home);
    EXPECT_EQ(onTurn(), 0);
    EXPECT_TRUE(inView(review, turns.first()));
    page.press(Qt::Key_PageDown);
    EXPECT_GT(onTurn(), 1);
    EXPECT_TRUE(inView(review, turns.at(onTurn())));
}

// A review whose second turn is taller than the view is read to its end by the keys: with the
// keyboard on "Done" or "Delete" the sheet scrolls by Page Down, Down, End and Home; on the
// transcript Down reads the tall turn through a line at a time and goes on to the next turn,
// past the last one to the lifecycle card; Up comes back onto the tall turn at its end. A turn
// the keyboard is on says who spoke.
TEST_F(HistoryWindowTest, AReviewWithATurnTallerThanTheViewIsReadToItsEndByTheKeys)
{
    history.entries()->replace({ testing::storedRow('a', "Bills") });
    DerivedSessionResult review = testing::conversationReview('a');
    QString longTurn;
    for (int sentence = 1; sentence <= 110; ++sentence)
        longTurn
            += QStringLiteral("Sentence %1 of a turn that runs on for longer than the view. ").arg(sentence);
    review.transcript = QList<SpeakerTurn> { SpeakerTurn(0, 0, 10, "Can we talk about the move?"),
        SpeakerTurn(1, 10, 400, longTurn.trimmed()),
        SpeakerTurn(0, 400, 410, "Thank you for saying it all.") };
    ASSERT_NE(open(), nullptr);
    page.click("historyCard:" + keyOf('a'));
    history.answerReview(review);
    ASSERT_TRUE(QTest::qWaitFor([&] { return turnsOf(page.window()).size() == 3; }, 60000));
    page.waitForFrame();
    auto* sheet = qobject_cast<QQuickItem*>(page.find("reviewScroll"));
    const QList<QQuickItem*> turns = turnsOf(page.window());
    ASSERT_GT(turns.at(1)->height(), sheet->height() * 2) << "the second turn is twice as tall as the view";
    const auto contentY = [&] { return sheet->property("contentY").toReal(); };
    const qreal last = sheet->property("contentHeight").toReal() - sheet->height();
    const auto focused = [&] { return page.window()->activeFocusItem(); };

    for (const char* button : { "doneButton", "reviewDeleteButton" }) {
        SCOPED_TRACE(button);
        auto* control = qobject_cast<QQuickItem*>(page.find(button));
        control->forceActiveFocus(Qt::TabFocusReason);
        page.press(Qt::Key_PageDown);
        EXPECT_GT(contentY(), 200);
        const qreal paged = contentY();
        page.press(Qt::Key_Down);
        EXPECT_EQ(contentY(), paged + 48);
        page.press(Qt::Key_End);
        EXPECT_EQ(contentY(), last);
        page.press(Qt::Key_Home);
        EXPECT_EQ(contentY(), 0);
        EXPECT_EQ(focused(), control);
    }

    qobject_cast<QQuickItem*>(page.find("doneButton"))->forceActiveFocus(Qt::TabFocusReason);
    page.press(Qt::Key_Tab);
    ASSERT_EQ(focused(), turns.at(0));
    page.press(Qt::Key_Down);
    ASSERT_EQ(focused(), turns.at(1));
    EXPECT_GE(turns.at(1)->mapRectToItem(sheet, turns.at(1)->boundingRect()).top(), 0) << "its start shows";
    QAccessibleInterface* spoken = QAccessible::queryAccessibleInterface(turns.at(1));
    ASSERT_NE(spoken, nullptr);
    EXPECT_EQ(spoken->text(QAccessible::Name), "Person 2: " + longTurn.trimmed());
    // Line by line to the end of the tall turn, which shows before the keyboard leaves it.
    int lines = 0;
    qreal before = contentY();
    while (focused() == turns.at(1) && lines < 80) {
        page.press(Qt::Key_Down);
        ++lines;
        if (focused() != turns.at(1))
            break;
        EXPECT_GT(contentY(), before) << "line " << lines;
        EXPECT_LE(contentY(), before + 48) << "line " << lines;
        before = contentY();
    }
    EXPECT_GT(lines, 20);
    EXPECT_EQ(focused(), turns.at(2)) << "after " << lines << " lines";
    page.waitForFrame();
    page.screenshot("review-tall-turn-next");
    // Past the last turn the sheet goes on to its last card.
    for (int press = 0; press < 10; ++press)
        page.press(Qt::Key_Down);
    EXPECT_EQ(contentY(), last);
    EXPECT_TRUE(inView(sheet, qobject_cast<QQuickItem*>(page.find("lifecycleCard"))));
    page.waitForFrame();
    page.screenshot("review-tall-turn-lifecycle");
    // Back up onto the tall turn, at its end.
    page.press(Qt::Key_Up);
    for (int press = 0; press < 10 && focused() == turns.at(2); ++press)
        page.press(Qt::Key_Up);
    ASSERT_EQ(focused(), turns.at(1));
    EXPECT_LE(turns.at(1)->mapRectToItem(sheet, turns.at(1)->boundingRect()).bottom(), sheet->height())
        << "its end shows";
    // Looked at with the turn focused and "Done" under the pointer, at each size.
    for (const QSize size : { QSize(920, 680), QSize(1180, 760), QSize(1440, 900), QSize(1920, 1080) }) {
        page.resize(size);
        const QRect done = placeOf("doneButton");
        QTest::mouseMove(page.window(), done.center());
        EXPECT_EQ(focused(), turns.at(1));
        page.screenshot(QStringLiteral("review-tall-turn-end-%1").arg(size.width()));
    }
}

TEST_F(HistoryWindowTest, AFailureShowsOnThePageAndInTheSheetUntilDismissed)
{
    history.entries()->replace({ testing::storedRow('a', "Bills") });
    ASSERT_NE(open(), nullptr);
    EXPECT_FALSE(page.shows("historyErrorBanner"));
    const QString failure
        = QStringLiteral("Could not delete the conversation. Check your connection and try again.");
    history.update([&](auto& s) { s.errorMessage = failure; });
    ASSERT_TRUE(settled("historyErrorBanner"));
    EXPECT_EQ(text("historyErrorBannerMessage"), failure);
    page.screenshot("history-error-banner");
    page.click("historyErrorBannerDismiss");
    EXPECT_TRUE(history.state.errorMessage.isEmpty());
    ASSERT_TRUE(QTest::qWaitFor([&] { return !page.shows("historyErrorBanner"); }, 60000));

    page.click("historyCard:" + keyOf('a'));
    history.answerReview(testing::conversationReview('a'));
    ASSERT_TRUE(QTest::qWaitFor([&] { return page.shows("reviewDetail"); }, 60000));
    EXPECT_FALSE(page.shows("reviewErrorBanner"));
    history.update([&](auto& s) { s.errorMessage = failure; });
    ASSERT_TRUE(settled("reviewErrorBanner"));
    page.screenshot("review-error-banner");
    page.click("reviewErrorBannerDismiss");
    EXPECT_TRUE(history.state.errorMessage.isEmpty());
    EXPECT_TRUE(page.shows("reviewDetail")) << "dismissing the message leaves the review open";
}

// The review sheet comes on screen in the words of what deleting its conversation does now,
// not in those it had before and changed to only after opening: a sheet that opened as
// "Delete" could keep that width for "Request deletion".
TEST_F(HistoryWindowTest, TheSheetOpensInTheWordsOfItsDeletion)
{
    QList<ConversationHistoryEntry> rows { testing::storedRow('a', "Bills") };
    rows[0].backup = ConversationBackupDisplayState::backedUp;
    history.entries()->replace(rows);
    history.deletionKinds[keyOf('a')] = HistoryModel::SharedWithPartner;
    ASSERT_NE(open(), nullptr);
    // Heard after the sheet's own handler, which opens it.
    QStringList openedAs;
    QObject::connect(history.reviewSheet(), &ReviewSheet::reviewChanged, [&] {
        if (history.reviewSheet()->isOpen())
            openedAs.append(text("reviewDeleteButton"));
    });
    page.click("historyCard:" + keyOf('a'));
    history.answerReview(testing::conversationReview('a'));
    ASSERT_TRUE(QTest::qWaitFor([&] { return page.shows("reviewDetail"); }, 60000));
    EXPECT_EQ(openedAs, QStringList { "Request deletion" });
    page.screenshot("review-opened-shared");
    auto* button = qobject_cast<QQuickItem*>(page.find("reviewDeleteButton"));
    EXPECT_GE(button->width(), button->implicitWidth() - 1) << "drawn in its own width";
}

} // namespace
} // namespace lumora
