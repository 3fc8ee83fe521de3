#include "domain/ConversationUploadCodec.hpp"

#include "JsonEdits.hpp"
#include "domain/ConversationStats.hpp"
#include "domain/DerivedSessionResult.hpp"

#include <QJsonArray>
#include <QJsonDocument>
#include <functional>
#include <gtest/gtest.h>
#include <limits>

using namespace lumora;

namespace {

constexpr qint64 limit = ConversationUploadPayload::maximumBodyBytes;
const QUuid accountID = QUuid::fromString(QStringLiteral("6F9619FF-8B86-D011-B42D-00C04FC964FF"));

QList<SpeakerTurn> segments(int count, int textLength = 20)
{
    QList<SpeakerTurn> turns;
    for (int i = 0; i < count; ++i)
        turns.append(SpeakerTurn(i % 2, i * 10.0, i * 10.0 + 8, QString(textLength, QChar(u'a' + i % 26))));
    return turns;
}

DerivedSessionResult review(double duration, qint64 completedSeconds)
{
    DerivedSessionResult result;
    result.id = QUuid::fromString(QStringLiteral("11111111-2222-3333-4444-555555555555"));
    result.title = QStringLiteral("Dishes");
    result.completedAt = QDateTime::fromSecsSinceEpoch(completedSeconds, Qt::UTC);
    result.duration = duration;
    result.mode = ConversationMode::checkin;
    result.transcript = segments(4);
    result.stats = ConversationStats::compute(*result.transcript);
    result.annotations = { BehaviorAnnotation(0, 0, BehaviorCode::repair, 0.9, 0, 8) };
    result.harshStartupDetected = false;
    result.summary = QStringLiteral("Talked it through.");
    return result;
}

ConversationUploadPayload payloadWith(int segmentCount, bool withDetail = true)
{
    // Long enough for its segments, ten seconds apart.
    ConversationUploadPayload payload
        = ConversationUploadPayload::fromResult(review(10.0 * segmentCount + 60, 1'800'000'000), accountID);
    payload.transcript.segments = segments(segmentCount, 200);
    payload.analysis->stats = ConversationStats::compute(payload.transcript.segments);
    if (withDetail)
        payload.analysis->fouls = { ProcessFoulAnnotation(1, 1, ProcessFoul::globalizing, 0.7, 10, 18) };
    else
        payload.analysis = payload.analysis->withoutAnnotations();
    return payload;
}

QByteArray encoded(const ConversationUploadPayload& payload)
{
    auto bytes = ConversationUploadCodec::encode(payload);
    EXPECT_TRUE(bytes.has_value());
    return bytes.value_or(QByteArray {});
}

ConversationUploadPayload decoded(const QByteArray& body)
{
    auto payload = ConversationUploadCodec::payload(body);
    EXPECT_TRUE(payload.has_value()) << (payload ? "" : payload.error().message.toStdString());
    return payload.value_or(ConversationUploadPayload {});
}

// The body of `payload` cut to its first `keep` segments, as the codec writes it.
qint64 truncatedSize(ConversationUploadPayload payload, qsizetype keep)
{
    if (payload.analysis)
        payload.analysis = payload.analysis->withoutAnnotations();
    payload.transcript.segments = payload.transcript.segments.first(keep);
    payload.transcript.truncated = true;
    return encoded(payload).size();
}

} // namespace

TEST(ConversationUploadPayload, TimesComeFromTheReview)
{
    struct Case {
        double duration;
        qint64 completedSeconds;
        qint64 startedAt;
        qint64 endedAt;
        qint64 durationSeconds;
    };
    constexpr double nan = std::numeric_limits<double>::quiet_NaN();
    constexpr double inf = std::numeric_limits<double>::infinity();
    for (const Case& c : {
             Case { 2.5, 1000, 997, 1000, 3 },
             Case { 100'000, 1'000'000, 913'600, 1'000'000, 86'400 },
             Case { 60, 30, 1, 30, 29 },
             Case { -5, 1000, 1000, 1000, 0 },
             Case { nan, 1000, 1000, 1000, 0 },
             Case { inf, 1'000'000, 913'600, 1'000'000, 86'400 },
         }) {
        SCOPED_TRACE(c.duration);
        const auto payload
            = ConversationUploadPayload::fromResult(review(c.duration, c.completedSeconds), accountID);
        EXPECT_EQ(payload.startedAt, c.startedAt);
        EXPECT_EQ(payload.endedAt, c.endedAt);
        EXPECT_EQ(payload.durationSeconds, c.durationSeconds);
    }

    DerivedSessionResult fractional = review(10, 0);
    fractional.completedAt = QDateTime::fromMSecsSinceEpoch(1'000'900, Qt::UTC);
    EXPECT_EQ(ConversationUploadPayload::fromResult(fractional, accountID).endedAt, 1000);
    // No conversation ends before 1970's first second.
    fractional.completedAt = QDateTime::fromMSecsSinceEpoch(-900, Qt::UTC);
    EXPECT_EQ(ConversationUploadPayload::fromResult(fractional, accountID).endedAt, 1);
}

TEST(ConversationUploadPayload, TitlesAreTrimmedAndCutByCharacters)
{
    const QString flag = QString::fromUtf8("\xF0\x9F\x87\xAB\xF0\x9F\x87\xB7");
    const QString accented = QStringLiteral("e\u0301");
    const QString family
        = QString::fromUtf8("\xF0\x9F\x91\xA8\xE2\x80\x8D\xF0\x9F\x91\xA9\xE2\x80\x8D\xF0\x9F\x91\xA7");
    const QString apart = QString::fromUtf8("\xF0\x9F\x91\xA8\xF0\x9F\x91\xA9\xF0\x9F\x91\xA7");
    struct Case {
        std::optional<QString> given;
        std::optional<QString> sent;
    };
    for (const Case& c : {
             Case { QStringLiteral(" \n\t \n"), std::nullopt },
             Case { QStringLiteral("  Money talk\n"), QStringLiteral("Money talk") },
             Case { QString(250, u'x'), QString(200, u'x') },
             Case { QString(200, u'y'), QString(200, u'y') },
             Case { flag.repeated(250), flag.repeated(200) },
             Case { accented.repeated(250), accented.repeated(200) },
             // No control or format characters: a line break is a space, direction marks go;
             // joiners stay where they join (a family is one character of eight units).
             Case { QStringLiteral("Money\ntalk\u202E"), QStringLiteral("Money talk") },
             Case { QStringLiteral("\u200B\u200B"), std::nullopt },
             Case { family.repeated(101), family.repeated(100) },
             Case { QStringLiteral("\u200D") + apart + QStringLiteral("\u200D"), apart },
             // A character may carry marks beyond any reason: four UTF-16 units a character.
             Case { (u'a' + QString(30, QChar(0x0301))).repeated(50),
                 (u'a' + QString(30, QChar(0x0301))).repeated(25) },
         }) {
        SCOPED_TRACE(c.given.value_or("(none)").left(20).toStdString());
        DerivedSessionResult result = review(60, 1000);
        result.title = c.given;
        const auto payload = ConversationUploadPayload::fromResult(result, accountID);
        EXPECT_EQ(payload.title, c.sent);
        EXPECT_EQ(payload.toJson().contains("title"), c.sent.has_value());
    }
}

TEST(ConversationUploadPayload, PartsAreAlwaysPresent)
{
    DerivedSessionResult result = review(60, 1000);
    result.transcript.reset();
    result.fouls.reset();
    result.harshStartupDetected.reset();
    const auto payload = ConversationUploadPayload::fromResult(result, accountID);
    ASSERT_TRUE(payload.analysis.has_value());
    EXPECT_TRUE(payload.transcript.segments.isEmpty());

    const QJsonObject json = QJsonDocument::fromJson(encoded(payload)).object();
    EXPECT_EQ(json.value("transcript").toObject().value("segments").toArray().size(), 0);
    EXPECT_FALSE(json.value("transcript").toObject().contains("truncated"));
    EXPECT_FALSE(json.value("transcript").toObject().contains("live"));
    EXPECT_EQ(json.value("analysis").toObject().value("fouls").toArray().size(), 0);
    EXPECT_FALSE(json.value("analysis").toObject().contains("harsh_startup_detected"));
    EXPECT_EQ(json.value("conversation_id").toString(), "6f9619ff-8b86-d011-b42d-00c04fc964ff");
    EXPECT_EQ(json.value("mode").toString(), "checkin");
}

TEST(ConversationUploadPayload, BodiesReadBackAsTheSameReview)
{
    const DerivedSessionResult original = review(125, 1'800'000'000);
    const auto payload = ConversationUploadPayload::fromResult(original, accountID);
    const auto back = decoded(encoded(payload));
    EXPECT_EQ(back, payload);

    DerivedSessionResult expected = original;
    expected.id = accountID;
    expected.fouls = QList<ProcessFoulAnnotation> {};
    EXPECT_EQ(back.derivedResult(), expected);

    // An upper-case id and a missing analysis: statistics come from the segments.
    QJsonObject json = payload.toJson();
    json.insert("conversation_id", "6F9619FF-8B86-D011-B42D-00C04FC964FF");
    json.remove("analysis");
    const DerivedSessionResult bare = decoded(QJsonDocument(json).toJson()).derivedResult();
    EXPECT_EQ(bare.id, accountID);
    EXPECT_EQ(bare.stats, ConversationStats::compute(*original.transcript));
    EXPECT_TRUE(bare.annotations.isEmpty());
    EXPECT_EQ(bare.harshStartupDetected, std::nullopt);

    // A review made from the turns heard live says so to whoever reads it from the account.
    DerivedSessionResult heardLive = original;
    heardLive.fromLiveTranscript = true;
    const auto livePayload = ConversationUploadPayload::fromResult(heardLive, accountID);
    EXPECT_EQ(livePayload.transcript.live, true);
    EXPECT_EQ(QJsonDocument::fromJson(encoded(livePayload)).object().value("transcript")["live"], true);
    expected.fromLiveTranscript = true;
    EXPECT_EQ(decoded(encoded(livePayload)).derivedResult(), expected);
}

TEST(ConversationUploadPayload, ReadingIsStrictAboutRequiredKeys)
{
    const QJsonObject good = ConversationUploadPayload::fromResult(review(60, 1000), accountID).toJson();
    // An undefined value removes the key; an empty part edits the top level.
    const auto edited = [&](const char* part, const char* key, const QJsonValue& value) {
        QJsonObject json = good;
        QJsonObject inner = part[0] ? json.value(part).toObject() : json;
        value.isUndefined() ? inner.remove(key) : void(inner.insert(key, value));
        part[0] ? void(json.insert(part, inner)) : void(json = inner);
        return json;
    };
    struct Case {
        const char* part;
        const char* key;
        QJsonValue value;
        bool reads;
    };
    const QJsonValue missing(QJsonValue::Undefined);
    for (const Case& c : {
             Case { "", "conversation_id", "not-a-uuid", false },
             Case { "", "mode", "Checkin", false },
             Case { "", "started_at", "1000", false },
             Case { "", "ended_at", 10.5, false },
             // Moments from 0001-01-01T00:00:00Z to 9999-12-31T23:59:59Z, what a review can store.
             Case { "", "ended_at", std::numeric_limits<qint64>::min(), false },
             Case { "", "ended_at", qint64(253'402'300'800), false },
             // ... and within a week of the start.
             Case { "", "ended_at", qint64(253'402'300'799), false },
             Case { "", "started_at", qint64(-62'135'596'801), false },
             Case { "", "transcript", missing, false },
             Case { "", "title", 5, false },
             Case { "", "analysis", QJsonValue::Null, true },
             Case { "", "extra", "ignored", true },
             Case { "transcript", "schema", missing, false },
             Case { "transcript", "schema", 7, true },
             Case { "transcript", "segments", missing, false },
             Case { "transcript", "truncated", QJsonValue::Null, true },
             Case { "transcript", "truncated", "yes", false },
             Case { "transcript", "live", QJsonValue::Null, true },
             Case { "transcript", "live", "yes", false },
             Case { "analysis", "fouls", missing, false },
             Case { "analysis", "stats", missing, false },
             Case { "analysis", "harsh_startup_detected", QJsonValue::Null, true },
         }) {
        SCOPED_TRACE(std::string(c.part) + "." + c.key);
        EXPECT_EQ(ConversationUploadCodec::payload(QJsonDocument(edited(c.part, c.key, c.value)).toJson())
                      .has_value(),
            c.reads);
    }
    EXPECT_FALSE(ConversationUploadCodec::payload("{").has_value());
    EXPECT_EQ(decoded(QJsonDocument(edited("transcript", "schema", 7)).toJson()).transcript.schema, 7);
}

// A partner's device may send anything: a reader takes only what this application writes.
TEST(ConversationUploadPayload, ReadingRefusesWhatTheApplicationNeverWrites)
{
    const QJsonObject good = ConversationUploadPayload::fromResult(review(60, 1000), accountID).toJson();
    ASSERT_TRUE(ConversationUploadCodec::payload(QJsonDocument(good).toJson()).has_value());
    // `edit` changes a copy of the document; "<lone>" in its text is written as half of a
    // surrogate pair, which no QString the writer is given would give.
    const auto reads = [&](const std::function<void(QJsonObject&)>& edit) {
        QJsonObject json = good;
        edit(json);
        return ConversationUploadCodec::payload(QJsonDocument(json).toJson().replace("<lone>", "\\ud83d"))
            .has_value();
    };
    const auto both = [](const std::function<void(QJsonObject&)>& first,
                          const std::function<void(QJsonObject&)>& second) {
        return [=](QJsonObject& json) {
            first(json);
            second(json);
        };
    };
    const auto part = [](const char* name, const char* key, const QJsonValue& value) {
        return [=](QJsonObject& json) {
            QJsonObject inner = json.value(name).toObject();
            inner.insert(key, value);
            json.insert(name, inner);
        };
    };
    const auto foulOn = [&](qint64 turnIndex) {
        return part("analysis", "fouls",
            QJsonArray {
                ProcessFoulAnnotation(turnIndex, 1, ProcessFoul::globalizing, 0.7, 10, 18).toJson() });
    };
    // The first element of a list in a part, changed.
    const auto firstOf = [](const char* part, const char* list, const char* key, const QJsonValue& value) {
        return [=](QJsonObject& json) { test::setInFirst(json, part, list, key, value); };
    };
    const auto top = [](const char* key, const QJsonValue& value) {
        return [=](QJsonObject& json) { json.insert(key, value); };
    };
    const auto summary = [](const QString& text) {
        return [=](QJsonObject& json) {
            QJsonObject analysis = json.value("analysis").toObject();
            analysis.insert("summary", text);
            json.insert("analysis", analysis);
        };
    };
    struct Case {
        const char* name;
        std::function<void(QJsonObject&)> edit;
        bool reads;
    };
    const QString marked = u'a' + QString(3, QChar(0x0301));
    for (const Case& c :
        std::initializer_list<Case> {
            { "200 characters", top("title", QString(200, u'x')), true },
            { "201 characters", top("title", QString(200, u'x') + u'y'), false },
            { "800 units in 200 characters", top("title", marked.repeated(200)), true },
            { "more units", top("title", marked.repeated(199) + marked + QChar(0x0301)), false },
            { "NUL in a title", top("title", QStringLiteral("a\u0000b")), false },
            { "a direction override", top("title", QStringLiteral("\u202Elive")), false },
            { "a line break", top("title", QStringLiteral("a\nb")), false },
            { "a negative duration", top("duration_seconds", -1), false },
            { "more than a day", top("duration_seconds", 86'401), false },
            { "2^53 seconds", top("duration_seconds", qint64(1) << 53), false },
            { "longer than from start to end", top("duration_seconds", 61), false },
            { "an end before the start", top("ended_at", 939), false },
            { "a start in 1970's first second", top("started_at", 0), false },
            { "an escape in a segment", firstOf("transcript", "segments", "text", "a\u001B[2Jb"), false },
            { "a zero-width space in a segment", firstOf("transcript", "segments", "text", "a\u200Bb"),
                false },
            { "the longest segment", firstOf("transcript", "segments", "text", QString(20'000, u't')), true },
            { "a longer one", firstOf("transcript", "segments", "text", QString(20'001, u't')), false },
            { "a segment before the start", firstOf("transcript", "segments", "start", -1), false },
            { "a segment ending before it starts", firstOf("transcript", "segments", "end", -1), false },
            { "a segment after the day", firstOf("transcript", "segments", "end", 86'401), false },
            { "the longest summary", summary(QString(5000, u's')), true },
            { "a longer one", summary(QString(5001, u's')), false },
            { "a summary with a bell", summary(QStringLiteral("ding\u0007")), false },
            { "negative turns", firstOf("analysis", "stats", "turns", -1), false },
            { "a share past 1", firstOf("analysis", "stats", "share", 1.5), false },
            { "negative talk time", firstOf("analysis", "stats", "talkTime", -3), false },
            { "a negative turn index", firstOf("analysis", "annotations", "turnIndex", -1), false },
            { "a confidence past 1", firstOf("analysis", "annotations", "confidence", 2), false },
            { "a finding ending before it starts", firstOf("analysis", "annotations", "end", -1), false },
            // Seats, turns and times as the segments and the length hold them.
            { "a segment of speaker -1", firstOf("transcript", "segments", "speaker", -1), false },
            { "of speaker 7", firstOf("transcript", "segments", "speaker", 7), false },
            { "of speaker 2^62", firstOf("transcript", "segments", "speaker", qint64(1) << 62), false },
            { "statistics of speaker 2", firstOf("analysis", "stats", "speaker", 2), false },
            { "an annotation of speaker -1", firstOf("analysis", "annotations", "speaker", -1), false },
            { "a seat's turns as many as the segments", firstOf("analysis", "stats", "turns", 4), true },
            { "one more", firstOf("analysis", "stats", "turns", 5), false },
            { "2^62 turns", firstOf("analysis", "stats", "turns", qint64(1) << 62), false },
            { "ten a second of a shortened transcript",
                both(part("transcript", "truncated", true), firstOf("analysis", "stats", "turns", 600)),
                true },
            { "more", both(part("transcript", "truncated", true), firstOf("analysis", "stats", "turns", 601)),
                false },
            { "an annotation on the last segment", firstOf("analysis", "annotations", "turnIndex", 3), true },
            { "past it", firstOf("analysis", "annotations", "turnIndex", 4), false },
            { "a foul on the last segment", foulOn(3), true },
            { "past it", foulOn(4), false },
            // Five seconds past the 60 of its length for rounding and the live stream's clock.
            { "a segment ending 5 s after the length", firstOf("transcript", "segments", "end", 65), true },
            { "after that", firstOf("transcript", "segments", "end", 65.5), false },
            { "an end a week after the start", both(top("started_at", 1), top("ended_at", 1 + 7 * 86'400)),
                true },
            { "a second later", both(top("started_at", 1), top("ended_at", 2 + 7 * 86'400)), false },
            // Texts as written, within what draws on its line: joiners where they join, emoji
            // variation selectors, no separators, no pile of marks, no half of a pair.
            { "a family", top("title", QStringLiteral("\U0001F468\u200D\U0001F469\u200D\U0001F467")), true },
            { "a Persian word",
                top("title", QStringLiteral("\u0645\u06CC\u200C\u062E\u0648\u0627\u0647\u0645")), true },
            { "a red heart", top("title", QStringLiteral("\u2764\uFE0F")), true },
            { "a joiner that joins nothing", top("title", QStringLiteral("ab\u200D")), false },
            { "a line separator", top("title", QStringLiteral("a\u2028b")), false },
            { "a paragraph separator", top("title", QStringLiteral("a\u2029b")), false },
            { "a separator in a segment", firstOf("transcript", "segments", "text", "a\u2029b"), false },
            { "30 marks on a letter", top("title", u'a' + QString(30, QChar(0x0301))), true },
            { "31", top("title", u'a' + QString(31, QChar(0x0301))), false },
            { "31 in a segment", firstOf("transcript", "segments", "text", u'a' + QString(31, QChar(0x0301))),
                false },
            { "half a pair in a title", top("title", "a<lone>b"), false },
            { "in a segment", firstOf("transcript", "segments", "text", "<lone>."), false },
            { "in a key read by nobody", top("extra<lone>.", 1), false },
            { "in a value read by nobody", top("extra", "<lone>."), false },
        }) {
        EXPECT_EQ(reads(c.edit), c.reads) << c.name;
    }
}

// What the application makes of a review (whatever a provider gave it) is what it reads back.
TEST(ConversationUploadPayload, TheApplicationWritesOnlyWhatItReads)
{
    DerivedSessionResult result = review(60, 1'800'000'000);
    result.title = QStringLiteral("e\u202Evil\u0000");
    result.transcript = { SpeakerTurn(0, 5, 3, QStringLiteral("one\ttwo\u200B")),
        SpeakerTurn(-1, -2, 100'000, QString(30'000, u'w')) };
    result.stats = { SpeakerStats { 0, -1, -2, -3, 1.5 }, SpeakerStats { 7, 3, 9, 2, 0.5 } };
    // Findings on no turn go; one on a turn comes within its bounds, its speaker a seat.
    result.annotations = { BehaviorAnnotation(-4, 0, BehaviorCode::repair, 0.9, 9, 8),
        BehaviorAnnotation(2, 0, BehaviorCode::repair, 0.9, 9, 10),
        BehaviorAnnotation(1, -1, BehaviorCode::repair, 0.9, 9, 8) };
    result.summary = QStringLiteral("\u001B").repeated(6000);
    result.fromLiveTranscript = true;
    const auto payload = ConversationUploadPayload::fromResult(result, accountID);
    const ConversationUploadPayload back = decoded(encoded(payload));
    EXPECT_EQ(back.title, QStringLiteral("evil"));
    EXPECT_EQ(back.transcript.segments.at(0), SpeakerTurn(0, 5, 5, QStringLiteral("one two")));
    // Within the conversation's 60 s and five for rounding and the live stream's clock.
    EXPECT_EQ(back.transcript.segments.at(1), SpeakerTurn(1, 0, 65, QString(20'000, u'w')));
    EXPECT_EQ(back.analysis->stats, (QList<SpeakerStats> { { 0, 0, 0, 0, 1 }, { 1, 3, 2, 2, 0.5 } }));
    EXPECT_EQ(back.analysis->annotations,
        (QList<BehaviorAnnotation> { BehaviorAnnotation(1, 1, BehaviorCode::repair, 0.9, 9, 9) }));
    EXPECT_EQ(back.analysis->summary, QString(5000, u' '));
    EXPECT_EQ(back.transcript.live, true);
}

TEST(ConversationUploadCodec, ABodyOfExactlyTheLimitIsSentAsItIs)
{
    // Filled up to the limit with the longest segments a document holds, the last one as long
    // as what is left.
    ConversationUploadPayload payload = payloadWith(10);
    const SpeakerTurn filler(0, 100, 108, QString(19'000, u'p'));
    while (limit - encoded(payload).size() > 20'000)
        payload.transcript.segments.append(filler);
    payload.transcript.segments.append(SpeakerTurn(0, 100, 108, QString()));
    payload.transcript.segments.last().text = QString(limit - encoded(payload).size(), u'p');

    const auto atLimit = ConversationUploadCodec::body(payload);
    ASSERT_TRUE(atLimit.has_value());
    EXPECT_EQ(atLimit->size(), limit);
    EXPECT_EQ(*atLimit, encoded(payload));

    payload.transcript.segments.last().text.append(u'p');
    const auto overLimit = ConversationUploadCodec::body(payload);
    ASSERT_TRUE(overLimit.has_value());
    EXPECT_LT(overLimit->size(), limit);
    // One byte more sheds the annotations and fouls, nothing else.
    ConversationUploadPayload shed = payload;
    shed.analysis = shed.analysis->withoutAnnotations();
    EXPECT_EQ(decoded(*overLimit), shed);
}

TEST(ConversationUploadCodec, SegmentsAreDroppedAFifthAtATime)
{
    // Ten segments are tried as 8, 6, 4, 3, 2 and 1; a limit between two of those sizes
    // gives the next smaller count, never one outside the sequence.
    for (bool withDetail : { true, false }) {
        SCOPED_TRACE(withDetail);
        ConversationUploadPayload payload = payloadWith(10, withDetail);
        payload.transcript.live = true;
        ASSERT_GT(encoded(payload).size(), truncatedSize(payload, 9));
        struct Case {
            qsizetype fitting;
            qsizetype kept;
        };
        for (const Case& c : { Case { 9, 8 }, Case { 8, 8 }, Case { 7, 6 }, Case { 5, 4 }, Case { 3, 3 },
                 Case { 2, 2 }, Case { 1, 1 } }) {
            SCOPED_TRACE(c.fitting);
            const qint64 maximum = truncatedSize(payload, c.fitting);
            const auto body = ConversationUploadCodec::body(payload, maximum);
            ASSERT_TRUE(body.has_value());
            EXPECT_LE(body->size(), maximum);
            const auto sent = decoded(*body);
            EXPECT_EQ(sent.transcript.segments, payload.transcript.segments.first(c.kept));
            EXPECT_EQ(sent.transcript.truncated, true);
            EXPECT_EQ(sent.transcript.live, true) << "the turns kept are still the ones heard live";
            EXPECT_TRUE(sent.analysis->annotations.isEmpty());
        }
        EXPECT_EQ(ConversationUploadCodec::body(payload, truncatedSize(payload, 1) - 1),
            std::unexpected(ConversationUploadCodecError::tooLarge));
    }
}

TEST(ConversationUploadCodec, WhatCannotShrinkIsTooLarge)
{
    // One segment: shedding the annotations is tried, truncation is not.
    ConversationUploadPayload single = payloadWith(1);
    single.analysis->annotations.clear();
    single.analysis->fouls.clear();
    const qint64 size = encoded(single).size();
    EXPECT_EQ(ConversationUploadCodec::body(payloadWith(1), size).value_or(""), encoded(single));
    EXPECT_EQ(ConversationUploadCodec::body(payloadWith(1), size - 1),
        std::unexpected(ConversationUploadCodecError::tooLarge));

    ConversationUploadPayload noAnalysis = payloadWith(5);
    noAnalysis.analysis.reset();
    const auto body = ConversationUploadCodec::body(noAnalysis, encoded(noAnalysis).size() - 1);
    ASSERT_TRUE(body.has_value());
    EXPECT_FALSE(QJsonDocument::fromJson(*body).object().contains("analysis"));
    EXPECT_EQ(decoded(*body).transcript.segments.size(), 4);

    ConversationUploadPayload empty = payloadWith(0);
    EXPECT_EQ(
        ConversationUploadCodec::body(empty, 100), std::unexpected(ConversationUploadCodecError::tooLarge));
}

TEST(ConversationUploadCodec, NumbersThatAreNotFiniteAreRefused)
{
    constexpr double nan = std::numeric_limits<double>::quiet_NaN();
    constexpr double inf = std::numeric_limits<double>::infinity();
    ConversationUploadPayload inSegment = payloadWith(3);
    inSegment.transcript.segments[2].end = nan;
    ConversationUploadPayload inStats = payloadWith(3);
    inStats.analysis->stats[0].share = -inf;
    for (const auto& payload : { inSegment, inStats }) {
        EXPECT_EQ(ConversationUploadCodec::encode(payload),
            std::unexpected(ConversationUploadCodecError::nonFiniteNumber));
        EXPECT_EQ(ConversationUploadCodec::body(payload, 10),
            std::unexpected(ConversationUploadCodecError::nonFiniteNumber));
    }
}
