#include "domain/AppCallbackRoute.hpp"

#include <QUrl>
#include <algorithm>
#include <array>

namespace lumora {

std::optional<AppCallbackRoute> AppCallbackRoute::resolve(const QUrl& url)
{
    static constexpr std::array<QStringView, 2> acceptedSchemes { u"corvane", u"lumora" };
    static constexpr QStringView routeHost = u"apple-auth";

    const QString scheme = url.scheme().toLower();
    if (scheme.isEmpty()
        || std::find(acceptedSchemes.begin(), acceptedSchemes.end(), scheme) == acceptedSchemes.end())
        return std::nullopt;
    const QString host = url.host().toLower();
    if (host != routeHost)
        return std::nullopt;
    return appleAuthorization;
}

} // namespace lumora
