#include "GaugeTexts.hpp"

namespace lumora {

double GaugeTexts::warmFraction(qint64 warm, qint64 hard)
{
    const qint64 total = warm + hard;
    return total == 0 ? 0.5 : static_cast<double>(warm) / static_cast<double>(total);
}

QString GaugeTexts::hardTally(qint64 hard)
{
    return hard == 0 ? QStringLiteral("0") : QStringLiteral("\u2212%1").arg(hard);
}

QString GaugeTexts::warmTally(qint64 warm)
{
    return QStringLiteral("+%1").arg(warm);
}

QString GaugeTexts::ratioLabel(qint64 warm, qint64 hard)
{
    if (warm + hard == 0)
        return QStringLiteral("Waiting for warm and hard moments");
    if (hard == 0)
        return QStringLiteral("%1:0 warm / hard").arg(warm);
    return QString::asprintf("%.1f:1 warm / hard", static_cast<double>(warm) / static_cast<double>(hard));
}

QString GaugeTexts::balanceDescription(qint64 warm, qint64 hard)
{
    const QString reading
        = warm == 0 && hard == 0 ? QStringLiteral("balanced") : QStringLiteral("warm to hard ratio");
    return QStringLiteral("%1 hard, %2 warm, %3").arg(hard).arg(warm).arg(reading);
}

QString GaugeTexts::personalDescription(qint64 warm, qint64 hard)
{
    return QStringLiteral("%1 hard moments, %2 warm moments, %3")
        .arg(hard)
        .arg(warm)
        .arg(ratioLabel(warm, hard));
}

} // namespace lumora
