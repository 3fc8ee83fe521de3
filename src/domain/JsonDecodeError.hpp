#pragma once

#include <QString>

namespace lumora {

// Why a JSON document could not be read as the record asked for. The message names the
// key path, for logs; it is never shown to a user.
struct JsonDecodeError {
    QString message;
    bool operator==(const JsonDecodeError&) const = default;
};

} // namespace lumora
