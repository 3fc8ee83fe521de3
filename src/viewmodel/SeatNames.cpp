#include "viewmodel/SeatNames.hpp"

#include <QSettings>
#include <QTextBoundaryFinder>

namespace lumora {

int SeatNames::seat(qint64 speaker)
{
    return static_cast<int>(((speaker % 2) + 2) % 2);
}

QString SeatNames::fallback(int seat)
{
    return QStringLiteral("Person ") + QString::number(seat + 1);
}

QString SeatNames::preferenceKey(int seat)
{
    return seat == 0 ? QStringLiteral("corvane.participantName.left")
                     : QStringLiteral("corvane.participantName.right");
}

QString SeatNames::cleaned(const QString& typed)
{
    const QString trimmed = typed.trimmed();
    QTextBoundaryFinder graphemes(QTextBoundaryFinder::Grapheme, trimmed);
    qsizetype end = 0;
    for (int kept = 0; kept < maximumLength; ++kept) {
        const qsizetype next = graphemes.toNextBoundary();
        if (next < 0)
            return trimmed;
        end = next;
    }
    return trimmed.left(end);
}

QStringList SeatNames::stored(const QSettings& preferences)
{
    QStringList names;
    for (int seat = 0; seat < 2; ++seat) {
        const QVariant value = preferences.value(preferenceKey(seat));
        const QString name = value.typeId() == QMetaType::QString ? value.toString().trimmed() : QString();
        names.append(name.isEmpty() ? fallback(seat) : name);
    }
    return names;
}

} // namespace lumora
