#pragma once

#include <QColor>
#include <QObject>
#include <QtQml/qqmlregistration.h>

namespace lumora {

// The palette and its role aliases: one set of colours for the QML views (through `Theme`)
// and for items painted in C++, which call the static functions.
class ThemePalette : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_SINGLETON
    Q_PROPERTY(QColor navy READ navy CONSTANT)
    Q_PROPERTY(QColor navySoft READ navySoft CONSTANT)
    Q_PROPERTY(QColor ivory READ ivory CONSTANT)
    Q_PROPERTY(QColor paper READ paper CONSTANT)
    Q_PROPERTY(QColor sand READ sand CONSTANT)
    Q_PROPERTY(QColor sage READ sage CONSTANT)
    Q_PROPERTY(QColor sageDark READ sageDark CONSTANT)
    Q_PROPERTY(QColor blue READ blue CONSTANT)
    Q_PROPERTY(QColor blueDark READ blueDark CONSTANT)
    Q_PROPERTY(QColor blush READ blush CONSTANT)
    Q_PROPERTY(QColor blushDark READ blushDark CONSTANT)
    Q_PROPERTY(QColor gray READ gray CONSTANT)
    Q_PROPERTY(QColor rule READ rule CONSTANT)
    Q_PROPERTY(QColor warning READ warning CONSTANT)
    Q_PROPERTY(QColor ink READ ink CONSTANT)
    Q_PROPERTY(QColor muted READ muted CONSTANT)
    Q_PROPERTY(QColor positive READ positive CONSTANT)
    Q_PROPERTY(QColor information READ information CONSTANT)
    Q_PROPERTY(QColor attention READ attention CONSTANT)
    Q_PROPERTY(QColor focusRing READ focusRing CONSTANT)

public:
    using QObject::QObject;

    static QColor navy() { return { 27, 44, 73 }; }
    static QColor navySoft() { return { 49, 69, 99 }; }
    static QColor ivory() { return { 248, 244, 236 }; }
    static QColor paper() { return { 255, 253, 248 }; }
    static QColor sand() { return { 237, 231, 220 }; }
    static QColor sage() { return { 167, 184, 175 }; }
    static QColor sageDark() { return { 78, 107, 96 }; }
    static QColor blue() { return { 183, 201, 217 }; }
    // The three darker tones and the gray are a shade deeper than the lightest that would do on
    // ivory alone, so that text in them reads at 4.5:1 and more wherever it is drawn: on the
    // window's glows, on sand and on the tinted fills of buttons and chips.
    static QColor blueDark() { return { 80, 108, 132 }; }
    static QColor blush() { return { 242, 214, 215 }; }
    static QColor blushDark() { return { 138, 84, 89 }; }
    static QColor gray() { return { 96, 102, 112 }; }
    static QColor rule() { return { 221, 215, 204 }; }
    static QColor warning() { return { 145, 96, 47 }; }

    // Text, secondary text, warm moments and the left seat, the right seat, hard moments.
    static QColor ink() { return navy(); }
    static QColor muted() { return gray(); }
    static QColor positive() { return sageDark(); }
    static QColor information() { return blueDark(); }
    static QColor attention() { return blushDark(); }
    // The ring around the control the keyboard is on: apart from the navy of the buttons it
    // surrounds, and at 3:1 and more against every page.
    static QColor focusRing() { return blueDark(); }

    // A colour at an opacity from 0 to 1, as painted items layer them.
    static QColor withAlpha(QColor colour, double alpha)
    {
        colour.setAlphaF(static_cast<float>(alpha));
        return colour;
    }
};

} // namespace lumora
