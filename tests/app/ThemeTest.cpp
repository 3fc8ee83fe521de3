#include "CoachingRules.hpp"
#include "Contrast.hpp"
#include "FontFaces.hpp"
#include "FontRegistrar.hpp"
#include "HistoryTexts.hpp"
#include "MotionPreference.hpp"
#include "ObjectSearch.hpp"
#include "Sections.hpp"
#include "SetupPresenter.hpp"
#include "ThemeFonts.hpp"
#include "ThemePalette.hpp"

#include <QFile>
#include <QFontDatabase>
#include <QFontInfo>
#include <QFontMetricsF>
#include <QImage>
#include <QMetaProperty>
#include <QQmlComponent>
#include <QQmlEngine>
#include <QQuickWindow>
#include <QSGRendererInterface>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>
#include <cmath>
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
    EXPECT_EQ(faceOf(ThemeFonts::tabular(28)), "Manrope Tabular SemiBold");
}

// Figures read as figures: the interface face's figures are all as wide at every weight, so
// that a clock or a count does not shift as it changes, and the display face draws lining
// digits, as tall as its capitals ("0" not "o", "1" not "I").
TEST(FontFaces, FiguresKeepOneWidthAndTheDisplayFaceDrawsLiningDigits)
{
    ASSERT_GT(FontRegistrar::registerFonts(QStringLiteral(LUMORA_FONT_FOLDER)), 0);
    for (const QFont::Weight weight : { QFont::Normal, QFont::Medium, QFont::DemiBold, QFont::Bold }) {
        const QFont figures = ThemeFonts::figures(20, weight);
        const QFontInfo info(figures);
        EXPECT_EQ(info.family(), "Manrope Tabular") << weight;
        EXPECT_EQ(info.styleName(), FontFaces::interfaceFace(weight).section(u'-', 1)) << weight;
        const QFontMetricsF metrics(figures);
        for (const QChar digit : u"123456789"_qs)
            EXPECT_EQ(metrics.horizontalAdvance(digit), metrics.horizontalAdvance(u'0')) << digit.toLatin1();
    }
    for (const QFont::Weight weight : { QFont::Normal, QFont::Medium, QFont::DemiBold }) {
        for (const QFont& display :
            { ThemeFonts::display(24, weight), ThemeFonts::displayItalic(24, weight) }) {
            const QFontMetricsF metrics(display);
            const qreal capital = metrics.tightBoundingRect(u"H"_qs).height();
            for (const QChar digit : u"0125"_qs) {
                EXPECT_GT(metrics.tightBoundingRect(digit).height(), capital * 0.9)
                    << digit.toLatin1() << " is old-style at weight " << weight;
            }
        }
    }
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

TEST(ThemeFonts, EverySymbolTheScreensNameHasAGlyphButTheAppleMark)
{
    QStringList symbols { "book.closed", "macbook", "arrow.up.right.square", "exclamationmark.triangle.fill",
        "lock.macwindow", "info.circle", "arrow.down.circle", "sparkles", "xmark", "clock.badge.checkmark",
        "chevron.down", "chevron.right", "ellipsis.circle", "trash.circle", "externaldrive.badge.person.crop",
        "calendar.badge.clock", "lock.fill", "checkmark.shield.fill", "clock", "person.2.circle.fill",
        "exclamationmark.circle.fill", "quote.opening", "checkmark.seal.fill", "chevron.left",
        "arrow.uturn.left", "clock.arrow.circlepath", "waveform", "stop.fill", "ellipsis", "play.fill",
        "pause.fill" };
    for (auto backup :
        { HistoryEntryList::BackedUp, HistoryEntryList::Waiting, HistoryEntryList::OnlyOnThisComputer })
        symbols.append(HistoryTexts::backupSymbol(backup));
    for (auto state : { CoachingRules::Loading, CoachingRules::ProviderNudge, CoachingRules::GenericStarter })
        symbols.append(CoachingRules::headerSymbol(state));
    for (const QVariant& section : Sections::allCases())
        symbols.append(Sections::symbol(section.toInt()));
    for (auto card : { SetupPresenter::Consent, SetupPresenter::ReleaseSetup, SetupPresenter::Ready,
             SetupPresenter::SignIn })
        symbols.append(SetupPresenter::symbol(card));
    for (const QString& symbol : symbols)
        EXPECT_FALSE(ThemeFonts::glyph(symbol).isEmpty()) << symbol.toStdString();
    EXPECT_TRUE(ThemeFonts::glyph("apple.logo").isEmpty());
}

TEST(ThemeFonts, CapitalsDoNotDependOnTheLocale)
{
    const QLocale previous;
    QLocale::setDefault(QLocale(QLocale::Turkish));
    EXPECT_EQ(
        ThemeFonts::upperCased("your conversation Reviews in italic"), "YOUR CONVERSATION REVIEWS IN ITALIC");
    QLocale::setDefault(previous);
}

TEST(ThemePalette, QmlDrawsWithTheColoursPaintedItemsRead)
{
    const struct {
        const char* role;
        QColor colour;
    } cases[] {
        { "ink", QColor(27, 44, 73) },
        { "muted", QColor(96, 102, 112) },
        { "positive", QColor(78, 107, 96) },
        { "information", QColor(80, 108, 132) },
        { "attention", QColor(138, 84, 89) },
        { "warning", QColor(145, 96, 47) },
        { "sage", QColor(167, 184, 175) },
        { "blue", QColor(183, 201, 217) },
        { "sand", QColor(237, 231, 220) },
        { "paper", QColor(255, 253, 248) },
        { "rule", QColor(221, 215, 204) },
    };
    ThemePalette palette;
    for (const auto& row : cases)
        EXPECT_EQ(palette.property(row.role).value<QColor>(), row.colour) << row.role;

    // Every colour of the palette reaches QML's Theme unchanged, and Theme has no other.
    QQmlEngine engine;
    engine.addImportPath(QStringLiteral("qrc:/"));
    QQmlComponent component(&engine);
    component.setData("import QtQuick\nimport Lumora.Theme\nQtObject { property var theme: Theme }", QUrl());
    std::unique_ptr<QObject> probe(component.create());
    ASSERT_NE(probe, nullptr) << component.errorString().toStdString();
    auto* theme = probe->property("theme").value<QObject*>();
    ASSERT_NE(theme, nullptr);
    const QMetaObject& colours = ThemePalette::staticMetaObject;
    for (int index = colours.propertyOffset(); index < colours.propertyCount(); ++index) {
        const char* name = colours.property(index).name();
        EXPECT_EQ(theme->property(name).value<QColor>(), palette.property(name).value<QColor>()) << name;
    }
    const QMetaObject* forwarded = theme->metaObject();
    for (int index = forwarded->propertyOffset(); index < forwarded->propertyCount(); ++index) {
        const QMetaProperty property = forwarded->property(index);
        if (property.metaType() == QMetaType::fromType<QColor>()) {
            EXPECT_GE(colours.indexOfProperty(property.name()), 0)
                << property.name() << " is not the palette's";
        }
    }
}

using testing::contrast;
using testing::over;

// Every text reads at 4.5:1 or more (WCAG AA for text of any size) on what it is drawn on:
// the ink and the muted tone anywhere on a page, the glows at their strongest included, and
// each role colour on the fills it is drawn on.
TEST(ThemePalette, EveryTextReadsAtFourAndAHalfToOne)
{
    using P = ThemePalette;
    const QColor ivory = P::ivory();
    const QColor paper = P::paper();
    const struct {
        const char* name;
        QColor colour;
    } surfaces[] {
        { "ivory", ivory },
        { "paper", paper },
        { "the blush glow at the top right", over(P::blush(), 0.3, ivory) },
        { "the sage glow at the bottom left", over(P::sage(), 0.24, ivory) },
        { "sand: a pressed button, a menu's highlight", P::sand() },
        { "a header bar", over(paper, 0.82, ivory) },
        { "the status pill", over(P::sand(), 0.72, over(paper, 0.82, ivory)) },
        { "a corner's gauge card", over(P::sand(), 0.42, ivory) },
        { "a corner's gauge card in the sage glow", over(P::sand(), 0.42, over(P::sage(), 0.24, ivory)) },
        { "the local data promise", over(P::sage(), 0.13, ivory) },
    };
    for (const auto& surface : surfaces) {
        for (const auto& [role, text] : { std::pair { "ink", P::ink() }, std::pair { "muted", P::muted() } })
            EXPECT_GE(contrast(text, surface.colour), 4.5) << role << " on " << surface.name;
    }
    // Under the pointer and pressed, the quiet controls take the rule's tone: what they show on
    // it is ink (their symbols are muted, at 3:1 and more as a symbol needs).
    for (const auto& [name, fill] : { std::pair { "a pressed quiet button", P::rule() },
             { "a hovered tab or agenda step", over(P::rule(), 0.75, ivory) } }) {
        EXPECT_GE(contrast(P::ink(), fill), 4.5) << name;
        EXPECT_GE(contrast(P::muted(), fill), 3) << name;
    }
    const struct {
        const char* what;
        QColor text;
        QColor surface;
    } roles[] {
        { "a seat's name in the blush glow", P::information(), over(P::blush(), 0.3, ivory) },
        { "a seat's name in the sage glow", P::positive(), over(P::sage(), 0.24, ivory) },
        { "the live primary button", P::attention(), over(P::blush(), 0.48, ivory) },
        { "the live primary button under the pointer", P::attention(), over(P::blush(), 0.735, ivory) },
        { "the live primary button pressed", P::attention(), over(P::blush(), 0.82, ivory) },
        { "a hard chip", P::attention(), over(P::attention(), 0.08, ivory) },
        { "a warm chip", P::positive(), over(P::positive(), 0.08, ivory) },
        { "a danger button pressed", P::blushDark(), over(P::blush(), 0.72, paper) },
        { "a pending deletion", P::attention(), over(P::blush(), 0.28, ivory) },
        { "a hard tally on the gauge card", P::attention(), over(P::sand(), 0.42, ivory) },
        { "the check-in badge", P::sageDark(), over(P::sage(), 0.22, paper) },
        { "the opening line's verdict", P::attention(), over(P::attention(), 0.07, paper) },
        { "a notice on paper", P::information(), paper },
        { "white on the primary button", Qt::white, P::navySoft() },
    };
    for (const auto& role : roles)
        EXPECT_GE(contrast(role.text, role.surface), 4.5) << role.what;
}

// A card casts its shadow where the renderer runs shaders, and under the software renderer
// goes without (the suite draws offscreen with it; one run draws with OpenGL on a display).
TEST(Shadows, ACardCastsItsShadowOnlyWhereShadersRun)
{
    QQmlEngine engine;
    engine.addImportPath(QStringLiteral("qrc:/"));
    QQmlComponent component(&engine);
    component.setData("import QtQuick\nimport Lumora.Theme\nWindow { width: 240; height: 160; visible: true;"
                      " EditorialCard { width: 200; Text { text: \"Card\" } } }",
        QUrl());
    std::unique_ptr<QObject> made(component.create());
    auto* window = qobject_cast<QQuickWindow*>(made.get());
    ASSERT_NE(window, nullptr) << component.errorString().toStdString();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window, 60000));
    ASSERT_TRUE(QTest::qWaitFor([&] { return window->rendererInterface() != nullptr; }, 60000));
    const bool software = window->rendererInterface()->graphicsApi() == QSGRendererInterface::Software;
    EXPECT_EQ(testing::findUnder(window->contentItem(), "cardShadow") != nullptr, !software)
        << (software ? "software renderer" : "a renderer with shaders");
}

// A page's background is ivory, with the blush at its strongest in the top right corner and the
// sage in the bottom left, both faded out well before the middle.
TEST(WindowBackground, IvoryWithABlushAndASageGlowInOppositeCorners)
{
    QQmlEngine engine;
    engine.addImportPath(QStringLiteral("qrc:/"));
    QQmlComponent component(&engine);
    component.setData("import QtQuick\nimport Lumora.Theme\nWindow { width: 1180; height: 760; visible: true;"
                      " WindowBackground { anchors.fill: parent } }",
        QUrl());
    std::unique_ptr<QObject> made(component.create());
    auto* window = qobject_cast<QQuickWindow*>(made.get());
    ASSERT_NE(window, nullptr) << component.errorString().toStdString();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window, 60000));
    const QImage drawn = window->grabWindow();
    ASSERT_EQ(drawn.size(), QSize(1180, 760) * drawn.devicePixelRatio());
    const auto near = [](const QColor& found, const QColor& wanted) {
        return std::abs(found.red() - wanted.red()) <= 3 && std::abs(found.green() - wanted.green()) <= 3
            && std::abs(found.blue() - wanted.blue()) <= 3;
    };
    const QColor ivory = ThemePalette::ivory();
    const struct {
        const char* where;
        QPoint at;
        QColor colour;
    } cases[] = {
        { "the middle", QPoint(590, 380), ivory },
        { "the top right corner", QPoint(1179, 0), over(ThemePalette::blush(), 0.3, ivory) },
        { "the bottom left corner", QPoint(0, 759), over(ThemePalette::sage(), 0.24, ivory) },
    };
    for (const auto& row : cases) {
        const QColor found = drawn.pixelColor(row.at * drawn.devicePixelRatio());
        EXPECT_TRUE(near(found, row.colour))
            << row.where << ": " << found.name().toStdString() << " for " << row.colour.name().toStdString();
    }
}

TEST(MotionPreference, TheUsersWishAndEachDesktopsSetting)
{
    for (const auto& [variable, requested] : { std::pair { "1", true }, { " 1\n", true }, { "0", false },
             { "", false }, { "yes", false }, { "10", false } })
        EXPECT_EQ(MotionPreference::isRequested(variable), requested) << variable;

    for (const auto& [output, reduce] :
        { std::pair { "false\n", std::optional(true) }, { "true\n", std::optional(false) },
            { "", std::optional<bool>() }, { "No such schema", std::optional<bool>() } })
        EXPECT_EQ(MotionPreference::fromGnomeAnimations(output), reduce) << output;

    QTemporaryDir folder;
    const struct {
        const char* contents;
        std::optional<bool> reduce;
    } kde[] {
        { "[KDE]\nAnimationDurationFactor=0\n", true },
        { "[KDE]\nAnimationDurationFactor=0.5\n", false },
        { "[KDE]\nAnimationDurationFactor=slow\n", std::nullopt },
        { "[General]\nColorScheme=Breeze\n", std::nullopt },
    };
    for (const auto& row : kde) {
        QFile file(folder.filePath("kdeglobals"));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(row.contents);
        file.close();
        EXPECT_EQ(MotionPreference::fromKdeGlobals(file.fileName()), row.reduce) << row.contents;
    }
    EXPECT_EQ(MotionPreference::fromKdeGlobals(folder.filePath("missing")), std::nullopt);
}

TEST(MotionPreference, FollowsTheVariableAndKdesFileAtOnce)
{
    const QByteArray previousPath = qgetenv("PATH");
    const QByteArray previousConfig = qgetenv("XDG_CONFIG_HOME");
    // No gsettings to ask: only what is read at once counts.
    qputenv("PATH", "/nonexistent");
    QTemporaryDir config;
    qputenv("XDG_CONFIG_HOME", config.path().toUtf8());

    {
        MotionPreference motion;
        motion.followDesktop();
        EXPECT_FALSE(motion.reduceMotion()) << "nothing asks for it";
    }
    {
        qputenv("LUMORA_REDUCE_MOTION", "1");
        MotionPreference motion;
        QSignalSpy changed(&motion, &MotionPreference::reduceMotionChanged);
        motion.followDesktop();
        EXPECT_TRUE(motion.reduceMotion());
        EXPECT_EQ(changed.size(), 1);
        qunsetenv("LUMORA_REDUCE_MOTION");
    }
    {
        QFile file(config.filePath("kdeglobals"));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("[KDE]\nAnimationDurationFactor=0\n");
        file.close();
        MotionPreference motion;
        motion.followDesktop();
        EXPECT_TRUE(motion.reduceMotion()) << "KDE's animations are off";
    }
    qputenv("PATH", previousPath);
    qputenv("XDG_CONFIG_HOME", previousConfig);
}

} // namespace
} // namespace lumora
