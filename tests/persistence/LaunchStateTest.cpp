#include "TestFiles.hpp"
#include "persistence/LaunchSentinel.hpp"
#include "persistence/RecordingAgreementStore.hpp"

#include <QFileInfo>
#include <QSettings>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace lumora;
using lumora::test::modeOf;

TEST(LaunchSentinel, MarkerLivesExactlyAsLongAsTheRun)
{
    QTemporaryDir temporary;
    const QString folder = temporary.path() + u"/Lumora/Diagnostics"_qs;

    const LaunchSentinel first = LaunchSentinel::create(folder).value();
    EXPECT_FALSE(first.previousLaunchEndedUncleanly());
    EXPECT_EQ(first.markerPath(), folder + u"/launch-active"_qs);
    EXPECT_EQ(QFileInfo(first.markerPath()).size(), 0);
    EXPECT_EQ(modeOf(first.markerPath()), 0600);
    EXPECT_EQ(modeOf(folder), 0700);

    ASSERT_TRUE(first.recordCleanTermination().has_value());
    EXPECT_FALSE(QFileInfo::exists(first.markerPath()));
    EXPECT_TRUE(first.recordCleanTermination().has_value());

    const LaunchSentinel afterCleanEnd = LaunchSentinel::create(folder).value();
    EXPECT_FALSE(afterCleanEnd.previousLaunchEndedUncleanly());
    // This run "crashes": its marker stays.
    const LaunchSentinel afterCrash = LaunchSentinel::create(folder).value();
    EXPECT_TRUE(afterCrash.previousLaunchEndedUncleanly());
    EXPECT_TRUE(QFileInfo::exists(afterCrash.markerPath()));

    // A folder that cannot be made is an error.
    test::overwrite(temporary.path() + u"/blocked"_qs);
    EXPECT_FALSE(LaunchSentinel::create(temporary.path() + u"/blocked/Diagnostics"_qs).has_value());
}

TEST(RecordingAgreementStore, AcceptedOnlyAtTheCurrentVersionOrLater)
{
    QTemporaryDir temporary;
    QSettings settings(temporary.path() + u"/settings.ini"_qs, QSettings::IniFormat);
    const QString key = u"lumora.recordingAgreementVersion"_qs;
    EXPECT_EQ(RecordingAgreementStore::standardKey(), key);
    const RecordingAgreementStore store(settings, key);
    EXPECT_FALSE(store.isAccepted());

    const std::pair<QVariant, bool> cases[] = { { 0, false }, { 1, false }, { 2, true }, { 3, true },
        { -2, false }, { u"2"_qs, true }, { u"yes"_qs, false } };
    for (const auto& [stored, accepted] : cases) {
        SCOPED_TRACE(stored.toString().toStdString());
        settings.setValue(key, stored);
        EXPECT_EQ(store.isAccepted(), accepted);
    }

    // Each answer is on disk before the call returns, not at some later sync.
    const auto onDisk
        = [&] { return test::contents(settings.fileName()).contains("recordingAgreementVersion=2"); };
    EXPECT_TRUE(store.clear());
    EXPECT_FALSE(settings.contains(key));
    EXPECT_FALSE(onDisk());
    EXPECT_TRUE(store.accept());
    EXPECT_EQ(settings.value(key).toInt(), 2);
    EXPECT_TRUE(onDisk());
    EXPECT_TRUE(store.clear());
    EXPECT_FALSE(onDisk());

    // Preferences that cannot be written say so.
    test::overwrite(temporary.path() + u"/file"_qs);
    QSettings unwritable(temporary.path() + u"/file/settings.ini"_qs, QSettings::IniFormat);
    EXPECT_FALSE(RecordingAgreementStore(unwritable, key).accept());
}
