#pragma once

#include "audio/NativeAudioCaptureError.hpp"
#include "security/KeyringState.hpp"
#include "viewmodel/InfoResource.hpp"

#include <QDateTime>
#include <QStringList>
#include <QTimeZone>
#include <QUrl>
#include <chrono>
#include <expected>
#include <functional>
#include <memory>
#include <qcoro/qcorotask.h>

class QSettings;

namespace lumora {

class CheckinReminderScheduler;
class RecordingTimer;
class SecureKeyStore;

// What the session view model takes from the process around it. `main` passes `standard`;
// tests pass their own folders, preferences, key stores, clock and time zone.
struct SessionEnvironment {
    // The process's launch arguments.
    QStringList arguments;
    InfoResource info;
    // The application's preferences; must outlive the view model.
    QSettings* preferences = nullptr;
    // A new key store on the desktop keychain for service "com.lumora.native".
    std::function<std::shared_ptr<SecureKeyStore>()> keychain;
    // Opens that keychain before the first key is read from it: creates or unlocks the desktop
    // keyring through the keyring's own prompt, waiting as long as the prompt is up, and calls
    // its argument when the prompt opens (DesktopKeyring::prepare). Unset when the key store is
    // no desktop keyring.
    std::function<QCoro::Task<KeyringState>(std::function<void()> prompting)> prepareKeyring;
    // The user's application data folder (created when missing by the view model); empty
    // when there is none.
    std::function<QString()> applicationSupport;
    // The root folder of the temporary recordings.
    QString temporaryRoot;
    std::function<QDateTime()> clock = &QDateTime::currentDateTimeUtc;
    // The zone in which the reminder's weekday and time are meant.
    QTimeZone timeZone = QTimeZone::systemTimeZone();
    std::shared_ptr<CheckinReminderScheduler> reminderScheduler;
    // Whether the microphone may record, or why not, asked at every conversation start; when
    // unset, the desktop's default microphone must exist and open (MicrophoneAccess).
    std::function<QCoro::Task<std::expected<void, NativeAudioCaptureError>>()> microphonePermission;
    // Makes the recording clock's repeating one-second timer; when unset, a QTimer.
    std::function<std::unique_ptr<RecordingTimer>()> recordingTimer;
    // Opens a web page in the desktop's default browser; false when the desktop cannot, or when
    // the browser ends at once with a failure.
    std::function<QCoro::Task<bool>(QUrl)> openBrowser;
    // How long a browser sign-in may take before it is given up.
    std::chrono::milliseconds signInTimeout = std::chrono::seconds(480);
    // Awaited between the account's answer to its deletion and this computer's part of it;
    // unset, nothing is. The tests that end the program at that moment hold it there.
    std::function<QCoro::Task<void>()> accountDeletionAnswered;
    // The pause before an account's deletion that the control plane has not confirmed is asked
    // again while the program runs; it doubles with each answer that proves nothing.
    std::chrono::milliseconds deletionRetryDelay = std::chrono::seconds(15);
    // How often the account's list is read while an upload waits for room on the account, so that
    // room made on another computer sends it whichever page shows.
    std::chrono::milliseconds roomCheckInterval = std::chrono::seconds(60);

    // The real process: its arguments, the compiled-in Info resource, the desktop keychain,
    // the standard data and temporary folders, the system clock and time zone.
    static SessionEnvironment standard(
        QSettings& preferences, std::shared_ptr<CheckinReminderScheduler> reminderScheduler);
};

} // namespace lumora
