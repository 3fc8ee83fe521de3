#pragma once

#include <QString>
#include <QStringView>
#include <optional>

namespace lumora {

// The partner codes that one account issues and the other types in.
struct PairingCode {
    // Characters of a code without separators.
    static constexpr qsizetype length = 12;
    // Crockford's Base32 symbols: the digits and the capital Latin letters without I, L, O and U.
    static constexpr QStringView alphabet = u"0123456789ABCDEFGHJKMNPQRSTVWXYZ";

    // The canonical code typed in `text`: upper-cased, with everything but letters and
    // numbers dropped and I, L, O read as 1, 1, 0; none unless exactly `length` characters
    // of the alphabet remain. Characters are counted as a reader sees them (grapheme
    // clusters), so a letter with a combining accent stays one character and fails.
    static std::optional<QString> normalize(QStringView text);

    // Display form: three groups of four joined by "-" when `code` has exactly `length`
    // characters, otherwise `code` unchanged. Neither checks nor normalises.
    static QString formatted(const QString& code);
};

} // namespace lumora
