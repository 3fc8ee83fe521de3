#include "ThemeFonts.hpp"

#include "FontFaces.hpp"

#include <QFontDatabase>
#include <QHash>

namespace lumora {

namespace {

QFont::Weight weightOf(int weight)
{
    return static_cast<QFont::Weight>(weight);
}

} // namespace

QFont ThemeFonts::display(qreal size, int weight)
{
    return FontFaces::display(size, weightOf(weight));
}

QFont ThemeFonts::displayItalic(qreal size, int weight)
{
    QFont font = FontFaces::display(size, weightOf(weight));
    font.setItalic(true);
    return font;
}

QFont ThemeFonts::interface(qreal size, int weight)
{
    return FontFaces::interface(size, weightOf(weight));
}

QFont ThemeFonts::tabular(qreal size, qreal letterSpacing)
{
    QFont font = FontFaces::tabular(size, QFont::DemiBold);
    font.setLetterSpacing(QFont::AbsoluteSpacing, letterSpacing);
    return font;
}

QFont ThemeFonts::figures(qreal size, int weight)
{
    return FontFaces::tabular(size, weightOf(weight));
}

QFont ThemeFonts::chip()
{
    static const QFont font = [] {
        QFont chip = FontFaces::interface(12, QFont::DemiBold);
        chip.setLetterSpacing(QFont::AbsoluteSpacing, 0.7);
        return chip;
    }();
    return font;
}

QFont ThemeFonts::body()
{
    static const QFont font = FontFaces::interface(16, QFont::Normal);
    return font;
}

QFont ThemeFonts::small()
{
    static const QFont font = FontFaces::interface(12, QFont::Medium);
    return font;
}

QFont ThemeFonts::label()
{
    static const QFont font = FontFaces::interface(12, QFont::Bold);
    return font;
}

QString ThemeFonts::upperCased(const QString& text)
{
    return text.toUpper();
}

QString ThemeFonts::glyph(const QString& symbol)
{
    // Material Icons ligature names for the symbols the screens name.
    static const QHash<QString, QString> glyphs {
        { QStringLiteral("waveform"), QStringLiteral("graphic_eq") },
        { QStringLiteral("clock.arrow.circlepath"), QStringLiteral("history") },
        { QStringLiteral("person.2"), QStringLiteral("people") },
        { QStringLiteral("person.crop.circle"), QStringLiteral("account_circle") },
        { QStringLiteral("book.closed"), QStringLiteral("menu_book") },
        { QStringLiteral("checkmark.shield"), QStringLiteral("verified_user") },
        { QStringLiteral("lock.shield"), QStringLiteral("security") },
        { QStringLiteral("checkmark.circle.fill"), QStringLiteral("check_circle") },
        { QStringLiteral("person.crop.circle.badge.checkmark"), QStringLiteral("how_to_reg") },
        { QStringLiteral("macbook"), QStringLiteral("laptop") },
        { QStringLiteral("arrow.up.right.square"), QStringLiteral("open_in_new") },
        { QStringLiteral("exclamationmark.triangle.fill"), QStringLiteral("warning") },
        { QStringLiteral("lock.macwindow"), QStringLiteral("lock") },
        { QStringLiteral("arrow.triangle.2.circlepath"), QStringLiteral("autorenew") },
        { QStringLiteral("person.crop.circle.badge.questionmark"), QStringLiteral("help_outline") },
        { QStringLiteral("desktopcomputer"), QStringLiteral("computer") },
        { QStringLiteral("arrow.right"), QStringLiteral("arrow_forward") },
        { QStringLiteral("arrow.triangle.2.circlepath.circle.fill"), QStringLiteral("autorenew") },
        { QStringLiteral("arrow.down.circle"), QStringLiteral("get_app") },
        { QStringLiteral("bell.badge"), QStringLiteral("notifications_active") },
        { QStringLiteral("person.2.fill"), QStringLiteral("people") },
        { QStringLiteral("exclamationmark.circle"), QStringLiteral("error_outline") },
        { QStringLiteral("info.circle"), QStringLiteral("info_outline") },
        { QStringLiteral("chevron.up.chevron.down"), QStringLiteral("unfold_more") },
        { QStringLiteral("sparkles"), QStringLiteral("auto_awesome") },
        { QStringLiteral("arrow.left.arrow.right"), QStringLiteral("swap_horiz") },
        { QStringLiteral("xmark"), QStringLiteral("close") },
        { QStringLiteral("exclamationmark.circle.fill"), QStringLiteral("error") },
        { QStringLiteral("stop.fill"), QStringLiteral("stop") },
        { QStringLiteral("ellipsis"), QStringLiteral("more_horiz") },
        { QStringLiteral("calendar.badge.clock"), QStringLiteral("event") },
        { QStringLiteral("play.fill"), QStringLiteral("play_arrow") },
        { QStringLiteral("pause.fill"), QStringLiteral("pause") },
        { QStringLiteral("arrow.turn.down.right"), QStringLiteral("subdirectory_arrow_right") },
        { QStringLiteral("timer"), QStringLiteral("timer") },
        // The History page, the review sheet and the People page.
        { QStringLiteral("clock.badge.checkmark"), QStringLiteral("alarm_on") },
        { QStringLiteral("checkmark.icloud"), QStringLiteral("cloud_done") },
        { QStringLiteral("chevron.down"), QStringLiteral("expand_more") },
        { QStringLiteral("chevron.right"), QStringLiteral("chevron_right") },
        { QStringLiteral("ellipsis.circle"), QStringLiteral("more_horiz") },
        { QStringLiteral("trash.circle"), QStringLiteral("delete_outline") },
        { QStringLiteral("externaldrive.badge.person.crop"), QStringLiteral("storage") },
        { QStringLiteral("lock.fill"), QStringLiteral("lock") },
        { QStringLiteral("checkmark.shield.fill"), QStringLiteral("verified_user") },
        { QStringLiteral("clock"), QStringLiteral("schedule") },
        { QStringLiteral("person.2.circle.fill"), QStringLiteral("supervised_user_circle") },
        { QStringLiteral("quote.opening"), QStringLiteral("format_quote") },
        { QStringLiteral("checkmark.seal.fill"), QStringLiteral("verified") },
        { QStringLiteral("chevron.left"), QStringLiteral("chevron_left") },
        { QStringLiteral("arrow.uturn.left"), QStringLiteral("u_turn_left") },
        // The migration offer's choices.
        { QStringLiteral("checkmark.square.fill"), QStringLiteral("check_box") },
        { QStringLiteral("square"), QStringLiteral("check_box_outline_blank") },
    };
    return glyphs.value(symbol);
}

} // namespace lumora
