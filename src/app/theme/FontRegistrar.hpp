#pragma once

#include <QString>

namespace lumora {

// Registers the application's bundled font files for this process.
struct FontRegistrar {
    // The "fonts" folder beside the program's data: next to the executable in a build tree,
    // share/lumora/fonts in an installed tree.
    static QString bundledFontFolder();
    // Registers every file in `folder` whose name ends in ".ttf" exactly (upper-case
    // extensions and other formats are skipped), in name order. A missing folder or a damaged
    // file is skipped silently. Returns how many files registered.
    static int registerFonts(const QString& folder);
    static int registerBundledFonts() { return registerFonts(bundledFontFolder()); }
};

} // namespace lumora
