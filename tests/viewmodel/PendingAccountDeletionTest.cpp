#include "viewmodel/PendingAccountDeletion.hpp"

#include <gtest/gtest.h>

namespace lumora {
namespace {

using Answer = PendingAccountDeletion::Answer;
using Attempt = PendingAccountDeletion::Attempt;

std::expected<void, ControlPlaneFailure> refused(int status, const char* code = nullptr)
{
    return std::unexpected(code ? ControlPlaneError::rejectedWithCode(status, QString::fromLatin1(code))
                                : ControlPlaneError::rejected(status));
}

std::expected<void, ControlPlaneFailure> lost(bool connected)
{
    return std::unexpected(TransportError { 2, QStringLiteral("Connection closed"), connected });
}

// Every answer a deletion can meet, sorted by what it proves. Only success or a control plane
// that no longer knows the device proves the account gone; only the control plane's own coded
// refusal of a first request proves it kept; a failure before any connection proves the first
// request unsent. A gateway's 5xx, the control plane's 503, a time-out, a rate limit, a refusal
// of the request's time, signature or nonce, a connection lost once made, and any refusal of a
// request asked again after one that may have arrived prove nothing.
TEST(PendingAccountDeletion, AnAnswerSettlesTheDeletionOnlyByWhatItProves)
{
    const struct {
        const char* name;
        std::expected<void, ControlPlaneFailure> reply;
        Answer first;
        Answer again;
    } rows[] = {
        { "success", {}, Answer::gone, Answer::gone },
        { "401 unknown_device", refused(401, "unknown_device"), Answer::gone, Answer::gone },
        { "401 device_revoked", refused(401, "device_revoked"), Answer::kept, Answer::kept },
        { "401 stale_timestamp", refused(401, "stale_timestamp"), Answer::unknown, Answer::unknown },
        { "401 invalid_signature", refused(401, "invalid_signature"), Answer::unknown, Answer::unknown },
        { "401 without a code", refused(401), Answer::unknown, Answer::unknown },
        { "400 invalid_request", refused(400, "invalid_request"), Answer::kept, Answer::unknown },
        { "408 with a code", refused(408, "timeout"), Answer::unknown, Answer::unknown },
        { "429 rate_limited", refused(429, "rate_limited"), Answer::unknown, Answer::unknown },
        { "a gateway's 502", refused(502), Answer::unknown, Answer::unknown },
        { "a gateway's 404 without a code", refused(404), Answer::unknown, Answer::unknown },
        { "503 storage_unavailable", refused(503, "storage_unavailable"), Answer::unknown, Answer::unknown },
        { "an answer that is not HTTP", std::unexpected(ControlPlaneError::invalidResponse()),
            Answer::unknown, Answer::unknown },
        { "no connection made", lost(false), Answer::unsent, Answer::unknown },
        { "a connection lost once made", lost(true), Answer::unknown, Answer::unknown },
        { "the request could not be signed", std::unexpected(CryptoError::primitiveFailed), Answer::unsent,
            Answer::unknown },
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(PendingAccountDeletion::answerTo(row.reply, Attempt::first), row.first);
        EXPECT_EQ(PendingAccountDeletion::answerTo(row.reply, Attempt::again), row.again);
    }
}

} // namespace
} // namespace lumora
