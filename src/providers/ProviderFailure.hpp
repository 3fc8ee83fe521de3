#pragma once

#include <any>
#include <concepts>
#include <expected>
#include <type_traits>
#include <utility>

namespace lumora {

namespace detail {
template <typename T> inline constexpr bool isExpected = false;
template <typename T, typename E> inline constexpr bool isExpected<std::expected<T, E>> = true;
} // namespace detail

// What a provider collaborator fails with: the conformer's own error value, passed on
// unchanged (the control-plane client's `ControlPlaneFailure`, the speech client's or the
// inert analysis provider's own error). Holders that care ask for a kind they know.
class ProviderFailure {
public:
    // Never from an expected: std::expected asks whether its error type is constructible from
    // one, and for this catch-all constructor clang would have to answer that recursively.
    template <typename E>
    requires(
        !std::same_as<std::remove_cvref_t<E>,
            ProviderFailure> && !detail::isExpected<std::remove_cvref_t<E>>) explicit ProviderFailure(E error)
        : m_error(std::move(error))
    {
    }

    // The failure as an E, or null when the conformer failed with another kind.
    template <typename E> [[nodiscard]] const E* as() const { return std::any_cast<E>(&m_error); }

private:
    std::any m_error;
};

} // namespace lumora
