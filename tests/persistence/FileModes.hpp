#pragma once

#include <QFile>
#include <QString>
#include <sys/stat.h>

namespace lumora::test {

// The permission bits of the entry itself (a symbolic link is not followed); -1 when absent.
inline int modeOf(const QString& path)
{
    struct stat status { };
    if (::lstat(QFile::encodeName(path).constData(), &status) != 0)
        return -1;
    return int(status.st_mode & 07777);
}

} // namespace lumora::test
