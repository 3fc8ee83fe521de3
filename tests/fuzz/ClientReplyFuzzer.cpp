// The signed client's reply decoder: snake-case keys turned into field names at every depth,
// then the record read, for each reply the client decodes this way.
#include "FuzzSupport.hpp"
#include "providers/AccountRecords.hpp"
#include "providers/ControlPlaneBootstrap.hpp"
#include "providers/ControlPlaneClient.hpp"
#include "providers/DeletionResponse.hpp"
#include "wire/AnalysisProviderResult.hpp"
#include "wire/ControlPlaneJson.hpp"
#include "wire/ConversationNudge.hpp"

using namespace lumora;
using namespace lumora::fuzzing;

LUMORA_FUZZ_QUIET_INITIALIZE

namespace {

// Records the client also writes must survive its encoder and decoder unchanged.
template <typename T> void decodeAndRewrite(const QByteArray& body, const char* what)
{
    const ControlPlaneDecoder decoder = makeControlPlaneDecoder();
    const auto record = decoder.decode<T>(body);
    if (!record)
        return;
    const QByteArray written = ControlPlaneEncoder().encode(record->toJson());
    const auto again = decoder.decode<T>(written);
    if (!again)
        broken(what, written + "\n" + again.error().message.toUtf8());
    require(ControlPlaneEncoder().encode(again->toJson()) == written, what, written);
}

void exerciseKeyNames(const QByteArray& bytes)
{
    const QString text = QString::fromUtf8(bytes);
    (void)ControlPlaneEncoder::snakeCaseKey(ControlPlaneDecoder::fieldName(text));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    const QByteArray body = bytesOf(data + 1, size - 1);
    const ControlPlaneDecoder decoder = makeControlPlaneDecoder();
    switch (data[0] % 10) {
    case 0:
        decodeAndRewrite<AccountState>(body, "an account state does not read back");
        break;
    case 1:
        decodeAndRewrite<DeviceRegistration>(body, "a device registration does not read back");
        break;
    case 2:
        decodeAndRewrite<ConversationSessionState>(body, "a session state does not read back");
        break;
    case 3:
        decodeAndRewrite<UsageReservation>(body, "a reservation does not read back");
        break;
    case 4:
        decodeAndRewrite<DeepgramGrant>(body, "a speech grant does not read back");
        break;
    case 5:
        (void)decoder.decode<ControlPlaneErrorResponse>(body);
        break;
    case 6:
        (void)decoder.decode<DeletionResponse>(body);
        (void)decodeJson<AppleWebAuthorizationResponse>(body);
        break;
    case 7:
        (void)decoder.decode<ConversationNudge>(body);
        break;
    case 8:
        (void)decoder.decode<AnalysisProviderResult>(body);
        break;
    default:
        exerciseKeyNames(body);
        break;
    }
    return 0;
}
