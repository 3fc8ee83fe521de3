#include "wire/ProviderUsageReport.hpp"

#include "domain/JsonObjectReader.hpp"
#include "domain/JsonWriting.hpp"

namespace lumora {

QJsonObject ProviderUsageReport::toJson() const
{
    return { { QStringLiteral("reservationID"), uuidText(reservationID, UuidCase::upper) },
        { QStringLiteral("operation"), operation }, { QStringLiteral("model"), model },
        { QStringLiteral("durationSeconds"), durationSeconds }, { QStringLiteral("latencyMS"), latencyMS },
        { QStringLiteral("statusCode"), statusCode } };
}

std::expected<ProviderUsageReport, JsonDecodeError> ProviderUsageReport::fromJson(const QJsonValue& value)
{
    JsonObjectReader reader(value, QStringLiteral("ProviderUsageReport"));
    ProviderUsageReport report;
    report.reservationID = reader.uuid(u"reservationID");
    report.operation = reader.string(u"operation");
    report.model = reader.string(u"model");
    report.durationSeconds = reader.integer(u"durationSeconds");
    report.latencyMS = reader.integer(u"latencyMS");
    report.statusCode = reader.integer(u"statusCode");
    return finish(reader, std::move(report));
}

QJsonObject ProviderUsageReceipt::toJson() const
{
    return { { QStringLiteral("ok"), ok }, { QStringLiteral("estimatedCostMicros"), estimatedCostMicros } };
}

std::expected<ProviderUsageReceipt, JsonDecodeError> ProviderUsageReceipt::fromJson(const QJsonValue& value)
{
    JsonObjectReader reader(value, QStringLiteral("ProviderUsageReceipt"));
    ProviderUsageReceipt receipt;
    receipt.ok = reader.boolean(u"ok");
    receipt.estimatedCostMicros = reader.integer(u"estimatedCostMicros");
    return finish(reader, receipt);
}

} // namespace lumora
