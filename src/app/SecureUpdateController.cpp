#include "SecureUpdateController.hpp"

#include "viewmodel/InfoResource.hpp"

#include <QDesktopServices>
#include <QNetworkReply>
#include <memory>
#include <qcoro/qcoronetworkreply.h>

namespace lumora {

namespace {

constexpr int feedTimeoutMilliseconds = 30000;
// A feed is a few hundred bytes; anything far larger is not one.
constexpr qint64 maximumFeedBytes = 64 * 1024;

} // namespace

SecureUpdateController::SecureUpdateController(
    std::optional<QString> feedURL, std::optional<QString> publicKey, QString currentVersion, QObject* parent)
    : UpdateChecker(parent)
    , m_feedURL(std::move(feedURL))
    , m_publicKey(std::move(publicKey))
    , m_currentVersion(std::move(currentVersion))
    , m_openPage([](const QUrl& page) { QDesktopServices::openUrl(page); })
{
    m_daily.setInterval(checkIntervalMilliseconds);
    connect(&m_daily, &QTimer::timeout, this, &SecureUpdateController::checkForUpdates);
}

SecureUpdateController* SecureUpdateController::fromInfo(const InfoResource& info, QObject* parent)
{
    return new SecureUpdateController(info.string(InfoResource::updateFeedURLKey),
        info.string(InfoResource::updatePublicKeyKey),
        info.string(InfoResource::shortVersionKey).value_or(QString()), parent);
}

void SecureUpdateController::start()
{
    if (!configured())
        return;
    m_daily.start();
    checkForUpdates();
}

void SecureUpdateController::checkForUpdates()
{
    if (!configured() || m_isChecking)
        return;
    [](SecureUpdateController* self) -> QCoro::Task<void> { co_await self->runCheck(); }(this);
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
    QObject::connect(reply.get(), &QNetworkReply::downloadProgress, reply.get(),
        [raw = reply.get(), &oversized](qint64 received, qint64) {
            if (received > maximumFeedBytes) {
                oversized = true;
                raw->abort();
            }
        });
    co_await reply.get();

    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    const QByteArray body = reply->readAll();
    Outcome outcome = Outcome::unreachable;
    if (oversized) {
        outcome = Outcome::unverified;
        report(outcome, tr("The update feed could not be verified, so it was ignored."));
    } else if (reply->error() != QNetworkReply::NoError || status != 200) {
        report(outcome, tr("Corvane could not reach the update feed. Try again later."));
    } else if (const auto release = UpdateFeed::verify(body, *m_publicKey); !release) {
        outcome = Outcome::unverified;
        report(outcome, tr("The update feed could not be verified, so it was ignored."));
    } else if (UpdateFeed::compareVersions(release->version, m_currentVersion) > 0) {
        outcome = Outcome::newerVersion;
        report(outcome,
            tr("Corvane %1 is available. Its download page is opening in your browser.")
                .arg(release->version));
        m_openPage(release->downloadURL);
    } else {
        outcome = Outcome::upToDate;
        report(outcome, tr("Corvane %1 is the newest version.").arg(m_currentVersion));
    }

    m_isChecking = false;
    emit isCheckingChanged();
    emit checked();
    co_return outcome;
}

void SecureUpdateController::report(Outcome outcome, const QString& sentence)
{
    m_lastOutcome = outcome;
    m_message = sentence;
    emit messageChanged();
}

} // namespace lumora
