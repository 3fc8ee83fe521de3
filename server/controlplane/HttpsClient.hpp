#pragma once

#include <chrono>
#include <cstdint>
#include <expected>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace lumora {

// Where an outside service is reached: an https URL without query or fragment, whose path
// (if any) prefixes every call's path.
struct HttpsTarget {
    std::string host;
    std::uint16_t port = 443;
    std::string basePath; // "" or "/prefix", never ending in "/"

    // Refuses every scheme but https: the calls carry provider keys.
    static std::expected<HttpsTarget, std::string> parse(std::string_view url);
    [[nodiscard]] std::string text() const;
};

struct HttpsCall {
    std::string method = "POST";
    std::string path; // appended to the target's base path
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body;
    // Connection, TLS handshake, request and reply together.
    std::chrono::milliseconds timeout { 10'000 };
};

struct HttpsReply {
    int status = 0;
    std::string body;
};

enum class HttpsFailure {
    unreachable, // name, connection or transport failure
    untrusted, // the TLS handshake failed, the certificate did not verify
    timedOut,
    malformedReply, // not an HTTP reply, or one larger than the limit
};

std::string_view toString(HttpsFailure failure);

// A small HTTPS client for the calls the control plane makes to outside services: one
// connection per call, the peer verified against the system's trusted CAs (or the CA
// file given) and the target's host name or address, everything under one deadline.
// Blocking: the calling thread waits for the reply or the deadline.
class HttpsClient {
public:
    // The biggest reply body read.
    static constexpr std::size_t replyLimit = 1024 * 1024;

    // `caFile`: PEM certificates trusted in addition to the system's.
    static std::expected<std::shared_ptr<const HttpsClient>, std::string> create(
        HttpsTarget target, const std::optional<std::string>& caFile = std::nullopt);
    ~HttpsClient();
    HttpsClient(const HttpsClient&) = delete;
    HttpsClient& operator=(const HttpsClient&) = delete;

    [[nodiscard]] const HttpsTarget& target() const;
    std::expected<HttpsReply, HttpsFailure> send(const HttpsCall& call) const;

private:
    struct State;
    explicit HttpsClient(std::unique_ptr<State> state);
    std::unique_ptr<State> m_state;
};

} // namespace lumora
