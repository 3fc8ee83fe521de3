// The control plane's client of the outside services, from the bytes a provider sends: the
// HTTP reply read off the connection in pieces of the size the first byte picks (larger for a
// long reply, which is read in at most 128 pieces: each read costs as much as 100 bytes of
// parsing), on one I/O context for every input, then the
// speech grant and the model's answers read from it as the endpoints read them. Properties:
// - nothing is thrown, and the reader ends with a reply or a failure;
// - a reply's body is within the client's limit;
// - a grant is a visible-ASCII token of bounded length that lives 1 s up to what was asked;
// - findings point at turns of the request with confidences in 0...1, and no text taken from
//   the answer is empty, too long, or holds a control or format character.
#include "FuzzSupport.hpp"
#include "analysis/ModelAnswerReader.hpp"
#include "controlplane/AnthropicMessagesClient.hpp"
#include "controlplane/DeepgramGrantClient.hpp"
#include "controlplane/HttpsReplyReader.hpp"
#include "domain/VisibleText.hpp"

#include <boost/beast/_experimental/test/stream.hpp>
#include <limits>

using namespace lumora;
using namespace lumora::fuzzing;

LUMORA_FUZZ_QUIET_INITIALIZE

namespace {

namespace asio = boost::asio;

constexpr qint64 grantLifetime = 300;

using Outcome = std::optional<std::expected<HttpsReply, HttpsFailure>>;

asio::awaitable<void> readInto(boost::beast::test::stream& stream, Outcome& outcome)
{
    outcome = co_await HttpsReplyReader::read(stream);
}

constexpr std::size_t mostReads = 128;

Outcome readReply(std::string_view wire, std::size_t piece)
{
    static asio::io_context io(1);
    io.restart();
    boost::beast::test::stream stream(io, boost::beast::string_view(wire.data(), wire.size()));
    stream.read_size(std::max(piece, (wire.size() + mostReads - 1) / mostReads));
    stream.close_remote();
    Outcome outcome;
    // A detached coroutine's exception leaves run(): libFuzzer reports it as a crash.
    asio::co_spawn(io, readInto(stream, outcome), asio::detached);
    io.run();
    return outcome;
}

bool isVisibleAscii(const QString& text)
{
    return std::ranges::all_of(text, [](QChar c) { return c.unicode() > 0x20 && c.unicode() < 0x7f; });
}

void requireCleanText(const QString& text, qsizetype limit, bool mayBeEmpty, const char* what)
{
    require(mayBeEmpty || !text.isEmpty(), what, "empty");
    require(text.size() <= limit, what, text.toUtf8());
    require(!VisibleText::holdsInvisible(text), what, text.toUtf8());
}

void requireCleanText(const std::optional<QString>& text, qsizetype limit, const char* what)
{
    if (text)
        requireCleanText(*text, limit, false, what);
}

const AnalysisProviderPayload& analysisRequest()
{
    static const AnalysisProviderPayload request { AnalysisPass::final,
        toString(AnalysisRubric::conversation),
        { SpeakerTurn(0, 0, 4, QStringLiteral("You never listen to me.")),
            SpeakerTurn(1, 4, 6, QStringLiteral("That's not fair.")),
            SpeakerTurn(3, 6, 9, QStringLiteral("I'm sorry, I see what you mean.")) },
        2 };
    return request;
}

void checkGrant(const HttpsReply& reply)
{
    const auto grant = DeepgramGrantClient::grantOf(reply, grantLifetime);
    if (!grant)
        return;
    require(isVisibleAscii(grant->accessToken) && !grant->accessToken.isEmpty()
            && grant->accessToken.size() <= DeepgramGrantClient::maximumTokenLength,
        "a grant's token is not a header value", grant->accessToken.toUtf8());
    require(grant->expiresIn >= 1 && grant->expiresIn <= grantLifetime, "a grant outlives what was asked");
}

void checkAnalysis(const ModelAnswer& answer, AnalysisRubric rubric)
{
    namespace limits = modelanswer;
    const auto result = modelanswer::readAnalysis(answer, analysisRequest(), rubric);
    if (!result)
        return;
    const qsizetype turns = analysisRequest().turns.size();
    requireCleanText(result->model, limits::modelNameLimit, false, "the model's name");
    requireCleanText(result->summary, limits::summaryLimit, false, "a summary");
    requireCleanText(result->title, limits::titleLimit, "a title");
    requireCleanText(result->adherenceNote, limits::noteLimit, "an adherence note");
    for (const BehaviorAnnotation& annotation : result->annotations) {
        require(
            annotation.turnIndex >= 0 && annotation.turnIndex < turns, "an annotation outside the request");
        require(annotation.confidence >= 0 && annotation.confidence <= 1, "a confidence outside 0...1");
        require(rubric != AnalysisRubric::checkin || isWarm(annotation.code), "a hard moment in a check-in");
    }
    for (const ProcessFoulAnnotation& foul : result->fouls.value_or(QList<ProcessFoulAnnotation> {}))
        require(foul.turnIndex >= 0 && foul.turnIndex < turns, "a foul outside the request");
    for (const QString& nudge : result->nudges.value_or(QList<QString> {}))
        requireCleanText(nudge, limits::nudgeLineLimit, false, "a nudge line");
    require(
        result->nudges.value_or(QList<QString> {}).size() <= limits::maximumNudgeLines, "too many nudges");
    if (result->circularity) {
        requireCleanText(result->circularity->repeatedPoint, limits::noteLimit, true, "a repeated point");
        requireCleanText(result->circularity->rationale, limits::noteLimit, true, "a rationale");
        requireCleanText(result->circularity->resetSuggestion, limits::noteLimit, true, "a reset suggestion");
    }
    if (result->harshStartup)
        requireCleanText(result->harshStartup->note, limits::noteLimit, true, "a harsh start-up note");
}

void checkNudge(const ModelAnswer& answer)
{
    const auto nudge = modelanswer::readNudge(answer);
    if (!nudge)
        return;
    requireCleanText(nudge->title, modelanswer::nudgeTitleLimit, false, "a nudge's title");
    requireCleanText(nudge->guidance, modelanswer::guidanceLimit, false, "a nudge's guidance");
    requireCleanText(nudge->suggestedWords, modelanswer::suggestedWordsLimit, false, "a nudge's words");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    static constexpr std::array<std::size_t, 5> pieces { 1, 7, 200, 4096,
        std::numeric_limits<std::size_t>::max() };
    const std::string_view wire(reinterpret_cast<const char*>(data + 1), size - 1);
    const Outcome outcome = readReply(wire, pieces.at(data[0] % pieces.size()));
    require(outcome.has_value(), "the reader did not end on a closed connection");
    if (!*outcome)
        return 0;
    const HttpsReply& reply = **outcome;
    require(reply.body.size() <= HttpsClient::replyLimit, "a reply body past the limit");
    checkGrant(reply);
    if (const auto answer = AnthropicMessagesClient::answerOf(reply)) {
        checkAnalysis(*answer,
            (data[0] / pieces.size()) % 2 == 0 ? AnalysisRubric::conversation : AnalysisRubric::checkin);
        checkNudge(*answer);
    }
    return 0;
}
