#include "FailsWith.hpp"
#include "SecureUpdateController.hpp"
#include "SignedFeedServer.hpp"
#include "UpdateFeed.hpp"
#include "UpdateFeedSigner.hpp"
#include "viewmodel/InfoResource.hpp"

#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace lumora {
namespace {

using testing::SignedFeedServer;
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
    EXPECT_EQ(release->publishedAt, QDateTime(QDate(2026, 2, 9), QTime(19, 30), Qt::UTC));
    EXPECT_EQ(UpdateFeed::verify(signer.feed("0.2.0", page, "2026-02-09T20:30:00+01:00"), key)->publishedAt,
        release->publishedAt);
    // The same key as `openssl pkey -pubout` prints it.
    const QString printedKey = QString::fromLatin1(
        QByteArray::fromBase64("MCowBQYDK2VwAyEA").append(QByteArray::fromBase64(key.toLatin1())).toBase64());
    ASSERT_TRUE(printedKey.startsWith("MCowBQYDK2VwAyEA"));
    EXPECT_EQ(UpdateFeed::verify(signer.feed("0.2.0", page), printedKey)->version, "0.2.0");

    const QByteArray genuine = UpdateFeedSigner::release("0.2.0", page);
    struct Case {
        const char* name;
        QByteArray feed;
        QString key;
        UpdateFeedError error;
    };
    const Case cases[] = {
        { "tampered release", signer.tamperedFeed("0.2.0", page), key, UpdateFeedError::badSignature },
        { "signed by another key", stranger.feed("0.2.0", page), key, UpdateFeedError::badSignature },
        { "signature cut short", UpdateFeedSigner::envelope(genuine, signer.sign(genuine).left(63)), key,
            UpdateFeedError::badSignature },
        { "key of the wrong size", signer.feed("0.2.0", page),
            QString::fromLatin1(QByteArray(31, 'k').toBase64()), UpdateFeedError::badKey },
        { "key not base64", signer.feed("0.2.0", page), "not a key!", UpdateFeedError::badKey },
        { "public key form around a key of the wrong size", signer.feed("0.2.0", page),
            QString::fromLatin1(
                QByteArray::fromBase64("MCowBQYDK2VwAyEA").append(QByteArray(31, 'k')).toBase64()),
            UpdateFeedError::badKey },
        { "not JSON", "<rss/>", key, UpdateFeedError::malformed },
        { "signature missing", "{\"release\":\"e30=\"}", key, UpdateFeedError::malformed },
        { "download page over http", signer.feed("0.2.0", "http://downloads.example.org/x"), key,
            UpdateFeedError::malformed },
        { "download page not a web address", signer.feed("0.2.0", "file:///etc/passwd"), key,
            UpdateFeedError::malformed },
        { "no version", signer.feed("", page), key, UpdateFeedError::malformed },
        { "no publication time", signer.feed("0.2.0", page, ""), key, UpdateFeedError::malformed },
        { "publication time without its offset", signer.feed("0.2.0", page, "2026-02-09T19:30:00"), key,
            UpdateFeedError::malformed },
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

// A controller for version 0.1.0 whose browser is a list of the pages it was asked to open.
struct Updater {
    Updater(const SignedFeedServer& feed, const UpdateFeedSigner& signer, QSettings* preferences = nullptr)
        : controller(feed.feedURL(), signer.publicKeyBase64(), "0.1.0", preferences)
    {
        controller.setPageOpener([this](const QUrl& url) { opened.append(url); });
    }
    // Waits for the check under way to finish.
    bool finish()
    {
        QSignalSpy checked(&controller, &SecureUpdateController::checked);
        return checked.wait(60000);
    }

    SecureUpdateController controller;
    QList<QUrl> opened;
};

TEST(SecureUpdateController, AnAskedCheckSaysWhatTheFeedHoldsAndOpensNothing)
{
    using Outcome = SecureUpdateController::Outcome;
    const UpdateFeedSigner signer;
    struct Row {
        const char* name;
        int status;
        QByteArray body;
        Outcome outcome;
        QString message;
    };
    const QString unverified = "The update feed could not be verified, so it was ignored.";
    const Row rows[] = {
        { "newer", 200, signer.feed("0.2.0", page), Outcome::newerVersion, "Corvane 0.2.0 is available." },
        { "same", 200, signer.feed("0.1.0", page), Outcome::upToDate,
            "Corvane 0.1.0 is the newest version." },
        { "tampered", 200, signer.tamperedFeed("0.2.0", page), Outcome::unverified, unverified },
        { "malformed", 200, "<rss/>", Outcome::unverified, unverified },
        { "oversized", 200, QByteArray(200 * 1024, ' ') + signer.feed("0.2.0", page), Outcome::unverified,
            unverified },
        { "failing", 503, "{}", Outcome::unreachable,
            "Corvane could not reach the update feed. Try again later." },
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        SignedFeedServer feed(row.status, row.body);
        Updater updater(feed, signer);
        updater.controller.checkForUpdates();
        EXPECT_TRUE(updater.controller.isChecking());
        EXPECT_EQ(updater.controller.message(), u"Checking for updates\u2026"_qs);
        updater.controller.checkForUpdates(); // a second request while one runs is not sent again
        ASSERT_TRUE(updater.finish());
        EXPECT_EQ(updater.controller.lastOutcome(), row.outcome);
        EXPECT_EQ(updater.controller.message(), row.message);
        EXPECT_EQ(updater.controller.availableVersion(), row.outcome == Outcome::newerVersion ? "0.2.0" : "");
        EXPECT_TRUE(updater.opened.isEmpty()) << "a check never opens the browser";
        ASSERT_EQ(feed.server->requests().size(), 1);
        EXPECT_EQ(feed.server->requests().front().target, "/appcast.json");
    }
}

TEST(SecureUpdateController, QuietChecksAnnounceAndAReplayedOlderFeedCannotHideARelease)
{
    using Outcome = SecureUpdateController::Outcome;
    const UpdateFeedSigner signer;
    QTemporaryDir folder;
    QSettings preferences(folder.filePath("preferences.ini"), QSettings::IniFormat);
    SignedFeedServer feed(200, signer.feed("0.2.0", page, "2026-03-01T08:00:00Z"));
    const QString older = "The update feed is older than one Corvane has already seen, so it was ignored. "
                          "Corvane 0.2.0 is still available.";
    {
        Updater updater(feed, signer, &preferences);
        updater.controller.start();
        ASSERT_TRUE(updater.finish());
        EXPECT_TRUE(updater.opened.isEmpty()) << "a check at start opens nothing";
        EXPECT_EQ(updater.controller.availableVersion(), "0.2.0");
        EXPECT_EQ(updater.controller.message(), "Corvane 0.2.0 is available.") << "announced in the window";
        updater.controller.openDownloadPage();
        EXPECT_EQ(updater.opened, QList<QUrl> { QUrl(page) }) << "the user asks for the page";

        // The signed feed of the release before, served again, is refused.
        feed.server->script(200, signer.feed("0.1.0", page, "2026-02-01T08:00:00+01:00"));
        updater.controller.checkForUpdates();
        ASSERT_TRUE(updater.finish());
        EXPECT_EQ(updater.controller.lastOutcome(), Outcome::outdatedFeed);
        EXPECT_EQ(updater.controller.message(), older);
        EXPECT_EQ(updater.controller.availableVersion(), "0.2.0");
    }
    // After a restart the release is still known, and the replay still refused.
    Updater restarted(feed, signer, &preferences);
    EXPECT_EQ(restarted.controller.availableVersion(), "0.2.0");
    EXPECT_EQ(restarted.controller.message(), "Corvane 0.2.0 is available.");
    restarted.controller.checkForUpdates();
    ASSERT_TRUE(restarted.finish());
    EXPECT_EQ(restarted.controller.lastOutcome(), Outcome::outdatedFeed);
    // The same feed again, and then a later one, are read.
    for (const auto& [published, version] :
        { std::pair { "2026-03-01T08:00:00Z", "0.2.0" }, std::pair { "2026-04-01T08:00:00Z", "0.3.0" } }) {
        feed.server->script(200, signer.feed(version, page, published));
        restarted.controller.checkForUpdates();
        ASSERT_TRUE(restarted.finish());
        EXPECT_EQ(restarted.controller.lastOutcome(), Outcome::newerVersion) << published;
        EXPECT_EQ(restarted.controller.availableVersion(), version);
    }
    EXPECT_TRUE(restarted.opened.isEmpty());
}

TEST(SecureUpdateController, AFeedDatedAheadOfTheClockIsNotTakenAsTheNewestSeen)
{
    using Outcome = SecureUpdateController::Outcome;
    const UpdateFeedSigner signer;
    const QString ahead = QDateTime::currentDateTimeUtc().addYears(3).toString(Qt::ISODate);
    const QString tomorrow = QDateTime::currentDateTimeUtc().addSecs(12 * 60 * 60).toString(Qt::ISODate);
    SignedFeedServer feed(200, signer.feed("0.2.0", page, ahead));
    Updater updater(feed, signer);
    updater.controller.checkForUpdates();
    ASSERT_TRUE(updater.finish());
    EXPECT_EQ(updater.controller.lastOutcome(), Outcome::futureFeed);
    EXPECT_EQ(updater.controller.message(),
        "The update feed is dated ahead of this computer's clock, so it was ignored.");
    EXPECT_EQ(updater.controller.availableVersion(), "");
    // An honest feed, published within a day of the clock, is read afterwards.
    feed.server->script(200, signer.feed("0.3.0", page, tomorrow));
    updater.controller.checkForUpdates();
    ASSERT_TRUE(updater.finish());
    EXPECT_EQ(updater.controller.lastOutcome(), Outcome::newerVersion);
    EXPECT_EQ(updater.controller.availableVersion(), "0.3.0");
}

TEST(SecureUpdateController, ACheckEndsByItsDeadlineHoweverSlowlyTheFeedComes)
{
    using Outcome = SecureUpdateController::Outcome;
    const UpdateFeedSigner signer;
    SignedFeedServer feed(200, signer.feed("0.2.0", page));
    feed.server->trickle(20); // a reply of some 300 bytes then takes seconds, never idle
    Updater updater(feed, signer);
    updater.controller.setCheckDeadline(400);
    updater.controller.checkForUpdates();
    ASSERT_TRUE(updater.finish());
    EXPECT_EQ(updater.controller.lastOutcome(), Outcome::unreachable);
    EXPECT_FALSE(updater.controller.isChecking());
    // Asking again sends a new request.
    updater.controller.checkForUpdates();
    ASSERT_TRUE(updater.finish());
    EXPECT_EQ(feed.server->requests().size(), 2);
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
        { "feed over http", { { "SUFeedURL", "http://u.example/feed" }, { "SUPublicEDKey", "a2V5" } },
            false },
        { "feed not an address", { { "SUFeedURL", "" }, { "SUPublicEDKey", "a2V5" } }, false },
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
