#include "FontFaces.hpp"
#include "FontRegistrar.hpp"
#include "Sections.hpp"
#include "SetupPresenter.hpp"
#include "ThemeFonts.hpp"

#include <QFile>
#include <QFontDatabase>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace lumora {
namespace {

TEST(FontFaces, EachWeightDrawsWithTheFaceThereIs)
{
    struct Case {
        QFont::Weight weight;
        const char* display;
        const char* interface;
    };
    const Case cases[] = {
        { QFont::Thin, "PlayfairDisplay-Regular", "Manrope-Regular" },
        { QFont::Light, "PlayfairDisplay-Regular", "Manrope-Regular" },
        { QFont::Normal, "PlayfairDisplay-Regular", "Manrope-Regular" },
        { QFont::Medium, "PlayfairDisplay-Medium", "Manrope-Medium" },
        { QFont::DemiBold, "PlayfairDisplay-SemiBold", "Manrope-SemiBold" },
        { QFont::Bold, "PlayfairDisplay-SemiBold", "Manrope-Bold" },
        { QFont::Black, "PlayfairDisplay-SemiBold", "Manrope-Bold" },
    };
    for (const Case& c : cases) {
        EXPECT_EQ(FontFaces::displayFace(c.weight), c.display) << c.weight;
        EXPECT_EQ(FontFaces::interfaceFace(c.weight), c.interface) << c.weight;
    }
    EXPECT_EQ(ThemeFonts::small().weight(), QFont::Medium);
    EXPECT_EQ(ThemeFonts::label().weight(), QFont::Bold);
    EXPECT_EQ(ThemeFonts::body().pixelSize(), 16);
}

TEST(FontRegistrar, RegistersOnlyLowerCaseTtfFiles)
{
    const QString manrope = "/usr/share/fonts/truetype/manrope/Manrope-Regular.ttf";
    if (!QFile::exists(manrope))
        GTEST_SKIP() << "fonts-manrope is not installed";
    QTemporaryDir folder;
    ASSERT_TRUE(QFile::copy(manrope, folder.filePath("a.ttf")));
    ASSERT_TRUE(QFile::copy(manrope, folder.filePath("b.TTF")));
    ASSERT_TRUE(QFile::copy(manrope, folder.filePath("c.otf")));
    QFile damaged(folder.filePath("d.ttf"));
    ASSERT_TRUE(damaged.open(QIODevice::WriteOnly));
    damaged.write("not a font");
    damaged.close();
    EXPECT_EQ(FontRegistrar::registerFonts(folder.path()), 1);
    EXPECT_EQ(FontRegistrar::registerFonts(folder.filePath("missing")), 0);
}

TEST(ThemeFonts, EverySymbolTheShellNamesHasAGlyphButTheAppleMark)
{
    QStringList symbols { "book.closed", "macbook", "arrow.up.right.square", "exclamationmark.triangle.fill",
        "lock.macwindow" };
    for (const QVariant& section : Sections::allCases())
        symbols.append(Sections::symbol(section.toInt()));
    for (auto card : { SetupPresenter::Consent, SetupPresenter::ReleaseSetup, SetupPresenter::Ready,
             SetupPresenter::SignIn })
        symbols.append(SetupPresenter::symbol(card));
    for (const QString& symbol : symbols)
        EXPECT_FALSE(ThemeFonts::glyph(symbol).isEmpty()) << symbol.toStdString();
    EXPECT_TRUE(ThemeFonts::glyph("apple.logo").isEmpty());
}

} // namespace
} // namespace lumora
