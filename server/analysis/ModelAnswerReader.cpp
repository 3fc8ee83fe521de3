#include "analysis/ModelAnswerReader.hpp"

#include "domain/Seat.hpp"
#include "domain/VisibleText.hpp"

#include <QJsonArray>
#include <QJsonDocument>
#include <QSet>
#include <cmath>

namespace lumora::modelanswer {

namespace {

// The answer's JSON object; a single Markdown code fence around it is tolerated.
std::optional<QJsonObject> answerObject(const QString& text)
{
    QString body = text.trimmed();
    if (body.startsWith(u"```")) {
        const qsizetype firstLine = body.indexOf(u'\n');
        if (firstLine < 0 || !body.endsWith(u"```"))
            return std::nullopt;
        body = body.mid(firstLine + 1, body.size() - firstLine - 4).trimmed();
    }
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(body.toUtf8(), &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return std::nullopt;
    return document.object();
}

// A text of 1 to `limit` units once trimmed, without control characters; format
// characters are taken out first.
std::optional<QString> text(const QJsonValue& value, qsizetype limit)
{
    if (!value.isString())
        return std::nullopt;
    const QString trimmed = VisibleText::withoutFormat(value.toString()).trimmed();
    if (trimmed.isEmpty() || trimmed.size() > limit || VisibleText::holdsInvisible(trimmed))
        return std::nullopt;
    return trimmed;
}

// Like `text`, but an empty string is allowed (evidence that found nothing).
std::optional<QString> textOrEmpty(const QJsonValue& value, qsizetype limit)
{
    if (value.isString() && value.toString().trimmed().isEmpty())
        return QString();
    return text(value, limit);
}

std::optional<double> confidence(const QJsonValue& value)
{
    if (!value.isDouble())
        return std::nullopt;
    const double number = value.toDouble();
    if (!std::isfinite(number) || number < 0 || number > 1)
        return std::nullopt;
    return number;
}

// A whole number in [0, count).
std::optional<qint64> index(const QJsonValue& value, qint64 count)
{
    if (!value.isDouble())
        return std::nullopt;
    const double number = value.toDouble();
    if (!std::isfinite(number) || number != std::floor(number) || number < 0 || number >= double(count))
        return std::nullopt;
    return static_cast<qint64>(number);
}

template <typename E> std::optional<E> enumeration(const QJsonValue& value)
{
    return value.isString() ? fromString<E>(value.toString()) : std::nullopt;
}

// One finding's turn, kind and confidence, or nothing when any of them breaks a rule.
template <typename E> struct Finding {
    qint64 turn;
    E kind;
    double confidence;
};

template <typename E>
std::optional<Finding<E>> finding(const QJsonValue& item, QStringView kindKey, qint64 turnCount)
{
    const QJsonObject object = item.toObject();
    const auto turn = index(object.value("turn_index"), turnCount);
    const auto kind = enumeration<E>(object.value(kindKey));
    const auto sure = confidence(object.value("confidence"));
    if (!item.isObject() || !turn || !kind || !sure)
        return std::nullopt;
    return Finding<E> { *turn, *kind, *sure };
}

std::optional<StepDetection> stepDetection(const QJsonValue& value)
{
    const QJsonObject object = value.toObject();
    const auto step = index(object.value("index"), 6);
    const auto sure = confidence(object.value("confidence"));
    if (!value.isObject() || !step || !sure)
        return std::nullopt;
    return StepDetection { *step, *sure };
}

std::optional<CircularityEvidence> circularity(const QJsonValue& value)
{
    const QJsonObject object = value.toObject();
    const QJsonValue detected = object.value("detected");
    const auto sure = confidence(object.value("confidence"));
    const auto point = textOrEmpty(object.value("repeated_point"), noteLimit);
    const auto rationale = textOrEmpty(object.value("rationale"), noteLimit);
    const auto reset = textOrEmpty(object.value("reset_suggestion"), noteLimit);
    if (!value.isObject() || !detected.isBool() || !sure || !point || !rationale || !reset)
        return std::nullopt;
    return CircularityEvidence { detected.toBool(), *sure, *point, *rationale, *reset };
}

std::optional<HarshStartupEvidence> harshStartup(const QJsonValue& value)
{
    const QJsonObject object = value.toObject();
    const QJsonValue detected = object.value("detected");
    const auto sure = confidence(object.value("confidence"));
    const auto note = textOrEmpty(object.value("note"), noteLimit);
    if (!value.isObject() || !detected.isBool() || !sure || !note)
        return std::nullopt;
    return HarshStartupEvidence { detected.toBool(), *sure, *note };
}

} // namespace

std::expected<AnalysisProviderResult, std::string> readAnalysis(
    const ModelAnswer& answer, const AnalysisProviderPayload& request, AnalysisRubric rubric)
{
    const auto object = answerObject(answer.text);
    if (!object)
        return std::unexpected("the answer is not a JSON object");
    const auto model = text(answer.model, modelNameLimit);
    if (!model || answer.inputTokens < 0 || answer.outputTokens < 0)
        return std::unexpected("the service's account of the call is incomplete");
    const auto summary = text(object->value("summary"), summaryLimit);
    if (!summary)
        return std::unexpected("the answer has no usable summary");
    const QJsonValue annotations = object->value("annotations");
    if (!annotations.isArray())
        return std::unexpected("the answer has no annotation list");

    const bool gentle = rubric == AnalysisRubric::checkin;
    const QList<SpeakerTurn>& turns = request.turns;
    const qint64 turnCount = turns.size();
    AnalysisProviderResult result;
    result.model = *model;
    result.summary = *summary;
    result.inputTokens = answer.inputTokens;
    result.outputTokens = answer.outputTokens;
    result.title = text(object->value("title"), titleLimit);

    QSet<std::pair<qint64, int>> seen;
    for (const QJsonValue& item : annotations.toArray()) {
        const auto found = finding<BehaviorCode>(item, u"code", turnCount);
        // A check-in reports warm moments only.
        if (!found || (gentle && !isWarm(found->kind)) || seen.contains({ found->turn, int(found->kind) }))
            continue;
        seen.insert({ found->turn, int(found->kind) });
        const SpeakerTurn& turn = turns.at(found->turn);
        result.annotations.append(BehaviorAnnotation(
            found->turn, seatOf(turn.speaker), found->kind, found->confidence, turn.start, turn.end));
    }

    result.fouls = QList<ProcessFoulAnnotation> {};
    seen.clear();
    for (const QJsonValue& item : gentle ? QJsonArray() : object->value("fouls").toArray()) {
        const auto found = finding<ProcessFoul>(item, u"foul", turnCount);
        if (!found || seen.contains({ found->turn, int(found->kind) }))
            continue;
        seen.insert({ found->turn, int(found->kind) });
        const SpeakerTurn& turn = turns.at(found->turn);
        result.fouls->append(ProcessFoulAnnotation(
            found->turn, turn.speaker, found->kind, found->confidence, turn.start, turn.end));
    }

    result.stepDetected = stepDetection(object->value("step_detected"));
    result.adherenceNote = text(object->value("adherence_note"), noteLimit);
    QList<QString> nudges;
    for (const QJsonValue& line : object->value("nudges").toArray()) {
        const auto nudge = text(line, nudgeLineLimit);
        if (nudge && !nudges.contains(*nudge) && nudges.size() < maximumNudgeLines)
            nudges.append(*nudge);
    }
    result.nudges = nudges;
    if (!gentle) {
        result.circularity = circularity(object->value("circularity"));
        result.harshStartup = harshStartup(object->value("harsh_startup"));
    }
    return result;
}

std::expected<ConversationNudge, std::string> readNudge(const ModelAnswer& answer)
{
    const auto object = answerObject(answer.text);
    if (!object)
        return std::unexpected("the answer is not a JSON object");
    const auto title = text(object->value("title"), nudgeTitleLimit);
    const auto guidance = text(object->value("guidance"), guidanceLimit);
    const auto words = text(object->value("suggested_words"), suggestedWordsLimit);
    if (!title || !guidance || !words)
        return std::unexpected("the answer lacks a usable title, guidance or suggested words");
    return ConversationNudge { *title, *guidance, *words };
}

} // namespace lumora::modelanswer
