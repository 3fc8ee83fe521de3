// The browser sign-in of the session view model: the control plane's sign-in page opens in the
// desktop's browser, and the browser returns to the application with a one-time ticket in a
// "lumora://apple-auth" (or "corvane://apple-auth") URL.
#include "domain/AppCallbackRoute.hpp"
#include "providers/ControlPlaneBootstrap.hpp"
#include "viewmodel/SessionViewModel.hpp"
#include "viewmodel/ViewModelLog.hpp"

#include <QLoggingCategory>
#include <QSettings>
#include <QTimer>
#include <algorithm>

namespace lumora {

namespace {

struct QueryItem {
    QString name;
    std::optional<QString> value;
};

// The query items as written, in order; an item without an equals sign has no value, one
// with nothing after it has an empty value. A plus sign stays a plus sign.
QList<QueryItem> queryItems(const QUrl& url)
{
    QList<QueryItem> items;
    if (!url.hasQuery())
        return items;
    const QString query = url.query(QUrl::FullyEncoded);
    for (const QString& part : query.split(u'&')) {
        const qsizetype equals = part.indexOf(u'=');
        if (equals < 0) {
            items.append({ QUrl::fromPercentEncoding(part.toLatin1()), std::nullopt });
        } else {
            items.append({ QUrl::fromPercentEncoding(part.left(equals).toLatin1()),
                QUrl::fromPercentEncoding(part.mid(equals + 1).toLatin1()) });
        }
    }
    return items;
}

// The state value of the last sign-in this application started, in the preferences: kept after
// that attempt ends, and across a restart, so that its late return still completes it, until a
// return brings it back or a new attempt replaces it.
QString signInStateKey()
{
    return QStringLiteral("lumora.pendingSignInState");
}

} // namespace

QCoro::Task<void> SessionViewModel::beginAppleAuthorization()
{
    if (m_isAppleAuthorizationActive)
        co_return;
    if (m_smokeMode) {
        co_await enterSmokeAccount();
        co_return;
    }
    if (m_account)
        co_return;
    if (m_client) {
        // A saved account whose state could not be read: it is read again, rather than a second
        // account signed in over it.
        AccountCall call = [this] { return refreshRemoteState(); };
        co_await perform(std::move(call));
        co_return;
    }
    const auto alive = lifetime();
    if (!isStorageReady()) {
        // The person acts: the start-up that could not open the keychain is tried again. Its
        // failure says what is wrong with the storage, never that the build has no server.
        co_await retryStartUp();
        if (alive.expired() || !isStorageReady() || hasConnectedAccount())
            co_return;
    }
    if (!m_baseURL) {
        reportFailure(QStringLiteral("This build is not connected to the control plane."));
        co_return;
    }
    if (PendingAccountDeletion::stored(preferences())) {
        // No account signs in over one whose deletion is not finished: the press asks the control
        // plane first and says what became of the deletion. The next press signs in.
        co_await askAgainAboutDeletion();
        co_return;
    }
    if (!m_identity) {
        // An account's deletion takes the device key with it: the next sign-in makes a new one.
        const std::optional<QString> failure = co_await loadIdentity();
        if (alive.expired())
            co_return;
        if (failure || !m_identity) {
            reportFailure(failure.value_or(storageFailureMessage()));
            co_return;
        }
    }
    // A revocation that an offline sign-out left pending goes out before the next sign-in.
    co_await retryPendingRevocation();
    if (alive.expired())
        co_return;
    AccountCall call = [this] { return openAuthorizationPage(); };
    co_await perform(std::move(call));
}

QCoro::Task<std::expected<void, AccountCallFailure>> SessionViewModel::openAuthorizationPage()
{
    const auto alive = lifetime();
    const QString state = ControlPlaneBootstrap::newState();
    if (state.isEmpty())
        co_return std::unexpected(
            AccountCallFailure(ControlPlaneFailure(ControlPlaneError::invalidResponse())));
    auto page = co_await ControlPlaneBootstrap::beginWebAppleAuthorization(
        *m_baseURL, *m_identity, state, network());
    if (alive.expired())
        co_return {};
    if (!page)
        co_return std::unexpected(AccountCallFailure(std::move(page.error())));
    // Only the configured sign-in host may receive the user: the control plane's answer alone
    // must not send the browser anywhere else.
    const std::optional<QString> host = m_environment.info.signInHost();
    if (page->scheme() != QStringLiteral("https") || !host || host->isEmpty() || page->host() != *host)
        co_return std::unexpected(
            AccountCallFailure(ControlPlaneFailure(ControlPlaneError::invalidResponse())));
    startAppleAuthorizationInBrowser(*page, state);
    co_return {};
}

void SessionViewModel::startAppleAuthorizationInBrowser(const QUrl& url, const QString& state)
{
    const QUuid attempt = QUuid::createUuid();
    m_appleAuthorizationAttemptID = attempt;
    preferences().setValue(signInStateKey(), state);
    preferences().sync();
    publish(m_isAppleAuthorizationActive, true, &SessionViewModel::isAppleAuthorizationActiveChanged);
    publish(
        m_appleAuthorizationPage, std::optional<QUrl>(), &SessionViewModel::appleAuthorizationPageChanged);
    // The timer is a child of the view model: it goes with it, and it acts only while its
    // attempt is still the current one.
    delete m_appleAuthorizationTimeout;
    m_appleAuthorizationTimeout = new QTimer(this);
    m_appleAuthorizationTimeout->setSingleShot(true);
    QObject::connect(m_appleAuthorizationTimeout, &QTimer::timeout, this, [this, attempt] {
        if (m_appleAuthorizationAttemptID == attempt)
            cancelAppleAuthorization(QStringLiteral("Sign in with Apple timed out. Try again."));
    });
    m_appleAuthorizationTimeout->start(m_environment.signInTimeout);
    start(watchBrowserOpening(attempt, url));
}

QCoro::Task<bool> SessionViewModel::openInBrowser(QUrl page)
{
    if (!m_environment.openBrowser)
        co_return false;
    // A copy: the view model may go while the browser starts.
    const auto open = m_environment.openBrowser;
    co_return co_await open(std::move(page));
}

QCoro::Task<void> SessionViewModel::watchBrowserOpening(QUuid attempt, QUrl page)
{
    const auto alive = lifetime();
    const bool opened = co_await openInBrowser(page);
    if (alive.expired() || opened || m_appleAuthorizationAttemptID != attempt)
        co_return;
    // A browser that cannot be started, or ends at once, will never come back: the attempt ends
    // now, and the page stays on screen for the user to open by hand.
    endAppleAuthorizationAttempt();
    publish(m_appleAuthorizationPage, std::optional(page), &SessionViewModel::appleAuthorizationPageChanged);
    reportFailure(browserNotOpenedMessage());
}

void SessionViewModel::cancelAppleAuthorization()
{
    cancelAppleAuthorization(std::nullopt);
}

void SessionViewModel::cancelAppleAuthorization(const std::optional<QString>& message)
{
    if (!m_isAppleAuthorizationActive)
        return;
    endAppleAuthorizationAttempt();
    if (message)
        reportFailure(*message);
}

void SessionViewModel::endAppleAuthorizationAttempt()
{
    m_appleAuthorizationAttemptID.reset();
    publish(m_isAppleAuthorizationActive, false, &SessionViewModel::isAppleAuthorizationActiveChanged);
    if (m_appleAuthorizationTimeout) {
        m_appleAuthorizationTimeout->stop();
        m_appleAuthorizationTimeout->deleteLater();
        m_appleAuthorizationTimeout = nullptr;
    }
}

void SessionViewModel::handleExternalURL(const QUrl& url)
{
    if (!AppCallbackRoute::resolve(url))
        return;
    // A return from the browser that started the application comes while the start-up still
    // opens the keyring and restores the account: it waits for them, as before there is neither
    // a key to complete it with nor the account that would keep it out.
    if (m_startUpRunning) {
        m_linksWaitingForStartUp.append(url);
        return;
    }
    // Only a signed-out computer takes a sign-in: a link that arrives while an account is
    // connected or a conversation runs would replace the account under it.
    if (hasConnectedAccount() || isConversationRunning()) {
        qCWarning(accountLog,
            "A sign-in link arrived while an account is connected or a conversation runs; "
            "it is ignored.");
        return;
    }
    // Nor while an account's deletion is not finished: that account goes first, and a sign-in
    // completed now would give its reviews to the next account and its deletion to this one.
    if (PendingAccountDeletion::stored(preferences())) {
        qCWarning(
            accountLog, "A sign-in link arrived while an account's deletion is pending; it is ignored.");
        return;
    }
    // Only a return of the sign-in this application started last is taken: anyone may start a
    // sign-in into their own account for this computer's public key and hand the link over,
    // but that link carries their state, not this one. Such a link changes nothing, and an
    // attempt under way keeps waiting.
    const QList<QueryItem> items = queryItems(url);
    const auto returned
        = std::ranges::find_if(items, [](const QueryItem& item) { return item.name == u"state"; });
    const QVariant kept = preferences().value(signInStateKey());
    const QString state = kept.typeId() == QMetaType::QString ? kept.toString() : QString();
    if (state.isEmpty() || returned == items.end() || returned->value != state) {
        qCWarning(accountLog, "A sign-in link that this application did not start arrived; it is ignored.");
        return;
    }
    preferences().remove(signInStateKey());
    preferences().sync();
    // A return from the browser ends the attempt even when none is waiting: a late return
    // after a time-out or a cancel still completes the sign-in.
    endAppleAuthorizationAttempt();
    publish(
        m_appleAuthorizationPage, std::optional<QUrl>(), &SessionViewModel::appleAuthorizationPageChanged);
    start(finishAppleAuthorization(url, state));
}

QCoro::Task<void> SessionViewModel::finishAppleAuthorization(QUrl callbackURL, QString state)
{
    const QString incomplete = QStringLiteral("Sign in with Apple did not complete.");
    const auto route = AppCallbackRoute::resolve(callbackURL);
    if (!route || *route != AppCallbackRoute::appleAuthorization || !callbackURL.isValid()) {
        reportFailure(incomplete);
        co_return;
    }
    const QList<QueryItem> items = queryItems(callbackURL);
    if (std::ranges::any_of(items, [](const QueryItem& item) { return item.name == u"error"; })) {
        reportFailure(QStringLiteral("Sign in with Apple was canceled."));
        co_return;
    }
    const auto ticket
        = std::ranges::find_if(items, [](const QueryItem& item) { return item.name == u"ticket"; });
    if (ticket == items.end() || !ticket->value || !m_baseURL || !m_identity) {
        reportFailure(incomplete);
        co_return;
    }
    AccountCall call
        = [this, value = *ticket->value, state] { return completeAppleAuthorization(value, state); };
    const auto alive = lifetime();
    co_await perform(std::move(call));
    if (alive.expired())
        co_return;
    co_await synchronizeHistory(true);
}

QCoro::Task<std::expected<void, AccountCallFailure>> SessionViewModel::completeAppleAuthorization(
    QString ticket, QString state)
{
    const auto alive = lifetime();
    auto registration = co_await ControlPlaneBootstrap::completeWebAppleAuthorization(
        *m_baseURL, ticket, state, *m_identity, network());
    if (alive.expired())
        co_return {};
    if (!registration)
        co_return std::unexpected(AccountCallFailure(std::move(registration.error())));
    // Nothing is saved for a registration that is not this computer's: a link crafted from
    // another sign-in must not replace the account here.
    auto confirmed = co_await confirmRegistrationOfThisKey(*registration);
    if (alive.expired() || !confirmed)
        co_return confirmed;
    auto outcome = co_await adoptRegistration(*registration);
    co_return outcome;
}

QString SessionViewModel::tooManySignInsMessage(std::optional<int> retryAfterSeconds)
{
    if (!retryAfterSeconds)
        return QStringLiteral("There were too many sign-in attempts. Try again later.");
    const qint64 minutes = std::max<qint64>(1, (qint64(*retryAfterSeconds) + 59) / 60);
    return minutes == 1
        ? QStringLiteral("There were too many sign-in attempts. Try again in a minute.")
        : QStringLiteral("There were too many sign-in attempts. Try again in %1 minutes.").arg(minutes);
}

void SessionViewModel::requestSignIn()
{
    start(beginAppleAuthorization());
}

} // namespace lumora
