#include "viewmodel/SeatNames.hpp"

#include "domain/VisibleText.hpp"

#include <QSettings>

namespace lumora {

int SeatNames::seat(qint64 speaker)
{
    return static_cast<int>(((speaker % 2) + 2) % 2);
}

QString SeatNames::fallback(int seat)
{
    return QStringLiteral("Person ") + QString::number(seat + 1);
}

QStringList SeatNames::fallbacks()
{
    return { fallback(0), fallback(1) };
}

QString SeatNames::preferenceKey(int seat)
{
    return seat == 0 ? QStringLiteral("corvane.participantName.left")
                     : QStringLiteral("corvane.participantName.right");
}

QString SeatNames::cleaned(const QString& typed)
{
    // A name stands alone on a line and in a corner: a stray NUL or escape goes rather than
    // leaving a gap.
    const QString trimmed = VisibleText::cleaned(typed, VisibleText::OtherControls::dropped).trimmed();
    if (!VisibleText::showsSomething(trimmed))
        return {};
    return VisibleText::leading(trimmed, maximumLength, trimmed.size());
}

QStringList SeatNames::stored(const QSettings& preferences)
{
    QStringList names;
    for (int seat = 0; seat < 2; ++seat) {
        const QVariant value = preferences.value(preferenceKey(seat));
        const QString name = value.typeId() == QMetaType::QString ? cleaned(value.toString()) : QString();
        names.append(name.isEmpty() ? fallback(seat) : name);
    }
    return names;
}

} // namespace lumora
