#pragma once

#include <QString>
#include <chrono>
#include <expected>
#include <functional>
#include <string>

namespace lumora {

// One line for the server's log. Callers pass only what is safe to log: never keys,
// never conversation text.
using ProviderLog = std::function<void(const std::string& line)>;

// One question to a language model: a system prompt and one user message.
struct ModelRequest {
    QString system;
    QString user;
    qint64 maximumTokens = 1024;
    std::chrono::milliseconds timeout { 30'000 };
};

// The model's whole answer text, with the service's own account of the call.
struct ModelAnswer {
    QString model; // the model that answered, as the service names it
    QString text;
    qint64 inputTokens = 0;
    qint64 outputTokens = 0;
};

struct ModelFailure {
    enum class Kind {
        unavailable, // no answer in time, a transport failure, or a busy or failing service
        refused, // the service refused the request itself (key, model, request shape)
        unreadable, // an answer that does not hold what was asked for
    };
    Kind kind = Kind::unavailable;
    // A short reason for the log (a status or failure class, never a reply body).
    std::string reason;

    // Another attempt may succeed where the service was down or the answer went wrong.
    [[nodiscard]] bool retryable() const { return kind != Kind::refused; }
};

// A language model behind an outside service.
class ModelService {
public:
    virtual ~ModelService() = default;
    virtual std::expected<ModelAnswer, ModelFailure> complete(const ModelRequest& request) const = 0;
};

} // namespace lumora
