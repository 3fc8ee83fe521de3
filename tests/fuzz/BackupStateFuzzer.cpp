// The backup bookkeeping: the whole backup-state file's plaintext and single backup records.
#include "FuzzSupport.hpp"
#include "domain/ConversationBackupRecord.hpp"
#include "persistence/ConversationBackupStore.hpp"

using namespace lumora;

LUMORA_FUZZ_QUIET_INITIALIZE

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    return fuzzing::requireRecordsRereadable<ConversationBackupStore::State, ConversationBackupRecord>(
        data, size, { "a backup state does not read back", "a backup record does not read back" });
}
