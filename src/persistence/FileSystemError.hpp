#pragma once

#include <QString>

namespace lumora {

// A file-system call that failed, with the path and the system's reason, for logs.
struct FileSystemError {
    QString path;
    QString reason;
    // The file system had no room for the write: a full disk, or the user's quota used up.
    bool noSpace = false;

    bool operator==(const FileSystemError&) const = default;
};

} // namespace lumora
