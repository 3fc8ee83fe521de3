#include "SecureUpdateController.hpp"

#include "AppLog.hpp"
#include "viewmodel/InfoResource.hpp"

#include <QDesktopServices>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkReply>
#include <QSettings>
#include <memory>
#include <qcoro/qcoronetworkreply.h>
#include <utility>

namespace lumora {

namespace {

constexpr int feedTimeoutMilliseconds = 30000;
// A feed signed further ahead of this computer's clock than this is not believed: taken as the
// newest seen, it would refuse every honest later feed as a replay.
constexpr qint64 feedClockToleranceSeconds = 24 * 60 * 60;
// A feed is a few hundred bytes; anything far larger is not one.
constexpr qint64 maximumFeedBytes = 64 * 1024;

// The newest release kept from an earlier check; nothing when the entry is not one.
std::optional<UpdateRelease> storedRelease(const QVariant& entry)
{
    const QJsonObject stored = QJsonDocument::fromJson(entry.toByteArray()).object();
    UpdateRelease release { stored.value(QStringLiteral("version")).toString(),
        QUrl(stored.value(QStringLiteral("downloadURL")).toString(), QUrl::StrictMode),
        QDateTime::fromString(stored.value(QStringLiteral("publishedAt")).toString(), Qt::ISODate) };
    if (release.version.isEmpty() || release.downloadURL.scheme() != QLatin1String("https")
        || !release.publishedAt.isValid())
        return std::nullopt;
    return release;
}

} // namespace

SecureUpdateController::SecureUpdateController(std::optional<QString> feedURL,
    std::optional<QString> publicKey, QString currentVersion, QSettings* preferences, QObject* parent)
    : UpdateChecker(parent)
    , m_feedURL(std::move(feedURL))
    , m_publicKey(std::move(publicKey))
    , m_currentVersion(std::move(currentVersion))
    , m_preferences(preferences)
    , m_openPage([](const QUrl& page) { QDesktopServices::openUrl(page); })
{
    // The feed decides what the user is told to install: it travels only over https.
    const QUrl feed(m_feedURL.value_or(QString()), QUrl::StrictMode);
    const bool secureFeed
        = feed.isValid() && feed.scheme() == QLatin1String("https") && !feed.host().isEmpty();
    if (m_feedURL && m_publicKey && !secureFeed)
        qCWarning(appLog, "The update feed address is not an https address; update checks are off.");
    m_configured = m_publicKey.has_value() && secureFeed;
    m_daily.setInterval(checkIntervalMilliseconds);
    connect(&m_daily, &QTimer::timeout, this, &SecureUpdateController::checkQuietly);
    if (m_preferences)
        m_newest = storedRelease(m_preferences->value(preferenceKey()));
    if (!availableVersion().isEmpty())
        m_message = sentence(Outcome::newerVersion);
}

SecureUpdateController* SecureUpdateController::fromInfo(
    const InfoResource& info, QSettings* preferences, QObject* parent)
{
    return new SecureUpdateController(info.string(InfoResource::updateFeedURLKey),
        info.string(InfoResource::updatePublicKeyKey),
        info.string(InfoResource::shortVersionKey).value_or(QString()), preferences, parent);
}

QString SecureUpdateController::availableVersion() const
{
    if (m_newest && UpdateFeed::compareVersions(m_newest->version, m_currentVersion) > 0)
        return m_newest->version;
    return {};
}

void SecureUpdateController::start()
{
    if (!configured())
        return;
    m_daily.start();
    checkQuietly();
}

void SecureUpdateController::checkQuietly()
{
    if (!configured() || m_isChecking)
        return;
    QCoro::connect(runCheck(), this, [] {});
}

void SecureUpdateController::checkForUpdates()
{
    if (!configured())
        return;
    m_userAsked = true;
    setMessage(tr("Checking for updates\u2026"));
    if (!m_isChecking)
        QCoro::connect(runCheck(), this, [] {});
}

void SecureUpdateController::openDownloadPage()
{
    if (!availableVersion().isEmpty())
        m_openPage(m_newest->downloadURL);
}

QCoro::Task<void> SecureUpdateController::runCheck()
{
    co_await check();
}

QCoro::Task<SecureUpdateController::Outcome> SecureUpdateController::check()
{
    m_isChecking = true;
    emit isCheckingChanged();

    QNetworkRequest request { QUrl(*m_feedURL) };
    request.setTransferTimeout(feedTimeoutMilliseconds);
    const std::unique_ptr<QNetworkReply, void (*)(QNetworkReply*)> reply(
        m_network.get(request), [](QNetworkReply* r) { r->deleteLater(); });
    bool oversized = false;
    QTimer::singleShot(m_checkDeadline, reply.get(), [raw = reply.get()] { raw->abort(); });
    QObject::connect(reply.get(), &QNetworkReply::downloadProgress, reply.get(),
        [raw = reply.get(), &oversized](qint64 received, qint64) {
            if (received > maximumFeedBytes) {
                oversized = true;
                raw->abort();
            }
        });
    co_await reply.get();

    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    Outcome outcome = Outcome::unreachable;
    if (oversized)
        outcome = Outcome::unverified;
    else if (reply->error() == QNetworkReply::NoError && status == 200)
        outcome = judge(UpdateFeed::verify(reply->readAll(), *m_publicKey));

    m_lastOutcome = outcome;
    // A quiet check speaks only to announce a newer release.
    if (std::exchange(m_userAsked, false) || outcome == Outcome::newerVersion)
        setMessage(sentence(outcome));
    m_isChecking = false;
    emit isCheckingChanged();
    emit checked();
    co_return outcome;
}

SecureUpdateController::Outcome SecureUpdateController::judge(
    const std::expected<UpdateRelease, UpdateFeedError>& release)
{
    if (!release)
        return Outcome::unverified;
    if (release->publishedAt > QDateTime::currentDateTimeUtc().addSecs(feedClockToleranceSeconds))
        return Outcome::futureFeed;
    // A feed signed before the newest one seen is an old feed served again.
    if (m_newest && release->publishedAt < m_newest->publishedAt)
        return Outcome::outdatedFeed;
    remember(*release);
    return availableVersion().isEmpty() ? Outcome::upToDate : Outcome::newerVersion;
}

void SecureUpdateController::remember(const UpdateRelease& release)
{
    const QString before = availableVersion();
    m_newest = release;
    if (m_preferences) {
        const QJsonObject stored { { QStringLiteral("version"), release.version },
            { QStringLiteral("downloadURL"), release.downloadURL.toString() },
            { QStringLiteral("publishedAt"), release.publishedAt.toString(Qt::ISODateWithMs) } };
        m_preferences->setValue(preferenceKey(), QJsonDocument(stored).toJson(QJsonDocument::Compact));
    }
    if (availableVersion() != before)
        emit availableVersionChanged();
}

QString SecureUpdateController::sentence(Outcome outcome) const
{
    QString failure;
    switch (outcome) {
    case Outcome::upToDate:
        return tr("Corvane %1 is the newest version.").arg(m_currentVersion);
    case Outcome::newerVersion:
        return tr("Corvane %1 is available.").arg(availableVersion());
    case Outcome::unverified:
        failure = tr("The update feed could not be verified, so it was ignored.");
        break;
    case Outcome::outdatedFeed:
        failure = tr("The update feed is older than one Corvane has already seen, so it was ignored.");
        break;
    case Outcome::futureFeed:
        failure = tr("The update feed is dated ahead of this computer's clock, so it was ignored.");
        break;
    case Outcome::unreachable:
        failure = tr("Corvane could not reach the update feed. Try again later.");
        break;
    }
    // A failed check does not take back a release an earlier feed announced.
    if (!availableVersion().isEmpty())
        failure += u' ' + tr("Corvane %1 is still available.").arg(availableVersion());
    return failure;
}

void SecureUpdateController::setMessage(const QString& message)
{
    if (m_message == message)
        return;
    m_message = message;
    emit messageChanged();
}

} // namespace lumora
