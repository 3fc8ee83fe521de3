#include "appcore/ServiceFailureCode.hpp"

namespace lumora {

QString ServiceFailureCode::of(const ControlPlaneFailure& failure)
{
    if (const auto* refusal = std::get_if<ControlPlaneError>(&failure)) {
        switch (refusal->kind()) {
        case ControlPlaneError::Kind::rejected:
            return QStringLiteral("status_") + QString::number(refusal->status().value_or(0));
        case ControlPlaneError::Kind::rejectedWithCode:
            return refusal->code().value_or(QString());
        case ControlPlaneError::Kind::invalidResponse:
            return QStringLiteral("invalid_response");
        }
    }
    if (const auto* transport = std::get_if<TransportError>(&failure))
        return network(transport->code);
    return QStringLiteral("offline");
}

QString ServiceFailureCode::network(int networkError)
{
    return QStringLiteral("url_error_") + QString::number(networkError);
}

} // namespace lumora
