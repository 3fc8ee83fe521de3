#include "domain/SpeakerTurn.hpp"

#include "domain/JsonObjectReader.hpp"
#include "domain/Seat.hpp"

namespace lumora {

SpeakerTurn::SpeakerTurn(qint64 speaker, double start, double end, QString text)
    : speaker(signedSpeakerRemainder(speaker))
    , start(start)
    , end(end)
    , text(std::move(text))
{
}

QJsonObject SpeakerTurn::toJson() const
{
    return { { QStringLiteral("speaker"), speaker }, { QStringLiteral("start"), start },
        { QStringLiteral("end"), end }, { QStringLiteral("text"), text } };
}

std::expected<SpeakerTurn, JsonDecodeError> SpeakerTurn::fromJson(const QJsonValue& value)
{
    JsonObjectReader reader(value, QStringLiteral("SpeakerTurn"));
    SpeakerTurn turn;
    turn.speaker = reader.integer(u"speaker");
    turn.start = reader.number(u"start");
    turn.end = reader.number(u"end");
    turn.text = reader.string(u"text");
    return finish(reader, std::move(turn));
}

} // namespace lumora
