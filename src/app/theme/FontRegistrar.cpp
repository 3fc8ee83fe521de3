#include "FontRegistrar.hpp"

#include <QCoreApplication>
#include <QDir>
#include <QFontDatabase>

namespace lumora {

QString FontRegistrar::bundledFontFolder()
{
    const QDir programFolder(QCoreApplication::applicationDirPath());
    const QString beside = programFolder.filePath(QStringLiteral("fonts"));
    if (QDir(beside).exists())
        return beside;
    return programFolder.filePath(QStringLiteral("../share/lumora/fonts"));
}

int FontRegistrar::registerFonts(const QString& folder)
{
    int registered = 0;
    const QDir directory(folder);
    const QStringList names = directory.entryList(QDir::Files, QDir::Name);
    for (const QString& name : names) {
        if (!name.endsWith(QStringLiteral(".ttf"), Qt::CaseSensitive))
            continue;
        if (QFontDatabase::addApplicationFont(directory.filePath(name)) >= 0)
            ++registered;
    }
    return registered;
}

} // namespace lumora
