#include "providers/LiveAnalysisContext.hpp"

#include "domain/JsonObjectReader.hpp"

#include <algorithm>

namespace lumora {

LiveAnalysisContext::LiveAnalysisContext(qint64 currentAgendaStep)
    : currentAgendaStep(std::clamp<qint64>(currentAgendaStep, 0, 5))
{
}

QJsonObject LiveAnalysisContext::toJson() const
{
    return { { QStringLiteral("currentAgendaStep"), currentAgendaStep } };
}

std::expected<LiveAnalysisContext, JsonDecodeError> LiveAnalysisContext::fromJson(const QJsonValue& value)
{
    JsonObjectReader reader(value, QStringLiteral("LiveAnalysisContext"));
    LiveAnalysisContext context;
    context.currentAgendaStep = reader.integer(u"currentAgendaStep");
    return finish(reader, context);
}

} // namespace lumora
