#include "controlplane/JsonReplies.hpp"

#include "domain/JsonObjectReader.hpp"

#include <QJsonDocument>
#include <algorithm>

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
    // Every signed account-state call answers this; written directly, as the JSON document
    // would write it (UUID text needs no escapes), it costs a tenth.
    const QByteArray account = accountID.toByteArray(QUuid::WithoutBraces);
    const QByteArray device = deviceID.toByteArray(QUuid::WithoutBraces);
    std::string body;
    body.reserve(40 + account.size() + device.size());
    body.append(R"({"account_id":")")
        .append(account.constData(), std::size_t(account.size()))
        .append(R"(","device_id":")")
        .append(device.constData(), std::size_t(device.size()))
        .append(R"("})");
    return HttpResponse {
        .status = 200, .contentType = "application/json", .body = std::move(body), .headers = {}
    };
}

HttpResponse okResponse()
{
    return jsonResponse({ { "ok", true } });
}

HttpResponse invalidRequest()
{
    return errorResponse(400, "invalid_request");
}

HttpResponse tooManyRequests(std::string_view code, qint64 retryAfter)
{
    HttpResponse refusal = errorResponse(429, code);
    refusal.headers.emplace_back("Retry-After", std::to_string(std::max<qint64>(retryAfter, 1)));
    return refusal;
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
