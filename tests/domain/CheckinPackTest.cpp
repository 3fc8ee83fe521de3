#include "domain/CheckinPack.hpp"

#include "domain/JsonObjectReader.hpp"

#include <QJsonDocument>
#include <gtest/gtest.h>
#include <limits>

using namespace lumora;

namespace {

CheckinSection section(const QString& id, QList<CheckinPrompt> prompts, qint64 minutes = 2)
{
    return { id, id.toUpper(), minutes, std::move(prompts) };
}

CheckinPack fivePack()
{
    CheckinPack pack { "2026-W07", CheckinPackSource::model, 1770681600, std::nullopt, "i_close", {} };
    for (int i = 0; i < 5; ++i)
        pack.sections.append(
            section(QString("s%1").arg(i), { { QString("Prompt %1?").arg(i), std::nullopt } }));
    return pack;
}

std::expected<CheckinPack, JsonDecodeError> decode(const char* json)
{
    return decodeJson<CheckinPack>(QByteArray(json));
}

} // namespace

TEST(CheckinPack, SourceReadsLenientlyInsideAPackAndStrictlyAlone)
{
    struct Case {
        const char* json;
        std::optional<CheckinPackSource> source; // nothing: the decode fails
    };
    for (const Case& c : {
             Case { R"({"week":"2026-W07","source":"model","sections":[]})", CheckinPackSource::model },
             Case { R"({"week":"2026-W07","source":"llm","sections":[]})", CheckinPackSource::fallback },
             Case { R"({"week":"2026-W07","source":"Model","sections":[]})", CheckinPackSource::fallback },
             Case { R"({"week":"2026-W07","sections":[]})", std::nullopt },
             Case { R"({"week":"2026-W07","source":null,"sections":[]})", std::nullopt },
             Case { R"({"week":"2026-W07","source":1,"sections":[]})", std::nullopt },
         }) {
        SCOPED_TRACE(c.json);
        const auto pack = decode(c.json);
        ASSERT_EQ(pack.has_value(), c.source.has_value());
        if (pack) {
            EXPECT_EQ(pack->source, *c.source);
        }
    }
    EXPECT_EQ(fromString<CheckinPackSource>(u"llm"), std::nullopt);
}

TEST(CheckinPack, MissingOptionalKeysReadAsDefaults)
{
    const auto pack = decode(R"({"week":"2026-W07","source":"model","sections":[
        {"id":"temperature","title":"Temperature","suggested_minutes":1,"prompts":[{"text":"How?"}],"extra":1}],
        "unknown":{"a":1}})");
    ASSERT_TRUE(pack.has_value()) << pack.error().message.toStdString();
    EXPECT_EQ(pack->generatedAt, 0);
    ASSERT_EQ(pack->sections.size(), 1);
    EXPECT_EQ(pack->sections[0].prompts, QList<CheckinPrompt>({ { "How?", std::nullopt } }));

    const auto nulls = decode(
        R"({"week":"W","source":"model","sections":[],"generated_at":null,"note":null,"question_id":null})");
    ASSERT_TRUE(nulls.has_value());
    EXPECT_EQ(nulls->generatedAt, 0);
    EXPECT_EQ(nulls->note, std::nullopt);
    EXPECT_EQ(nulls->questionID, "");
}

TEST(CheckinPack, MalformedPacksFailToDecode)
{
    for (const char* json :
        {
            R"([])",
            R"({"week":"2026-W07","source":"model"})",
            R"({"week":"2026-W07","source":"model","sections":{}})",
            R"({"week":"2026-W07","source":"model","sections":[],"generated_at":1.5})",
            R"({"week":"2026-W07","source":"model","sections":[],"generated_at":1e300})",
            R"({"week":"2026-W07","source":"model","sections":[{"id":"a","title":"A","prompts":[]}]})",
            R"({"week":"2026-W07","source":"model","sections":[{"id":"a","title":"A","suggested_minutes":1}]})",
            R"({"week":"2026-W07","source":"model","sections":[{"id":"a","title":"A","suggested_minutes":0.5,"prompts":[]}]})",
            R"({"week":"2026-W07","source":"model","sections":[{"id":"a","title":"A","suggested_minutes":1,"prompts":[{}]}]})",
            R"({"week":"2026-W07","source":"model","sections":[{"id":"a","title":"A","suggested_minutes":1,"prompts":[{"text":"x","source":2}]}]})",
            R"({"week":"2026-W07",)",
        }) {
        SCOPED_TRACE(json);
        EXPECT_FALSE(decode(json).has_value());
    }
}

TEST(CheckinPack, UsableOnlyWithFiveSectionsOfNonEmptyPrompts)
{
    struct Case {
        const char* name;
        void (*change)(CheckinPack&);
        bool usable;
    };
    for (const Case& c :
        {
            Case { "five sections", [](CheckinPack&) {}, true },
            Case { "four sections", [](CheckinPack& p) { p.sections.removeLast(); }, false },
            Case { "six sections", [](CheckinPack& p) { p.sections.append(p.sections[0]); }, false },
            Case {
                "a section without prompts", [](CheckinPack& p) { p.sections[2].prompts.clear(); }, false },
            Case { "an empty prompt",
                [](CheckinPack& p) {
                    p.sections[4].prompts.append({ "", std::nullopt });
                },
                false },
            Case { "a prompt of spaces", [](CheckinPack& p) { p.sections[1].prompts[0].text = "  "; }, true },
            Case { "odd everything else",
                [](CheckinPack& p) {
                    p.week.clear();
                    p.source = CheckinPackSource::fallback;
                    p.sections[0].id.clear();
                    p.sections[0].suggestedMinutes = -3;
                },
                true },
        }) {
        SCOPED_TRACE(c.name);
        CheckinPack pack = fivePack();
        c.change(pack);
        EXPECT_EQ(pack.isUsable(), c.usable);
    }
}

TEST(CheckinPack, SuggestedTimesAddUpWithoutOverflow)
{
    CheckinPack pack = fivePack();
    EXPECT_EQ(pack.suggestedMinutes(), 10);
    EXPECT_EQ(pack.sections[0].suggestedSeconds(), 120.0);
    pack.sections[0].suggestedMinutes = std::numeric_limits<qint64>::max();
    EXPECT_EQ(pack.suggestedMinutes(), std::numeric_limits<qint64>::max());
    pack.sections[0].suggestedMinutes = std::numeric_limits<qint64>::min();
    pack.sections[1].suggestedMinutes = -7;
    EXPECT_EQ(pack.suggestedMinutes(), std::numeric_limits<qint64>::min());
    pack.sections[1].suggestedMinutes = std::numeric_limits<qint64>::max();
    EXPECT_EQ(pack.suggestedMinutes(), 5);
}

TEST(CheckinPack, WritesSnakeCaseKeysAndReadsBack)
{
    CheckinPack pack = fivePack();
    pack.note = "A note";
    pack.sections[0].prompts[0].source = "bank";
    const QJsonObject json = pack.toJson();
    EXPECT_EQ(
        json.keys(), QStringList({ "generated_at", "note", "question_id", "sections", "source", "week" }));
    const QJsonObject first = json.value("sections").toArray().at(0).toObject();
    EXPECT_EQ(first.keys(), QStringList({ "id", "prompts", "suggested_minutes", "title" }));
    EXPECT_EQ(first.value("prompts").toArray().at(0).toObject().keys(), QStringList({ "source", "text" }));
    EXPECT_EQ(decodeJson<CheckinPack>(QJsonDocument(json).toJson()), pack);

    pack.note.reset();
    pack.sections[0].prompts[0].source.reset();
    EXPECT_FALSE(pack.toJson().contains("note"));
    EXPECT_EQ(CheckinPack::fromJson(pack.toJson()), pack);
}
