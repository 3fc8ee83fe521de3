#include "domain/BehaviorAnnotation.hpp"
#include "domain/ConversationMode.hpp"
#include "domain/JsonObjectReader.hpp"
#include "domain/ProcessFoulAnnotation.hpp"
#include "domain/SessionPhase.hpp"
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
    for (const Case& c : { Case { 2, 0, 0 }, Case { 3, 1, 1 }, Case { -3, -1, 1 }, Case { minSpeaker, 0, 0 },
             Case { maxSpeaker, 1, 1 } }) {
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
             Confidence { notANumber, 0.0 }, Confidence { -std::numeric_limits<double>::infinity(), 0.0 } }) {
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

    auto foul = ProcessFoulAnnotation::fromJson(object(
        R"({"turnIndex":1,"speaker":5,"foul":"kitchen_sinking","confidence":0.49,"start":0,"end":1})"));
    ASSERT_TRUE(foul.has_value());
    EXPECT_EQ(foul->speaker, 5);
}

TEST(ConversationRecords, BadJsonIsAnErrorNeverAHalfRecord)
{
    const char* bad[] = {
        R"({"start":1,"end":2,"text":"x"})", // missing speaker
        R"({"speaker":"0","start":1,"end":2,"text":"x"})", // wrong type
        R"({"speaker":1e300,"start":1,"end":2,"text":"x"})", // out of range
        R"({"speaker":0,"start":null,"end":2,"text":"x"})", // null is not a number
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
}

TEST(ConversationRecords, EnumerationsHaveTheirWireTextsInOrder)
{
    const auto texts = [](const auto& cases) {
        QStringList result;
        for (auto value : cases)
            result << toString(value);
        return result;
    };
    EXPECT_EQ(texts(EnumTraits<BehaviorCode>::allCases),
        (QStringList { "criticism", "contempt", "defensiveness", "stonewalling", "repair", "positive" }));
    EXPECT_EQ(texts(EnumTraits<ProcessFoul>::allCases),
        (QStringList { "kitchen_sinking", "globalizing", "dredging_past", "mind_reading" }));
    EXPECT_EQ(texts(EnumTraits<SessionPhase>::allCases),
        (QStringList { "idle", "ready", "authorizing", "recording", "finalizing", "complete", "failed" }));
    EXPECT_EQ(fromString<ConversationMode>(u"Checkin"), std::nullopt);
}
