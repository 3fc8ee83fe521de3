#include "analysis/ModelPrompts.hpp"

#include "domain/BehaviorCode.hpp"
#include "domain/ConversationMethod.hpp"
#include "domain/ProcessFoul.hpp"
#include "domain/Seat.hpp"
#include "wire/AnalysisPass.hpp"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace lumora::modelprompts {

namespace {

QString agendaText()
{
    QString text;
    for (const ConversationAgendaStep& step : ConversationMethod::agenda())
        text += QStringLiteral("  %1: %2\n").arg(step.id).arg(step.name);
    return text;
}

QJsonArray turnsJson(const QList<SpeakerTurn>& turns)
{
    QJsonArray items;
    for (qsizetype i = 0; i < turns.size(); ++i) {
        const SpeakerTurn& turn = turns.at(i);
        items.append(QJsonObject { { "index", i }, { "seat", seatOf(turn.speaker) }, { "start", turn.start },
            { "end", turn.end }, { "text", turn.text } });
    }
    return items;
}

template <typename E> QString caseList()
{
    QStringList names;
    for (const E value : EnumTraits<E>::allCases)
        names << toString(value);
    return names.join(QStringLiteral(", "));
}

QString compact(const QJsonObject& object)
{
    return QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact));
}

const char* const analysisShape = R"(Answer with one JSON object and nothing else, in this shape:
{
  "title": "a short title for the conversation, at most 80 characters",
  "summary": "two or three plain sentences, at most 600 characters",
  "annotations": [{"turn_index": 0, "code": "criticism", "confidence": 0.8}],
  "fouls": [{"turn_index": 0, "foul": "globalizing", "confidence": 0.7}],
  "step_detected": {"index": 2, "confidence": 0.6},
  "adherence_note": "one sentence on how the talk follows the agenda step, or null",
  "nudges": ["one short coaching line, at most 160 characters"],
  "circularity": {"detected": false, "confidence": 0.5, "repeated_point": "", "rationale": "", "reset_suggestion": ""},
  "harsh_startup": {"detected": false, "confidence": 0.5, "note": ""}
}
Rules: "turn_index" is the "index" of a turn of the request. Confidences are numbers from 0 to 1.
"code" is one of %1.
"foul" is one of %2.
Mark a turn only where its words show the behaviour; an empty list is a good answer.
"step_detected" is null when no agenda step is recognisable. At most three nudges.
)";

} // namespace

QString analysisSystem(AnalysisRubric rubric)
{
    QString prompt = QStringLiteral(
        "You analyse a conversation between two partners, transcribed into turns with a seat (0 or 1), "
        "start and end seconds and text. You are a careful couples-communication coach: you name "
        "behaviours precisely and kindly, and you never take sides.\n"
        "The partners follow a six-step agenda:\n");
    prompt += agendaText();
    if (rubric == AnalysisRubric::checkin) {
        prompt += QStringLiteral(
            "This is a gentle weekly check-in. Report only warm moments (codes repair and positive); "
            "leave \"fouls\" empty and \"circularity\" and \"harsh_startup\" null. Keep the summary and "
            "nudges encouraging.\n");
    } else {
        prompt += QStringLiteral(
            "Mark the Four Horsemen (criticism, contempt, defensiveness, stonewalling) and the warm moments "
            "(repair, positive); process fouls; whether the same point keeps coming back (circularity); "
            "and, when the request holds the opening turns, whether the conversation started harshly.\n");
    }
    prompt += QString::fromUtf8(analysisShape).arg(caseList<BehaviorCode>(), caseList<ProcessFoul>());
    return prompt;
}

QString analysisUser(const AnalysisProviderPayload& request)
{
    QJsonObject body { { "pass", toString(request.pass) }, { "turns", turnsJson(request.turns) } };
    if (request.currentStep)
        body.insert("current_agenda_step", *request.currentStep);
    return compact(body);
}

QString nudgeSystem()
{
    QString prompt = QStringLiteral(
        "You coach one partner of a couple, live, in the middle of a conversation. You receive the "
        "recent turns (seat 0 or 1, start and end seconds, text), the agenda step the partners are on "
        "and the seat of the partner the nudge is for. Write one short, kind, concrete nudge for that "
        "partner about what to do next. The agenda:\n");
    prompt += agendaText();
    prompt += QStringLiteral(
        "Answer with one JSON object and nothing else, in this shape:\n"
        "{\"title\": \"at most 60 characters\", \"guidance\": \"one or two sentences, at most 300 "
        "characters\", \"suggested_words\": \"words the partner could say, at most 200 characters\"}\n");
    return prompt;
}

QString nudgeUser(const NudgeProviderPayload& request)
{
    return compact({ { "target_seat", seatOf(request.targetSpeaker) },
        { "current_agenda_step", request.currentStep }, { "turns", turnsJson(request.turns) } });
}

} // namespace lumora::modelprompts
