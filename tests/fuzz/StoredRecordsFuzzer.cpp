// The records kept on this computer and in the account history list: a sealed file's review
// (its plaintext, once opened) and the conversation summaries of the history.
#include "FuzzSupport.hpp"
#include "domain/ConversationRecordSummary.hpp"
#include "domain/DerivedSessionResult.hpp"

using namespace lumora;

LUMORA_FUZZ_QUIET_INITIALIZE

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    return fuzzing::requireRecordsRereadable<DerivedSessionResult, ConversationRecordSummary>(
        data, size, { "a stored review does not read back", "a conversation summary does not read back" });
}
