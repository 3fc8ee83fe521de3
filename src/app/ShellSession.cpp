#include "ShellSession.hpp"

#include "AccountSession.hpp"
#include "PlainTextClipboard.hpp"
#include "appcore/ConversationBackupService.hpp"
#include "viewmodel/SessionViewModel.hpp"

namespace lumora {

ShellSession::ShellSession(SessionViewModel& viewModel, std::function<QDateTime()> clock, QObject* parent)
    : QObject(parent)
    , m_viewModel(viewModel)
    , m_clock(std::move(clock))
    , m_account(new AccountSession(viewModel, PairingTexts(QLocale(), QTimeZone::systemTimeZone()), this))
{
    connect(&m_viewModel, &SessionViewModel::recordingAgreementAcceptedChanged, this,
        &ShellSession::recordingAgreementAcceptedChanged);
    connect(&m_viewModel, &SessionViewModel::needsMigrationOfferChanged, this,
        &ShellSession::needsMigrationOfferChanged);
    connect(&m_viewModel, &SessionViewModel::accountChanged, this, &ShellSession::isSignedInChanged);
    connect(&m_viewModel, &SessionViewModel::isBusyChanged, this, &ShellSession::isBusyChanged);
    connect(&m_viewModel, &SessionViewModel::isAppleAuthorizationActiveChanged, this,
        &ShellSession::isAppleAuthorizationActiveChanged);
    connect(&m_viewModel, &SessionViewModel::errorMessageChanged, this, &ShellSession::errorMessageChanged);
    connect(&m_viewModel, &SessionViewModel::appleAuthorizationPageChanged, this,
        &ShellSession::signInAddressChanged);
    connect(&m_viewModel, &SessionViewModel::conversationsAwaitingMigrationOfferChanged, this,
        &ShellSession::conversationsAwaitingMigrationOfferChanged);
}

bool ShellSession::recordingAgreementAccepted() const
{
    return m_viewModel.recordingAgreementAccepted();
}
bool ShellSession::needsMigrationOffer() const
{
    return m_viewModel.needsMigrationOffer();
}
bool ShellSession::configurationAvailable() const
{
    return m_viewModel.configurationAvailable();
}
bool ShellSession::isSignedIn() const
{
    return m_viewModel.isSignedIn();
}
bool ShellSession::isBusy() const
{
    return m_viewModel.isBusy();
}
bool ShellSession::isAppleAuthorizationActive() const
{
    return m_viewModel.isAppleAuthorizationActive();
}
QString ShellSession::errorMessage() const
{
    return m_viewModel.errorMessage().value_or(QString());
}
QString ShellSession::signInAddress() const
{
    const auto page = m_viewModel.appleAuthorizationPage();
    return page ? page->toString(QUrl::FullyEncoded) : QString();
}
qint64 ShellSession::conversationsAwaitingMigrationOffer() const
{
    return m_viewModel.conversationsAwaitingMigrationOffer();
}

void ShellSession::acceptRecordingAgreement()
{
    m_viewModel.acceptRecordingAgreement();
}
void ShellSession::beginAppleAuthorization()
{
    m_viewModel.requestSignIn();
}
void ShellSession::cancelAppleAuthorization()
{
    m_viewModel.cancelAppleAuthorization();
}
bool ShellSession::copySignInAddress()
{
    return copyPlainText(signInAddress());
}
void ShellSession::handleExternalURL(const QUrl& url)
{
    m_viewModel.handleExternalURL(url);
}
void ShellSession::synchronizeHistory(bool refreshFromServer)
{
    m_viewModel.refreshHistory(refreshFromServer);
}

void ShellSession::answerMigration(bool accepted)
{
    [](ShellSession* self, bool answerAccepted) -> QCoro::Task<void> {
        co_await self->answer(answerAccepted);
    }(this, accepted);
}

QCoro::Task<void> ShellSession::answer(bool accepted)
{
    // The service is held for the whole answer: a sign-out meanwhile drops the view model's.
    if (const std::shared_ptr<ConversationBackupService> service = m_viewModel.backupService()) {
        m_viewModel.setMigrationChoice(
            accepted ? ConversationMigrationChoice::accepted : ConversationMigrationChoice::declined);
        if (accepted)
            co_await service->acceptMigration(m_clock());
        else
            co_await service->declineMigration();
        co_await m_viewModel.synchronizeHistory(false);
    }
    emit migrationAnswered();
}

} // namespace lumora
