#pragma once

#include "persistence/FileSystemError.hpp"

#include <variant>

namespace lumora {

enum class TemporaryStoreError {
    // The root exists but is a symbolic link, not a folder, or belongs to another user.
    unsafeRoot,
    // The folder given is not a session folder directly inside the root.
    outsideRoot,
    // The file name is empty, "." or "..", or holds a "/".
    invalidName,
};

using TemporaryStoreFailure = std::variant<TemporaryStoreError, FileSystemError>;

} // namespace lumora
