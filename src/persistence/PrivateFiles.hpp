#pragma once

#include "persistence/FileSystemError.hpp"

#include <QByteArrayView>
#include <QDateTime>
#include <QString>
#include <QStringList>
#include <expected>
#include <optional>

namespace lumora::privatefiles {

// The failure of a system call with `errno` `error` on the path.
FileSystemError systemError(const QString& path, int error);

// The folder of that name inside "Lumora" in the user's application data folder.
QString applicationDataFolder(const QString& name);

// The folder for the user's own short-lived files (the temporary recordings, the single-instance
// socket): $XDG_RUNTIME_DIR when it names a real folder of this user closed to others, else the
// user's cache folder. Never a folder others may write to, where one of them could put a name
// there first.
QString runtimeFolder();
// Creates the folder and any missing parents with mode 0700; folders that exist keep their mode.
[[nodiscard]] std::expected<void, FileSystemError> createDirectory(const QString& path);
// Creates one folder, whose parent must exist, with mode 0700.
[[nodiscard]] std::expected<void, FileSystemError> createSingleDirectory(const QString& path);
// Replaces the file atomically with one of mode 0600 from its creation on, so its bytes are
// never readable by others; nothing can fail after the replacement.
// A failed write, a full disk included, leaves the earlier file untouched and is reported.
[[nodiscard]] std::expected<void, FileSystemError> writeFile(const QString& path, QByteArrayView data);
// What `writeFile` appends to the file's name for its temporary file (followed by six random
// characters); such a file outlives the write only when the process dies during it.
QString temporarySuffix();
// Renames the file to "<path>.<reason>-<UTC date and time>" beside it (a number appended when
// that name is taken) and returns the new path, so a file that cannot be used is kept rather
// than deleted.
[[nodiscard]] std::expected<QString, FileSystemError> moveAside(
    const QString& path, const QString& reason, const QDateTime& now);
// Makes the file readable and writable by its owner alone (mode 0600), creating it empty, with
// any missing folders, when it does not exist; a symbolic link is refused. For files that other
// code rewrites in place of the old one while keeping its mode (Qt's settings do).
[[nodiscard]] std::expected<void, FileSystemError> makeOwnerOnly(const QString& path);
// Whether the entry itself is a symbolic link.
bool isSymbolicLink(const QString& path);
[[nodiscard]] std::expected<QByteArray, FileSystemError> readFile(const QString& path);
// Whether anything, a dangling symbolic link included, exists at the path.
bool exists(const QString& path);
// Removes a file, a symbolic link (never what it points to) or a folder with its contents.
[[nodiscard]] std::expected<void, FileSystemError> removeEntry(const QString& path);
// The names in a folder, sorted, without "." and "..".
[[nodiscard]] std::expected<QStringList, FileSystemError> entryNames(
    const QString& directory, bool includeHidden);
// The entry's own modification time (a symbolic link's, not its target's).
[[nodiscard]] std::expected<QDateTime, FileSystemError> modificationTime(const QString& path);

} // namespace lumora::privatefiles
