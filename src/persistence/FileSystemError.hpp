#pragma once

#include <QString>

namespace lumora {

// A file-system call that failed, with the path and the system's reason, for logs.
struct FileSystemError {
    QString path;
    QString reason;

    bool operator==(const FileSystemError&) const = default;
};

} // namespace lumora
