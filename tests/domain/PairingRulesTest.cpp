#include "domain/ControlPlaneError.hpp"
#include "domain/PairingCode.hpp"
#include "domain/PairingErrorPolicy.hpp"
#include "domain/PairingFailure.hpp"
#include "domain/PairingStateMachine.hpp"

#include <gtest/gtest.h>

using namespace lumora;

namespace {

std::string text(const std::optional<QString>& value)
{
    return value ? value->toStdString() : "(none)";
}

} // namespace

TEST(PairingCode, Normalize)
{
    struct Case {
        QString typed;
        std::optional<QString> code;
    };
    for (const Case& c : {
             Case { "abcd-efgh-jkmn", "ABCDEFGHJKMN" },
             Case { "  2b3c.4d5e_6f7g\t", "2B3C4D5E6F7G" },
             Case { "ABCD\u2605EFGH\u2713JKMN", "ABCDEFGHJKMN" },
             Case { "iLoI-lOio-1234", "110110101234" },
             Case { "0123-4567-89ab", "0123456789AB" },
             Case { "cdef-ghjk-mnpq", "CDEFGHJKMNPQ" },
             Case { "rstv-wxyz-0000", "RSTVWXYZ0000" },
             // Dotless i upper-cases to I, which then reads as 1.
             Case { "\u0131bcd-efgh-jkmn", "1BCDEFGHJKMN" },
             // One character whose upper-case form is two letters counts as two.
             Case { "abcd-efgh-jk\u00df", "ABCDEFGHJKSS" },
             Case { "abcd-efgh-jk\uFB01", "ABCDEFGHJKF1" },
             Case { "abcd-efgh-jkmu", std::nullopt },
             Case { "uBCD-EFGH-JKMN", std::nullopt },
             Case { "abcd-efgh-jkm", std::nullopt },
             Case { "", std::nullopt },
             // Accented capitals count towards the twelve and then fail the alphabet,
             // whether precomposed or built with a combining mark.
             Case { "\u00c0BCD-EFGH-JKMN", std::nullopt },
             Case { "A\u0300BCD-EFGH-JKMN", std::nullopt },
             // Full-width and other scripts' letters and digits are letters and digits too.
             Case { "\uFF21\uFF22\uFF23\uFF24-EFGH-JKMN", std::nullopt },
             Case { "\u0410\u0412\u0421\u0415-EFGH-JKMN", std::nullopt },
             Case { "ABCD-EFGH-JK\U0001D7CE\U0001D7CF", std::nullopt },
         }) {
        SCOPED_TRACE(c.typed.toStdString());
        EXPECT_EQ(text(PairingCode::normalize(c.typed)), text(c.code));
    }
}

TEST(PairingCode, Formatted)
{
    struct Case {
        QString code;
        QString shown;
    };
    for (const Case& c : {
             Case { "ABCDEFGHJKMN", "ABCD-EFGH-JKMN" },
             Case { "ABCD-EFGH-JKMN", "ABCD-EFGH-JKMN" },
             Case { "ABCDEFGHJKM", "ABCDEFGHJKM" },
             Case { "", "" },
             // Twelve characters as a reader counts them, one of them with a combining mark.
             Case { "A\u0300BCDEFGHJKMN", "A\u0300BCD-EFGH-JKMN" },
         }) {
        SCOPED_TRACE(c.code.toStdString());
        EXPECT_EQ(PairingCode::formatted(c.code), c.shown);
    }
}

TEST(PairingStateMachine, FirstMatchingStageWins)
{
    const PairingWorkspace alone { "w1", false, 1, std::nullopt, std::nullopt };
    const PairingWorkspace linked { "w2", true, 2, 1700000000, 1700000100 };
    const PairingPendingInvite invite { QUuid::createUuid(), "pending", 1800000000, std::nullopt };
    const PairingPendingConfirmation confirmation { QUuid::createUuid(), 1800000600,
        { 4, std::nullopt, std::nullopt } };

    struct Case {
        const char* name;
        PairingState state;
        PairingStage stage;
    };
    for (const Case& c : {
             Case { "paired beats everything pending", { linked, invite, confirmation, {} },
                 PairingStage::paired(linked) },
             Case { "confirmation beats invite", { alone, invite, confirmation, {} },
                 PairingStage::awaitingConfirmation(confirmation) },
             Case { "invite alone", { alone, invite, std::nullopt, {} },
                 PairingStage::inviteOutstanding(invite) },
             Case { "nothing", { alone, std::nullopt, std::nullopt, {} }, PairingStage::unpaired() },
         }) {
        SCOPED_TRACE(c.name);
        EXPECT_TRUE(PairingStateMachine::stage(c.state) == c.stage);
    }
}

TEST(PairingFailure, MessagesAreExact)
{
    struct Case {
        PairingFailure failure;
        QByteArray message;
    };
    for (const Case& c : {
             Case { PairingFailure::codeNotRecognized,
                 "That code was not recognized. Check it, or ask your partner for a new one." },
             Case { PairingFailure::ownCode, "That is your own code. Ask your partner for theirs." },
             Case { PairingFailure::alreadyPaired,
                 "You already have a partner. Corvane links one partner at a time, so unlink first." },
             Case { PairingFailure::codeAlreadyUsed,
                 "That code has already been used. Ask your partner for a new one." },
             Case { PairingFailure::confirmationExpired,
                 "That took a little too long. Ask your partner for a new code and try again." },
             Case { PairingFailure::confirmationNotFound,
                 "There is nothing to confirm. Enter your partner\x27s code again." },
             Case { PairingFailure::notPaired, "You do not have a partner to unlink from." },
             Case { PairingFailure::offline,
                 "Corvane could not reach your account. Check your connection and try again." },
             Case { PairingFailure::unavailable, "That could not be completed just now. Please try again." },
         }) {
        SCOPED_TRACE(c.message.toStdString());
        EXPECT_EQ(message(c.failure).toUtf8(), c.message);
    }
}

TEST(PairingErrorPolicy, MapsStatusAndServerCode)
{
    using enum PairingFailure;
    struct Case {
        std::optional<int> status;
        std::optional<QString> code;
        PairingFailure failure;
    };
    for (const Case& c : {
             Case { std::nullopt, std::nullopt, offline },
             Case { std::nullopt, "pairing_own_invite", offline },
             Case { 409, "pairing_own_invite", ownCode },
             Case { 400, "already_paired", alreadyPaired },
             Case { 410, "pairing_invite_unavailable", codeAlreadyUsed },
             Case { 409, "pairing_invite_already_redeemed", codeAlreadyUsed },
             Case { 409, "pairing_confirmation_replayed", codeAlreadyUsed },
             Case { 500, "not_paired", notPaired },
             Case { 404, "pairing_confirmation_not_found", confirmationNotFound },
             Case { 404, std::nullopt, codeNotRecognized },
             Case { 404, "NOT_PAIRED", codeNotRecognized },
             Case { 409, std::nullopt, alreadyPaired },
             Case { 410, std::nullopt, confirmationExpired },
             Case { 422, "pairing_code_invalid", codeNotRecognized },
             Case { 422, std::nullopt, unavailable },
             Case { 422, "Pairing_code_invalid", unavailable },
             Case { 400, "pairing_code_invalid", unavailable },
             Case { 429, "rate_limited", unavailable },
             Case { 500, std::nullopt, unavailable },
             Case { 503, "", unavailable },
         }) {
        SCOPED_TRACE(testing::Message() << c.status.value_or(-1) << " " << text(c.code));
        EXPECT_EQ(PairingErrorPolicy::failure(c.status, c.code), c.failure);
    }
}

TEST(PairingErrorPolicy, MapsControlPlaneErrors)
{
    EXPECT_EQ(
        PairingErrorPolicy::failure(ControlPlaneError::rejected(410)), PairingFailure::confirmationExpired);
    EXPECT_EQ(PairingErrorPolicy::failure(ControlPlaneError::rejectedWithCode(422, "pairing_code_invalid")),
        PairingFailure::codeNotRecognized);
    EXPECT_EQ(PairingErrorPolicy::failure(ControlPlaneError::invalidResponse()), PairingFailure::unavailable);
}
