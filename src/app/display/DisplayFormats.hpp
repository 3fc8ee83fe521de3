#pragma once

#include "domain/ConversationTurn.hpp"

#include <QLocale>
#include <QString>
#include <QStringView>
#include <optional>

namespace lumora {

// The small formats the rooms and the history views share.
struct DisplayFormats {
    // "%d:%02d" of the whole seconds, truncated toward zero: 59.9 reads "0:59", an hour
    // "60:00" (minutes are not capped). A value that is not a number, infinite or not above
    // zero reads "0:00"; a value too large for whole seconds is clamped before it is converted.
    static QString clock(double seconds);
    // The identity of a transcript row: the turn index of its first piece, -1 without pieces.
    static qint64 rowID(const ConversationTurn& turn);
    // "Week of " and the abbreviated month and day of the Monday of an ISO week key such as
    // "2026-W07", in `locale`; nothing for a key that does not read. The Monday is computed
    // at 00:00 GMT and formatted in GMT too, so the label names the same day in every zone.
    static std::optional<QString> weekLabel(QStringView week, const QLocale& locale = QLocale());
};

} // namespace lumora
