#include "wire/NudgeProviderPayload.hpp"

#include "domain/JsonObjectReader.hpp"
#include "domain/JsonWriting.hpp"
#include "domain/Seat.hpp"

#include <QTextBoundaryFinder>
#include <algorithm>

namespace lumora {

qsizetype NudgeProviderPayload::characterCount(const QString& text)
{
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    qsizetype count = 0;
    while (finder.toNextBoundary() != -1)
        ++count;
    return count;
}

NudgeProviderPayload::NudgeProviderPayload(
    QString rubricVersion, const QList<SpeakerTurn>& allTurns, qint64 currentStep, qint64 targetSpeaker)
    : rubricVersion(std::move(rubricVersion))
    , currentStep(std::clamp<qint64>(currentStep, 0, 5))
    , targetSpeaker(seatOf(targetSpeaker))
{
    if (allTurns.isEmpty())
        return;
    const double lastEnd = allTurns.last().end;
    const qsizetype oldestLooked = std::max<qsizetype>(0, allTurns.size() - maximumRetainedTurns);
    qsizetype firstKept = allTurns.size();
    qsizetype characters = 0;
    for (qsizetype i = allTurns.size() - 1; i >= oldestLooked; --i) {
        const SpeakerTurn& turn = allTurns.at(i);
        characters += characterCount(turn.text);
        const bool anyKept = firstKept < allTurns.size();
        if (anyKept && (lastEnd - turn.end > recentWindowSeconds || characters > maximumRetainedCharacters))
            break;
        firstKept = i;
    }
    turns = allTurns.mid(firstKept);
}

QJsonObject NudgeProviderPayload::toJson() const
{
    return { { QStringLiteral("rubricVersion"), rubricVersion },
        { QStringLiteral("turns"), toJsonArray(turns) }, { QStringLiteral("currentStep"), currentStep },
        { QStringLiteral("targetSpeaker"), targetSpeaker } };
}

std::expected<NudgeProviderPayload, JsonDecodeError> NudgeProviderPayload::fromJson(const QJsonValue& value)
{
    JsonObjectReader reader(value, QStringLiteral("NudgeProviderPayload"));
    NudgeProviderPayload payload;
    payload.rubricVersion = reader.string(u"rubricVersion");
    payload.turns = reader.list<SpeakerTurn>(u"turns");
    payload.currentStep = reader.integer(u"currentStep");
    payload.targetSpeaker = reader.integer(u"targetSpeaker");
    return finish(reader, std::move(payload));
}

} // namespace lumora
