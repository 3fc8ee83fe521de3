#include "PatternTexts.hpp"

#include "RoomFormats.hpp"
#include "domain/BehaviorCodePresentation.hpp"
#include "domain/ProcessFoulPresentation.hpp"

namespace lumora {

namespace {

template <typename T> std::optional<T> given(T value)
{
    return value < 0 ? std::nullopt : std::optional<T>(value);
}

} // namespace

QString PatternTexts::chipLabel(
    const QString& name, std::optional<qint64> count, std::optional<double> confidence)
{
    if (count)
        return QStringLiteral("%1 \u00D7%2").arg(name, QString::number(*count));
    if (confidence)
        return QStringLiteral("%1 \u00B7 %2%").arg(name, QString::number(RoomFormats::percent(*confidence)));
    return name;
}

QString PatternTexts::behaviorChipLabel(const QString& code, qint64 count, double confidence)
{
    const std::optional<BehaviorCode> value = fromString<BehaviorCode>(code);
    return value ? chipLabel(displayName(*value), given(count), given(confidence)) : QString();
}

QString PatternTexts::foulChipLabel(const QString& foul, qint64 count, double confidence)
{
    const std::optional<ProcessFoul> value = fromString<ProcessFoul>(foul);
    return value ? chipLabel(displayName(*value), given(count), given(confidence)) : QString();
}

bool PatternTexts::isWarmCode(const QString& code)
{
    const std::optional<BehaviorCode> value = fromString<BehaviorCode>(code);
    return value && isWarm(*value);
}

QString PatternTexts::ringPercent(double share)
{
    return QStringLiteral("%1%").arg(RoomFormats::percent(share));
}

QString PatternTexts::ringDescription(double share)
{
    return QStringLiteral("%1 percent of talk time").arg(RoomFormats::percent(share));
}

} // namespace lumora
