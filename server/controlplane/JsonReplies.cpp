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
