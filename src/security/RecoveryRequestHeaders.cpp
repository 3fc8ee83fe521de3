#include "security/RecoveryRequestHeaders.hpp"

#include "security/AuthorizationText.hpp"

namespace lumora {

QString RecoveryRequestHeaders::authorization() const
{
    return QStringLiteral("Recover ") + QString::number(timestamp) + u':' + authorization::lowerUuid(nonce)
        + u':' + signature;
}

std::optional<RecoveryRequestHeaders> RecoveryRequestHeaders::fromAuthorization(QStringView value)
{
    const auto parts = authorization::fields(value, u"Recover", 3);
    if (!parts)
        return std::nullopt;
    const auto timestamp = authorization::timestamp(parts->at(0));
    const auto nonce = authorization::uuid(parts->at(1));
    const auto signature = authorization::signature(parts->at(2));
    if (!timestamp || !nonce || !signature)
        return std::nullopt;
    return RecoveryRequestHeaders { *timestamp, *nonce, *signature };
}

} // namespace lumora
