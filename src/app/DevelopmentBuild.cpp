#include "DevelopmentBuild.hpp"

#include "AppLog.hpp"
#include "viewmodel/SessionViewModel.hpp"

#include <QLoggingCategory>
#include <QSslConfiguration>
#include <memory>

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
}

#else

InfoResource DevelopmentBuild::prepare(InfoResource compiled)
{
    return compiled;
}

void DevelopmentBuild::startConversationWhenReady(SessionViewModel&, const QStringList&)
{
}

#endif

} // namespace lumora
