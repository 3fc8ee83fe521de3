#pragma once

#include "domain/JsonWriting.hpp"

namespace lumora {

// Identifiers as the control plane stores and writes them: lower-case UUID text.
inline QString idText(const QUuid& id)
{
    return uuidText(id, UuidCase::lower);
}

} // namespace lumora
