#include "FakeRoomModel.hpp"
#include "QuitQuestion.hpp"
#include "Sections.hpp"
#include "SetupPresenter.hpp"
#include "SheetRules.hpp"
#include "ShellTexts.hpp"
#include "WindowSizing.hpp"

#include <gtest/gtest.h>

namespace lumora {
namespace {

TEST(Sections, RawValuesAreExactTitlesInTabOrder)
{
    const QStringList titles { "Conversation", "History", "People", "Account" };
    const QVariantList cases = Sections::allCases();
    ASSERT_EQ(cases.size(), titles.size());
    for (qsizetype index = 0; index < cases.size(); ++index) {
        EXPECT_EQ(Sections::title(cases[index].toInt()), titles[index]);
        EXPECT_EQ(Sections::fromRawValue(titles[index]), Sections::AppSection(index));
    }
    EXPECT_EQ(Sections::fromRawValue("history"), std::nullopt);
    EXPECT_EQ(Sections::fromRawValue("Settings"), std::nullopt);
    EXPECT_EQ(Sections::title(7), QString());
}

TEST(Sections, OnlyThreeCommandsSwitchSectionsAndNoneReachesAccount)
{
    EXPECT_EQ(Sections::sectionForNotification("showLumoraConversation"), Sections::Conversation);
    EXPECT_EQ(Sections::sectionForNotification("showLumoraHistory"), Sections::History);
    EXPECT_EQ(Sections::sectionForNotification("showLumoraPeople"), Sections::People);
    EXPECT_EQ(Sections::sectionForNotification("showLumoraAccount"), -1);
}

struct SheetStep {
    const char* action;
    bool value;
    bool setupAfter;
    bool offerAfter;
};

struct SheetCase {
    const char* name;
    bool agreement;
    bool needsOffer;
    std::vector<SheetStep> steps;
};

void PrintTo(const SheetCase& scenario, std::ostream* out)
{
    *out << scenario.name;
}

class SheetRulesCases : public ::testing::TestWithParam<SheetCase> { };

TEST_P(SheetRulesCases, OpenAndCloseInOrder)
{
    const SheetCase& scenario = GetParam();
    SheetRules rules;
    rules.setRecordingAgreementAccepted(scenario.agreement);
    rules.setNeedsMigrationOffer(scenario.needsOffer);
    EXPECT_FALSE(rules.showSetup()) << "nothing opens before the view appears";
    for (const SheetStep& step : scenario.steps) {
        const QString action = QString::fromLatin1(step.action);
        if (action == "appear")
            rules.appear();
        else if (action == "agreement")
            rules.setRecordingAgreementAccepted(step.value);
        else if (action == "needsOffer")
            rules.setNeedsMigrationOffer(step.value);
        else if (action == "setup")
            rules.setShowSetup(step.value);
        else if (action == "offer")
            rules.setShowMigrationOffer(step.value);
        EXPECT_EQ(rules.showSetup(), step.setupAfter) << step.action << " " << step.value;
        EXPECT_EQ(rules.showMigrationOffer(), step.offerAfter) << step.action << " " << step.value;
    }
}

INSTANTIATE_TEST_SUITE_P(Root, SheetRulesCases,
    ::testing::Values(SheetCase { "agreedNoOffer", true, false, { { "appear", true, false, false } } },
        SheetCase { "agreedWithOffer", true, true, { { "appear", true, false, true } } },
        // Only the setup sheet opens; closing it opens the offer.
        SheetCase { "offerWaitsForSetup", false, true,
            { { "appear", true, true, false }, { "setup", false, false, true } } },
        // An offer that becomes needed while setup shows waits too.
        SheetCase { "offerNeededDuringSetup", false, false,
            { { "appear", true, true, false }, { "needsOffer", true, true, false },
                { "setup", false, false, true }, { "needsOffer", false, false, false } } },
        // A withdrawal opens setup and leaves an open offer open.
        SheetCase { "withdrawalKeepsOffer", true, true,
            { { "appear", true, false, true }, { "agreement", false, true, true } } },
        // Giving the agreement closes nothing; closing setup with no offer needed opens none.
        SheetCase { "agreeingClosesNothing", false, false,
            { { "appear", true, true, false }, { "agreement", true, true, false },
                { "setup", false, false, false } } },
        // The room's request opens setup even with the agreement given.
        SheetCase { "roomOpensSetup", true, false,
            { { "appear", true, false, false }, { "setup", true, true, false } } }),
    [](const auto& info) { return std::string(info.param.name); });

TEST(SetupPresenter, FirstHoldingRuleChoosesTheCard)
{
    struct Case {
        bool agreement, configured, signedIn;
        SetupPresenter::Card card;
    };
    const Case cases[] = {
        { false, false, false, SetupPresenter::Consent },
        { false, true, true, SetupPresenter::Consent },
        { true, false, true, SetupPresenter::ReleaseSetup },
        { true, false, false, SetupPresenter::ReleaseSetup },
        { true, true, true, SetupPresenter::Ready },
        { true, true, false, SetupPresenter::SignIn },
    };
    for (const Case& c : cases)
        EXPECT_EQ(SetupPresenter::chooseCard(c.agreement, c.configured, c.signedIn), c.card)
            << c.agreement << c.configured << c.signedIn;
}

TEST(SetupPresenter, EitherBusyFlagDisablesSignIn)
{
    SetupPresenter presenter;
    EXPECT_TRUE(presenter.signInEnabled());
    presenter.setProperty("isBusy", true);
    EXPECT_FALSE(presenter.signInEnabled());
    presenter.setProperty("isBusy", false);
    presenter.setProperty("isAppleAuthorizationActive", true);
    EXPECT_FALSE(presenter.signInEnabled());
}

TEST(ShellTexts, MigrationIntroductionIsSingularOnlyForOne)
{
    EXPECT_EQ(ShellTexts::migrationIntroduction(1),
        "One conversation on this computer was recorded before your account had a history.");
    EXPECT_EQ(ShellTexts::migrationIntroduction(2),
        "2 conversations on this computer were recorded before your account had a history.");
    EXPECT_EQ(ShellTexts::migrationIntroduction(0),
        "0 conversations on this computer were recorded before your account had a history.");
}

TEST(WindowSizing, OpensMaximisedOrAtTheNarrowFrameCentred)
{
    const QRect available(0, 27, 1920, 1053);
    EXPECT_EQ(WindowSizing::initialFrame(available), QRect(500, 213, 920, 680));
    EXPECT_TRUE(WindowSizing::isNarrow({ "lumora", "--ui-narrow" }));
    EXPECT_FALSE(WindowSizing::isNarrow({ "lumora", "--ui-narrow=1", "--UI-NARROW" }));
    EXPECT_TRUE(WindowSizing::opensMaximized({ "lumora", "--ui-smoke" }));
    EXPECT_FALSE(WindowSizing::opensMaximized({ "lumora", "--ui-narrow" }));
}

// Quitting asks while a conversation records, is paused or is being finished, and what it asks
// follows: the finish under way waits to be saved, anything else is still recorded.
TEST(QuitQuestion, AsksWhileAConversationWouldBeLost)
{
    const struct {
        bool recording, paused, processing, starting;
        bool asks;
        const char* saveText;
    } rows[] = {
        { false, false, false, false, false, "Finish and save" },
        { false, false, false, true, false, "Finish and save" },
        { true, false, false, false, true, "Finish and save" },
        { false, true, false, false, true, "Finish and save" },
        { false, false, true, false, true, "Quit once saved" },
    };
    for (const auto& row : rows) {
        testing::FakeRoomModel room;
        QuitQuestion question;
        question.setRoom(&room);
        int changes = 0;
        QObject::connect(&question, &QuitQuestion::changed, [&] { ++changes; });
        room.update([&](auto& s) {
            s.isRecording = row.recording;
            s.isPaused = row.paused;
            s.isProcessing = row.processing;
            s.isStartingConversation = row.starting;
        });
        SCOPED_TRACE(row.saveText);
        EXPECT_EQ(question.asks(), row.asks);
        EXPECT_EQ(question.asksBeforeQuitting(), row.asks);
        EXPECT_EQ(question.saveText(), row.saveText);
        EXPECT_EQ(changes > 0, row.recording || row.paused || row.processing);
    }
}

} // namespace
} // namespace lumora
