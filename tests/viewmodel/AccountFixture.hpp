#pragma once

#include "RealControlPlaneFixture.hpp"
#include "ViewModelFixture.hpp"
#include "security/AccountSessionStore.hpp"
#include "security/KeychainKeyStore.hpp"

#include <QUrlQuery>

namespace lumora::testing {

// Launches of the application on one computer whose control plane is the real one on
// loopback with its development sign-in. The saved session, the device key and the store keys
// live in the test session's Secret Service unless a test chooses the in-memory keychain.
class AccountTest : public RealControlPlaneFixture {
protected:
    void SetUp() override
    {
        RealControlPlaneFixture::SetUp();
        if (HasFatalFailure())
            return;
        home.info[InfoResource::controlPlaneURLKey] = base.toString();
        home.info[InfoResource::signInHostKey] = base.host();
    }

public:
    // Public, so that the rows of a table test can arrange their case.
    std::shared_ptr<SecureKeyStore> keychain() const
    {
        if (chosenKeychain)
            return chosenKeychain;
        if (!realKeychain)
            return home.keychain;
        return std::make_shared<KeychainKeyStore>(service);
    }

    // One launch; the launch before it must have ended, as it holds the data folder.
    std::unique_ptr<SessionViewModel> launch(const QStringList& arguments = {})
    {
        auto model = open(arguments);
        settle(*model);
        return model;
    }

    // A launch whose start-up is still running.
    std::unique_ptr<SessionViewModel> open(const QStringList& arguments = {})
    {
        SessionEnvironment environment = home.environment(arguments);
        environment.keychain = [this] { return keychain(); };
        environment.openBrowser = [this](QUrl url) -> QCoro::Task<bool> {
            opened.append(url);
            co_return browserOpens;
        };
        environment.signInTimeout = signInTimeout;
        return std::make_unique<SessionViewModel>(std::move(environment));
    }

    // The user in the browser: the page, then the development form as `name`; the URL with
    // which the browser would return to the application.
    QUrl browse(const QUrl& page, const QString& name)
    {
        const auto form = sendRequest(manager, "GET", page);
        EXPECT_EQ(form.status, 200);
        QUrlQuery fields;
        fields.addQueryItem("request", QUrlQuery(page).queryItemValue("request"));
        fields.addQueryItem("name", name);
        const auto submitted = sendRequest(manager, "POST", base.resolved(QUrl("/dev/sign-in")),
            fields.toString(QUrl::FullyEncoded).toUtf8(),
            { { "Content-Type", "application/x-www-form-urlencoded" } });
        EXPECT_EQ(submitted.status, 302);
        return QUrl(QString::fromLatin1(submitted.header("Location")));
    }

    // Presses the sign-in button and completes the page as `name`.
    void signIn(SessionViewModel& model, const QString& name)
    {
        const qsizetype before = opened.size();
        model.requestSignIn();
        settle(model);
        ASSERT_EQ(opened.size(), before + 1) << model.statusText().toStdString();
        model.handleExternalURL(browse(opened.last(), name));
        settle(model);
        ASSERT_TRUE(model.isSignedIn()) << model.statusText().toStdString();
    }

    std::optional<LocalAccountSession> savedSession() const
    {
        AccountSessionStore store(keychain());
        const auto loaded = test::awaitTask(store.load());
        EXPECT_TRUE(loaded.has_value());
        return loaded ? loaded->session : std::nullopt;
    }

    static void expectServices(const SessionViewModel& model, bool connected)
    {
        EXPECT_EQ(model.client() != nullptr, connected);
        EXPECT_EQ(model.coordinator() != nullptr, connected);
        EXPECT_EQ(model.backupService() != nullptr, connected);
        EXPECT_EQ(model.pairingService() != nullptr, connected);
    }

    ViewModelHome home;
    bool realKeychain = true;
    // A test's own key store in place of both.
    std::shared_ptr<SecureKeyStore> chosenKeychain;
    QString service = u"com.lumora.native.test-"_qs + QUuid::createUuid().toString(QUuid::WithoutBraces);
    QList<QUrl> opened;
    bool browserOpens = true;
    std::chrono::milliseconds signInTimeout = std::chrono::seconds(480);
};

} // namespace lumora::testing
