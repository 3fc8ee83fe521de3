#include "ShellSessionAdapter.hpp"

#include "AccountSessionAdapter.hpp"
#include "PlainTextClipboard.hpp"
#include "history/HistoryModelAdapter.hpp"
#include "people/PeopleModelAdapter.hpp"
#include "rooms/RoomModelAdapter.hpp"
#include "viewmodel/SessionViewModel.hpp"

#include <QPointer>
#include <limits>

namespace lumora {

ShellSessionAdapter::ShellSessionAdapter(
    SessionViewModel& viewModel, std::function<QDateTime()> clock, QObject* parent)
    : ShellSession(parent)
    , m_viewModel(viewModel)
    , m_account(new AccountSessionAdapter(viewModel, PairingTexts(DateTexts::system()), this))
    , m_history(
          new HistoryModelAdapter(viewModel, std::move(clock), HistoryModel::shownRefreshInterval, this))
    , m_people(new PeopleModelAdapter(viewModel, this))
    , m_room(new RoomModelAdapter(viewModel, this))
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
    connect(&m_viewModel, &SessionViewModel::statusTextChanged, this, &ShellSession::deletionNoticeChanged);
    connect(&m_viewModel, &SessionViewModel::appleAuthorizationPageChanged, this,
        &ShellSession::signInAddressChanged);
    connect(&m_viewModel, &SessionViewModel::conversationsAwaitingMigrationOfferChanged, this,
        &ShellSession::conversationsAwaitingMigrationOfferChanged);
    const auto showOffered = [this] {
        offeredConversations()->replace(m_viewModel.conversationsOffered(), DateTexts::system());
    };
    connect(&m_viewModel, &SessionViewModel::conversationsOfferedChanged, this, showOffered);
    showOffered();
}

bool ShellSessionAdapter::recordingAgreementAccepted() const
{
    return m_viewModel.recordingAgreementAccepted();
}
bool ShellSessionAdapter::needsMigrationOffer() const
{
    return m_viewModel.needsMigrationOffer();
}
bool ShellSessionAdapter::configurationAvailable() const
{
    return m_viewModel.configurationAvailable();
}
bool ShellSessionAdapter::isSignedIn() const
{
    return m_viewModel.isSignedIn();
}
bool ShellSessionAdapter::isBusy() const
{
    return m_viewModel.isBusy();
}
bool ShellSessionAdapter::isAppleAuthorizationActive() const
{
    return m_viewModel.isAppleAuthorizationActive();
}
QString ShellSessionAdapter::errorMessage() const
{
    return m_viewModel.errorMessage().value_or(QString());
}
QString ShellSessionAdapter::deletionNotice() const
{
    const QString status = m_viewModel.statusText();
    return status == SessionViewModel::accountDeletedText() ? status : QString();
}
QString ShellSessionAdapter::signInAddress() const
{
    const auto page = m_viewModel.appleAuthorizationPage();
    return page ? page->toString(QUrl::FullyEncoded) : QString();
}
int ShellSessionAdapter::conversationsAwaitingMigrationOffer() const
{
    return int(
        std::min<qint64>(m_viewModel.conversationsAwaitingMigrationOffer(), std::numeric_limits<int>::max()));
}

void ShellSessionAdapter::quit(bool saveFirst)
{
    const bool recording = m_viewModel.isRecording() || m_viewModel.isPaused();
    if (!saveFirst || !(recording || m_viewModel.isProcessing())) {
        if (!saveFirst)
            m_viewModel.chooseDiscardAtQuit();
        emit quitRequested();
        return;
    }
    if (std::exchange(m_quitsAfterFinish, true))
        return;
    // A finish ends with this signal whether or not it saved the review.
    connect(&m_viewModel, &SessionViewModel::conversationFinished, this, &ShellSession::quitRequested,
        Qt::SingleShotConnection);
    if (recording)
        m_viewModel.requestFinishConversation();
}

void ShellSessionAdapter::acceptRecordingAgreement()
{
    m_viewModel.acceptRecordingAgreement();
}
void ShellSessionAdapter::beginAppleAuthorization()
{
    m_viewModel.requestSignIn();
}
void ShellSessionAdapter::cancelAppleAuthorization()
{
    m_viewModel.cancelAppleAuthorization();
}
bool ShellSessionAdapter::copySignInAddress()
{
    return copyPlainText(signInAddress());
}
void ShellSessionAdapter::openWebPage(const QUrl& page)
{
    openPage(page);
}

QCoro::Task<void> ShellSessionAdapter::openPage(QUrl page)
{
    const QPointer<ShellSessionAdapter> self(this);
    const bool opened = co_await m_viewModel.openInBrowser(page);
    if (self && !opened)
        setUnopenedPage(page.toString(QUrl::FullyEncoded));
}

bool ShellSessionAdapter::copyUnopenedPage()
{
    return copyPlainText(m_unopenedPage);
}

void ShellSessionAdapter::dismissUnopenedPage()
{
    setUnopenedPage({});
}

void ShellSessionAdapter::setUnopenedPage(const QString& page)
{
    if (page == m_unopenedPage)
        return;
    m_unopenedPage = page;
    emit unopenedPageChanged();
}

void ShellSessionAdapter::handleExternalURL(const QUrl& url)
{
    m_viewModel.handleExternalURL(url);
}
void ShellSessionAdapter::synchronizeHistory(bool refreshFromServer)
{
    m_viewModel.refreshHistory(refreshFromServer);
}

void ShellSessionAdapter::answerMigration(bool accepted)
{
    answer(accepted);
}

QCoro::Task<void> ShellSessionAdapter::answer(bool accepted)
{
    const QPointer<ShellSessionAdapter> self(this);
    co_await m_viewModel.answerMigrationOffer(accepted, offeredConversations()->chosen());
    if (self)
        emit migrationAnswered();
}

} // namespace lumora
