#pragma once

#include <QString>
#include <QStringView>
#include <optional>

namespace lumora {

// Each wire enumeration specialises EnumTraits with `allCases` (declaration order) and
// provides `QString toString(E)`; its raw values are the texts on the wire and on disk.
template <typename E> struct EnumTraits;

// Exact, case-sensitive lookup of a raw value; anything else is no value at all.
template <typename E> std::optional<E> fromString(QStringView text)
{
    for (E value : EnumTraits<E>::allCases) {
        if (toString(value) == text)
            return value;
    }
    return std::nullopt;
}

} // namespace lumora
