#include "HistoryOverview.hpp"
#include "HistoryRecords.hpp"
#include "HistoryTexts.hpp"
#include "PersonTrend.hpp"
#include "ReviewTexts.hpp"
#include "ShownRows.hpp"

#include <QQuickItem>
#include <gtest/gtest.h>
#include <limits>
#include <memory>
#include <vector>

namespace lumora {
namespace {

using testing::historyRow;
constexpr double nan = std::numeric_limits<double>::quiet_NaN();
constexpr double infinity = std::numeric_limits<double>::infinity();

DateTexts english()
{
    return DateTexts(QLocale(QLocale::English, QLocale::UnitedStates), QTimeZone::utc());
}

ConversationHistoryEntry entry(double duration, std::optional<qint64> turns, bool hidden = false)
{
    ConversationHistoryEntry row = historyRow('a');
    row.duration = duration;
    row.turns = turns;
    row.isHidden = hidden;
    return row;
}

TEST(HistoryOverview, StatesAndTotalsOverTheVisibleEntriesOnly)
{
    constexpr qint64 most = std::numeric_limits<qint64>::max();
    const struct {
        const char* name;
        QList<ConversationHistoryEntry> entries;
        HistoryOverview::State state;
        int hidden;
        const char* conversations;
        const char* label;
        const char* time;
        const char* turns;
    } cases[] {
        { "nothing", {}, HistoryOverview::Empty, 0, "0", "conversations", "0:00", "0" },
        { "one", { entry(754, 34) }, HistoryOverview::Entries, 0, "1", "conversation", "12:34", "34" },
        { "two, one without turns", { entry(1800, 34), entry(1925, std::nullopt) }, HistoryOverview::Entries,
            0, "2", "conversations", "62:05", "34" },
        { "hidden ones never count", { entry(1800, 10), entry(99, 5, true), entry(1, 1, true) },
            HistoryOverview::Entries, 2, "1", "conversation", "30:00", "10" },
        { "all hidden", { entry(60, 1, true) }, HistoryOverview::AllHidden, 1, "0", "conversations", "0:00",
            "0" },
        { "a duration that is not a number adds nothing",
            { entry(nan, 1), entry(-infinity, 1), entry(61, 1) }, HistoryOverview::Entries, 0, "3",
            "conversations", "1:01", "3" },
        { "turns stop at the largest count", { entry(0, most), entry(0, 5) }, HistoryOverview::Entries, 0,
            "2", "conversations", "0:00", "9223372036854775807" },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const HistoryOverview overview = HistoryOverview::of(c.entries);
        EXPECT_EQ(overview.state, c.state);
        EXPECT_EQ(overview.hiddenCount, c.hidden);
        EXPECT_EQ(overview.conversations, c.conversations);
        EXPECT_EQ(overview.conversationsLabel, c.label);
        EXPECT_EQ(overview.timeTogether, c.time);
        EXPECT_EQ(overview.turnsHeard, c.turns);
    }
    // Durations too large to add still give a clock rather than failing.
    EXPECT_FALSE(HistoryOverview::of({ entry(1e308, 1), entry(1e308, 1) }).timeTogether.isEmpty());
}

TEST(HistoryTexts, CardHeadingsSubtitlesAndTallies)
{
    const struct {
        const char* name;
        std::optional<QString> title;
        ConversationMode mode;
        const char* heading;
    } headings[] {
        { "a title as it stands", QStringLiteral("Bills"), ConversationMode::conversation, "Bills" },
        { "a family joined by zero-width joiners",
            QStringLiteral("\U0001F468\u200D\U0001F469\u200D\U0001F467 time"), ConversationMode::conversation,
            "\U0001F468\u200D\U0001F469\u200D\U0001F467 time" },
        { "a blank Braille cell beside a word", QStringLiteral("\u2800x"), ConversationMode::conversation,
            "\u2800x" },
        // A title that draws nothing shows as none: a blank heading cannot be told from another.
        { "an empty title", QString(), ConversationMode::conversation, "Conversation \u00b7 Feb 9, 2026" },
        { "a Hangul filler alone", QStringLiteral("\u3164"), ConversationMode::conversation,
            "Conversation \u00b7 Feb 9, 2026" },
        { "spaces, format characters and marks",
            QStringLiteral(" \u3000\u200B\u200D\u2060\u0301\uFE0F\uFFA0\u2800 "), ConversationMode::checkin,
            "Weekly check-in \u00b7 Feb 9, 2026" },
        { "no title", std::nullopt, ConversationMode::conversation, "Conversation \u00b7 Feb 9, 2026" },
        { "a check-in without title", std::nullopt, ConversationMode::checkin,
            "Weekly check-in \u00b7 Feb 9, 2026" },
    };
    for (const auto& c : headings) {
        SCOPED_TRACE(c.name);
        ConversationHistoryEntry row = historyRow('a', c.title);
        row.mode = c.mode;
        EXPECT_EQ(HistoryTexts::heading(row, english()), QString::fromUtf8(c.heading));
    }

    EXPECT_EQ(HistoryTexts::hiddenTitle(historyRow('a', QStringLiteral("\u3164\u3164"))), "Conversation");
    EXPECT_EQ(HistoryTexts::hiddenTitle(historyRow('a', QStringLiteral("Bills"))), "Bills");

    EXPECT_EQ(HistoryTexts::subtitle(entry(754, 34)), u"12:34 \u00b7 34 turns"_qs);
    EXPECT_EQ(HistoryTexts::subtitle(entry(754, 1)), u"12:34 \u00b7 1 turns"_qs);
    EXPECT_EQ(HistoryTexts::subtitle(entry(754, std::nullopt)), "12:34");

    DerivedSessionResult review = testing::conversationReview('a');
    ConversationHistoryEntry row = historyRow('a');
    EXPECT_FALSE(HistoryTexts::tally(row, nullptr)) << "no review loaded";
    EXPECT_EQ(HistoryTexts::tally(row, &review), (ConversationPresentation::WarmHard { 2, 2 }))
        << "both seats";
    review.annotations.clear();
    review.fouls.reset();
    EXPECT_EQ(HistoryTexts::tally(row, &review), (ConversationPresentation::WarmHard { 0, 0 }));
    EXPECT_EQ(HistoryTexts::hardText(0), u"\u22120"_qs);
    EXPECT_EQ(HistoryTexts::warmText(3), "+3");
    row.mode = ConversationMode::checkin;
    EXPECT_FALSE(HistoryTexts::tally(row, &review)) << "a check-in has none";

    const QLocale locale(QLocale::English, QLocale::UnitedStates);
    EXPECT_EQ(HistoryTexts::checkinLabel(testing::february9(), locale), u"Check-in \u00b7 Week of Feb 9"_qs);
    // Sunday late evening west of GMT is already Monday in GMT: the label follows GMT.
    const QDateTime sundayInChicago(QDate(2026, 2, 15), QTime(22, 0), QTimeZone("America/Chicago"));
    EXPECT_EQ(HistoryTexts::checkinLabel(sundayInChicago, locale), u"Check-in \u00b7 Week of Feb 16"_qs);
    EXPECT_EQ(HistoryTexts::checkinLabel(QDateTime(), locale), "Check-in");
}

TEST(HistoryTexts, MenusDialogsNoticesAndGrid)
{
    using B = HistoryEntryList;
    const struct {
        B::Backup backup;
        bool hidden;
        HistoryTexts::Visibility item;
    } menus[] {
        { B::BackedUp, false, HistoryTexts::HideItem },
        { B::BackedUp, true, HistoryTexts::ShowItem },
        { B::Waiting, false, HistoryTexts::NoVisibilityItem },
        { B::OnlyOnThisComputer, true, HistoryTexts::NoVisibilityItem },
    };
    for (const auto& c : menus)
        EXPECT_EQ(HistoryTexts::visibilityItem(c.backup, c.hidden), c.item) << c.backup << c.hidden;

    const struct {
        HistoryModel::DeletionKind kind;
        const char* item;
        const char* button;
        const char* title;
    } kinds[] {
        { HistoryModel::Immediate, "Delete", "Delete", "Delete this conversation?" },
        { HistoryModel::SharedWithPartner, "Request deletion", "Request deletion",
            "Ask to delete this conversation?" },
        { HistoryModel::Undetermined, "Delete\u2026", "Delete", "Delete this conversation?" },
    };
    QSet<QString> messages;
    for (const auto& c : kinds) {
        SCOPED_TRACE(c.item);
        EXPECT_EQ(HistoryTexts::deleteItemTitle(c.kind), QString::fromUtf8(c.item));
        const DeletionPrompt prompt = HistoryTexts::deletionPrompt(c.kind);
        EXPECT_EQ(prompt.button, c.button);
        EXPECT_EQ(prompt.confirm, c.button);
        EXPECT_EQ(prompt.title, c.title);
        messages.insert(prompt.message);
    }
    EXPECT_EQ(messages.size(), 3) << "each kind says what it does";

    const struct {
        int count;
        HistoryModel::MigrationChoice choice;
        bool shows;
    } notices[] {
        { 2, HistoryModel::Declined, true },
        { 1, HistoryModel::Declined, true },
        { 0, HistoryModel::Declined, false },
        { 2, HistoryModel::Accepted, false },
        { 2, HistoryModel::NotAnswered, false },
    };
    for (const auto& c : notices)
        EXPECT_EQ(HistoryTexts::showsKeptLocalNotice(c.count, c.choice), c.shows) << c.count << c.choice;
    EXPECT_EQ(HistoryTexts::keptLocalLine(1), "One conversation is only on this computer");
    EXPECT_EQ(HistoryTexts::keptLocalLine(2), "2 conversations are only on this computer");
    EXPECT_EQ(HistoryTexts::hiddenToggle(3), "Hidden from your view (3)");

    const struct {
        double width;
        int columns;
    } grids[] { { 0, 1 }, { 419, 1 }, { 855, 1 }, { 856, 2 }, { 1292, 3 }, { -50, 1 }, { nan, 1 },
        { infinity, 64 } };
    for (const auto& c : grids)
        EXPECT_EQ(HistoryTexts::gridColumns(c.width), c.columns) << c.width;
}

TEST(ReviewTexts, HeaderFloorShapeAndObservations)
{
    DerivedSessionResult review = testing::conversationReview('a');
    EXPECT_EQ(ReviewTexts::title(false), "Conversation review");
    EXPECT_EQ(ReviewTexts::title(true), "Check-in");
    // 95.5 s read as the account keeps them, 96 s, on this computer as on the partner's.
    EXPECT_EQ(ReviewTexts::subtitle(review, english()), u"2/9/2026, 7:30 PM \u00b7 1:36"_qs);
    review.duration = 96;
    EXPECT_EQ(ReviewTexts::subtitle(review, english()), u"2/9/2026, 7:30 PM \u00b7 1:36"_qs);

    const struct {
        double share;
        const char* label;
        double fraction;
    } shares[] {
        { 0.52, "Speaker 1 \u00b7 52%", 0.52 },
        { 0.999, "Speaker 1 \u00b7 99%", 0.999 },
        { 1.7, "Speaker 1 \u00b7 100%", 1 },
        { -0.2, "Speaker 1 \u00b7 0%", 0 },
        { nan, "Speaker 1 \u00b7 0%", 0 },
    };
    for (const auto& c : shares) {
        const QList<FloorSegment> floor = ReviewTexts::floor({ SpeakerStats { 0, 1, 1, 1, c.share } });
        ASSERT_EQ(floor.size(), 1);
        EXPECT_EQ(floor[0].label, QString::fromUtf8(c.label));
        EXPECT_DOUBLE_EQ(floor[0].share, c.fraction);
    }
    EXPECT_EQ(ReviewTexts::speakerLabel(std::numeric_limits<qint64>::max()), "Speaker 9223372036854775807");

    const QList<ShapeRow> shape = ReviewTexts::shape(review.stats);
    ASSERT_EQ(shape.size(), 2);
    EXPECT_EQ(shape[1].speaker, "Speaker 2");
    EXPECT_EQ(shape[1].turns, "1 turns");
    EXPECT_EQ(shape[1].longest, "0:45 longest");

    // Below the confidence floor a moment is not listed; behaviours come before fouls.
    review.annotations.append(BehaviorAnnotation(3, 1, BehaviorCode::contempt, 0.1, 80, 90));
    review.annotations.append(BehaviorAnnotation(4, 1, BehaviorCode::repair, 0.9, 90, 95));
    QStringList rows;
    for (const DefinitionRow& row : ReviewTexts::definitions(review))
        rows.append(row.title + " " + row.count);
    EXPECT_EQ(rows,
        QStringList({ u"Protest \u00d71"_qs, u"Turning toward \u00d72"_qs, u"Connection \u00d71"_qs,
            u"Always / never \u00d71"_qs }));
    review.fouls.reset();
    EXPECT_EQ(ReviewTexts::definitions(review).size(), 3) << "fouls may be missing";

    const struct {
        std::optional<bool> harsh;
        const char* text;
    } startups[] { { true, "Opened in the cycle." }, { false, "Opened from a secure place." },
        { std::nullopt, "" } };
    for (const auto& c : startups) {
        review.harshStartupDetected = c.harsh;
        EXPECT_EQ(ReviewTexts::startupText(ReviewTexts::startup(review)), c.text);
    }
    EXPECT_NE(ReviewTexts::lifecycleText(HistoryEntryList::BackedUp),
        ReviewTexts::lifecycleText(HistoryEntryList::Waiting));

    // A review that stayed as it was heard live says so, not that the second read made it.
    const struct {
        bool fromLiveTranscript;
        const char* text;
    } recordings[] { { false, "The recording was deleted after the careful second read." },
        { true, "The recording was deleted. This review uses the live transcript." } };
    for (const auto& c : recordings)
        EXPECT_EQ(ReviewTexts::recordingText(c.fromLiveTranscript), c.text);
}

TEST(ReviewTexts, TranscriptParagraphsTrimEscapeAndNameTheOtherSeat)
{
    const struct {
        qint64 speaker;
        int seat;
        int other;
    } seats[] { { 0, 0, 1 }, { 1, 1, 0 }, { 2, 0, 1 }, { -3, 1, 0 },
        { std::numeric_limits<qint64>::min(), 0, 1 } };
    for (const auto& c : seats) {
        EXPECT_EQ(ReviewTexts::seat(c.speaker), c.seat) << c.speaker;
        EXPECT_EQ(ReviewTexts::otherSeat(c.speaker), c.other) << c.speaker;
    }

    ConversationTurn turn;
    turn.pieces = { ConversationTurnPiece(0, 0, QStringLiteral("  Can we <b>talk</b>?\n"), 0, 1, false),
        ConversationTurnPiece(1, 1, QStringLiteral("   "), 1, 2, true),
        ConversationTurnPiece(2, 1, QStringLiteral(" Mm-hm. "), 2, 3, true),
        ConversationTurnPiece(3, 0, QStringLiteral("Tonight."), 3, 4, false) };
    EXPECT_EQ(
        ReviewTexts::plainParagraph(turn, "Sam"), u"Can we <b>talk</b>? Sam: \u201cMm-hm.\u201d Tonight."_qs);
    const QString rich = ReviewTexts::paragraph(turn, "<i>Sam</i>", QColor(Qt::red));
    EXPECT_TRUE(rich.contains("&lt;b&gt;talk&lt;/b&gt;")) << rich.toStdString();
    EXPECT_TRUE(rich.contains("&lt;i&gt;Sam&lt;/i&gt;: \u201cMm-hm.\u201d")) << rich.toStdString();
    EXPECT_FALSE(rich.contains("<b>"));
    EXPECT_EQ(ReviewTexts::plainParagraph(ConversationTurn {}, "Sam"), "");
}

DerivedSessionResult trendResult(
    int day, QList<SpeakerStats> stats, QList<BehaviorAnnotation> annotations = {})
{
    DerivedSessionResult result;
    result.completedAt = QDateTime(QDate(2026, 2, day), QTime(12, 0), QTimeZone::utc());
    result.stats = std::move(stats);
    result.annotations = std::move(annotations);
    return result;
}

// Rows of 100 px with 20 px between them, from the top: which meet a band of the column.
TEST(ShownRows, TheRowsThatMeetABand)
{
    std::vector<std::unique_ptr<QQuickItem>> items;
    QList<QQuickItem*> rows;
    for (int row = 0; row < 10; ++row) {
        items.push_back(std::make_unique<QQuickItem>());
        items.back()->setY(120 * row);
        items.back()->setHeight(100);
        rows.append(items.back().get());
    }
    const struct {
        const char* name;
        qreal top;
        qreal bottom;
        std::pair<qsizetype, qsizetype> meeting;
    } cases[] = {
        { "the top", -500, 250, { 0, 2 } },
        { "a band in a gap meets none", 101, 119, { 1, 0 } },
        { "edges touching count", 100, 120, { 0, 1 } },
        { "the middle", 350, 600, { 3, 5 } },
        { "past the end", 5000, 6000, { 10, 9 } },
        { "everything", -1000, 5000, { 0, 9 } },
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(ShownRows::meeting(rows, row.top, row.bottom), row.meeting);
    }
    EXPECT_EQ(ShownRows::meeting({}, 0, 100), std::make_pair(qsizetype(0), qsizetype(-1)));
}

TEST(PersonTrend, SharesRatiosAndTheNewestFiveRows)
{
    const struct {
        QList<double> shares;
        qint64 average;
    } averages[] { { {}, 0 }, { { 0.333, 0.5 }, 41 }, { { 1.0 }, 100 }, { { nan, 0.5 }, 25 },
        { { 3, -1 }, 50 } };
    for (const auto& c : averages) {
        QList<SpeakerStats> stats;
        for (double share : c.shares)
            stats.append(SpeakerStats { 0, 1, 1, 1, share });
        EXPECT_EQ(PersonTrend::averageShare(stats), c.average) << c.shares.size();
    }

    const struct {
        qint64 warm;
        qint64 hard;
        const char* ratio;
    } ratios[] { { 0, 0, "\u2014" }, { 3, 0, "\u221e:1" }, { 3, 2, "1.5:1" }, { 0, 4, "0.0:1" },
        { 1, 3, "0.3:1" } };
    for (const auto& c : ratios)
        EXPECT_EQ(PersonTrend::ratio({ c.warm, c.hard }), QString::fromUtf8(c.ratio))
            << c.warm << ":" << c.hard;

    // Seven reviews, newest first; the right seat speaks in all but the second. Rows come from
    // the first five only, so that seat shows four; the seat is matched exactly (2 is not 0).
    QList<DerivedSessionResult> results;
    for (int day = 20; day > 13; --day)
        results.append(
            trendResult(day, { SpeakerStats { 0, 1, 1, 1, 0.5 }, SpeakerStats { 1, 1, 1, 1, 0.5 } }));
    results[1].stats.removeLast();
    results[2].stats[0].speaker = 2;
    results[0].annotations = { BehaviorAnnotation(0, 1, BehaviorCode::repair, 0.9, 0, 1),
        BehaviorAnnotation(1, 0, BehaviorCode::criticism, 0.9, 1, 2) };

    const PersonTrend right = PersonTrend::of(1, results, english());
    EXPECT_EQ(right.line, u"6 conversations \u00b7 avg share 50% \u00b7 warm : hard \u221e:1"_qs);
    QStringList dates;
    for (const PersonTrendRow& row : right.rows)
        dates.append(row.date + " " + row.percent);
    EXPECT_EQ(dates,
        QStringList({ "Feb 20, 2026 50%", "Feb 18, 2026 50%", "Feb 17, 2026 50%", "Feb 16, 2026 50%" }));
    const PersonTrend left = PersonTrend::of(0, results, english());
    EXPECT_EQ(left.line, u"6 conversations \u00b7 avg share 50% \u00b7 warm : hard 0.0:1"_qs);
    EXPECT_EQ(left.rows.size(), 4);
    EXPECT_EQ(PersonTrend::of(0, {}, english()).line,
        u"0 conversations \u00b7 avg share 0% \u00b7 warm : hard \u2014"_qs);
}

} // namespace
} // namespace lumora
