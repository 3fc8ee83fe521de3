#pragma once

#include "HistoryModel.hpp"
#include "PublishChange.hpp"

#include <QStringList>
#include <QTest>
#include <functional>
#include <gtest/gtest.h>
#include <qcoro/qcorosignal.h>

namespace lumora::testing {

// Stands in for the History page's model: the rows and state the test sets, each change
// published by its own signal, each call recorded, and review fetches that wait until the test
// answers them.
class FakeHistoryModel final : public HistoryModel {
    Q_OBJECT

public:
    struct State {
        QList<DerivedSessionResult> results;
        int conversationsKeptLocal = 0;
        MigrationChoice migrationChoice = NotAnswered;
        bool hasBackupService = true;
        bool refreshFailed = false;
        QString errorMessage;
    };
    State state;
    QStringList calls;
    QList<bool> refreshes;
    QHash<QString, DeletionKind> deletionKinds;
    // What a deletion answers: gone unless the test says otherwise (nothing: it failed).
    std::optional<ConversationDeletionOutcome> deletionOutcome = ConversationDeletionOutcome::deleted();
    QString names[2] = { QStringLiteral("Person 1"), QStringLiteral("Person 2") };

    void update(const std::function<void(State&)>& change)
    {
        const State before = state;
        change(state);
        publishChange(this, before.results, state.results, &HistoryModel::resultsChanged);
        publishChange(this, before.conversationsKeptLocal, state.conversationsKeptLocal,
            &HistoryModel::conversationsKeptLocalChanged);
        publishChange(
            this, before.migrationChoice, state.migrationChoice, &HistoryModel::migrationChoiceChanged);
        publishChange(
            this, before.hasBackupService, state.hasBackupService, &HistoryModel::hasBackupServiceChanged);
        publishChange(this, before.refreshFailed, state.refreshFailed, &HistoryModel::refreshFailedChanged);
        publishChange(this, before.errorMessage, state.errorMessage, &HistoryModel::errorMessageChanged);
    }
    // Answers the review fetch that waits, the review or nothing as a failed fetch, and lets
    // the fetch end.
    void answerReview(std::optional<DerivedSessionResult> review)
    {
        emit reviewAnswered(std::move(review));
        EXPECT_TRUE(QTest::qWaitFor([this] { return openingEntryID().isEmpty(); }, 60000));
    }

    const QList<DerivedSessionResult>& results() const override { return state.results; }
    int conversationsKeptLocal() const override { return state.conversationsKeptLocal; }
    MigrationChoice migrationChoice() const override { return state.migrationChoice; }
    bool hasBackupService() const override { return state.hasBackupService; }
    bool refreshFailed() const override { return state.refreshFailed; }
    QString errorMessage() const override { return state.errorMessage; }

    void synchronize(bool refreshFromServer) override { refreshes.append(refreshFromServer); }
    void hide(const QString& entryID) override { calls.append(QStringLiteral("hide ") + entryID); }
    void unhide(const QString& entryID) override { calls.append(QStringLiteral("unhide ") + entryID); }
    void approveDeletion(const QString& entryID) override
    {
        calls.append(QStringLiteral("approve ") + entryID);
    }
    void declineDeletion(const QString& entryID) override
    {
        calls.append(QStringLiteral("decline ") + entryID);
    }
    void backUpKeptLocal() override { calls.append(QStringLiteral("backUpKeptLocal")); }
    QString participantName(int speaker) const override { return names[std::abs(speaker % 2)]; }
    void rename(int seat, const QString& name)
    {
        names[seat] = name;
        emit participantNamesChanged();
    }
    void dismissError() override
    {
        update([](State& s) { s.errorMessage.clear(); });
    }

signals:
    void reviewAnswered(std::optional<DerivedSessionResult> review);

protected:
    void recordResultReviewed() override { calls.append(QStringLiteral("reviewed")); }
    QCoro::Task<std::optional<DerivedSessionResult>> fetchReview(ConversationHistoryEntry entry) override
    {
        calls.append(QStringLiteral("fetch ") + entry.id.toString(QUuid::WithoutBraces));
        std::optional<DerivedSessionResult> review = co_await qCoro(this, &FakeHistoryModel::reviewAnswered);
        co_return review;
    }
    QCoro::Task<std::optional<ConversationDeletionOutcome>> deleteEntry(
        ConversationHistoryEntry entry) override
    {
        calls.append(QStringLiteral("remove ") + entry.id.toString(QUuid::WithoutBraces));
        co_return std::optional<ConversationDeletionOutcome>(deletionOutcome);
    }
    DeletionKind deletionKindOf(const ConversationHistoryEntry& entry) const override
    {
        return deletionKinds.value(entry.id.toString(QUuid::WithoutBraces), Immediate);
    }
};

} // namespace lumora::testing
