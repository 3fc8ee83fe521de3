#include "domain/PairingFailure.hpp"

namespace lumora {

QString message(PairingFailure failure)
{
    switch (failure) {
    case PairingFailure::codeNotRecognized:
        return QStringLiteral("That code was not recognized. Check it, or ask your partner for a new one.");
    case PairingFailure::ownCode:
        return QStringLiteral("That is your own code. Ask your partner for theirs.");
    case PairingFailure::alreadyPaired:
        return QStringLiteral(
            "You already have a partner. Corvane links one partner at a time, so unlink first.");
    case PairingFailure::codeAlreadyUsed:
        return QStringLiteral("That code has already been used. Ask your partner for a new one.");
    case PairingFailure::confirmationExpired:
        return QStringLiteral("That took a little too long. Ask your partner for a new code and try again.");
    case PairingFailure::confirmationNotFound:
        return QStringLiteral("There is nothing to confirm. Enter your partner's code again.");
    case PairingFailure::notPaired:
        return QStringLiteral("You do not have a partner to unlink from.");
    case PairingFailure::offline:
        return QStringLiteral("Corvane could not reach your account. Check your connection and try again.");
    case PairingFailure::unavailable:
        break;
    }
    return QStringLiteral("That could not be completed just now. Please try again.");
}

} // namespace lumora
