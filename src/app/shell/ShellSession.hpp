#pragma once

#include "AccountSession.hpp"
#include "OfferedConversationList.hpp"
#include "history/HistoryModel.hpp"
#include "people/PeopleModel.hpp"
#include "rooms/RoomModel.hpp"

#include <QObject>
#include <QString>
#include <QUrl>
#include <QtQml/qqmlregistration.h>

namespace lumora {

// What the shell's views read and call: the setup sheet's and the migration offer's state,
// and the models of the pages it shows. An absent error is an empty text. The application hands in
// the adapter over the session view model; window tests hand in a fake.
class ShellSession : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("The shell reads the session the application hands it.")
    Q_PROPERTY(bool recordingAgreementAccepted READ recordingAgreementAccepted NOTIFY
            recordingAgreementAcceptedChanged)
    Q_PROPERTY(bool needsMigrationOffer READ needsMigrationOffer NOTIFY needsMigrationOfferChanged)
    Q_PROPERTY(bool configurationAvailable READ configurationAvailable CONSTANT)
    Q_PROPERTY(bool isSignedIn READ isSignedIn NOTIFY isSignedInChanged)
    Q_PROPERTY(bool isBusy READ isBusy NOTIFY isBusyChanged)
    Q_PROPERTY(bool isAppleAuthorizationActive READ isAppleAuthorizationActive NOTIFY
            isAppleAuthorizationActiveChanged)
    Q_PROPERTY(QString errorMessage READ errorMessage NOTIFY errorMessageChanged)
    Q_PROPERTY(QString deletionNotice READ deletionNotice NOTIFY deletionNoticeChanged)
    Q_PROPERTY(QString signInAddress READ signInAddress NOTIFY signInAddressChanged)
    Q_PROPERTY(QString unopenedPage READ unopenedPage NOTIFY unopenedPageChanged)
    Q_PROPERTY(int conversationsAwaitingMigrationOffer READ conversationsAwaitingMigrationOffer NOTIFY
            conversationsAwaitingMigrationOfferChanged)
    Q_PROPERTY(lumora::OfferedConversationList* offeredConversations READ offeredConversations CONSTANT)
    // Qualified, so that QML's tools find the types of other modules by their C++ names.
    Q_PROPERTY(lumora::AccountSession* account READ account CONSTANT)
    Q_PROPERTY(lumora::HistoryModel* history READ history CONSTANT)
    Q_PROPERTY(lumora::PeopleModel* people READ people CONSTANT)
    Q_PROPERTY(lumora::RoomModel* room READ room CONSTANT)

public:
    explicit ShellSession(QObject* parent = nullptr)
        : QObject(parent)
        , m_offered(new OfferedConversationList(this))
    {
    }

    [[nodiscard]] virtual bool recordingAgreementAccepted() const = 0;
    [[nodiscard]] virtual bool needsMigrationOffer() const = 0;
    [[nodiscard]] virtual bool configurationAvailable() const = 0;
    [[nodiscard]] virtual bool isSignedIn() const = 0;
    [[nodiscard]] virtual bool isBusy() const = 0;
    [[nodiscard]] virtual bool isAppleAuthorizationActive() const = 0;
    [[nodiscard]] virtual QString errorMessage() const = 0;
    // That the account was deleted, once this computer's part of its deletion is done, in the run
    // or the launch that did it; empty otherwise, and once the status moves on.
    [[nodiscard]] virtual QString deletionNotice() const = 0;
    // The sign-in page the browser could not show, for the user to open by hand; empty
    // otherwise.
    [[nodiscard]] virtual QString signInAddress() const = 0;
    // A page the window asked the browser to show (the theory guide) that no browser could,
    // for the user to open by hand; empty otherwise.
    [[nodiscard]] virtual QString unopenedPage() const = 0;
    [[nodiscard]] virtual int conversationsAwaitingMigrationOffer() const = 0;
    // What the migration offer covers, with the user's choice of them; filled by the derived
    // session.
    [[nodiscard]] OfferedConversationList* offeredConversations() const { return m_offered; }
    // The pages' own models.
    [[nodiscard]] virtual AccountSession* account() const = 0;
    [[nodiscard]] virtual HistoryModel* history() const = 0;
    [[nodiscard]] virtual PeopleModel* people() const = 0;
    [[nodiscard]] virtual RoomModel* room() const = 0;

    Q_INVOKABLE virtual void acceptRecordingAgreement() = 0;
    Q_INVOKABLE virtual void beginAppleAuthorization() = 0;
    Q_INVOKABLE virtual void cancelAppleAuthorization() = 0;
    // Puts the sign-in address on the clipboard as plain text; false when there is none.
    Q_INVOKABLE virtual bool copySignInAddress() = 0;
    // Shows `page` in the desktop's browser; when none can, `unopenedPage` says which page.
    Q_INVOKABLE virtual void openWebPage(const QUrl& page) = 0;
    // Puts the unopened page's address on the clipboard; false when there is none.
    Q_INVOKABLE virtual bool copyUnopenedPage() = 0;
    Q_INVOKABLE virtual void dismissUnopenedPage() = 0;
    Q_INVOKABLE virtual void handleExternalURL(const QUrl& url) = 0;
    Q_INVOKABLE virtual void synchronizeHistory(bool refreshFromServer) = 0;
    // Records the answer to the migration offer for the conversations chosen in
    // `offeredConversations`; `migrationAnswered` follows when it is done.
    Q_INVOKABLE virtual void answerMigration(bool accepted) = 0;
    // Ends the run the user quits during a conversation: once the conversation is finished and
    // saved (`saveFirst`), or at once, which discards it: nothing of it is kept, and nothing of
    // it reaches the account. `quitRequested` says when.
    Q_INVOKABLE virtual void quit(bool saveFirst) = 0;

signals:
    void recordingAgreementAcceptedChanged();
    void needsMigrationOfferChanged();
    void isSignedInChanged();
    void isBusyChanged();
    void isAppleAuthorizationActiveChanged();
    void errorMessageChanged();
    void deletionNoticeChanged();
    void signInAddressChanged();
    void unopenedPageChanged();
    void conversationsAwaitingMigrationOfferChanged();
    void migrationAnswered();
    // The run may end now: the application leaves its event loop, without asking again.
    void quitRequested();

private:
    OfferedConversationList* m_offered;
};

} // namespace lumora
