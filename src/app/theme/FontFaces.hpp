#pragma once

#include <QFont>
#include <QString>

namespace lumora {

// The two type families and the face each weight is drawn with. The display family has no face
// bolder than SemiBold and the interface family none bolder than Bold, so heavier weights fall
// back to the boldest face there is; lighter weights than the lightest used face draw Regular.
struct FontFaces {
    static constexpr auto displayFamily = "Playfair Display";
    static constexpr auto interfaceFamily = "Manrope";
    // Manrope whose digits are all as wide, made at build time; Manrope itself where the build
    // could not make it.
    static constexpr auto tabularFamily = "Manrope Tabular";

    // PostScript name of the face, for example "PlayfairDisplay-SemiBold".
    static QString displayFace(QFont::Weight weight);
    static QString interfaceFace(QFont::Weight weight);
    // The weight of that face, which selects it within its family.
    static QFont::Weight displayFaceWeight(QFont::Weight weight);
    static QFont::Weight interfaceFaceWeight(QFont::Weight weight);

    static QFont display(qreal pointSize, QFont::Weight weight);
    static QFont interface(qreal pointSize, QFont::Weight weight);
    // The interface face of that weight with digits of one width.
    static QFont tabular(qreal pointSize, QFont::Weight weight);
};

} // namespace lumora
