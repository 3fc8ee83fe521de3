#include "FontFaces.hpp"
#include "FontRegistrar.hpp"
#include "Sections.hpp"
#include "SetupPresenter.hpp"
#include "ThemeFonts.hpp"

#include <QFile>
#include <QFontDatabase>
#include <QFontInfo>
#include <QFontMetricsF>
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

// Qt draws each weight with the face the table names, from the fonts bundled with the program,
// and the codes' face has digits of one width.
TEST(FontFaces, QtResolvesEachFaceFromTheBundledFonts)
{
    ASSERT_GT(FontRegistrar::registerFonts(QStringLiteral(LUMORA_FONT_FOLDER)), 0);
    const auto faceOf = [](const QFont& font) {
        const QFontInfo info(font);
        return info.family() + u' ' + info.styleName();
    };
    for (const QFont::Weight weight : { QFont::Thin, QFont::Light, QFont::Normal, QFont::Medium,
             QFont::DemiBold, QFont::Bold, QFont::Black }) {
        const QString display = FontFaces::displayFace(weight).section(u'-', 1);
        const QString interface = FontFaces::interfaceFace(weight).section(u'-', 1);
        EXPECT_EQ(faceOf(FontFaces::display(20, weight)), u"Playfair Display "_qs + display) << weight;
        EXPECT_EQ(faceOf(FontFaces::interface(20, weight)), u"Manrope "_qs + interface) << weight;
    }
    const QFont code = ThemeFonts::tabular(28);
    EXPECT_EQ(faceOf(code), "Manrope Tabular SemiBold");
    const QFontMetricsF metrics(code);
    for (const QChar digit : u"123456789"_qs)
        EXPECT_EQ(metrics.horizontalAdvance(digit), metrics.horizontalAdvance(u'0')) << digit.toLatin1();
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
        "lock.macwindow", "info.circle", "arrow.down.circle" };
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
