#include "domain/ConversationUploadCodec.hpp"

#include "domain/JsonObjectReader.hpp"

#include <QJsonDocument>
#include <cmath>

namespace lumora {

namespace {

bool isNonFiniteNumber(const QJsonValue& value)
{
    return value.isDouble() && !std::isfinite(value.toDouble());
}

bool fits(const QByteArray& body, qint64 maximumBytes)
{
    return body.size() <= maximumBytes;
}

} // namespace

std::expected<QByteArray, ConversationUploadCodecError> ConversationUploadCodec::encode(
    const ConversationUploadPayload& payload)
{
    const QJsonObject json = payload.toJson();
    if (anyJsonValue(json, isNonFiniteNumber))
        return std::unexpected(ConversationUploadCodecError::nonFiniteNumber);
    return QJsonDocument(json).toJson(QJsonDocument::Compact);
}

std::expected<QByteArray, ConversationUploadCodecError> ConversationUploadCodec::body(
    const ConversationUploadPayload& payload, qint64 maximumBytes)
{
    auto plain = encode(payload);
    if (!plain || fits(*plain, maximumBytes))
        return plain;

    ConversationUploadPayload working = payload;
    if (working.analysis) {
        const bool hasDetail = !working.analysis->annotations.isEmpty() || !working.analysis->fouls.isEmpty();
        working.analysis = working.analysis->withoutAnnotations();
        if (hasDetail) {
            auto lighter = encode(working);
            if (!lighter || fits(*lighter, maximumBytes))
                return lighter;
        }
    }

    // Drop the end of the conversation a fifth at a time; the beginning carries its context.
    const QList<SpeakerTurn> segments = payload.transcript.segments;
    qsizetype count = segments.size();
    while (count >= 2) {
        count = count * 4 / 5;
        working.transcript.segments = segments.first(count);
        working.transcript.truncated = true;
        auto shortened = encode(working);
        if (!shortened || fits(*shortened, maximumBytes))
            return shortened;
    }
    return std::unexpected(ConversationUploadCodecError::tooLarge);
}

std::expected<ConversationUploadPayload, JsonDecodeError> ConversationUploadCodec::payload(
    const QByteArray& body)
{
    return decodeJson<ConversationUploadPayload>(body);
}

} // namespace lumora
