#pragma once

// clang-format off
// First, as SpokenConversationTest.hpp asks.
#include "SpokenConversationTest.hpp"
// clang-format on

#include "ViewModelFixture.hpp"
#include "appcore/CheckinService.hpp"
#include "appcore/ConversationBackupService.hpp"
#include "appcore/PairingService.hpp"
#include "appcore/SessionCoordinator.hpp"
#include "domain/PairingPolicy.hpp"
#include "persistence/EncryptedResultStore.hpp"
#include "persistence/RecordingAgreementStore.hpp"
#include "providers/ControlPlaneClient.hpp"
#include "providers/DeepgramClient.hpp"

#include <QDir>
#include <functional>

namespace lumora::test {

// A spoken conversation through a view model that is connected to the real control plane and
// speech stand-in: signed in through the development sign-in, with the account's services,
// the recording agreement accepted, on the real microphone and timer.
class ConnectedConversationTest : public SpokenConversationTest {
protected:
    using SpokenConversationTest::SpokenConversationTest;

    // The view model, on the real clock unless the test moves it on, and with the client's
    // reservations unless the test gives others.
    using Reservations
        = std::function<std::shared_ptr<SessionAuthorizationProvider>(std::shared_ptr<ControlPlaneClient>)>;
    std::unique_ptr<SessionViewModel> connectedModel(const Reservations& reservations = {})
    {
        home.info[QStringLiteral("LMControlPlaneURL")] = controlPlane->baseUrl().toString();
        home.info[QStringLiteral("LMSpeechServiceURL")] = speech->baseUrl().toString();
        EXPECT_TRUE(
            RecordingAgreementStore(*home.preferences, RecordingAgreementStore::standardKey()).accept());
        SessionEnvironment environment = home.environment();
        environment.clock
            = [skipped = clockSkipped] { return QDateTime::currentDateTimeUtc().addSecs(*skipped); };
        auto model = std::make_unique<SessionViewModel>(std::move(environment));
        lumora::testing::settle(*model);

        registration = signIn(identity);
        EXPECT_FALSE(registration.deviceID.isNull());
        const auto client = std::make_shared<ControlPlaneClient>(
            controlPlane->baseUrl(), registration.deviceID, identity, manager);
        const std::shared_ptr<SessionAuthorizationProvider> authorization
            = reservations ? reservations(client) : client;
        model->adoptServices(
            { client, ConversationBackupService::create(client, model->resultStore(), model->backupStore()),
                PairingService::create(client, PairingPolicy::version.toString()),
                CheckinService::create(client) });
        auto temporary = TemporaryConversationStore::create(home.temporaryRoot);
        EXPECT_TRUE(temporary.has_value());
        model->adoptCoordinator(SessionCoordinator::create(authorization, client,
            std::make_shared<DeepgramClient>(manager, speech->baseUrl()), client, client,
            model->resultStore(), *temporary, *model->marks()));
        EXPECT_TRUE(test::awaitTask(model->refreshAfterConversation()));
        EXPECT_EQ(model->startReadiness(), ConversationStartReadiness::ready);
        return model;
    }

    QStringList temporaryEntries() const
    {
        return QDir(home.temporaryRoot).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
    }

    DeviceIdentity identity { P256PrivateKey::generate().value() };
    DeviceRegistration registration;
    lumora::testing::ViewModelHome home;
    // Seconds the view model's clock runs ahead of the real one.
    std::shared_ptr<qint64> clockSkipped = std::make_shared<qint64>(0);
};

} // namespace lumora::test
