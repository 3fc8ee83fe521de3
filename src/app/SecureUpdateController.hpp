#pragma once

#include "UpdateFeed.hpp"
#include "shell/UpdateChecker.hpp"

#include <QNetworkAccessManager>
#include <QObject>
#include <QString>
#include <QTimer>
#include <QUrl>
#include <functional>
#include <optional>
#include <qcoro/qcorotask.h>

class QSettings;

namespace lumora {

class InfoResource;

// Checks the signed update feed. It exists in every run but is configured only when the Info
// resource holds both the feed address ("SUFeedURL", an https address) and the public key
// ("SUPublicEDKey") as strings; unconfigured, it never checks and the menu command stays
// disabled. Configured, it checks quietly at start and once a day while running: a newer
// release is only announced (`availableVersion`). A check the user asks for also says what it
// found (`message`). The download page opens only when the user asks for it; installing is the
// desktop's package manager's job. The newest release seen is kept in the preferences, so that a
// replayed older feed cannot hide it, now or after a restart.
class SecureUpdateController : public UpdateChecker {
    Q_OBJECT

public:
    enum class Outcome { upToDate, newerVersion, unverified, outdatedFeed, futureFeed, unreachable };

    static constexpr int checkIntervalMilliseconds = 24 * 60 * 60 * 1000;
    // A whole check ends by then, however slowly the feed's bytes come in.
    static constexpr int checkDeadlineMilliseconds = 60 * 1000;
    // The preference entry holding the newest verified release.
    static QString preferenceKey() { return QStringLiteral("lumora.updates.newestRelease"); }

    // `feedURL` and `publicKey` are the two Info values when they are strings. Without
    // `preferences` the newest release is remembered for this run only.
    SecureUpdateController(std::optional<QString> feedURL, std::optional<QString> publicKey,
        QString currentVersion, QSettings* preferences = nullptr, QObject* parent = nullptr);
    static SecureUpdateController* fromInfo(
        const InfoResource& info, QSettings* preferences = nullptr, QObject* parent = nullptr);

    [[nodiscard]] bool configured() const override { return m_configured; }
    [[nodiscard]] bool isChecking() const override { return m_isChecking; }
    [[nodiscard]] QString message() const override { return m_message; }
    [[nodiscard]] std::optional<Outcome> lastOutcome() const { return m_lastOutcome; }
    [[nodiscard]] QString availableVersion() const override;

    // Opens a newer release's download page; the desktop's browser by default.
    void setPageOpener(std::function<void(const QUrl&)> opener) { m_openPage = std::move(opener); }
    void setCheckDeadline(int milliseconds) { m_checkDeadline = milliseconds; }
    // Starts the first quiet check and the daily timer; nothing when not configured.
    void start();
    void checkForUpdates() override;
    void openDownloadPage() override;
    // One check, quiet unless the user asked for it.
    QCoro::Task<Outcome> check();

signals:
    // A check finished, whatever it found.
    void checked();

private:
    void checkQuietly();
    QCoro::Task<void> runCheck();
    [[nodiscard]] Outcome judge(const std::expected<UpdateRelease, UpdateFeedError>& release);
    void remember(const UpdateRelease& release);
    [[nodiscard]] QString sentence(Outcome outcome) const;
    void setMessage(const QString& message);

    std::optional<QString> m_feedURL;
    std::optional<QString> m_publicKey;
    bool m_configured = false;
    QString m_currentVersion;
    QSettings* m_preferences = nullptr;
    QNetworkAccessManager m_network;
    QTimer m_daily;
    bool m_isChecking = false;
    bool m_userAsked = false;
    QString m_message;
    std::optional<Outcome> m_lastOutcome;
    std::optional<UpdateRelease> m_newest;
    std::function<void(const QUrl&)> m_openPage;
    int m_checkDeadline = checkDeadlineMilliseconds;
};

} // namespace lumora
