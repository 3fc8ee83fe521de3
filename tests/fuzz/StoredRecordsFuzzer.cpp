// The records kept on this computer and in the account history list: a sealed file's review
// (its plaintext, once opened) and the conversation summaries of the history.
#include "FuzzSupport.hpp"
#include "domain/ConversationRecordSummary.hpp"
#include "domain/DerivedSessionResult.hpp"
#include "domain/JsonObjectReader.hpp"

using namespace lumora;
using namespace lumora::fuzzing;

LUMORA_FUZZ_QUIET_INITIALIZE

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // The first byte picks the record, so one corpus grows inputs for both.
    if (size == 0)
        return 0;
    const QByteArray json = bytesOf(data + 1, size - 1);
    if (data[0] % 2 == 0) {
        if (const auto review = decodeJson<DerivedSessionResult>(json))
            requireRereadable(
                *review, decodeJson<DerivedSessionResult>, "a stored review does not read back");
    } else {
        if (const auto summary = decodeJson<ConversationRecordSummary>(json))
            requireRereadable(
                *summary, decodeJson<ConversationRecordSummary>, "a conversation summary does not read back");
    }
    return 0;
}
