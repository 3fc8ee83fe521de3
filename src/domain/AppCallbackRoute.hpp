#pragma once

#include <cstddef>
#include <optional>

class QUrl;

namespace lumora {

// Where a URL that the desktop hands to the application leads. Only the return of the
// sign-in web flow is recognised; every other URL is ignored.
class AppCallbackRoute {
public:
    enum Kind {
        appleAuthorization,
    };

    constexpr AppCallbackRoute(Kind kind)
        : kind_(kind)
    {
    }
    constexpr Kind kind() const { return kind_; }
    bool operator==(const AppCallbackRoute&) const = default;
    friend constexpr size_t qHash(AppCallbackRoute route, size_t seed = 0) noexcept
    {
        return size_t(route.kind_) ^ seed;
    }

    // Classifies by scheme ("corvane" or "lumora") and host ("apple-auth"), both
    // case-insensitive; path, query and fragment play no part.
    static std::optional<AppCallbackRoute> resolve(const QUrl& url);

private:
    Kind kind_;
};

} // namespace lumora
