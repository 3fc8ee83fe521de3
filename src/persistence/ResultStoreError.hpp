#pragma once

#include "domain/JsonDecodeError.hpp"
#include "persistence/FileSystemError.hpp"
#include "security/CryptoError.hpp"
#include "security/SecureStoreError.hpp"

#include <variant>

namespace lumora {

// The result store's own failure: sealing gave no box of the expected form.
enum class ResultStoreError { invalidEnvelope };

// Any failure of a result store operation, passed on as it came from the file system, the
// key store, the cipher or the JSON reader.
using ResultStoreFailure
    = std::variant<ResultStoreError, FileSystemError, SecureStoreError, CryptoError, JsonDecodeError>;

} // namespace lumora
