#include "domain/JsonObjectReader.hpp"
#include "providers/ControlPlaneClient.hpp"

namespace lumora {

namespace {

// The reply body; keys other than "pack" are ignored.
struct CheckinPackResponse {
    CheckinPack pack;

    static std::expected<CheckinPackResponse, JsonDecodeError> fromJson(const QJsonValue& value)
    {
        JsonObjectReader reader(value, QStringLiteral("CheckinPackResponse"));
        CheckinPackResponse response { reader.record<CheckinPack>(u"pack") };
        return finish(reader, std::move(response));
    }
};

} // namespace

QCoro::Task<std::expected<CheckinPack, ControlPlaneFailure>> ControlPlaneClient::checkinPack() const
{
    auto reply = co_await rawSend(
        QStringLiteral("/v1/content/checkins/pack"), QStringLiteral("GET"), {}, QByteArray(), std::nullopt);
    if (!reply)
        co_return std::unexpected(reply.error());
    // The pack names its snake-case keys itself, so the reply keys are read as they stand
    // rather than through the client's key conversion.
    auto decoded = decodeJson<CheckinPackResponse>(reply->data);
    if (!decoded)
        co_return std::unexpected(ControlPlaneFailure(decoded.error()));
    co_return std::move(decoded->pack);
}

} // namespace lumora
