#pragma once

#include "domain/ConversationUploadPayload.hpp"
#include "domain/JsonDecodeError.hpp"

#include <QByteArray>
#include <expected>

namespace lumora {

enum class ConversationUploadCodecError {
    // Even a single segment without annotations and fouls does not fit the limit.
    tooLarge,
    // A number in the document is not finite; JSON cannot carry it, and writing null in
    // its place would store a document that no longer reads back.
    nonFiniteNumber,
};

// Writes and reads the account upload body: compact JSON with the document's own keys.
struct ConversationUploadCodec {
    // The plain encoding of a payload.
    [[nodiscard]] static std::expected<QByteArray, ConversationUploadCodecError> encode(
        const ConversationUploadPayload& payload);

    // The encoded body, shrunk until it holds at most `maximumBytes` bytes: first without
    // annotations and fouls, then keeping the first four fifths of the segments (marked
    // truncated) again and again while at least 2 remain. Summary, title and statistics are
    // never shortened.
    [[nodiscard]] static std::expected<QByteArray, ConversationUploadCodecError> body(
        const ConversationUploadPayload& payload,
        qint64 maximumBytes = ConversationUploadPayload::maximumBodyBytes);

    [[nodiscard]] static std::expected<ConversationUploadPayload, JsonDecodeError> payload(
        const QByteArray& body);
};

} // namespace lumora
