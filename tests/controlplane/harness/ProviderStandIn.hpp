#pragma once

#include <QString>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace lumora::testing {

struct StandInRequest {
    std::string method;
    std::string target;
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body;
    [[nodiscard]] std::string header(std::string_view name) const;
};

struct StandInReply {
    int status = 200;
    std::string body;
    // Held back this long before answering (longer than the caller waits: a timeout).
    std::chrono::milliseconds delay { 0 };
    // After the delay, held back for as long as this answers true (asked every 10 ms on the
    // stand-in's thread), so that a test can order a reply after something else.
    std::function<bool()> holdWhile {};
    // When not empty, sent as it stands in place of a reply made of the status and body: for
    // replies no well-behaved server would send.
    std::string raw {};
};

// A stand-in for an outside service over HTTPS on 127.0.0.1: answers each request with
// what the script says and records what it received. Serves on a thread of its own, so
// a caller that blocks on it is answered.
class ProviderStandIn {
public:
    using Script = std::function<StandInReply(const StandInRequest&)>;

    ProviderStandIn(const QString& certificate, const QString& key, Script script);
    ~ProviderStandIn();
    ProviderStandIn(const ProviderStandIn&) = delete;
    ProviderStandIn& operator=(const ProviderStandIn&) = delete;

    [[nodiscard]] std::string url() const;
    [[nodiscard]] std::vector<StandInRequest> requests() const;
    void setScript(Script script);

private:
    struct State;
    std::unique_ptr<State> m_state;
};

} // namespace lumora::testing
