#pragma once

#include <QString>
#include <QStringView>

namespace lumora {

// Texts that another device wrote and this one shows. Control characters (NUL, ESC, line
// breaks) and format characters (bidirectional overrides and isolates, zero-width spaces and
// joiners, invisible tags) break lines, reorder or hide what is shown: "evil" drawn as "live".
struct VisibleText {
    // Whether the text holds a control or a format character.
    [[nodiscard]] static bool holdsInvisible(QStringView text);
    // The text without format characters; control characters stay.
    [[nodiscard]] static QString withoutFormat(QStringView text);
    // The text without format characters, each control character turned into a space.
    [[nodiscard]] static QString cleaned(QStringView text);
    // The text's start of at most `characters` user-perceived characters (grapheme clusters)
    // and at most `units` UTF-16 units, ending between two such characters.
    [[nodiscard]] static QString leading(const QString& text, qsizetype characters, qsizetype units);
    // Whether the text has more than `characters` user-perceived characters.
    [[nodiscard]] static bool longerThan(const QString& text, qsizetype characters);
};

} // namespace lumora
