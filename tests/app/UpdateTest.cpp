#include "FailsWith.hpp"
#include "ScriptedServer.hpp"
#include "SecureUpdateController.hpp"
#include "UpdateFeed.hpp"
#include "UpdateFeedSigner.hpp"
#include "viewmodel/InfoResource.hpp"

#include <QEventLoop>
#include <QSignalSpy>
#include <QTimer>
#include <gtest/gtest.h>

namespace lumora {
namespace {

using testing::ScriptedServer;
using testing::UpdateFeedSigner;

const QString page = "https://downloads.example.org/corvane/0.2.0";

TEST(UpdateFeed, OnlyAFeedSignedWithTheConfiguredKeyIsRead)
{
    const UpdateFeedSigner signer;
    const UpdateFeedSigner stranger;
    const QString key = signer.publicKeyBase64();

    const auto release = UpdateFeed::verify(signer.feed("0.2.0", page), key);
    ASSERT_TRUE(release.has_value());
    EXPECT_EQ(release->version, "0.2.0");
    EXPECT_EQ(release->downloadURL, QUrl(page));

    const QByteArray genuine = UpdateFeedSigner::release("0.2.0", page);
    QByteArray altered = genuine;
    altered.replace("0.2.0", "9.2.0");
    struct Case {
        const char* name;
        QByteArray feed;
        QString key;
        UpdateFeedError error;
    };
    const Case cases[] = {
        { "tampered release", UpdateFeedSigner::envelope(altered, signer.sign(genuine)), key,
            UpdateFeedError::badSignature },
        { "signed by another key", stranger.feed("0.2.0", page), key, UpdateFeedError::badSignature },
        { "signature cut short", UpdateFeedSigner::envelope(genuine, signer.sign(genuine).left(63)), key,
            UpdateFeedError::badSignature },
        { "key of the wrong size", signer.feed("0.2.0", page),
            QString::fromLatin1(QByteArray(31, 'k').toBase64()), UpdateFeedError::badKey },
        { "key not base64", signer.feed("0.2.0", page), "not a key!", UpdateFeedError::badKey },
        { "not JSON", "<rss/>", key, UpdateFeedError::malformed },
        { "signature missing", "{\"release\":\"e30=\"}", key, UpdateFeedError::malformed },
        { "download page over http", signer.feed("0.2.0", "http://downloads.example.org/x"), key,
            UpdateFeedError::malformed },
        { "download page not a web address", signer.feed("0.2.0", "file:///etc/passwd"), key,
            UpdateFeedError::malformed },
        { "no version", signer.feed("", page), key, UpdateFeedError::malformed },
    };
    for (const Case& c : cases)
        EXPECT_THAT(UpdateFeed::verify(c.feed, c.key), FailsWith(c.error)) << c.name;
}

TEST(UpdateFeed, VersionsCompareNumerically)
{
    EXPECT_GT(UpdateFeed::compareVersions("0.10.0", "0.9.3"), 0);
    EXPECT_LT(UpdateFeed::compareVersions("0.1", "0.1.1"), 0);
    EXPECT_EQ(UpdateFeed::compareVersions("0.1.0", "0.1"), 0);
    EXPECT_EQ(UpdateFeed::compareVersions("1.2.0-beta", "1.2"), 0);
    EXPECT_GT(UpdateFeed::compareVersions("2", "1.99.99"), 0);
}

struct Checked {
    SecureUpdateController::Outcome outcome;
    QList<QUrl> opened;
};

Checked checkAgainst(ScriptedServer& server, const QString& key, const QString& current = "0.1.0")
{
    SecureUpdateController controller(
        server.baseUrl().resolved(QUrl("/appcast.json")).toString(), key, current);
    Checked result { SecureUpdateController::Outcome::unreachable, {} };
    controller.setPageOpener([&](const QUrl& url) { result.opened.append(url); });
    QSignalSpy checked(&controller, &SecureUpdateController::checked);
    controller.checkForUpdates();
    EXPECT_TRUE(controller.isChecking());
    controller.checkForUpdates(); // a second request while one runs is ignored
    EXPECT_TRUE(checked.wait(10000));
    EXPECT_EQ(checked.count(), 1);
    EXPECT_FALSE(controller.message().isEmpty());
    result.outcome = controller.lastOutcome().value_or(SecureUpdateController::Outcome::unreachable);
    return result;
}

TEST(SecureUpdateController, ChecksTheFeedServedOnLoopback)
{
    const UpdateFeedSigner signer;
    using Outcome = SecureUpdateController::Outcome;

    ScriptedServer newer(200, signer.feed("0.2.0", page));
    const Checked found = checkAgainst(newer, signer.publicKeyBase64());
    EXPECT_EQ(found.outcome, Outcome::newerVersion);
    EXPECT_EQ(found.opened, QList<QUrl> { QUrl(page) });
    ASSERT_EQ(newer.requests().size(), 1);
    EXPECT_EQ(newer.requests().front().target, "/appcast.json");

    ScriptedServer same(200, signer.feed("0.1.0", page));
    EXPECT_EQ(checkAgainst(same, signer.publicKeyBase64()).outcome, Outcome::upToDate);

    QByteArray body = UpdateFeedSigner::release("0.2.0", page);
    const QByteArray signature = signer.sign(body);
    body.replace("example.org", "example.net");
    ScriptedServer tampered(200, UpdateFeedSigner::envelope(body, signature));
    const Checked refused = checkAgainst(tampered, signer.publicKeyBase64());
    EXPECT_EQ(refused.outcome, Outcome::unverified);
    EXPECT_TRUE(refused.opened.isEmpty());

    ScriptedServer oversized(200, QByteArray(200 * 1024, ' ') + signer.feed("0.2.0", page));
    EXPECT_EQ(checkAgainst(oversized, signer.publicKeyBase64()).outcome, Outcome::unverified);

    ScriptedServer failing(503, "{}");
    EXPECT_EQ(checkAgainst(failing, signer.publicKeyBase64()).outcome, Outcome::unreachable);
}

TEST(SecureUpdateController, ConfiguredOnlyWithBothKeysAsStrings)
{
    struct Case {
        const char* name;
        QJsonObject info;
        bool configured;
    };
    const Case cases[] = {
        { "both", { { "SUFeedURL", "https://u.example/feed" }, { "SUPublicEDKey", "" } }, true },
        { "key missing", { { "SUFeedURL", "https://u.example/feed" } }, false },
        { "feed a number", { { "SUFeedURL", 7 }, { "SUPublicEDKey", "a2V5" } }, false },
        { "neither", {}, false },
    };
    for (const Case& c : cases) {
        std::unique_ptr<SecureUpdateController> controller(
            SecureUpdateController::fromInfo(InfoResource(c.info)));
        EXPECT_EQ(controller->configured(), c.configured) << c.name;
    }
    // Unconfigured, a request does nothing at all.
    SecureUpdateController off(std::nullopt, std::nullopt, "0.1.0");
    off.start();
    off.checkForUpdates();
    EXPECT_FALSE(off.isChecking());
    EXPECT_TRUE(off.message().isEmpty());
}

} // namespace
} // namespace lumora
