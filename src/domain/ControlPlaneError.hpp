#pragma once

#include <QString>
#include <optional>

namespace lumora {

// A control-plane request that reached the server, or tried to, and was refused or could not be
// read as an HTTP answer. Carries no text for the user; callers turn it into their own failures.
class ControlPlaneError {
public:
    enum class Kind {
        rejected, // a status outside 200...299 without an error body
        rejectedWithCode, // a status outside 200...299 with the server's {"error": code} body
        invalidResponse, // no request URL could be built, or the reply was not HTTP
    };

    static ControlPlaneError rejected(int status)
    {
        return { Kind::rejected, status, std::nullopt, std::nullopt };
    }
    // `retryAfterSeconds`: the reply's "Retry-After" in seconds, when it carried one.
    static ControlPlaneError rejectedWithCode(
        int status, QString code, std::optional<int> retryAfterSeconds = std::nullopt)
    {
        return { Kind::rejectedWithCode, status, std::move(code), retryAfterSeconds };
    }
    static ControlPlaneError invalidResponse()
    {
        return { Kind::invalidResponse, std::nullopt, std::nullopt, std::nullopt };
    }

    Kind kind() const { return m_kind; }
    // The HTTP status of a rejection; none for an invalid response.
    std::optional<int> status() const { return m_status; }
    // The server's own error code; only a rejection with a code carries one.
    const std::optional<QString>& code() const { return m_code; }
    // How long the server asked the caller to wait before trying again.
    std::optional<int> retryAfterSeconds() const { return m_retryAfterSeconds; }

    bool operator==(const ControlPlaneError&) const = default;

private:
    ControlPlaneError(Kind kind, std::optional<int> status, std::optional<QString> code,
        std::optional<int> retryAfterSeconds)
        : m_kind(kind)
        , m_status(status)
        , m_code(std::move(code))
        , m_retryAfterSeconds(retryAfterSeconds)
    {
    }

    Kind m_kind;
    std::optional<int> m_status;
    std::optional<QString> m_code;
    std::optional<int> m_retryAfterSeconds;
};

} // namespace lumora
