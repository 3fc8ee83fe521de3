#include "viewmodel/SessionEnvironment.hpp"

#include "persistence/TemporaryConversationStore.hpp"
#include "security/KeychainKeyStore.hpp"
#include "viewmodel/CheckinReminderScheduler.hpp"
#include "viewmodel/DesktopBrowser.hpp"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QStandardPaths>

namespace lumora {

SessionEnvironment SessionEnvironment::standard(
    QSettings& preferences, std::shared_ptr<CheckinReminderScheduler> reminderScheduler)
{
    SessionEnvironment environment;
    environment.arguments = QCoreApplication::arguments();
    environment.info = InfoResource::bundled();
    environment.preferences = &preferences;
    environment.keychain
        = [] { return std::make_shared<KeychainKeyStore>(QStringLiteral("com.lumora.native")); };
    environment.applicationSupport
        = [] { return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation); };
    environment.temporaryRoot = TemporaryConversationStore::standardRoot();
    environment.reminderScheduler = std::move(reminderScheduler);
    environment.openBrowser = [](QUrl url) -> QCoro::Task<bool> {
        // Without the desktop's opener program, Qt's own way is the only one left.
        if (QStandardPaths::findExecutable(QStringLiteral("xdg-open")).isEmpty())
            co_return QDesktopServices::openUrl(url);
        co_return co_await DesktopBrowser::open(std::move(url));
    };
    return environment;
}

} // namespace lumora
