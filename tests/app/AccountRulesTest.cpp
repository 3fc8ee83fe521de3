#include "AccountSession.hpp"
#include "PairingStep.hpp"
#include "PairingTexts.hpp"

#include <gtest/gtest.h>

namespace lumora {
namespace {

// 2026-02-09 19:30:00 UTC, a Monday; 2026-03-01 08:05:00 UTC.
constexpr qint64 february9 = 1770665400;
constexpr qint64 march1 = 1772352300;

PairingTexts unitedStates()
{
    return PairingTexts(DateTexts(QLocale(QLocale::English, QLocale::UnitedStates), QTimeZone::utc()));
}

PairingState stateWith(bool paired, std::optional<QString> inviteStatus, bool pendingConfirmation)
{
    PairingState state;
    state.workspace.paired = paired;
    state.workspace.memberCount = paired ? 2 : 1;
    if (inviteStatus)
        state.pendingInvite = PairingPendingInvite { QUuid::createUuid(), *inviteStatus, march1, {} };
    if (pendingConfirmation)
        state.pendingConfirmation = PairingPendingConfirmation { QUuid::createUuid(), march1, {} };
    return state;
}

TEST(PairingStepChoice, TheFirstRuleThatHoldsDecides)
{
    const PairingRedemption redemption { QUuid::createUuid(), march1, {} };
    const PairingInvite invite { QUuid::createUuid(), "7K3M-9Q2W-4X8Z", march1 };
    const struct {
        const char* name;
        std::optional<PairingState> pairing;
        bool redemption;
        bool invite;
        AccountSession::PairingStep step;
    } cases[] {
        { "nothing loaded", std::nullopt, false, false, AccountSession::Unlinked },
        { "nothing loaded but a fresh code", std::nullopt, false, true, AccountSession::FreshCode },
        { "unpaired", stateWith(false, std::nullopt, false), false, false, AccountSession::Unlinked },
        { "linked wins over a held redemption and code", stateWith(true, "pending", false), true, true,
            AccountSession::Linked },
        { "a redemption wins over a fresh code", stateWith(false, "pending", false), true, true,
            AccountSession::Confirmation },
        { "a fresh code wins over the outstanding invite", stateWith(false, "pending", false), false, true,
            AccountSession::FreshCode },
        { "outstanding invite", stateWith(false, "pending", false), false, false, AccountSession::Waiting },
        { "partner deciding", stateWith(false, "pending_confirmation", false), false, false,
            AccountSession::Waiting },
        { "pending confirmation after its Cancel", stateWith(false, std::nullopt, true), false, false,
            AccountSession::Unlinked },
        { "pending confirmation wins over own invite", stateWith(false, "pending", true), false, false,
            AccountSession::Unlinked },
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(choosePairingStep(row.pairing, row.redemption ? std::optional(redemption) : std::nullopt,
                      row.invite ? std::optional(invite) : std::nullopt),
            row.step);
    }
}

TEST(PairingTexts, LinkedSinceByMembersAndLinkDate)
{
    const PairingTexts texts = unitedStates();
    // Late on the 9th in UTC is already the 10th further east.
    PairingWorkspace linked;
    linked.memberCount = 2;
    linked.linkedAt = february9;
    const PairingTexts tokyo(
        DateTexts(QLocale(QLocale::English, QLocale::UnitedStates), QTimeZone("Asia/Tokyo")));
    EXPECT_EQ(tokyo.linkedSince(linked), u"Linked since Feb 10, 2026 \u00b7 2 people"_qs);

    const struct {
        qint64 members;
        std::optional<qint64> linkedAt;
        const char* text;
    } cases[] {
        { 2, february9, "Linked since Feb 9, 2026 \u00b7 2 people" },
        { 1, february9, "Linked since Feb 9, 2026 \u00b7 1 people" },
        { 2, std::nullopt, "2 people" },
        { 0, std::nullopt, "0 people" },
    };
    for (const auto& row : cases) {
        PairingWorkspace workspace;
        workspace.memberCount = row.members;
        workspace.linkedAt = row.linkedAt;
        EXPECT_EQ(texts.linkedSince(workspace), QString::fromUtf8(row.text));
    }
}

TEST(PairingTexts, SharedHistorySentenceByCountAndDates)
{
    const QString none
        = "Your partner has no conversations stored yet, so from here you build one history together.";
    const struct {
        qint64 count;
        std::optional<qint64> earliest;
        std::optional<qint64> latest;
        QString sentence;
    } cases[] {
        { 0, february9, march1, none },
        { -3, february9, march1, none },
        { 5, std::nullopt, march1, none },
        { 1, february9, march1, u"You\u2019ll share a history with one conversation, from Feb 9, 2026."_qs },
        { 2, february9, march1,
            u"You\u2019ll share a history with 2 conversations, from Feb 9, 2026 to Mar 1, 2026."_qs },
        { 12, february9, std::nullopt,
            u"You\u2019ll share a history with 12 conversations, from Feb 9, 2026 to Feb 9, 2026."_qs },
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.count);
        EXPECT_EQ(
            unitedStates().sharedHistorySentence({ row.count, row.earliest, row.latest }), row.sentence);
    }
}

TEST(PairingTexts, EarlierHistoryNoteCountsEveryEarlierWorkspace)
{
    const auto note = [](QList<qint64> counts) {
        PairingState state;
        for (const qint64 count : counts)
            state.previousWorkspaces.append({ "w", 1, {}, 2, count });
        return PairingTexts::earlierHistoryNote(state);
    };
    const QString tail = " from before. They stay yours to read, and nothing new is added to them.";
    EXPECT_EQ(PairingTexts::earlierHistoryNote(std::nullopt), std::nullopt);
    EXPECT_EQ(note({}), std::nullopt);
    EXPECT_EQ(note({ 0 }), std::nullopt);
    EXPECT_EQ(note({ 1 }), "You also have one conversation" + tail);
    EXPECT_EQ(note({ 1, 0 }), "You also have one conversation" + tail);
    EXPECT_EQ(note({ 3, 4 }), "You also have 7 conversations" + tail);
    EXPECT_EQ(note({ 5, -9 }), std::nullopt) << "a negative sum is no history";
}

TEST(PairingTexts, CodeIsSpokenOneCharacterAtATime)
{
    EXPECT_EQ(PairingTexts::codeAccessibleName("7K3M-9Q"), "Pairing code 7 K 3 M - 9 Q");
    EXPECT_EQ(PairingTexts::codeAccessibleName(u"A\U0001F600B"_qs), u"Pairing code A \U0001F600 B"_qs);
    EXPECT_EQ(PairingTexts::codeAccessibleName(u"e\u0301x"_qs), u"Pairing code e\u0301 x"_qs);
    EXPECT_EQ(PairingTexts::codeAccessibleName(""), "Pairing code ");
}

TEST(AccountRules, DeviceLabelIsTheFirstEightHexDigitsInLowerCase)
{
    EXPECT_EQ(AccountSession::deviceLabelOf(QUuid("{9F1C2B3A-0000-4000-8000-000000000001}")),
        u"This computer \u00b7 9f1c2b3a"_qs);
}

TEST(AccountRules, EachReminderControlKeepsThePublishedFieldsAndClamps)
{
    const CheckinReminderSettings sunday { false, 1, 19, 0 };
    const CheckinReminderSettings wednesdayMorning { true, 4, 7, 30 };
    const struct {
        const char* control;
        CheckinReminderSettings sent;
        CheckinReminderSettings expected;
    } cases[] {
        { "switch on", AccountSession::switched(sunday, true), { true, 1, 19, 0 } },
        { "switch off", AccountSession::switched(wednesdayMorning, false), { false, 4, 7, 30 } },
        { "Wednesday", AccountSession::onWeekday(sunday, 4), { true, 4, 19, 0 } },
        { "weekday past Saturday", AccountSession::onWeekday(sunday, 9), { true, 7, 19, 0 } },
        { "weekday before Sunday", AccountSession::onWeekday(sunday, 0), { true, 1, 19, 0 } },
        { "07:30", AccountSession::atTime(sunday, 7, 30), { true, 1, 7, 30 } },
        { "time out of range", AccountSession::atTime(wednesdayMorning, 24, -1), { true, 4, 23, 0 } },
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.control);
        EXPECT_EQ(row.sent, row.expected);
    }
    EXPECT_EQ(AccountSession::weekdayNames().indexOf("Wednesday") + 1, 4);
}

TEST(AccountRules, ContinueNeedsMoreThanSpacesAndTabs)
{
    for (const auto& [draft, entered] : std::initializer_list<std::pair<QString, bool>> {
             { "", false }, { "   ", false }, { " \t ", false }, { "\n", true }, { " 7k3m ", true } })
        EXPECT_EQ(AccountSession::isCodeEntered(draft), entered) << draft.toStdString();
}

} // namespace
} // namespace lumora
