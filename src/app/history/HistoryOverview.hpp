#pragma once

#include "domain/ConversationHistoryEntry.hpp"

#include <QList>
#include <QObject>
#include <QString>
#include <QtQml/qqmlregistration.h>

namespace lumora {

// What the History page shows above and below its cards: which of its three states it is in,
// the three totals over the visible entries (hidden ones never count) and the count of the
// hidden ones.
struct HistoryOverview {
    Q_GADGET
    QML_VALUE_TYPE(historyOverview)
    Q_PROPERTY(bool isEmpty READ isEmpty CONSTANT)
    Q_PROPERTY(bool hasVisibleEntries READ hasVisibleEntries CONSTANT)
    Q_PROPERTY(int hiddenCount MEMBER hiddenCount CONSTANT)
    Q_PROPERTY(QString conversations MEMBER conversations CONSTANT)
    Q_PROPERTY(QString conversationsLabel MEMBER conversationsLabel CONSTANT)
    Q_PROPERTY(QString timeTogether MEMBER timeTogether CONSTANT)
    Q_PROPERTY(QString turnsHeard MEMBER turnsHeard CONSTANT)

public:
    // Nothing at all; only hidden entries; visible entries (with or without hidden ones).
    enum State { Empty, AllHidden, Entries };
    Q_ENUM(State)

    State state = Empty;
    int hiddenCount = 0;
    // The number of visible entries, "conversation" for exactly one and "conversations" else.
    QString conversations = QStringLiteral("0");
    QString conversationsLabel = QStringLiteral("conversations");
    // The clock of the summed durations.
    QString timeTogether = QStringLiteral("0:00");
    // The summed turns, an unknown count adding nothing.
    QString turnsHeard = QStringLiteral("0");

    [[nodiscard]] bool isEmpty() const { return state == Empty; }
    [[nodiscard]] bool hasVisibleEntries() const { return state == Entries; }

    bool operator==(const HistoryOverview&) const = default;

    // Durations and turns come from stored reviews and the server: a duration that is not a
    // finite number counts as 0, and both sums stop at the largest value they can hold
    // rather than wrapping or becoming infinite.
    static HistoryOverview of(const QList<ConversationHistoryEntry>& entries);
};

} // namespace lumora
