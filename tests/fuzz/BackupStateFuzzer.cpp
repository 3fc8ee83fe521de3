// The backup bookkeeping: single backup records and the whole backup-state file's plaintext.
#include "FuzzSupport.hpp"
#include "domain/ConversationBackupRecord.hpp"
#include "domain/JsonObjectReader.hpp"
#include "persistence/ConversationBackupStore.hpp"

using namespace lumora;
using namespace lumora::fuzzing;

LUMORA_FUZZ_QUIET_INITIALIZE

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    const QByteArray json = bytesOf(data + 1, size - 1);
    if (data[0] % 2 == 0) {
        using State = ConversationBackupStore::State;
        if (const auto state = decodeJson<State>(json))
            requireRereadable(*state, decodeJson<State>, "a backup state does not read back");
    } else {
        if (const auto record = decodeJson<ConversationBackupRecord>(json))
            requireRereadable(
                *record, decodeJson<ConversationBackupRecord>, "a backup record does not read back");
    }
    return 0;
}
