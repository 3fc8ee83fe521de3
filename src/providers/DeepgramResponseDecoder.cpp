#include "providers/DeepgramResponseDecoder.hpp"

#include "domain/JsonObjectReader.hpp"
#include "domain/Seat.hpp"
#include "providers/DeepgramWord.hpp"

#include <QJsonArray>

namespace lumora {

std::expected<DeepgramTranscript, JsonDecodeError> DeepgramResponseDecoder::decode(const QByteArray& data)
{
    const auto object = parseJsonObject(data);
    if (!object)
        return std::unexpected(object.error());
    JsonObjectReader reply(*object, QStringLiteral("response"));
    JsonObjectReader metadata(reply.nestedObject(u"metadata"), QStringLiteral("metadata"));
    JsonObjectReader results(reply.nestedObject(u"results"), QStringLiteral("results"));
    if (reply.failed())
        return std::unexpected(*reply.error());
    const std::optional<double> duration = metadata.optionalNumber(u"duration");
    if (metadata.failed())
        return std::unexpected(*metadata.error());
    const QJsonValue channels = results.object().value(u"channels");
    if (!channels.isArray()) {
        results.fail(u"channels", QStringLiteral("expected an array"));
        return std::unexpected(*results.error());
    }

    // Every channel must decode, though only the first one's words are used.
    QList<DeepgramWord> words;
    const QJsonArray channelList = channels.toArray();
    for (qsizetype i = 0; i < channelList.size(); ++i) {
        auto channelWords = firstAlternativeWords(channelList.at(i));
        if (!channelWords)
            return std::unexpected(JsonDecodeError {
                QStringLiteral("results.channels[%1]: %2").arg(i).arg(channelWords.error().message) });
        if (i == 0)
            words = std::move(*channelWords);
    }

    DeepgramTranscript transcript;
    for (const DeepgramWord& word : words) {
        const qint64 seat = signedSpeakerRemainder(word.speaker.value_or(0));
        if (!transcript.turns.isEmpty() && transcript.turns.last().speaker == seat) {
            SpeakerTurn& turn = transcript.turns.last();
            turn.text += u' ' + word.text();
            turn.end = word.end;
        } else {
            transcript.turns.append(SpeakerTurn(seat, word.start, word.end, word.text()));
        }
    }
    if (duration)
        transcript.duration = *duration;
    else if (!transcript.turns.isEmpty())
        transcript.duration = transcript.turns.last().end;
    return transcript;
}

} // namespace lumora
