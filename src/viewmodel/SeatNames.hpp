#pragma once

#include <QString>
#include <QStringList>

class QSettings;

namespace lumora {

// The names of the two seats: index 0 the left seat, 1 the right one.
struct SeatNames {
    // A typed name keeps at most this many user-perceived characters.
    static constexpr int maximumLength = 32;

    // The seat of a speaker index: its non-negative remainder of division by 2.
    static int seat(qint64 speaker);
    // "Person 1" or "Person 2".
    static QString fallback(int seat);
    // Both: the names of seats nobody named.
    static QStringList fallbacks();
    // "corvane.participantName.left" or "corvane.participantName.right".
    static QString preferenceKey(int seat);
    // Cleaned by the rules of every shown text (VisibleText): line breaks and tabs made spaces,
    // other control and format characters (zero-width spaces, bidi overrides) dropped, the
    // joiners of a word or an emoji sequence kept; white space trimmed from both ends, then cut
    // to `maximumLength` grapheme clusters, so that a combining mark or an emoji sequence is
    // never split. Empty when nothing visible is left.
    static QString cleaned(const QString& typed);
    // Both names as stored, cleaned; the fallback for one that is missing or shows nothing.
    static QStringList stored(const QSettings& preferences);
};

} // namespace lumora
