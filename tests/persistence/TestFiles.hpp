#pragma once

#include <QFile>
#include <QString>
#include <gtest/gtest.h>
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

inline QByteArray contents(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

inline void overwrite(const QString& path, const QByteArray& data = "x")
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate)) << path.toStdString();
    file.write(data);
}

} // namespace lumora::test
