#pragma once

#include "RealControlPlaneFixture.hpp"
#include "ViewModelFixture.hpp"
#include "domain/ConversationUploadCodec.hpp"
#include "domain/ConversationUploadPayload.hpp"
#include "security/AccountSessionStore.hpp"
#include "security/KeychainKeyStore.hpp"

#include <QJsonDocument>
#include <QUrlQuery>

namespace lumora::testing {

// A review of two turns with their statistics, made `hours` ago: in whole seconds, as the
// account keeps them, and hours back, so that the server takes it.
inline DerivedSessionResult reviewHoursAgo(int hours, const QString& title)
{
    DerivedSessionResult review;
    review.id = QUuid::createUuid();
    review.title = title;
    review.completedAt
        = QDateTime::fromSecsSinceEpoch(QDateTime::currentSecsSinceEpoch() - 3600 * hours, Qt::UTC);
    review.duration = 95.5;
    review.stats = { SpeakerStats { 0, 50, 2, 30, 0.52 }, SpeakerStats { 1, 45.5, 1, 45.5, 0.48 } };
    review.fouls = QList<ProcessFoulAnnotation> {};
    review.summary = QStringLiteral("You both named the bills.");
    review.transcript = QList<SpeakerTurn> { SpeakerTurn(0, 0, 50, "Can we look at the bills?"),
        SpeakerTurn(1, 50, 95.5, "Yes, tonight.") };
    return review;
}

// The control plane's arguments that let an account store one conversation of
// `reviewHoursAgo`'s and a half.
inline QStringList quotaOfOneConversationAndAHalf()
{
    const DerivedSessionResult sample = reviewHoursAgo(3, QStringLiteral("Bills"));
    const auto body
        = ConversationUploadCodec::body(ConversationUploadPayload::fromResult(sample, QUuid::createUuid()),
            ConversationUploadPayload::maximumBodyBytes);
    EXPECT_TRUE(body.has_value());
    return { QStringLiteral("--storage-quota"), QString::number(body.value_or(QByteArray()).size() * 3 / 2) };
}

// A sealed review of this computer, made two hours ago.
inline DerivedSessionResult review(const QString& title)
{
    DerivedSessionResult result;
    result.id = QUuid::createUuid();
    result.title = title;
    result.completedAt = QDateTime::fromSecsSinceEpoch(QDateTime::currentSecsSinceEpoch() - 7200, Qt::UTC);
    result.duration = 60;
    result.fouls = QList<ProcessFoulAnnotation> {};
    result.summary = QStringLiteral("You both named the bills.");
    result.transcript = QList<SpeakerTurn> { SpeakerTurn(0, 0, 60, "Can we look at the bills?") };
    return result;
}

// A sealed review of the account signed in on `model`, made two hours ago.
inline DerivedSessionResult reviewOf(const SessionViewModel& model, const QString& title)
{
    DerivedSessionResult result = review(title);
    if (model.account())
        result.accountID = model.account()->accountID;
    return result;
}

// Counts the writes of the saved session; stands for another process that overwrites the saved
// session right after each of the first `racing` writes of it.
class OverwrittenSessionKeychain final : public SecureKeyStore {
public:
    OverwrittenSessionKeychain(std::shared_ptr<SecureKeyStore> inner, int racing = 0)
        : m_inner(std::move(inner))
        , m_racing(racing)
    {
    }

    int sessionWrites = 0;

    QCoro::Task<ReadResult> data(QString account) override
    {
        auto found = co_await m_inner->data(account);
        co_return found;
    }
    QCoro::Task<WriteResult> set(QByteArray data, QString account) override
    {
        if (account == AccountSessionStore::currentAccount()) {
            ++sessionWrites;
            if (m_racing > 0) {
                --m_racing;
                const LocalAccountSession other { QUuid::createUuid(), QUuid::createUuid() };
                data = QJsonDocument(other.toJson()).toJson(QJsonDocument::Compact);
            }
        }
        auto written = co_await m_inner->set(data, account);
        co_return written;
    }
    QCoro::Task<WriteResult> remove(QString account) override
    {
        auto removed = co_await m_inner->remove(account);
        co_return removed;
    }

private:
    std::shared_ptr<SecureKeyStore> m_inner;
    int m_racing;
};

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
        if (deletionRetryDelay)
            environment.deletionRetryDelay = *deletionRetryDelay;
        if (roomCheckInterval)
            environment.roomCheckInterval = *roomCheckInterval;
        environment.accountDeletionAnswered = accountDeletionAnswered;
        environment.prepareKeyring = prepareKeyring;
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
    // Opens the desktop keyring at start-up, as the application does; unset, the keychain is
    // taken as it is.
    std::function<QCoro::Task<KeyringState>(std::function<void()>)> prepareKeyring;
    std::chrono::milliseconds signInTimeout = std::chrono::seconds(480);
    // The application's own when unset.
    std::optional<std::chrono::milliseconds> deletionRetryDelay;
    std::optional<std::chrono::milliseconds> roomCheckInterval;
    // Awaited between the account's answer to its deletion and this computer's part of it.
    std::function<QCoro::Task<void>()> accountDeletionAnswered;
};

} // namespace lumora::testing
