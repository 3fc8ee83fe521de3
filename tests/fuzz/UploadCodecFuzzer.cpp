// The account upload body: what the control plane accepts from any signed-in device and what
// every client reads back from the account history.
#include "FuzzSupport.hpp"
#include "domain/ConversationUploadCodec.hpp"
#include "domain/DerivedSessionResult.hpp"
#include "domain/JsonObjectReader.hpp"

using namespace lumora;
using namespace lumora::fuzzing;

LUMORA_FUZZ_QUIET_INITIALIZE

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const auto payload = ConversationUploadCodec::payload(bytesOf(data, size));
    if (!payload)
        return 0;
    const auto encoded = ConversationUploadCodec::encode(*payload);
    if (!encoded)
        broken("an accepted upload body cannot be written again");
    const auto again = ConversationUploadCodec::payload(*encoded);
    if (!again)
        broken("a written upload body does not read back", *encoded + "\n" + again.error().message.toUtf8());
    require(
        ConversationUploadCodec::encode(*again) == encoded, "a written upload body changes when rewritten");

    // Shrinking to a smaller limit either fails as too large or gives a body within the limit
    // that reads back.
    const qint64 limit = encoded->size() * 3 / 4;
    if (const auto shrunk = ConversationUploadCodec::body(*payload, limit)) {
        require(shrunk->size() <= limit, "a shrunk body exceeds its limit");
        require(ConversationUploadCodec::payload(*shrunk).has_value(), "a shrunk body does not read back");
    } else {
        require(
            shrunk.error() == ConversationUploadCodecError::tooLarge, "shrinking fails other than too large");
    }

    // A fetched conversation becomes a review that is sealed on disk: it must read back.
    requireRereadable(payload->derivedResult(), decodeJson<DerivedSessionResult>,
        "the review of an accepted upload does not read back");

    // What the application uploads of a review is what a reader takes.
    DerivedSessionResult review = payload->derivedResult();
    review.title = review.title.value_or(QString()) + QStringLiteral("\u202E\n");
    if (const auto uploaded = ConversationUploadCodec::encode(
            ConversationUploadPayload::fromResult(review, payload->conversationID))) {
        const auto read = ConversationUploadCodec::payload(*uploaded);
        require(read.has_value(), "the application uploads what it refuses to read",
            *uploaded + "\n" + (read ? QString() : read.error().message).toUtf8());
    }
    return 0;
}
