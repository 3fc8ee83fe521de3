#include "controlplane/AnthropicMessagesClient.hpp"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <cmath>

namespace lumora {

namespace {

using Kind = ModelFailure::Kind;

std::optional<qint64> count(const QJsonValue& value)
{
    const double number = value.toDouble(-1);
    if (!value.isDouble() || !std::isfinite(number) || number < 0 || number != std::floor(number)
        || number > 1e12)
        return std::nullopt;
    return static_cast<qint64>(number);
}

std::expected<ModelAnswer, ModelFailure> readReply(const std::string& body)
{
    const ModelFailure unreadable { Kind::unreadable, "the service's reply is not a message" };
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(QByteArray::fromStdString(body), &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return std::unexpected(unreadable);
    const QJsonObject message = document.object();
    const QJsonObject usage = message.value("usage").toObject();
    const auto input = count(usage.value("input_tokens"));
    const auto output = count(usage.value("output_tokens"));
    if (message.value("type").toString() != u"message" || !message.value("content").isArray()
        || !message.value("model").isString() || !input || !output)
        return std::unexpected(unreadable);
    // An answer cut at the token limit is not whole JSON; one that stopped on its own is.
    const QString stop = message.value("stop_reason").toString();
    if (stop != u"end_turn" && stop != u"stop_sequence")
        return std::unexpected(ModelFailure { Kind::unreadable, "the answer stopped early" });
    ModelAnswer answer { message.value("model").toString(), QString(), *input, *output };
    for (const QJsonValue& block : message.value("content").toArray())
        if (block.toObject().value("type").toString() == u"text")
            answer.text += block.toObject().value("text").toString();
    return answer;
}

} // namespace

AnthropicMessagesClient::AnthropicMessagesClient(
    std::shared_ptr<const HttpsClient> http, std::string apiKey, QString model)
    : m_http(std::move(http))
    , m_apiKey(std::move(apiKey))
    , m_model(std::move(model))
{
}

std::expected<ModelAnswer, ModelFailure> AnthropicMessagesClient::complete(const ModelRequest& request) const
{
    const QJsonObject body { { "model", m_model }, { "max_tokens", request.maximumTokens },
        { "system", request.system },
        { "messages", QJsonArray { QJsonObject { { "role", "user" }, { "content", request.user } } } } };
    HttpsCall call;
    call.path = messagesPath;
    call.headers = { { "x-api-key", m_apiKey }, { "anthropic-version", apiVersion },
        { "content-type", "application/json" }, { "accept", "application/json" } };
    call.body = QJsonDocument(body).toJson(QJsonDocument::Compact).toStdString();
    call.timeout = request.timeout;
    const auto reply = m_http->send(call);
    if (!reply)
        return std::unexpected(ModelFailure { Kind::unavailable, std::string(toString(reply.error())) });
    return answerOf(*reply);
}

std::expected<ModelAnswer, ModelFailure> AnthropicMessagesClient::answerOf(const HttpsReply& reply)
{
    if (reply.status == 200)
        return readReply(reply.body);
    // Busy (429, 529), failing (5xx) or slow (408): worth another try. Any other refusal
    // is about the key, the model or the request and would only repeat.
    const bool transient = reply.status == 408 || reply.status == 429 || reply.status >= 500;
    return std::unexpected(ModelFailure {
        transient ? Kind::unavailable : Kind::refused, "status " + std::to_string(reply.status) });
}

} // namespace lumora
