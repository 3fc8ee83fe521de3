#pragma once

#include "ShellSession.hpp"

#include <QDateTime>
#include <functional>
#include <qcoro/qcorotask.h>

namespace lumora {

class SessionViewModel;

// The shell's session over the session view model: it forwards each change signal and keeps no
// state of its own but the user's choice among the conversations offered.
class ShellSessionAdapter final : public ShellSession {
    Q_OBJECT

public:
    ShellSessionAdapter(
        SessionViewModel& viewModel, std::function<QDateTime()> clock, QObject* parent = nullptr);

    [[nodiscard]] bool recordingAgreementAccepted() const override;
    [[nodiscard]] bool needsMigrationOffer() const override;
    [[nodiscard]] bool configurationAvailable() const override;
    [[nodiscard]] bool isSignedIn() const override;
    [[nodiscard]] bool isBusy() const override;
    [[nodiscard]] bool isAppleAuthorizationActive() const override;
    [[nodiscard]] QString errorMessage() const override;
    [[nodiscard]] QString deletionNotice() const override;
    [[nodiscard]] QString signInAddress() const override;
    [[nodiscard]] QString unopenedPage() const override { return m_unopenedPage; }
    [[nodiscard]] int conversationsAwaitingMigrationOffer() const override;
    [[nodiscard]] AccountSession* account() const override { return m_account; }
    [[nodiscard]] HistoryModel* history() const override { return m_history; }
    [[nodiscard]] PeopleModel* people() const override { return m_people; }
    [[nodiscard]] RoomModel* room() const override { return m_room; }

    void acceptRecordingAgreement() override;
    void beginAppleAuthorization() override;
    void cancelAppleAuthorization() override;
    bool copySignInAddress() override;
    void openWebPage(const QUrl& page) override;
    bool copyUnopenedPage() override;
    void dismissUnopenedPage() override;
    void handleExternalURL(const QUrl& url) override;
    void synchronizeHistory(bool refreshFromServer) override;
    void answerMigration(bool accepted) override;
    void quit(bool saveFirst) override;
    // The same answer, for a caller that waits for it.
    QCoro::Task<void> answer(bool accepted);

private:
    QCoro::Task<void> openPage(QUrl page);
    void setUnopenedPage(const QString& page);

    SessionViewModel& m_viewModel;
    AccountSession* m_account = nullptr;
    HistoryModel* m_history = nullptr;
    PeopleModel* m_people = nullptr;
    RoomModel* m_room = nullptr;
    bool m_quitsAfterFinish = false;
    QString m_unopenedPage;
};

} // namespace lumora
