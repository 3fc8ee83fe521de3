// A week's check-in pack as the control plane sends it.
#include "FuzzSupport.hpp"
#include "domain/CheckinPack.hpp"
#include "domain/JsonObjectReader.hpp"

using namespace lumora;
using namespace lumora::fuzzing;

LUMORA_FUZZ_QUIET_INITIALIZE

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const auto pack = decodeJson<CheckinPack>(bytesOf(data, size));
    if (!pack)
        return 0;
    (void)pack->suggestedMinutes();
    (void)pack->isUsable();
    requireRereadable(*pack, decodeJson<CheckinPack>, "a check-in pack does not read back");
    return 0;
}
