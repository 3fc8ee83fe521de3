#include "providers/DeepgramClient.hpp"
#include "providers/DeepgramLiveSession.hpp"
#include "providers/DeepgramResponseDecoder.hpp"

#include <gtest/gtest.h>

namespace lumora {
namespace {

using Turns = QList<SpeakerTurn>;

// A word as the provider writes it; `speaker` and `punctuated` are left out when empty.
QByteArray word(
    const char* text, double start, double end, const char* speaker = "", const char* punctuated = "")
{
    QByteArray json = QByteArray(R"({"word":")") + text + R"(","start":)" + QByteArray::number(start)
        + R"(,"end":)" + QByteArray::number(end);
    if (*speaker)
        json += QByteArray(R"(,"speaker":)") + speaker;
    if (*punctuated)
        json += QByteArray(R"(,"punctuated_word":")") + punctuated + '"';
    return json + '}';
}

QByteArray live(const char* isFinal, const QByteArray& words)
{
    return QByteArray(R"({"type":"Results",)") + isFinal + R"("channel":{"alternatives":[{"words":[)" + words
        + "]}]}}";
}

struct LiveCase {
    const char* name;
    QByteArray message;
    Turns turns;
};

TEST(DeepgramLiveTurns, EveryEdgeOfTheLiveRule)
{
    const QByteArray hello = word("hello", 0.5, 0.9, "0");
    const LiveCase cases[] = {
        { "interim", live(R"("is_final":false,)", hello), {} },
        { "no is_final", live("", hello), {} },
        { "is_final null", live(R"("is_final":null,)", hello), {} },
        { "is_final mistyped", live(R"("is_final":"true",)", hello), {} },
        { "not JSON", "hello there", {} },
        { "a JSON array", "[1,2]", {} },
        { "metadata message", R"({"type":"Metadata","request_id":"x"})", {} },
        { "no channel", R"({"is_final":true})", {} },
        { "channel null", R"({"is_final":true,"channel":null})", {} },
        { "no alternatives", R"({"is_final":true,"channel":{"alternatives":[]}})", {} },
        { "alternatives null", R"({"is_final":true,"channel":{"alternatives":null}})", {} },
        { "no words", live(R"("is_final":true,)", ""), {} },
        { "word null where required",
            R"({"is_final":true,"channel":{"alternatives":[{"words":[{"word":null,"start":0,"end":1}]}]}})",
            {} },
        { "start missing",
            R"({"is_final":true,"channel":{"alternatives":[{"words":[{"word":"a","end":1}]}]}})", {} },
        { "speaker fractional", live(R"("is_final":true,)", word("a", 0, 1, "0.5")), {} },
        { "speakers 0 0 1 0",
            live(R"("is_final":true,)",
                word("a", 0, 1, "0") + ',' + word("b", 1, 2, "0") + ',' + word("c", 2, 3, "1") + ','
                    + word("d", 3, 4, "0")),
            { { 0, 0, 2, "a b" }, { 1, 2, 3, "c" }, { 0, 3, 4, "d" } } },
        { "speakers 0 and 2 share a seat",
            live(R"("is_final":true,)", word("a", 0, 1, "0") + ',' + word("b", 1, 2, "2")),
            { { 0, 0, 2, "a b" } } },
        { "speaker absent counts as 0", live(R"("is_final":true,)", word("a", 0, 1) + ',' + word("b", 1, 2)),
            { { 0, 0, 2, "a b" } } },
        { "speaker -1 is seat 1", live(R"("is_final":true,)", word("a", 0, 1, "-1")), { { 1, 0, 1, "a" } } },
        { "punctuated form preferred", live(R"("is_final":true,)", word("hi", 0, 1, "1", "Hi!")),
            { { 1, 0, 1, "Hi!" } } },
        { "overlapping times: first start, last end",
            live(R"("is_final":true,)", word("a", 2, 5, "0") + ',' + word("b", 1, 3, "0")),
            { { 0, 2, 3, "a b" } } },
        { "binary-safe UTF-8", live(R"("is_final":true,)", word("gr\xc3\xbc\xc3\x9f", 0, 1, "0")),
            { { 0, 0, 1, QStringLiteral("gr\u00fc\u00df") } } },
    };
    for (const LiveCase& c : cases)
        EXPECT_EQ(DeepgramLiveSession::settledTurns(c.message), c.turns) << c.name;
}

struct RecordedCase {
    const char* name;
    QByteArray body;
    std::optional<DeepgramTranscript> transcript; // none: the body fails to decode
};

QByteArray recorded(const char* metadata, const QByteArray& words)
{
    return QByteArray(R"({"metadata":)") + metadata + R"(,"results":{"channels":[{"alternatives":[{"words":[)"
        + words + "]}]}]}}";
}

TEST(DeepgramResponseDecoder, EveryEdgeOfThePrerecordedRule)
{
    const RecordedCase cases[] = {
        { "duration from metadata", recorded(R"({"duration":30.25})", word("a", 0, 1, "0")),
            DeepgramTranscript { 30.25, { { 0, 0, 1, "a" } } } },
        { "duration from the last word", recorded("{}", word("a", 0, 1, "0") + ',' + word("b", 2, 12.5, "1")),
            DeepgramTranscript { 12.5, { { 0, 0, 1, "a" }, { 1, 2, 12.5, "b" } } } },
        { "duration null counts as absent", recorded(R"({"duration":null})", word("a", 0, 4, "0")),
            DeepgramTranscript { 4, { { 0, 0, 4, "a" } } } },
        { "no words, no duration", recorded("{}", ""), DeepgramTranscript { 0, {} } },
        { "no words, a duration", recorded(R"({"duration":7})", ""), DeepgramTranscript { 7, {} } },
        { "empty channels", R"({"metadata":{"duration":3},"results":{"channels":[]}})",
            DeepgramTranscript { 3, {} } },
        { "empty alternatives", R"({"metadata":{},"results":{"channels":[{"alternatives":[]}]}})",
            DeepgramTranscript { 0, {} } },
        { "speaker -1 keeps its sign", recorded("{}", word("a", 0, 1, "-1") + ',' + word("b", 1, 2, "1")),
            DeepgramTranscript { 2, { { -1, 0, 1, "a" }, { 1, 1, 2, "b" } } } },
        { "speakers 0 and 2 join, start kept",
            recorded("{}", word("a", 0, 1, "0") + ',' + word("b", 1, 2, "2", "b.")),
            DeepgramTranscript { 2, { { 0, 0, 2, "a b." } } } },
        { "speaker absent counts as 0", recorded("{}", word("a", 0, 1) + ',' + word("b", 1, 2, "0")),
            DeepgramTranscript { 2, { { 0, 0, 2, "a b" } } } },
        { "missing metadata", R"({"results":{"channels":[]}})", std::nullopt },
        { "metadata null", R"({"metadata":null,"results":{"channels":[]}})", std::nullopt },
        { "missing results", R"({"metadata":{}})", std::nullopt },
        { "channels null", R"({"metadata":{},"results":{"channels":null}})", std::nullopt },
        { "duration mistyped", recorded(R"({"duration":"3"})", ""), std::nullopt },
        { "word missing", recorded("{}", R"({"start":0,"end":1})"), std::nullopt },
        { "a later channel malformed",
            R"({"metadata":{},"results":{"channels":[{"alternatives":[]},{"alternatives":[{"words":[{}]}]}]}})",
            std::nullopt },
        { "empty body", "", std::nullopt },
        { "not JSON", "<html>", std::nullopt },
    };
    for (const RecordedCase& c : cases) {
        const auto decoded = DeepgramResponseDecoder::decode(c.body);
        if (c.transcript)
            EXPECT_EQ(decoded, *c.transcript) << c.name;
        else
            EXPECT_FALSE(decoded.has_value()) << c.name;
    }
}

TEST(DeepgramRequests, LiveAndPrerecordedUrlsAreExact)
{
    EXPECT_EQ(DeepgramLiveSession::requestURL(DeepgramClient::defaultBaseURL(), 48000).toString(),
        "wss://api.deepgram.com/v1/listen?model=nova-3&encoding=linear16&sample_rate=48000&channels=1"
        "&diarize=true&smart_format=true&interim_results=true&punctuate=true&mip_opt_out=true");
    EXPECT_EQ(DeepgramClient::requestURL(DeepgramClient::defaultBaseURL()).toString(),
        "https://api.deepgram.com/v1/listen?model=nova-3&diarize=true&smart_format=true&punctuate=true"
        "&utterances=true&mip_opt_out=true");
    EXPECT_EQ(DeepgramLiveSession::requestURL(QUrl("http://127.0.0.1:8080"), 16000).toString(),
        "ws://127.0.0.1:8080/v1/listen?model=nova-3&encoding=linear16&sample_rate=16000&channels=1"
        "&diarize=true&smart_format=true&interim_results=true&punctuate=true&mip_opt_out=true");
}

} // namespace
} // namespace lumora
