#pragma once

#include "UpdateChecker.hpp"
#include "UpdateFeed.hpp"

#include <QNetworkAccessManager>
#include <QObject>
#include <QString>
#include <QTimer>
#include <QUrl>
#include <functional>
#include <optional>
#include <qcoro/qcorotask.h>

namespace lumora {

class InfoResource;

// Checks the signed update feed. It exists in every run but is configured only when the Info
// resource holds both the feed address ("SUFeedURL") and the public key ("SUPublicEDKey") as
// strings; unconfigured, it never checks and the menu command stays disabled. Configured, it
// checks at start and once a day while running, and whenever the user asks. Installing a newer
// version is the desktop's package manager's job: a newer release opens its download page.
class SecureUpdateController : public UpdateChecker {
    Q_OBJECT

public:
    enum class Outcome { upToDate, newerVersion, unverified, unreachable };

    static constexpr int checkIntervalMilliseconds = 24 * 60 * 60 * 1000;

    // `feedURL` and `publicKey` are the two Info values when they are strings.
    SecureUpdateController(std::optional<QString> feedURL, std::optional<QString> publicKey,
        QString currentVersion, QObject* parent = nullptr);
    static SecureUpdateController* fromInfo(const InfoResource& info, QObject* parent = nullptr);

    [[nodiscard]] bool configured() const override
    {
        return m_feedURL.has_value() && m_publicKey.has_value();
    }
    [[nodiscard]] bool isChecking() const override { return m_isChecking; }
    [[nodiscard]] QString message() const override { return m_message; }
    [[nodiscard]] std::optional<Outcome> lastOutcome() const { return m_lastOutcome; }

    // Opens a newer release's download page; the desktop's browser by default.
    void setPageOpener(std::function<void(const QUrl&)> opener) { m_openPage = std::move(opener); }
    // Starts the first check and the daily timer; nothing when not configured.
    void start();
    void checkForUpdates() override;
    QCoro::Task<Outcome> check();

signals:
    // A check finished, whatever it found.
    void checked();

private:
    QCoro::Task<void> runCheck();
    void report(Outcome outcome, const QString& sentence);

    std::optional<QString> m_feedURL;
    std::optional<QString> m_publicKey;
    QString m_currentVersion;
    QNetworkAccessManager m_network;
    QTimer m_daily;
    bool m_isChecking = false;
    QString m_message;
    std::optional<Outcome> m_lastOutcome;
    std::function<void(const QUrl&)> m_openPage;
};

} // namespace lumora
