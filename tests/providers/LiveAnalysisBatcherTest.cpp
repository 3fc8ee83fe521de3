#include "providers/LiveAnalysisBatcher.hpp"

#include "AwaitTask.hpp"
#include "providers/InertAnalysisProvider.hpp"
#include "providers/LiveCoaching.hpp"

#include <gtest/gtest.h>
#include <qcoro/qcorotask.h>

namespace lumora {
namespace {

const QDateTime t0 = QDateTime::fromSecsSinceEpoch(1'800'000'000, Qt::UTC);

SpeakerTurn turn(int i)
{
    return SpeakerTurn(i % 2, i, i + 1, QString::number(i));
}

// Appends turns at the given seconds after t0; the sizes of the batches released, in order.
QList<qsizetype> releases(LiveAnalysisBatcher& batcher, const QList<double>& seconds)
{
    QList<qsizetype> sizes;
    for (qsizetype i = 0; i < seconds.size(); ++i) {
        if (auto batch = batcher.append(turn(int(i)), t0.addMSecs(qint64(seconds[i] * 1000))))
            sizes.append(batch->turns.size());
    }
    return sizes;
}

TEST(LiveAnalysisBatcher, ReleasesBySizeOrByAge)
{
    struct Case {
        const char* name;
        QList<double> seconds;
        QList<qsizetype> released;
        qsizetype left;
    };
    const Case cases[] = {
        { "six within a second", { 0, 0.2, 0.4, 0.6, 0.8, 1 }, { 6 }, 0 },
        { "four after 45 s", { 0, 1, 2, 45 }, { 4 }, 0 },
        { "four after 44.9 s", { 0, 1, 2, 44.9 }, {}, 4 },
        { "three over ten minutes", { 0, 300, 600 }, {}, 3 },
        { "a new wait after a release", { 0, 1, 2, 3, 4, 5, 46, 47, 48, 60 }, { 6 }, 4 },
        { "old ones go with the next turn", { 0, 1, 2, 10, 50 }, { 5 }, 0 },
    };
    for (const Case& c : cases) {
        LiveAnalysisBatcher batcher;
        EXPECT_EQ(releases(batcher, c.seconds), c.released) << c.name;
        EXPECT_EQ(batcher.pendingCount(), c.left) << c.name;
    }
}

TEST(LiveAnalysisBatcher, BatchesCarryTheIndexOfTheirFirstTurnFixedAtRelease)
{
    LiveAnalysisBatcher batcher;
    EXPECT_EQ(batcher.flush(), std::nullopt);
    QList<LiveAnalysisBatch> batches;
    for (int i = 0; i < 15; ++i) {
        if (auto batch = batcher.append(turn(i), t0))
            batches.append(*batch);
    }
    batches.append(*batcher.flush());
    EXPECT_EQ(batcher.flush(), std::nullopt);
    ASSERT_EQ(batches.size(), 3);
    EXPECT_EQ(batches[0].firstTurnIndex, 0);
    EXPECT_EQ(batches[1].firstTurnIndex, 6);
    EXPECT_EQ(batches[2].firstTurnIndex, 12);
    EXPECT_EQ(batches[2].turns, (QList<SpeakerTurn> { turn(12), turn(13), turn(14) }));
}

TEST(LiveCoaching, CheckinGetsAnAnalyzerThatRefusesEverything)
{
    // Any provider stands in for the control-plane client.
    const auto client = std::make_shared<const InertAnalysisProvider>();
    EXPECT_EQ(LiveCoaching::analyzer(ConversationMode::conversation, client), client);
    const auto inert = LiveCoaching::analyzer(ConversationMode::checkin, client);
    EXPECT_NE(inert, client);
    const auto result = test::awaitTask(
        inert->analyze(AnalysisPass::live, AnalysisRubric::conversation, { turn(0) }, std::nullopt, QUuid()));
    ASSERT_FALSE(result.has_value());
    ASSERT_NE(result.error().as<LiveCoachingError>(), nullptr);
    EXPECT_EQ(*result.error().as<LiveCoachingError>(), LiveCoachingError::notRequested);
}

} // namespace
} // namespace lumora
