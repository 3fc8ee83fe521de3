#pragma once

#include <QByteArray>
#include <QUuid>
#include <cctype>
#include <charconv>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The control-plane fuzzer's input: one request (or clock step) per line, text that seeds
// can be written in and that mutations keep mostly readable.
//
//   +SECONDS                      moves the server's clock forward (at most 10,000,000)
//   r INDEX                       sends an earlier request again, byte for byte
//   H NAME: VALUE                 the next request carries this header too (an Authorization
//                                 header of its own leaves it unsigned)
//   WHO[#NONCE][@OFFSET][!] METHOD TARGET [BODY]
//
// WHO is a, b or c for a request signed by that party's device (sent unsigned while it has
// none), A, B or C for one signed for recovery with that party's key, "-" for an unsigned one.
// NONCE numbers the nonce (each request gets a new one by default), OFFSET moves the signed
// time against the server's clock, and "!" sends the body as a form. In TARGET, BODY and
// VALUE, ${name} stands for a value the parties know (a.key, a.device, a.conversation, ...)
// or for the last value a reply held under that key (code, invite_id, ticket, request, ...).
// Header names compare without regard to case, as HTTP says.
namespace lumora::fuzzing {

struct ScriptStep {
    enum class Kind { request, advanceClock, replay };
    Kind kind = Kind::request;
    std::int64_t seconds = 0;
    std::size_t replayIndex = 0;
    std::optional<std::size_t> party;
    bool recovery = false;
    bool form = false;
    std::optional<std::int64_t> nonce;
    std::int64_t clockOffset = 0;
    std::vector<std::pair<std::string, std::string>> headers;
    // One of the headers is an Authorization header.
    bool ownAuthorization = false;
    std::string method;
    std::string target;
    std::string body;
};

inline constexpr std::size_t maximumScriptSteps = 48;

inline std::optional<std::int64_t> scriptNumber(std::string_view text)
{
    std::int64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return value;
}

// A nonce of its own for each number.
inline QUuid scriptNonce(std::int64_t number)
{
    static const QUuid space = QUuid::fromString(QStringLiteral("8c1d0c5e-3f5b-4a44-9a0d-5f7f4f1a2b3c"));
    return QUuid::createUuidV5(space, QByteArray::number(qlonglong(number)));
}

// Requests that name no nonce get one numbered far above what scripts name, by position.
inline constexpr std::int64_t firstDefaultNonce = std::int64_t(1) << 40;

using ScriptHeaders = std::vector<std::pair<std::string, std::string>>;

inline bool isAuthorizationName(std::string_view name)
{
    constexpr std::string_view expected = "authorization";
    if (name.size() != expected.size())
        return false;
    for (std::size_t i = 0; i < name.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(name[i])) != expected[i])
            return false;
    }
    return true;
}

inline std::optional<ScriptStep> parseStep(std::string_view line, ScriptHeaders& pendingHeaders)
{
    ScriptStep step;
    if (line.starts_with('+')) {
        const auto seconds = scriptNumber(line.substr(1));
        if (!seconds || *seconds < 0 || *seconds > 10'000'000)
            return std::nullopt;
        step.kind = ScriptStep::Kind::advanceClock;
        step.seconds = *seconds;
        return step;
    }
    if (line.starts_with("r ")) {
        const auto index = scriptNumber(line.substr(2));
        if (!index || *index < 0)
            return std::nullopt;
        step.kind = ScriptStep::Kind::replay;
        step.replayIndex = std::size_t(*index);
        return step;
    }
    if (line.starts_with("H ")) {
        const std::string_view header = line.substr(2);
        const auto colon = header.find(':');
        if (colon == std::string_view::npos || pendingHeaders.size() >= 8)
            return std::nullopt;
        std::string_view value = header.substr(colon + 1);
        if (value.starts_with(' '))
            value.remove_prefix(1);
        pendingHeaders.emplace_back(std::string(header.substr(0, colon)), std::string(value));
        return std::nullopt;
    }
    const auto firstSpace = line.find(' ');
    if (firstSpace == std::string_view::npos || firstSpace == 0)
        return std::nullopt;
    std::string_view who = line.substr(0, firstSpace);
    const std::string_view rest = line.substr(firstSpace + 1);
    const auto secondSpace = rest.find(' ');
    step.method = std::string(rest.substr(0, secondSpace));
    if (step.method.empty())
        return std::nullopt;
    if (secondSpace != std::string_view::npos) {
        const std::string_view targetAndBody = rest.substr(secondSpace + 1);
        const auto thirdSpace = targetAndBody.find(' ');
        step.target = std::string(targetAndBody.substr(0, thirdSpace));
        if (thirdSpace != std::string_view::npos)
            step.body = std::string(targetAndBody.substr(thirdSpace + 1));
    }
    const char party = who.front();
    who.remove_prefix(1);
    if (party >= 'a' && party <= 'c') {
        step.party = std::size_t(party - 'a');
    } else if (party >= 'A' && party <= 'C') {
        step.party = std::size_t(party - 'A');
        step.recovery = true;
    } else if (party != '-') {
        return std::nullopt;
    }
    if (who.ends_with('!')) {
        step.form = true;
        who.remove_suffix(1);
    }
    if (const auto at = who.find('@'); at != std::string_view::npos) {
        const auto offset = scriptNumber(who.substr(at + 1));
        if (!offset || *offset < -10'000'000 || *offset > 10'000'000)
            return std::nullopt;
        step.clockOffset = *offset;
        who = who.substr(0, at);
    }
    if (who.starts_with('#')) {
        step.nonce = scriptNumber(who.substr(1));
        if (!step.nonce)
            return std::nullopt;
    } else if (!who.empty()) {
        return std::nullopt;
    }
    step.headers = std::move(pendingHeaders);
    pendingHeaders.clear();
    for (const auto& header : step.headers)
        step.ownAuthorization = step.ownAuthorization || isAuthorizationName(header.first);
    return step;
}

// The steps of the lines that read; lines that do not are skipped.
inline std::vector<ScriptStep> parseScript(std::string_view text)
{
    std::vector<ScriptStep> steps;
    ScriptHeaders pendingHeaders;
    while (!text.empty() && steps.size() < maximumScriptSteps) {
        const auto end = text.find('\n');
        const std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view {} : text.substr(end + 1);
        if (auto step = parseStep(line, pendingHeaders)) {
            if (!step->nonce)
                step->nonce = firstDefaultNonce + std::int64_t(steps.size());
            steps.push_back(std::move(*step));
        }
    }
    return steps;
}

} // namespace lumora::fuzzing
