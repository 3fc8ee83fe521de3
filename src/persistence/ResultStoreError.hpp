#pragma once

#include "domain/JsonDecodeError.hpp"
#include "persistence/FileSystemError.hpp"
#include "security/CryptoError.hpp"
#include "security/SecureStoreError.hpp"

#include <variant>

namespace lumora {

// The file stores' own failures.
enum class ResultStoreError {
    // Sealing gave no box of the expected form.
    invalidEnvelope,
    // The file was written by a newer version of the application in a form this one cannot
    // read, or would lose parts of by rewriting it; it is left as it is.
    newerFormat,
    // The store's folder is a symbolic link, so removing "its" files could reach elsewhere.
    unsafeFolder,
    // The review or record belongs to another account than the one asking: it is neither shown
    // to nor changed by this one.
    otherAccount,
};

// Any failure of a result store operation, passed on as it came from the file system, the
// key store, the cipher or the JSON reader.
using ResultStoreFailure
    = std::variant<ResultStoreError, FileSystemError, SecureStoreError, CryptoError, JsonDecodeError>;

} // namespace lumora
