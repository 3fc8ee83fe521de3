// What pairing reads from outside: the partner code a person types and the control plane's
// pairing replies.
#include "FuzzSupport.hpp"
#include "domain/JsonObjectReader.hpp"
#include "domain/PairingCode.hpp"
#include "domain/PairingConfirmation.hpp"
#include "domain/PairingInvite.hpp"
#include "domain/PairingRedemption.hpp"
#include "domain/PairingState.hpp"

using namespace lumora;
using namespace lumora::fuzzing;

LUMORA_FUZZ_QUIET_INITIALIZE

namespace {

void checkCode(const QByteArray& typed)
{
    const auto code = PairingCode::normalize(QString::fromUtf8(typed));
    if (!code)
        return;
    require(code->size() == PairingCode::length, "a normalised code has the wrong length", code->toUtf8());
    for (const QChar c : *code)
        require(PairingCode::alphabet.contains(c), "a normalised code leaves the alphabet", code->toUtf8());
    require(PairingCode::normalize(*code) == code, "normalising a code twice changes it", code->toUtf8());
    require(PairingCode::normalize(PairingCode::formatted(*code)) == code,
        "the display form of a code reads as another code", code->toUtf8());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    const QByteArray rest = bytesOf(data + 1, size - 1);
    switch (data[0] % 5) {
    case 0:
        checkCode(rest);
        break;
    case 1:
        (void)decodeJson<PairingInvite>(rest);
        break;
    case 2:
        (void)decodeJson<PairingRedemption>(rest);
        break;
    case 3:
        (void)decodeJson<PairingConfirmation>(rest);
        break;
    default:
        if (const auto state = decodeJson<PairingState>(rest))
            (void)state->conversationsInPreviousWorkspaces();
        break;
    }
    return 0;
}
