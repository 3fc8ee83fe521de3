#pragma once

#include <QString>
#include <QStringView>

namespace lumora {

// Texts that another device wrote, or a person typed, and this one shows. Control characters
// (NUL, ESC, line breaks), line and paragraph separators and format characters (bidirectional
// overrides and isolates, zero-width spaces, invisible tags) break lines, reorder or hide what
// is shown: "evil" drawn as "live". The two joiners are kept where they join two characters
// that are drawn: Persian and Indic words need the zero-width non-joiner, emoji sequences (a
// family, a profession with its skin tone) the zero-width joiner. A lone surrogate is no
// character at all, and a character stacked with more combining marks than Unicode's
// stream-safe limit draws over the lines around it. Every shown text, every title and every
// seat name, follows these rules, here alone.
struct VisibleText {
    // Combining marks one user-perceived character may carry.
    static constexpr qsizetype maximumMarksPerCharacter = 30;

    // What cleaning makes of a control character that is not a line break or a tab.
    enum class OtherControls {
        asSpaces,
        dropped,
    };

    // Whether the text holds what a shown text may not: a control character, a line or
    // paragraph separator, a format character other than a joiner between two drawn ones, a
    // lone surrogate, or a character of more than `maximumMarksPerCharacter` combining marks.
    [[nodiscard]] static bool holdsInvisible(QStringView text);
    // The text without the format characters holdsInvisible refuses; control characters stay.
    [[nodiscard]] static QString withoutFormat(QStringView text);
    // The text as holdsInvisible takes it: line breaks, tabs and separators turned into spaces,
    // other control characters as `controls` says, format characters out but for the joiners
    // between drawn ones, a lone surrogate replaced (U+FFFD), marks past the limit left out.
    [[nodiscard]] static QString cleaned(QStringView text, OtherControls controls = OtherControls::asSpaces);
    // Whether anything of the text is drawn: not only spaces, marks on nothing, hidden
    // characters or the fillers that are letters in name only.
    [[nodiscard]] static bool showsSomething(QStringView text);
    // The text's start of at most `characters` user-perceived characters (grapheme clusters)
    // and at most `units` UTF-16 units, ending between two such characters and never in a
    // joiner, which would join nothing there.
    [[nodiscard]] static QString leading(const QString& text, qsizetype characters, qsizetype units);
    // Whether the text has more than `characters` user-perceived characters.
    [[nodiscard]] static bool longerThan(const QString& text, qsizetype characters);
};

} // namespace lumora
