#pragma once

#include <QFont>
#include <QObject>
#include <QString>
#include <QtQml/qqmlregistration.h>

namespace lumora {

// The faces and presets the views draw text with, and the icon glyph for each symbol name the
// screens use. QML weights are the `Font` weights (100 to 900).
class ThemeFonts : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_SINGLETON
    Q_PROPERTY(QFont body READ body CONSTANT)
    Q_PROPERTY(QFont small READ small CONSTANT)
    Q_PROPERTY(QFont label READ label CONSTANT)
    // The capitals of a finding's chip: the interface face at 12 px, semibold, 0.7 px between
    // the letters.
    Q_PROPERTY(QFont chip READ chip CONSTANT)
    Q_PROPERTY(QString iconFamily READ iconFamily CONSTANT)

public:
    using QObject::QObject;

    Q_INVOKABLE static QFont display(qreal size, int weight);
    // The display face in italics, for quoted and spoken words.
    Q_INVOKABLE static QFont displayItalic(qreal size, int weight);
    Q_INVOKABLE static QFont interface(qreal size, int weight);
    // Manrope SemiBold with tabular digits, for codes read character by character, with
    // `letterSpacing` pixels between the characters.
    Q_INVOKABLE static QFont tabular(qreal size, qreal letterSpacing = 0);
    // The interface face whose digits are all as wide, for figures that change in place or
    // stand in columns: clocks, counts, totals.
    Q_INVOKABLE static QFont figures(qreal size, int weight);
    // The icon set's glyph name for a symbol name; empty when the set has no counterpart
    // (the view then shows no icon).
    Q_INVOKABLE static QString glyph(const QString& symbol);
    // Capitals for captions and subtitles, independent of the user's locale.
    Q_INVOKABLE static QString upperCased(const QString& text);

    static QFont body();
    static QFont small();
    static QFont label();
    static QFont chip();
    static QString iconFamily() { return QStringLiteral("Material Icons"); }
};

} // namespace lumora
