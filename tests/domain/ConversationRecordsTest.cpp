#include "domain/BehaviorAnnotation.hpp"
#include "domain/ConversationMode.hpp"
#include "domain/JsonObjectReader.hpp"
#include "domain/ProcessFoulAnnotation.hpp"
#include "domain/SessionPhase.hpp"
#include "domain/SpeakerStats.hpp"
#include "domain/SpeakerTurn.hpp"

#include <QJsonDocument>
#include <gtest/gtest.h>
#include <limits>

using namespace lumora;

namespace {

QJsonObject object(const char* json)
{
    return QJsonDocument::fromJson(QByteArray(json)).object();
}

constexpr double notANumber = std::numeric_limits<double>::quiet_NaN();
constexpr qint64 minSpeaker = std::numeric_limits<qint64>::min();
constexpr qint64 maxSpeaker = std::numeric_limits<qint64>::max();

} // namespace

TEST(ConversationRecords, ConstructorsReduceSpeakersAndClampConfidence)
{
    struct Case {
        qint64 given;
        qint64 turnSpeaker;
        qint64 foulSpeaker;
    };
    for (const Case& c : { Case { 0, 0, 0 }, Case { 2, 0, 0 }, Case { 3, 1, 1 }, Case { -3, -1, 1 },
             Case { -2, 0, 0 }, Case { minSpeaker, 0, 0 }, Case { maxSpeaker, 1, 1 } }) {
        SCOPED_TRACE(c.given);
        EXPECT_EQ(SpeakerTurn(c.given, 0, 1, "x").speaker, c.turnSpeaker);
        EXPECT_EQ(BehaviorAnnotation(0, c.given, BehaviorCode::repair, 0.5, 0, 1).speaker, c.turnSpeaker);
        EXPECT_EQ(
            ProcessFoulAnnotation(0, c.given, ProcessFoul::globalizing, 0.5, 0, 1).speaker, c.foulSpeaker);
    }
    struct Confidence {
        double given;
        double stored;
    };
    for (const Confidence& c : { Confidence { 1.3, 1.0 }, Confidence { -0.2, 0.0 }, Confidence { 0.49, 0.49 },
             Confidence { notANumber, 0.0 }, Confidence { std::numeric_limits<double>::infinity(), 1.0 },
             Confidence { -std::numeric_limits<double>::infinity(), 0.0 } }) {
        SCOPED_TRACE(c.given);
        EXPECT_EQ(BehaviorAnnotation(0, 0, BehaviorCode::repair, c.given, 0, 1).confidence, c.stored);
        EXPECT_EQ(ProcessFoulAnnotation(0, 0, ProcessFoul::globalizing, c.given, 0, 1).confidence, c.stored);
    }
}

TEST(ConversationRecords, DecodingKeepsValuesAsGiven)
{
    auto turn = SpeakerTurn::fromJson(object(R"({"speaker":3,"start":1.5,"end":2,"text":"hi"})"));
    ASSERT_TRUE(turn.has_value());
    EXPECT_EQ(turn->speaker, 3);

    auto annotation = BehaviorAnnotation::fromJson(
        object(R"({"turnIndex":4,"speaker":-3,"code":"repair","confidence":1.3,"start":0,"end":1})"));
    ASSERT_TRUE(annotation.has_value());
    EXPECT_EQ(annotation->speaker, -3);
    EXPECT_EQ(annotation->confidence, 1.3);
    EXPECT_EQ(annotation->code, BehaviorCode::repair);

    auto foul = ProcessFoulAnnotation::fromJson(object(
        R"({"turnIndex":1,"speaker":5,"foul":"kitchen_sinking","confidence":0.49,"start":0,"end":1})"));
    ASSERT_TRUE(foul.has_value());
    EXPECT_EQ(foul->foul, ProcessFoul::kitchenSinking);
    EXPECT_EQ(foul->speaker, 5);
    EXPECT_EQ(foul->confidence, 0.49);
    EXPECT_EQ(foul->toJson().value("foul").toString(), "kitchen_sinking");
}

TEST(ConversationRecords, RecordsRoundTripThroughJson)
{
    const SpeakerTurn turn(1, 0.25, 3.5, QString::fromUtf8("Ça va — très bien"));
    EXPECT_EQ(SpeakerTurn::fromJson(turn.toJson()), turn);
    const SpeakerStats stats { .speaker = 1, .talkTime = 12.5, .turns = 3, .longestTurn = 7, .share = 0.4 };
    EXPECT_EQ(SpeakerStats::fromJson(stats.toJson()), stats);
    EXPECT_EQ(
        stats.toJson().keys(), (QStringList { "longestTurn", "share", "speaker", "talkTime", "turns" }));
    const BehaviorAnnotation annotation(2, 1, BehaviorCode::contempt, 0.8, 4, 6);
    EXPECT_EQ(BehaviorAnnotation::fromJson(annotation.toJson()), annotation);
}

TEST(ConversationRecords, BadJsonIsAnErrorNeverAHalfRecord)
{
    const char* bad[] = {
        R"({"start":1,"end":2,"text":"x"})", // missing speaker
        R"({"speaker":"0","start":1,"end":2,"text":"x"})", // wrong type
        R"({"speaker":0.5,"start":1,"end":2,"text":"x"})", // not whole
        R"({"speaker":1e300,"start":1,"end":2,"text":"x"})", // out of range
        R"({"speaker":0,"start":null,"end":2,"text":"x"})", // null is not a number
        R"({"speaker":0,"start":1,"end":2,"text":7})",
    };
    for (const char* json : bad) {
        SCOPED_TRACE(json);
        EXPECT_FALSE(SpeakerTurn::fromJson(object(json)).has_value());
    }
    EXPECT_FALSE(SpeakerTurn::fromJson(QJsonValue(3)).has_value());

    for (const char* code : { "Criticism", "criticism ", "unknown", "" }) {
        SCOPED_TRACE(code);
        QJsonObject json = BehaviorAnnotation(0, 0, BehaviorCode::criticism, 1, 0, 1).toJson();
        json.insert("code", code);
        auto decoded = BehaviorAnnotation::fromJson(json);
        ASSERT_FALSE(decoded.has_value());
        EXPECT_TRUE(decoded.error().message.contains("code"));
    }
    QJsonObject foul = ProcessFoulAnnotation(0, 0, ProcessFoul::kitchenSinking, 1, 0, 1).toJson();
    foul.insert("foul", "kitchenSinking");
    EXPECT_FALSE(ProcessFoulAnnotation::fromJson(foul).has_value());

    EXPECT_FALSE(decodeJson<SpeakerTurn>("not json").has_value());
    EXPECT_FALSE(decodeJson<SpeakerTurn>("[1,2]").has_value());
}

TEST(ConversationRecords, EnumerationsHaveTheirRawValuesInOrder)
{
    QStringList codes;
    for (BehaviorCode code : EnumTraits<BehaviorCode>::allCases)
        codes << toString(code);
    EXPECT_EQ(codes,
        (QStringList { "criticism", "contempt", "defensiveness", "stonewalling", "repair", "positive" }));
    QStringList warm;
    for (BehaviorCode code : EnumTraits<BehaviorCode>::allCases)
        if (isWarm(code))
            warm << toString(code);
    EXPECT_EQ(warm, (QStringList { "repair", "positive" }));

    QStringList fouls;
    for (ProcessFoul foul : EnumTraits<ProcessFoul>::allCases)
        fouls << toString(foul);
    EXPECT_EQ(fouls, (QStringList { "kitchen_sinking", "globalizing", "dredging_past", "mind_reading" }));

    QStringList phases;
    for (SessionPhase phase : EnumTraits<SessionPhase>::allCases)
        phases << toString(phase);
    EXPECT_EQ(phases,
        (QStringList { "idle", "ready", "authorizing", "recording", "finalizing", "complete", "failed" }));
    EXPECT_EQ(fromString<ConversationMode>(u"checkin"), ConversationMode::checkin);
    EXPECT_EQ(fromString<ConversationMode>(u"Checkin"), std::nullopt);
    EXPECT_EQ(fromString<ProcessFoul>(u"mind_reading"), ProcessFoul::mindReading);
}
