#pragma once

#include "domain/ConversationBackupOutcome.hpp"
#include "domain/ConversationBackupRecord.hpp"

#include <optional>

namespace lumora {

// The rules of account-history uploads: what an attempt's reply means, when a record may
// be tried again, and the record after an attempt. Time is always passed in.
struct ConversationBackupPolicy {
    static constexpr double firstRetryDelay = 60;
    static constexpr double maximumRetryDelay = 21'600;

    // `statusCode` is absent when no HTTP reply came; `errorCode` is the server's code or
    // the caller's own transport code, absent when there is none.
    static ConversationBackupOutcome outcome(
        std::optional<int> statusCode, const std::optional<QString>& errorCode);

    // Seconds to wait after `attempts` failed attempts: 0 before the first failure, then
    // doubling from 60 up to six hours.
    static double delay(qint64 attempts);

    // Only pending records are tried, at once before their first attempt, else once the
    // delay has passed since the last one (a clock that went back keeps them waiting).
    static bool shouldAttempt(const ConversationBackupRecord& record, const QDateTime& now);

    // The account refused the record's last upload because its storage is full: it waits for
    // room, which only deleting conversations from the account makes.
    static bool waitsForRoom(const ConversationBackupRecord& record);

    // The record after an attempt with this outcome. `newIdentifier` is a fresh id the
    // caller supplies every time; it is used only after an id conflict.
    static ConversationBackupRecord applying(const ConversationBackupOutcome& outcome,
        ConversationBackupRecord record, const QDateTime& now, const QUuid& newIdentifier);
};

} // namespace lumora
