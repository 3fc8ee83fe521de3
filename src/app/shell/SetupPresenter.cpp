#include "SetupPresenter.hpp"

namespace lumora {

SetupPresenter::Card SetupPresenter::chooseCard(
    bool agreementAccepted, bool configurationAvailable, bool signedIn)
{
    if (!agreementAccepted)
        return Consent;
    if (!configurationAvailable)
        return ReleaseSetup;
    if (signedIn)
        return Ready;
    return SignIn;
}

QString SetupPresenter::symbol(Card card)
{
    switch (card) {
    case Consent:
        return QStringLiteral("checkmark.shield");
    case ReleaseSetup:
        return QStringLiteral("lock.shield");
    case Ready:
        return QStringLiteral("checkmark.circle.fill");
    case SignIn:
        break;
    }
    return QStringLiteral("person.crop.circle.badge.checkmark");
}

QString SetupPresenter::title(Card card)
{
    switch (card) {
    case Consent:
        return QStringLiteral("Both people agree to recording");
    case ReleaseSetup:
        return QStringLiteral("Release setup required");
    case Ready:
        return QStringLiteral("Ready when you both are");
    case SignIn:
        break;
    }
    return QStringLiteral("Your private Corvane account");
}

QString SetupPresenter::detail(Card card)
{
    switch (card) {
    case Consent:
        return QStringLiteral(
            "Before using Corvane, confirm that both people present agree to be recorded, transcribed, "
            "and reviewed. The recording is deleted as soon as it is transcribed — audio is never "
            "stored. The transcript and the review are kept, encrypted, in your Corvane account, so "
            "your history is there on any computer you sign in to. You can delete any conversation at any "
            "time.");
    case ReleaseSetup:
        return QStringLiteral("This build does not contain a control-plane URL. A signed release build adds "
                              "it without embedding provider secrets.");
    case Ready:
        return QStringLiteral("Speaker names stay on this computer. Your transcript and review are saved, "
                              "encrypted, to your account. Press record when you are together.");
    case SignIn:
        break;
    }
    return QStringLiteral(
        "Sign in with Apple creates your account and securely registers this computer. Your "
        "audio is never stored. Your transcripts and reviews are kept encrypted in your "
        "account so your history follows you.");
}

} // namespace lumora
