#include "providers/AccountRecords.hpp"

#include "domain/JsonObjectReader.hpp"
#include "domain/JsonWriting.hpp"
#include "wire/ControlPlaneJson.hpp"

namespace lumora {

namespace {

// Account and device pairs share one form.
template <typename T>
std::expected<T, JsonDecodeError> readIdentifiers(const QJsonValue& value, const QString& context)
{
    JsonObjectReader reader(value, context);
    T record;
    record.accountID = reader.uuid(u"accountID");
    record.deviceID = reader.uuid(u"deviceID");
    return finish(reader, std::move(record));
}

QJsonObject writeIdentifiers(const QUuid& accountID, const QUuid& deviceID)
{
    return { { QStringLiteral("accountID"), uuidText(accountID, UuidCase::upper) },
        { QStringLiteral("deviceID"), uuidText(deviceID, UuidCase::upper) } };
}

} // namespace

QJsonObject AccountState::toJson() const
{
    return writeIdentifiers(accountID, deviceID);
}

std::expected<AccountState, JsonDecodeError> AccountState::fromJson(const QJsonValue& value)
{
    return readIdentifiers<AccountState>(value, QStringLiteral("AccountState"));
}

QJsonObject DeviceRegistration::toJson() const
{
    return writeIdentifiers(accountID, deviceID);
}

std::expected<DeviceRegistration, JsonDecodeError> DeviceRegistration::fromJson(const QJsonValue& value)
{
    return readIdentifiers<DeviceRegistration>(value, QStringLiteral("DeviceRegistration"));
}

QJsonObject ConversationSessionState::toJson() const
{
    QJsonObject object;
    if (sessionID)
        object.insert(QStringLiteral("sessionID"), uuidText(*sessionID, UuidCase::upper));
    if (status)
        object.insert(QStringLiteral("status"), *status);
    if (expiresAt)
        object.insert(QStringLiteral("expiresAt"), isoDateText(*expiresAt));
    return object;
}

std::expected<ConversationSessionState, JsonDecodeError> ConversationSessionState::fromJson(
    const QJsonValue& value)
{
    JsonObjectReader reader(value, QStringLiteral("ConversationSessionState"));
    ConversationSessionState state;
    state.sessionID = optionalUuid(reader, u"sessionID");
    state.status = reader.optionalString(u"status");
    state.expiresAt = reader.optionalDate(u"expiresAt");
    return finish(reader, std::move(state));
}

QJsonObject UsageReservation::toJson() const
{
    return { { QStringLiteral("id"), uuidText(id, UuidCase::upper) },
        { QStringLiteral("maximumSeconds"), maximumSeconds } };
}

std::expected<UsageReservation, JsonDecodeError> UsageReservation::fromJson(const QJsonValue& value)
{
    JsonObjectReader reader(value, QStringLiteral("UsageReservation"));
    UsageReservation reservation;
    reservation.id = reader.uuid(u"id");
    reservation.maximumSeconds = reader.number(u"maximumSeconds");
    return finish(reader, std::move(reservation));
}

QJsonObject DeepgramGrant::toJson() const
{
    return { { QStringLiteral("accessToken"), accessToken }, { QStringLiteral("expiresIn"), expiresIn } };
}

std::expected<DeepgramGrant, JsonDecodeError> DeepgramGrant::fromJson(const QJsonValue& value)
{
    JsonObjectReader reader(value, QStringLiteral("DeepgramGrant"));
    DeepgramGrant grant;
    grant.accessToken = reader.string(u"accessToken");
    grant.expiresIn = reader.integer(u"expiresIn");
    return finish(reader, std::move(grant));
}

QString toString(DeepgramOperation operation)
{
    switch (operation) {
    case DeepgramOperation::liveTranscription:
        return QStringLiteral("liveTranscription");
    case DeepgramOperation::finalTranscription:
        return QStringLiteral("finalTranscription");
    }
    return {};
}

QString toString(DiagnosticEventType type)
{
    switch (type) {
    case DiagnosticEventType::uncleanTermination:
        return QStringLiteral("unclean_termination");
    case DiagnosticEventType::updateFailed:
        return QStringLiteral("update_failed");
    case DiagnosticEventType::providerDegraded:
        return QStringLiteral("provider_degraded");
    }
    return {};
}

QString toString(ProductAnalyticsEvent event)
{
    switch (event) {
    case ProductAnalyticsEvent::appOpened:
        return QStringLiteral("app_opened");
    case ProductAnalyticsEvent::resultReviewed:
        return QStringLiteral("result_reviewed");
    }
    return {};
}

} // namespace lumora
