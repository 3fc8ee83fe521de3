#include "DevelopmentBuild.hpp"

#include "AppLog.hpp"
#include "ProcessSignals.hpp"
#include "viewmodel/SessionViewModel.hpp"

#include <QLoggingCategory>
#include <QSslConfiguration>
#include <csignal>
#include <memory>
#include <qcoro/qcorotimer.h>

namespace lumora {

#ifdef LUMORA_DEVELOPMENT_BUILD

InfoResource DevelopmentBuild::prepare(InfoResource compiled)
{
    if (const QString path = qEnvironmentVariable("LUMORA_DEVELOPMENT_CA"); !path.isEmpty()) {
        QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
        if (!configuration.addCaCertificates(path, QSsl::Pem))
            qCWarning(appLog, "The development CA could not be read.");
        QSslConfiguration::setDefaultConfiguration(configuration);
    }
    QJsonObject values = compiled.values();
    if (const QString controlPlane = qEnvironmentVariable("LUMORA_CONTROL_PLANE_URL");
        !controlPlane.isEmpty()) {
        values.insert(QLatin1String(InfoResource::controlPlaneURLKey), controlPlane);
        values.insert(QLatin1String(InfoResource::signInHostKey), QUrl(controlPlane).host());
    }
    if (const QString speech = qEnvironmentVariable("LUMORA_SPEECH_SERVICE_URL"); !speech.isEmpty())
        values.insert(QLatin1String(InfoResource::speechServiceURLKey), speech);
    return InfoResource(values);
}

void DevelopmentBuild::startConversationWhenReady(SessionViewModel& viewModel, const QStringList& arguments)
{
    if (!arguments.contains(QStringLiteral("--start-conversation")))
        return;
    auto started = std::make_shared<bool>(false);
    const auto startOnce = [&viewModel, started] {
        if (*started || viewModel.startReadiness() != ConversationStartReadiness::ready)
            return;
        *started = true;
        viewModel.requestToggleRecording();
    };
    for (const auto signal : { &SessionViewModel::accountChanged, &SessionViewModel::isBusyChanged,
             &SessionViewModel::recordingAgreementAcceptedChanged })
        QObject::connect(&viewModel, signal, &viewModel, startOnce);
    // A press that comes while the recording is still starting waits for it.
    auto pressed = std::make_shared<bool>(false);
    const auto finishOnce = [&viewModel, pressed] {
        if (*pressed && (viewModel.isRecording() || viewModel.isPaused())) {
            *pressed = false;
            viewModel.requestFinishConversation();
        }
    };
    auto* finishing = new ProcessSignals({ SIGUSR1 }, &viewModel);
    QObject::connect(finishing, &ProcessSignals::received, &viewModel, [pressed, finishOnce] {
        *pressed = true;
        finishOnce();
    });
    QObject::connect(&viewModel, &SessionViewModel::isRecordingChanged, &viewModel, finishOnce);
}

void DevelopmentBuild::addAccountDeletionHooks(SessionEnvironment& environment, const QStringList& arguments)
{
    if (!arguments.contains(QStringLiteral("--hold-after-account-deletion")))
        return;
    environment.accountDeletionAnswered = []() -> QCoro::Task<void> {
        qCInfo(appLog, "The account answered its deletion; held before this computer's part.");
        co_await QCoro::sleepFor(std::chrono::minutes(10));
    };
}

void DevelopmentBuild::deleteAccountWhenReady(SessionViewModel& viewModel, const QStringList& arguments)
{
    if (!arguments.contains(QStringLiteral("--delete-account")))
        return;
    auto asked = std::make_shared<bool>(false);
    const auto deleteOnce = [&viewModel, asked] {
        if (*asked || !viewModel.isSignedIn() || viewModel.isBusy())
            return;
        *asked = true;
        viewModel.requestAccountDeletion();
    };
    for (const auto signal : { &SessionViewModel::accountChanged, &SessionViewModel::isBusyChanged })
        QObject::connect(&viewModel, signal, &viewModel, deleteOnce);
}

#else

InfoResource DevelopmentBuild::prepare(InfoResource compiled)
{
    return compiled;
}

void DevelopmentBuild::startConversationWhenReady(SessionViewModel&, const QStringList&)
{
}

void DevelopmentBuild::addAccountDeletionHooks(SessionEnvironment&, const QStringList&)
{
}

void DevelopmentBuild::deleteAccountWhenReady(SessionViewModel&, const QStringList&)
{
}

#endif

} // namespace lumora
