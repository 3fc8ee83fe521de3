#include "CheckinValues.hpp"

#include "domain/CheckinPrompt.hpp"
#include "domain/CheckinSection.hpp"

#include <algorithm>
#include <limits>

namespace lumora {

namespace {

int clampedInt(qint64 value)
{
    return int(std::clamp<qint64>(value, std::numeric_limits<int>::min(), std::numeric_limits<int>::max()));
}

} // namespace

CheckinSectionValue CheckinSectionValue::of(const CheckinSection& section)
{
    CheckinSectionValue value;
    value.title = section.title;
    value.suggestedMinutes = clampedInt(section.suggestedMinutes);
    for (const CheckinPrompt& prompt : section.prompts) {
        value.prompts.append(prompt.text);
        value.promptSources.append(prompt.source.value_or(QString()));
    }
    return value;
}

CheckinPackValue CheckinPackValue::of(const std::optional<CheckinPack>& pack)
{
    CheckinPackValue value;
    if (!pack)
        return value;
    value.isOpen = true;
    value.week = pack->week;
    value.note = pack->note.value_or(QString());
    for (const CheckinSection& section : pack->sections)
        value.sections.append(QVariant::fromValue(CheckinSectionValue::of(section)));
    return value;
}

CheckinFlowValue CheckinFlowValue::of(const std::optional<CheckinFlow>& flow)
{
    CheckinFlowValue value;
    if (!flow)
        return value;
    value.isSet = true;
    value.sectionCount = clampedInt(flow->sectionCount());
    value.index = clampedInt(flow->index());
    value.sectionOpenedAtElapsed = flow->sectionOpenedAtElapsed();
    return value;
}

} // namespace lumora
