#include "domain/DerivedSessionResult.hpp"

#include "domain/JsonObjectReader.hpp"

#include <QJsonDocument>
#include <gtest/gtest.h>

using namespace lumora;

namespace {

DerivedSessionResult fullResult()
{
    DerivedSessionResult result;
    result.id = QUuid::fromString(QStringLiteral("6f1c2a4e-8d3b-4c5a-9e7f-0a1b2c3d4e5f"));
    result.title = QStringLiteral("Weekend plans");
    result.completedAt = QDateTime::fromString("2026-12-06T21:37:45Z", Qt::ISODate);
    result.duration = 612.5;
    result.mode = ConversationMode::checkin;
    result.stats = { SpeakerStats { 0, 300, 4, 120, 0.6 }, SpeakerStats { 1, 200, 3, 90, 0.4 } };
    result.annotations = { BehaviorAnnotation(2, 1, BehaviorCode::repair, 0.9, 40, 44) };
    result.fouls = QList<ProcessFoulAnnotation> { ProcessFoulAnnotation(
        3, 0, ProcessFoul::dredgingPast, 0.49, 50, 58) };
    result.harshStartupDetected = false;
    result.summary = QString::fromUtf8("They agreed on Saturday \u2014 mostly.");
    result.transcript = QList<SpeakerTurn> { SpeakerTurn(0, 0, 4, "Hi"), SpeakerTurn(1, 4, 6, "Hey") };
    result.fromLiveTranscript = true;
    return result;
}

} // namespace

TEST(DerivedSessionResult, RoundTripsThroughItsStoredForm)
{
    const DerivedSessionResult result = fullResult();
    const QJsonObject json = result.toJson();
    EXPECT_EQ(json.value("id").toString(), "6F1C2A4E-8D3B-4C5A-9E7F-0A1B2C3D4E5F");
    EXPECT_EQ(json.value("completedAt").toString(), "2026-12-06T21:37:45Z");
    EXPECT_EQ(json.value("mode").toString(), "checkin");
    EXPECT_EQ(decodeJson<DerivedSessionResult>(QJsonDocument(json).toJson()), result);

    // Lower-case ids and offset dates written elsewhere read back too.
    QJsonObject other = json;
    other.insert("id", "6f1c2a4e-8d3b-4c5a-9e7f-0a1b2c3d4e5f");
    other.insert("completedAt", "2026-12-06T22:37:45+01:00");
    EXPECT_EQ(DerivedSessionResult::fromJson(other), result);

    // The first and the last second that the stored form can hold.
    for (const char* text : { "0001-01-01T00:00:00Z", "9999-12-31T23:59:59Z" }) {
        DerivedSessionResult edge = result;
        edge.completedAt = QDateTime::fromString(QString::fromLatin1(text), Qt::ISODate);
        EXPECT_EQ(edge.toJson().value("completedAt").toString(), text);
        EXPECT_EQ(DerivedSessionResult::fromJson(edge.toJson()), edge) << text;
    }
}

TEST(DerivedSessionResult, OptionalKeysStayAbsent)
{
    DerivedSessionResult result = fullResult();
    result.title.reset();
    result.fouls.reset();
    result.harshStartupDetected.reset();
    result.transcript.reset();
    result.mode = ConversationMode::conversation;
    // The ordinary review is written as readers from before the flag know it.
    result.fromLiveTranscript = false;

    QJsonObject json = result.toJson();
    for (const char* key : { "title", "fouls", "harshStartupDetected", "transcript", "fromLiveTranscript" })
        EXPECT_FALSE(json.contains(key)) << key;
    json.remove("mode");
    EXPECT_EQ(DerivedSessionResult::fromJson(json), result);
    EXPECT_EQ(fullResult().toJson().value("fromLiveTranscript"), true);

    // Null reads as absent, like a missing key.
    for (const char* key :
        { "title", "fouls", "harshStartupDetected", "transcript", "mode", "fromLiveTranscript" })
        json.insert(key, QJsonValue::Null);
    EXPECT_EQ(DerivedSessionResult::fromJson(json), result);

    // Absent fouls are not an empty list.
    DerivedSessionResult emptyFouls = result;
    emptyFouls.fouls = QList<ProcessFoulAnnotation> {};
    EXPECT_TRUE(emptyFouls.toJson().value("fouls").isArray());
}

TEST(DerivedSessionResult, ARecordThatCannotBeReadIsRejectedWhole)
{
    const QJsonObject good = fullResult().toJson();
    for (const auto& [key, value] : std::initializer_list<std::pair<const char*, QJsonValue>> {
             { "id", "not-a-uuid" },
             { "completedAt", "yesterday" },
             // Fractions, a missing zone and what no stored form can hold again.
             { "completedAt", "2026-12-06T21:37:45.5Z" },
             { "completedAt", "2026-12-06T21:37:45" },
             { "completedAt", "2026-12-06" },
             { "completedAt", "10000-01-01T00:00:00Z" },
             { "completedAt", "9999-12-31T23:00:00-01:00" },
             { "completedAt", "0001-01-01T00:30:00+01:00" },
             { "duration", "612" },
             { "mode", "Checkin" },
             { "annotations", QJsonArray { QJsonObject { { "turnIndex", 0 } } } },
             { "fouls", QJsonArray { "kitchen_sinking" } },
             { "harshStartupDetected", "no" },
             { "title", 5 },
             { "transcript", QJsonObject {} },
             { "fromLiveTranscript", "yes" },
         }) {
        SCOPED_TRACE(std::string(key) + " " + value.toString().toStdString());
        QJsonObject json = good;
        json.insert(key, value);
        auto decoded = DerivedSessionResult::fromJson(json);
        ASSERT_FALSE(decoded.has_value());
        EXPECT_TRUE(decoded.error().message.contains(key)) << decoded.error().message.toStdString();
    }
}
