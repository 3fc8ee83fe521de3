#pragma once

#include <QString>

namespace lumora {

// What one upload attempt came to.
class ConversationBackupOutcome {
public:
    enum class Kind {
        // A passing failure: try again after the back-off delay.
        retryLater,
        // A permanent refusal.
        abandoned,
        // The account holds the conversation.
        stored,
        // The account holds another conversation under this id: try again under a new one.
        retryWithNewIdentifier,
    };

    static ConversationBackupOutcome retryLater(QString failureCode)
    {
        return { Kind::retryLater, std::move(failureCode) };
    }
    static ConversationBackupOutcome abandoned(QString failureCode)
    {
        return { Kind::abandoned, std::move(failureCode) };
    }
    static ConversationBackupOutcome stored() { return { Kind::stored, {} }; }
    static ConversationBackupOutcome retryWithNewIdentifier() { return { Kind::retryWithNewIdentifier, {} }; }

    [[nodiscard]] Kind kind() const { return m_kind; }
    // The code of `retryLater` and `abandoned`; empty for the other two.
    [[nodiscard]] const QString& failureCode() const { return m_failureCode; }

    bool operator==(const ConversationBackupOutcome&) const = default;

private:
    ConversationBackupOutcome(Kind kind, QString failureCode)
        : m_kind(kind)
        , m_failureCode(std::move(failureCode))
    {
    }

    Kind m_kind;
    QString m_failureCode;
};

} // namespace lumora
