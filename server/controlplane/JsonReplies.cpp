#include "controlplane/JsonReplies.hpp"

#include "domain/JsonObjectReader.hpp"

#include <QJsonDocument>

namespace lumora {

HttpResponse jsonResponse(const QJsonObject& object, int status)
{
    return HttpResponse { .status = status,
        .contentType = "application/json",
        .body = QJsonDocument(object).toJson(QJsonDocument::Compact).toStdString(),
        .headers = {} };
}

HttpResponse registrationResponse(const QUuid& accountID, const QUuid& deviceID)
{
    return jsonResponse({ { "account_id", idText(accountID) }, { "device_id", idText(deviceID) } });
}

HttpResponse okResponse()
{
    return jsonResponse({ { "ok", true } });
}

HttpResponse invalidRequest()
{
    return errorResponse(400, "invalid_request");
}

std::expected<QJsonObject, HttpResponse> jsonBody(const HttpRequest& request)
{
    if (request.body.empty())
        return QJsonObject {};
    auto object = parseJsonObject(QByteArray::fromStdString(request.body));
    if (!object)
        return std::unexpected(errorResponse(400, "invalid_json"));
    return *object;
}

} // namespace lumora
