#include "security/SignedRequestHeaders.hpp"

#include "security/AuthorizationText.hpp"

namespace lumora {

QString SignedRequestHeaders::authorization() const
{
    return QStringLiteral("Device ") + authorization::lowerUuid(deviceID) + u':' + QString::number(timestamp)
        + u':' + authorization::lowerUuid(nonce) + u':' + signature;
}

std::optional<SignedRequestHeaders> SignedRequestHeaders::fromAuthorization(QStringView value)
{
    const auto parts = authorization::fields(value, u"Device", 4);
    if (!parts)
        return std::nullopt;
    const auto deviceID = authorization::uuid(parts->at(0));
    const auto timestamp = authorization::timestamp(parts->at(1));
    const auto nonce = authorization::uuid(parts->at(2));
    const auto signature = authorization::signature(parts->at(3));
    if (!deviceID || !timestamp || !nonce || !signature)
        return std::nullopt;
    return SignedRequestHeaders { *deviceID, *timestamp, *nonce, *signature };
}

} // namespace lumora
