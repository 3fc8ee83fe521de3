#include "domain/AppCallbackRoute.hpp"
#include "domain/ConversationStartPolicy.hpp"

#include <QUrl>
#include <gtest/gtest.h>

using namespace lumora;

TEST(ConversationStartPolicy, FirstMissingThingWins)
{
    using R = ConversationStartReadiness;
    struct Case {
        bool accepted, signedIn, busy, processing, starting;
        R expected;
    };
    for (const Case& c : {
             Case { false, false, false, false, false, R::needsRecordingAgreement },
             Case { false, true, true, true, true, R::needsRecordingAgreement },
             Case { true, false, true, false, false, R::needsSignIn },
             Case { true, true, true, false, false, R::temporarilyUnavailable },
             Case { true, true, false, false, true, R::temporarilyUnavailable },
             Case { true, true, false, false, false, R::ready },
         }) {
        SCOPED_TRACE(
            ::testing::Message() << c.accepted << c.signedIn << c.busy << c.processing << c.starting);
        EXPECT_EQ(
            ConversationStartPolicy::readiness(c.accepted, c.signedIn, c.busy, c.processing, c.starting),
            c.expected);
    }
}

TEST(AppCallbackRoute, RecognisesOnlyTheSignInReturn)
{
    struct Case {
        const char* url;
        bool recognised;
    };
    for (const Case& c : {
             Case { "lumora://apple-auth?ticket=abc", true },
             Case { "LUMORA://APPLE-AUTH?ticket=abc", true },
             Case { "Corvane://Apple-Auth/some/path?error=denied#frag", true },
             Case { "lumora://apple-auth", true },
             Case { "corvanex://apple-auth", false },
             Case { "corvane://apple-auth.example.com", false },
             Case { "corvane://other/apple-auth", false },
             Case { "corvane:apple-auth", false },
             Case { "", false },
             Case { "lumora://user@apple-auth:8080/x", true },
         }) {
        SCOPED_TRACE(c.url);
        const std::optional<AppCallbackRoute> route
            = AppCallbackRoute::resolve(QUrl(QString::fromUtf8(c.url)));
        EXPECT_EQ(route.has_value(), c.recognised);
        EXPECT_EQ(route.value_or(AppCallbackRoute::appleAuthorization), AppCallbackRoute::appleAuthorization);
    }
}
