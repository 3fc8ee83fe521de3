#pragma once

#include "common/HttpMessage.hpp"
#include "controlplane/IdText.hpp"

#include <QJsonObject>
#include <QString>
#include <QUuid>
#include <expected>

namespace lumora {

HttpResponse jsonResponse(const QJsonObject& object, int status = 200);
// {"ok": true}: the reply of calls that only acknowledge.
HttpResponse okResponse();
// {"account_id", "device_id"}: the registration a sign-in or the account state answers.
HttpResponse registrationResponse(const QUuid& accountID, const QUuid& deviceID);
// 400 {"error": "invalid_request"}: a body with missing or mistyped keys.
HttpResponse invalidRequest();
// 429 {"error": code}, with the seconds after which the same request passes (at least one) in
// "Retry-After".
HttpResponse tooManyRequests(std::string_view code, qint64 retryAfter);

// The request body as one JSON object; zero bytes read as {}. Anything else that is not
// an object answers 400 "invalid_json".
std::expected<QJsonObject, HttpResponse> jsonBody(const HttpRequest& request);

} // namespace lumora
