#pragma once

#include "FakeRoomModel.hpp"
#include "PublishChange.hpp"
#include "ShellSession.hpp"

#include <QList>
#include <QString>
#include <QUrl>
#include <functional>

namespace lumora::testing {

// Stands in for the session the shell reads: the state the test sets, each change published
// by its own signal, and each call counted.
class FakeShellSession final : public ShellSession {
    Q_OBJECT

public:
    struct State {
        bool recordingAgreementAccepted = true;
        bool needsMigrationOffer = false;
        bool configurationAvailable = true;
        bool isSignedIn = false;
        bool isBusy = false;
        bool isAppleAuthorizationActive = false;
        QString errorMessage;
        QString deletionNotice;
        QString signInAddress;
        int conversationsAwaitingMigrationOffer = 0;
        QString unopenedPage;
    };
    // Set before the window opens; later through `update`.
    State state;
    // The pages' models; the test sets them before the window opens.
    AccountSession* accountSession = nullptr;
    HistoryModel* historyModel = nullptr;
    PeopleModel* peopleModel = nullptr;
    // The rooms' model.
    mutable FakeRoomModel roomModel;

    int signInStarts = 0;
    int cancellations = 0;
    int addressCopies = 0;
    QList<QUrl> pagesOpened;
    bool browserOpens = true;
    QList<bool> refreshes;
    // Each answer to the migration offer, with the conversations chosen then.
    struct MigrationAnswer {
        bool accepted = false;
        QList<QUuid> chosen;

        bool operator==(const MigrationAnswer&) const = default;
    };
    QList<MigrationAnswer> migrationAnswers;
    QList<bool> quits;

    // Changes the state as the view model would, publishing what changed.
    void update(const std::function<void(State&)>& change)
    {
        const State before = state;
        change(state);
        publishChange(this, before.recordingAgreementAccepted, state.recordingAgreementAccepted,
            &ShellSession::recordingAgreementAcceptedChanged);
        publishChange(this, before.needsMigrationOffer, state.needsMigrationOffer,
            &ShellSession::needsMigrationOfferChanged);
        publishChange(this, before.isSignedIn, state.isSignedIn, &ShellSession::isSignedInChanged);
        publishChange(this, before.isBusy, state.isBusy, &ShellSession::isBusyChanged);
        publishChange(this, before.isAppleAuthorizationActive, state.isAppleAuthorizationActive,
            &ShellSession::isAppleAuthorizationActiveChanged);
        publishChange(this, before.errorMessage, state.errorMessage, &ShellSession::errorMessageChanged);
        publishChange(
            this, before.deletionNotice, state.deletionNotice, &ShellSession::deletionNoticeChanged);
        publishChange(this, before.signInAddress, state.signInAddress, &ShellSession::signInAddressChanged);
        publishChange(this, before.unopenedPage, state.unopenedPage, &ShellSession::unopenedPageChanged);
        publishChange(this, before.conversationsAwaitingMigrationOffer,
            state.conversationsAwaitingMigrationOffer,
            &ShellSession::conversationsAwaitingMigrationOfferChanged);
    }

    bool recordingAgreementAccepted() const override { return state.recordingAgreementAccepted; }
    bool needsMigrationOffer() const override { return state.needsMigrationOffer; }
    bool configurationAvailable() const override { return state.configurationAvailable; }
    bool isSignedIn() const override { return state.isSignedIn; }
    bool isBusy() const override { return state.isBusy; }
    bool isAppleAuthorizationActive() const override { return state.isAppleAuthorizationActive; }
    QString errorMessage() const override { return state.errorMessage; }
    QString deletionNotice() const override { return state.deletionNotice; }
    QString signInAddress() const override { return state.signInAddress; }
    QString unopenedPage() const override { return state.unopenedPage; }
    int conversationsAwaitingMigrationOffer() const override
    {
        return state.conversationsAwaitingMigrationOffer;
    }
    AccountSession* account() const override { return accountSession; }
    HistoryModel* history() const override { return historyModel; }
    PeopleModel* people() const override { return peopleModel; }
    RoomModel* room() const override { return &roomModel; }

    void acceptRecordingAgreement() override
    {
        update([](State& s) { s.recordingAgreementAccepted = true; });
    }
    void beginAppleAuthorization() override
    {
        ++signInStarts;
        // As the view model's: an attempt clears what the last one said.
        update([](State& s) {
            s.errorMessage.clear();
            s.isAppleAuthorizationActive = true;
        });
    }
    void cancelAppleAuthorization() override
    {
        ++cancellations;
        update([](State& s) { s.isAppleAuthorizationActive = false; });
    }
    bool copySignInAddress() override
    {
        ++addressCopies;
        return !state.signInAddress.isEmpty();
    }
    // Pages asked for; the browser shows them while `browserOpens`.
    void openWebPage(const QUrl& page) override
    {
        pagesOpened.append(page);
        if (!browserOpens)
            update([&](State& s) { s.unopenedPage = page.toString(); });
    }
    bool copyUnopenedPage() override { return !state.unopenedPage.isEmpty(); }
    void dismissUnopenedPage() override
    {
        update([](State& s) { s.unopenedPage.clear(); });
    }
    void handleExternalURL(const QUrl&) override { }
    void synchronizeHistory(bool refreshFromServer) override { refreshes.append(refreshFromServer); }
    void answerMigration(bool accepted) override
    {
        migrationAnswers.append({ accepted, offeredConversations()->chosen() });
    }
    void quit(bool saveFirst) override { quits.append(saveFirst); }
};

} // namespace lumora::testing
