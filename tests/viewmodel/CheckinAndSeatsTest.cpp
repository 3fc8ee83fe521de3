#include "ViewModelFixture.hpp"
#include "appcore/CheckinService.hpp"
#include "appcore/ConversationBackupService.hpp"
#include "persistence/EncryptedResultStore.hpp"
#include "providers/CheckinPackClient.hpp"
#include "providers/ControlPlaneClient.hpp"

#include <QJsonDocument>
#include <QNetworkAccessManager>

namespace lumora {
namespace {

using testing::settle;
using testing::ViewModelHome;

CheckinReminderSettings reminder(bool isOn, qint64 weekday, qint64 hour, qint64 minute)
{
    CheckinReminderSettings settings;
    settings.isOn = isOn;
    settings.weekday = weekday;
    settings.hour = hour;
    settings.minute = minute;
    return settings;
}

struct SeatCase {
    const char* name;
    int side;
    QString typed;
    QString published;
};

TEST(SessionViewModelSeats, NamesAreTrimmedAndCutToThirtyTwoCharactersAsReadersCountThem)
{
    const QString a31(31, u'a');
    const QString family = QStringLiteral("\U0001F469\u200D\U0001F469\u200D\U0001F467");
    const QString flag = QStringLiteral("\U0001F1E9\U0001F1EA");
    const QString thumbsUpToned = QStringLiteral("\U0001F44D\U0001F3FD");
    const SeatCase cases[] {
        { "spaces and a new line around", 0, " \t Ada Lovelace \n", "Ada Lovelace" },
        { "blanks only", 1, "  \n ", "Person 2" },
        { "empty", 0, "", "Person 1" },
        { "forty letters", 1, QString(40, u'x'), QString(32, u'x') },
        { "a combining accent stays with its letter", 0, a31 + "e\u0301" + "z", a31 + "e\u0301" },
        { "emoji sequences count once", 1, family.repeated(33), family.repeated(32) },
        { "flags count once", 0, flag.repeated(40), flag.repeated(32) },
        { "skin tones count once", 1, "Bo " + thumbsUpToned.repeated(30),
            "Bo " + thumbsUpToned.repeated(29) },
        { "speaker 3 is the right seat", 3, "Cy", "Cy" },
        { "speaker -2 is the left seat", -2, "Di", "Di" },
        { "inner spaces stay", 1, "  Mary  Ann ", "Mary  Ann" },
        // What a name could hide: nothing on screen, or text that reads otherwise than it is.
        { "a zero-width space alone shows nothing", 0, QStringLiteral("\u200B"), "Person 1" },
        { "zero-width and bidi characters around spaces", 1, QStringLiteral(" \u200B\u202E \u2066"),
            "Person 2" },
        { "a bidi override goes", 0, QStringLiteral("\u202Elive"), "live" },
        { "NUL and escape go", 1, QStringLiteral("A\u0000d\u001B[2Ja"), "Ad[2Ja" },
        { "inner line breaks become spaces", 0, QStringLiteral("Ada\nLovelace\u2028Byron"),
            "Ada Lovelace Byron" },
        { "marks on nothing show nothing", 1, QStringLiteral("\u0301\u0308"), "Person 2" },
        { "a filler letter shows nothing", 0, QStringLiteral("\u3164\u3164"), "Person 1" },
        { "a joiner outside an emoji sequence goes", 1, QStringLiteral("\u200DBo\u200D"), "Bo" },
        { "a Persian name keeps its non-joiner", 0, QStringLiteral("\u0645\u06CC\u200C\u0646\u0627"),
            QStringLiteral("\u0645\u06CC\u200C\u0646\u0627") },
        { "a letter keeps thirty marks of a pile", 1, u'Z' + QString(40, QChar(0x0336)),
            u'Z' + QString(30, QChar(0x0336)) },
    };
    for (const SeatCase& row : cases) {
        SCOPED_TRACE(row.name);
        ViewModelHome home;
        const auto model = home.viewModel();
        int changes = 0;
        QObject::connect(model.get(), &SessionViewModel::participantNamesChanged, [&] { ++changes; });
        model->updateParticipantName(row.side, row.typed);
        const int seat = ((row.side % 2) + 2) % 2;
        EXPECT_EQ(model->participantNames().at(seat), row.published);
        EXPECT_EQ(model->participantNames().at(1 - seat), QStringLiteral("Person %1").arg(2 - seat));
        EXPECT_EQ(changes, row.published == QStringLiteral("Person %1").arg(seat + 1) ? 0 : 1);
        EXPECT_EQ(model->participantName(seat + 4), row.published);
        EXPECT_EQ(model->participantName(seat - 6), row.published);
        const char* key = seat == 0 ? "corvane.participantName.left" : "corvane.participantName.right";
        EXPECT_EQ(home.preferences->value(key).toString(), row.published);

        // The next launch reads the same names.
        EXPECT_EQ(home.viewModel()->participantNames().at(seat), row.published);
    }
}

TEST(SessionViewModelSeats, StoredNamesAreCleanedAtLaunch)
{
    ViewModelHome home;
    home.preferences->setValue("corvane.participantName.left", "   Ada\n");
    home.preferences->setValue("corvane.participantName.right", "   ");
    EXPECT_EQ(home.viewModel()->participantNames(), (QStringList { "Ada", "Person 2" }));
    // As an earlier build kept them.
    home.preferences->setValue("corvane.participantName.left", QStringLiteral("\u200B\u200B"));
    home.preferences->setValue("corvane.participantName.right", QStringLiteral("Bo\u202E"));
    EXPECT_EQ(home.viewModel()->participantNames(), (QStringList { "Person 1", "Bo" }));
}

TEST(SessionViewModelReminder, StoredSettingsReadAsTheyStandOrAsTheStandard)
{
    const struct {
        const char* name;
        QVariant entry;
        CheckinReminderSettings expected;
    } cases[] {
        { "nothing stored", {}, CheckinReminderSettings::standard() },
        { "complete", QByteArray(R"({"isOn":true,"weekday":3,"hour":7,"minute":45})"),
            reminder(true, 3, 7, 45) },
        { "weekday 9 is kept", QByteArray(R"({"isOn":true,"weekday":9,"hour":7,"minute":45})"),
            reminder(true, 9, 7, 45) },
        { "a member missing", QByteArray(R"({"isOn":true,"weekday":3,"hour":7})"),
            CheckinReminderSettings::standard() },
        { "not JSON", QByteArray("on"), CheckinReminderSettings::standard() },
        { "not data", QStringLiteral(R"({"isOn":true,"weekday":3,"hour":7,"minute":45})"),
            CheckinReminderSettings::standard() },
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.name);
        ViewModelHome home;
        if (row.entry.isValid())
            home.preferences->setValue("corvane.checkinReminder", row.entry);
        home.preferences->sync();
        // Read back as a fresh process reads the file.
        home.preferences = std::make_unique<QSettings>(home.path("preferences.ini"), QSettings::IniFormat);
        EXPECT_EQ(home.viewModel()->checkinReminder(), row.expected);
    }
}

QDateTime berlin(const char* text)
{
    return QDateTime::fromString(QString::fromLatin1(text), Qt::ISODate)
        .toTimeZone(QTimeZone("Europe/Berlin"));
}

struct ReminderCase {
    const char* name;
    CheckinReminderSettings settings;
    bool permission;
    // Local wall-clock times in Berlin; clocks go forward on 2026-03-29 and back on 2026-10-25.
    const char* now;
    const char* lastCheckin;
    QStringList scheduler;
};

TEST(SessionViewModelReminder, ScheduledInTheLocalZoneAcrossDaylightSavingChanges)
{
    const ReminderCase cases[] {
        { "Sunday 19:00 after clocks go forward", reminder(true, 1, 19, 0), true, "2026-03-24T10:00+01:00",
            nullptr, { "permission", "schedule 2026-03-29T19:00:00+02:00" } },
        { "a check-in this ISO week moves it a week", reminder(true, 1, 19, 0), true,
            "2026-03-24T10:00+01:00", "2026-03-23T09:00+01:00",
            { "permission", "schedule 2026-04-05T19:00:00+02:00" } },
        { "a check-in the Sunday before does not", reminder(true, 1, 19, 0), true, "2026-03-24T10:00+01:00",
            "2026-03-22T20:00+01:00", { "permission", "schedule 2026-03-29T19:00:00+02:00" } },
        { "a skipped time becomes the end of the jump", reminder(true, 1, 2, 30), true,
            "2026-03-24T10:00+01:00", nullptr, { "permission", "schedule 2026-03-29T03:00:00+02:00" } },
        { "a repeated time is taken the first time", reminder(true, 1, 2, 30), true, "2026-10-20T10:00+02:00",
            nullptr, { "permission", "schedule 2026-10-25T02:30:00+02:00" } },
        { "winter time after clocks go back", reminder(true, 2, 8, 15), true, "2026-10-24T10:00+02:00",
            nullptr, { "permission", "schedule 2026-10-26T08:15:00+01:00" } },
        { "off removes the pending reminder", reminder(false, 1, 19, 0), true, "2026-03-24T10:00+01:00",
            nullptr, { "remove" } },
        { "refused permission turns it off", reminder(true, 4, 20, 30), false, "2026-03-24T10:00+01:00",
            nullptr, { "permission", "remove" } },
    };
    for (const ReminderCase& row : cases) {
        SCOPED_TRACE(row.name);
        ViewModelHome home;
        home.now = berlin(row.now);
        home.scheduler->grants = row.permission;
        const auto model = home.viewModel();
        // The start-up reschedules the stored reminder; only the change is looked at here.
        home.scheduler->calls.clear();
        if (row.lastCheckin) {
            DerivedSessionResult checkin;
            checkin.id = QUuid::createUuid();
            checkin.completedAt = berlin(row.lastCheckin).toUTC();
            checkin.mode = ConversationMode::checkin;
            checkin.summary = QStringLiteral("Warm week.");
            ASSERT_TRUE(test::awaitTask(model->resultStore()->save(checkin)));
            // The history of this computer alone: nothing is pending, so no request is made.
            QNetworkAccessManager network;
            const auto nowhere = std::make_shared<ControlPlaneClient>(
                QUrl("https://127.0.0.1:9"), QUuid::createUuid(), *model->identity(), network);
            model->adoptServices({ nullptr,
                ConversationBackupService::create(nowhere, model->resultStore(), model->backupStore()),
                nullptr, nullptr });
            test::awaitTask(model->synchronizeHistory(false));
            ASSERT_EQ(model->lastCheckinAt(), checkin.completedAt);
        }

        model->changeCheckinReminder(
            row.settings.isOn, int(row.settings.weekday), int(row.settings.hour), int(row.settings.minute));
        settle(*model);
        EXPECT_EQ(home.scheduler->calls, row.scheduler);
        const CheckinReminderSettings kept = row.permission
            ? row.settings
            : reminder(false, row.settings.weekday, row.settings.hour, row.settings.minute);
        EXPECT_EQ(model->checkinReminder(), kept);
        EXPECT_EQ(SessionViewModel::storedReminder(*home.preferences), kept);
        EXPECT_EQ(model->reminderNote().has_value(), !row.permission);
    }
}

TEST(SessionViewModelReminder, RefusalClampsTheKeptTimeAndTheNextChangeClearsTheNote)
{
    ViewModelHome home;
    home.scheduler->grants = false;
    const auto model = home.viewModel();
    test::awaitTask(model->setCheckinReminder(reminder(true, 9, 25, 75)));
    EXPECT_EQ(model->checkinReminder(), reminder(false, 7, 23, 59));
    EXPECT_EQ(model->reminderNote(), SessionViewModel::reminderPermissionNote());
    test::awaitTask(model->setCheckinReminder(reminder(false, 7, 23, 59)));
    EXPECT_EQ(model->reminderNote(), std::nullopt);
}

struct OvertakingCase {
    const char* name;
    // Made one after another while the permission answer is held back.
    std::vector<CheckinReminderSettings> changes;
    bool permission;
    CheckinReminderSettings kept;
    bool note;
    QStringList scheduler;
};

TEST(SessionViewModelReminder, TheLastChoiceDecidesWhileAnEarlierOneAwaitsPermission)
{
    const CheckinReminderSettings sundayOn = reminder(true, 1, 19, 0);
    const CheckinReminderSettings sundayOff = reminder(false, 1, 19, 0);
    const CheckinReminderSettings wednesdayOn = reminder(true, 4, 19, 0);
    const OvertakingCase cases[] {
        { "on, then off", { sundayOn, sundayOff }, true, sundayOff, false, { "permission", "remove" } },
        { "on, then another day", { sundayOn, wednesdayOn }, true, wednesdayOn, false,
            { "permission", "permission", "schedule 2026-03-25T19:00:00+01:00" } },
        { "refused on, then off", { sundayOn, sundayOff }, false, sundayOff, false,
            { "permission", "remove" } },
        { "on, off, then on again refused", { sundayOn, sundayOff, wednesdayOn }, false,
            reminder(false, 4, 19, 0), true, { "permission", "remove", "permission", "remove" } },
        { "off, then on", { sundayOff, sundayOn }, true, sundayOn, false,
            { "remove", "permission", "schedule 2026-03-29T19:00:00+02:00" } },
    };
    for (const OvertakingCase& row : cases) {
        SCOPED_TRACE(row.name);
        ViewModelHome home;
        home.now = berlin("2026-03-24T10:00+01:00");
        home.scheduler->grants = row.permission;
        const auto model = home.viewModel();
        home.scheduler->calls.clear();
        home.scheduler->permission.close();
        for (const CheckinReminderSettings& change : row.changes)
            model->changeCheckinReminder(
                change.isOn, int(change.weekday), int(change.hour), int(change.minute));
        home.scheduler->permission.open();
        settle(*model);
        EXPECT_EQ(home.scheduler->calls, row.scheduler);
        EXPECT_EQ(model->checkinReminder(), row.kept);
        EXPECT_EQ(SessionViewModel::storedReminder(*home.preferences), row.kept);
        EXPECT_EQ(model->reminderNote().has_value(), row.note);
    }
}

TEST(SessionViewModelCheckin, OpensTheBuiltInPackWithoutAnAccountAndMovesThroughItsSections)
{
    ViewModelHome home;
    const auto model = home.viewModel();
    model->requestCheckin();
    settle(*model);
    ASSERT_TRUE(model->isCheckinOpen());
    EXPECT_EQ(model->checkinPack()->sections.size(), 5);
    EXPECT_EQ(model->checkinFlow(), CheckinFlow(5, 0, 0));
    EXPECT_EQ(model->statusText(), "Ready when you both are");
    EXPECT_FALSE(model->isCheckinOpening());

    // Opening again changes nothing, not even the status line.
    model->setStatusText(QStringLiteral("Custom"));
    model->requestCheckin();
    settle(*model);
    EXPECT_EQ(model->statusText(), "Custom");

    model->goBackCheckinSection();
    EXPECT_EQ(model->checkinFlow(), CheckinFlow(5, 0, 0));
    for (int step = 0; step < 6; ++step)
        model->advanceCheckinSection();
    EXPECT_EQ(model->checkinFlow(), CheckinFlow(5, 4, 0));

    model->closeCheckin();
    EXPECT_FALSE(model->isCheckinOpen());
    EXPECT_EQ(model->checkinFlow(), std::nullopt);
    EXPECT_EQ(model->statusText(), "Sign in to begin");
}

} // namespace
} // namespace lumora
