#include "domain/ConversationBackupPolicy.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

namespace lumora {

namespace {

QString conflictCode()
{
    return QStringLiteral("conversation_id_conflict");
}

bool isPassingFailure(int status)
{
    switch (status) {
    case 401:
    case 403:
    case 404:
    case 408:
    case 425:
    case 429:
        return true;
    default:
        return status >= 500 && status <= 599;
    }
}

// A count read from disk may be anything; it saturates instead of overflowing.
qint64 oneMore(qint64 attempts)
{
    return attempts == std::numeric_limits<qint64>::max() ? attempts : attempts + 1;
}

} // namespace

ConversationBackupOutcome ConversationBackupPolicy::outcome(
    std::optional<int> statusCode, const std::optional<QString>& errorCode)
{
    if (!statusCode)
        return ConversationBackupOutcome::retryLater(errorCode.value_or(QStringLiteral("offline")));
    const int status = *statusCode;
    const QString code = errorCode.value_or(QStringLiteral("status_%1").arg(status));
    if (status == 409 && errorCode)
        return code == conflictCode() ? ConversationBackupOutcome::retryWithNewIdentifier()
                                      : ConversationBackupOutcome::abandoned(code);
    if (status >= 200 && status <= 299)
        return ConversationBackupOutcome::stored();
    if (isPassingFailure(status))
        return ConversationBackupOutcome::retryLater(code);
    return ConversationBackupOutcome::abandoned(code);
}

double ConversationBackupPolicy::delay(qint64 attempts)
{
    if (attempts < 1)
        return 0;
    const int doublings = static_cast<int>(std::min<qint64>(attempts, 16) - 1);
    return std::min(firstRetryDelay * std::ldexp(1.0, doublings), maximumRetryDelay);
}

bool ConversationBackupPolicy::shouldAttempt(const ConversationBackupRecord& record, const QDateTime& now)
{
    if (record.state != ConversationBackupState::pending)
        return false;
    if (!record.lastAttemptAt)
        return true;
    const double elapsed = static_cast<double>(record.lastAttemptAt->msecsTo(now)) / 1000.0;
    return delay(record.attempts) <= elapsed;
}

bool ConversationBackupPolicy::waitsForRoom(const ConversationBackupRecord& record)
{
    return record.state == ConversationBackupState::pending
        && record.lastFailureCode == QStringLiteral("storage_quota_exceeded");
}

ConversationBackupRecord ConversationBackupPolicy::applying(const ConversationBackupOutcome& outcome,
    ConversationBackupRecord record, const QDateTime& now, const QUuid& newIdentifier)
{
    record.lastAttemptAt = now;
    switch (outcome.kind()) {
    case ConversationBackupOutcome::Kind::stored:
        record.state = ConversationBackupState::stored;
        record.attempts = 0;
        record.lastFailureCode.reset();
        break;
    case ConversationBackupOutcome::Kind::retryLater:
        record.state = ConversationBackupState::pending;
        record.attempts = oneMore(record.attempts);
        record.lastFailureCode = outcome.failureCode();
        break;
    case ConversationBackupOutcome::Kind::abandoned:
        record.state = ConversationBackupState::abandoned;
        record.attempts = oneMore(record.attempts);
        record.lastFailureCode = outcome.failureCode();
        break;
    case ConversationBackupOutcome::Kind::retryWithNewIdentifier:
        record.state = ConversationBackupState::pending;
        record.attempts = oneMore(record.attempts);
        record.lastFailureCode = conflictCode();
        record.conversationID = newIdentifier;
        break;
    }
    return record;
}

} // namespace lumora
