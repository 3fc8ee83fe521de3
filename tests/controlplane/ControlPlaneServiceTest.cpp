#include "ServiceFixture.hpp"
#include "controlplane/IdText.hpp"

namespace lumora {
namespace {

using testing::bodyOf;
using testing::codeOf;
using testing::ControlPlaneServiceTest;

const DeviceIdentity someIdentity = testing::newIdentity();
const QString somePublicKey = someIdentity.publicKeyBase64URL();

const QJsonObject startBody { { "device_public_key", somePublicKey }, { "platform", "macos" },
    { "state", "a-state-of-twenty-two-chars" } };

TEST_F(ControlPlaneServiceTest, TicketsRegisterTheKeyOnceAndLapseAfterTenMinutes)
{
    const auto onTime = ticketFor(somePublicKey, "Ada Lovelace");
    const auto late = ticketFor(somePublicKey, "Ada Lovelace");
    now += SignInEndpoints::signInLifetime;
    const HttpResponse complete = redeem(onTime, &someIdentity);
    ASSERT_EQ(complete.status, 200) << complete.body;
    const QJsonObject registration = bodyOf(complete);
    const auto device = store->device(QUuid::fromString(registration.value("device_id").toString()));
    ASSERT_TRUE(device.has_value());
    EXPECT_EQ(device->publicKey, somePublicKey);
    EXPECT_EQ(device->accountID, QUuid::fromString(registration.value("account_id").toString()));
    EXPECT_EQ(codeOf(redeem(onTime, &someIdentity)), "400 invalid_ticket");
    now += 1;
    EXPECT_EQ(codeOf(redeem(late, &someIdentity)), "400 ticket_expired");
}

// The start call is unsigned and a public key shows in every signed request's check, so
// anyone may start a sign-in for someone else's key; only the key's holder may redeem it.
TEST_F(ControlPlaneServiceTest, ASignInNeverTakesAKeyThatIsActiveInAnotherAccount)
{
    const testing::Member victim = member("Ada");
    const QString key = victim.identity.publicKeyBase64URL();
    const auto stolen = ticketFor(key, "Mallory");
    const auto spare = ticketFor(key, "Mallory");
    const auto own = ticketFor(key, "Ada");
    const auto complete = [&](const SignInCallback& ticket) { return redeem(ticket, &victim.identity); };
    EXPECT_EQ(codeOf(complete(stolen)), "409 device_key_in_use");
    EXPECT_FALSE(store->device(victim.device.id)->revoked);
    EXPECT_EQ(store->activeDeviceWithKey(key)->id, victim.device.id);
    EXPECT_EQ(call(victim, "GET", "/v1/account/state").status, 200);
    const HttpResponse again = complete(own);
    EXPECT_EQ(bodyOf(again).value("device_id").toString(), idText(victim.device.id));

    // Signing out revokes the device first; then the key's holder may sign in to another
    // account, but a ticket refused once stays spent.
    post(victim, "/v1/devices/revoke", { { "device_id", uuidText(victim.device.id, UuidCase::upper) } });
    EXPECT_EQ(codeOf(complete(stolen)), "400 invalid_ticket");
    const HttpResponse switched = complete(spare);
    ASSERT_EQ(switched.status, 200) << switched.body;
    EXPECT_NE(bodyOf(switched).value("account_id").toString(), idText(victim.device.accountID));
}

// A ticket taken for someone else's key, kept until its holder signs out, binds nothing:
// redeeming asks for a signature by the key itself, which the ticket's taker cannot make.
TEST_F(ControlPlaneServiceTest, ATicketBindsItsKeyOnlyForTheKeysHolder)
{
    const testing::Member victim = member("Ada");
    const DeviceIdentity mallory = testing::newIdentity();
    const auto pending = ticketFor(victim.identity.publicKeyBase64URL(), "Mallory");
    post(victim, "/v1/devices/revoke", { { "device_id", uuidText(victim.device.id, UuidCase::lower) } });

    struct Case {
        const char* name;
        const DeviceIdentity* signer;
        std::optional<qint64> signedAt;
        const char* code;
    };
    const QUuid reused = QUuid::createUuid();
    const Case cases[] = {
        { "unsigned", nullptr, {}, "401 invalid_signature" },
        { "signed by the taker", &mallory, {}, "401 invalid_signature" },
        { "signed by the key, but long ago", &victim.identity, now - 3600, "401 stale_timestamp" },
    };
    for (const Case& c : cases) {
        const qint64 real = now;
        now = c.signedAt.value_or(now);
        const std::string body = testing::json({ { "ticket", pending.ticket }, { "state", pending.state } });
        std::vector<std::pair<std::string, std::string>> headers;
        if (c.signer)
            headers.emplace_back("Authorization",
                RequestSigner::signRecovery(*c.signer, u"POST", u"/v1/auth/apple/web/complete",
                    QByteArrayView(body), QDateTime::fromSecsSinceEpoch(now, Qt::UTC), reused)
                    ->authorization()
                    .toStdString());
        now = real;
        EXPECT_EQ(codeOf(send("POST", "/v1/auth/apple/web/complete", body, headers)), c.code) << c.name;
    }
    EXPECT_FALSE(store->activeDeviceWithKey(victim.identity.publicKeyBase64URL()).has_value());

    // Refusals spend nothing: the holder's own sign-in goes on, and a signed redeem is not
    // replayed.
    const auto own = ticketFor(victim.identity.publicKeyBase64URL(), "Ada");
    const QUuid nonce = QUuid::createUuid();
    const HttpResponse back = redeem(own, &victim.identity, nonce);
    ASSERT_EQ(back.status, 200) << back.body;
    EXPECT_EQ(bodyOf(back).value("account_id").toString(), idText(victim.device.accountID));
    EXPECT_EQ(codeOf(redeem(ticketFor(victim.identity.publicKeyBase64URL(), "Ada"), &victim.identity, nonce)),
        "401 replayed_nonce");
}

TEST_F(ControlPlaneServiceTest, SignInPageIsUsedOnceAndAtTheServersOwnAddress)
{
    // Each start with a state value of its own.
    const auto start = [&](const std::string& host) {
        QJsonObject body = startBody;
        body.insert("state", QUuid::createUuid().toString(QUuid::Id128));
        return QUrl(
            bodyOf(send("POST", "/v1/auth/apple/web/start", testing::json(body), { { "Host", host } }))
                .value("authorization_url")
                .toString());
    };
    // A Host header is the client's to forge; the address is the server's own.
    for (const char* host : { "evil.example", "localhost:9443", "evil.example/path?x" })
        EXPECT_EQ(start(host).adjusted(QUrl::RemoveQuery).toString(), "https://127.0.0.1:8443/dev/sign-in")
            << host;
    settings.publicUrl = QUrl("http://lumora.example.com/");
    restart();
    EXPECT_EQ(start("evil.example").adjusted(QUrl::RemoveQuery).toString(),
        "http://lumora.example.com/dev/sign-in");
    const QUrl page = start("localhost:9443");

    const std::string request = QUrlQuery(page).queryItemValue("request").toStdString();
    const std::string form = "request=" + request + "&name=Ada";
    EXPECT_EQ(send("POST", "/dev/sign-in", form).status, 302);
    EXPECT_EQ(send("POST", "/dev/sign-in", form).status, 409);
    EXPECT_EQ(send("GET", "/dev/sign-in?request=" + request).status, 404);
    EXPECT_EQ(
        send("GET", "/dev/sign-in?request=" + QUuid::createUuid().toString().toStdString()).status, 404);
    EXPECT_EQ(send("POST", "/dev/sign-in", "request=" + request + "&name=+++").status, 400);
}

TEST_F(ControlPlaneServiceTest, WithoutDevelopmentSignInTheAppleCallsAreNotConfigured)
{
    const QJsonObject token { { "identity_token", "t" }, { "device_public_key", somePublicKey },
        { "platform", "macos" } };
    // The identity-token registration has no provider in the development setup either.
    EXPECT_EQ(codeOf(sendJson("/v1/auth/apple", token)), "503 apple_sign_in_not_configured");
    settings.devSignIn = false;
    restart();
    const std::pair<std::string, QJsonObject> calls[] = {
        { "/v1/auth/apple/web/start", startBody },
        { "/v1/auth/apple/web/complete",
            { { "ticket", "abc" }, { "state", "a-state-of-twenty-two-chars" } } },
        { "/v1/auth/apple", token },
    };
    for (const auto& [path, body] : calls)
        EXPECT_EQ(codeOf(sendJson(path, body)), "503 apple_sign_in_not_configured") << path;
    EXPECT_EQ(send("GET", "/dev/sign-in?request=x").status, 503);
}

TEST_F(ControlPlaneServiceTest, BadInputIsRefusedWithACodeAndChangesNothing)
{
    struct Case {
        std::string method;
        std::string path;
        std::string body;
        const char* code;
    };
    const std::string key = somePublicKey.toStdString();
    const Case cases[] = {
        { "POST", "/v1/auth/apple/web/start", "{not json", "400 invalid_json" },
        { "POST", "/v1/auth/apple/web/start", "[1, 2]", "400 invalid_json" },
        { "POST", "/v1/auth/apple/web/start", "{}", "400 invalid_request" },
        { "POST", "/v1/auth/apple/web/start", R"({"device_public_key": 5, "platform": "macos"})",
            "400 invalid_request" },
        { "POST", "/v1/auth/apple/web/start", R"({"device_public_key": "short", "platform": "macos"})",
            "400 invalid_request" },
        { "POST", "/v1/auth/apple/web/start", R"({"device_public_key": ")" + key + R"("})",
            "400 invalid_request" },
        // A start without a state value of its own, or with one short enough to guess.
        { "POST", "/v1/auth/apple/web/start",
            R"({"device_public_key": ")" + key + R"(", "platform": "macos"})", "400 invalid_request" },
        { "POST", "/v1/auth/apple/web/start",
            R"({"device_public_key": ")" + key + R"(", "platform": "macos", "state": "x"})",
            "400 invalid_request" },
        { "POST", "/v1/auth/apple/web/complete", R"({"ticket": null})", "400 invalid_request" },
        { "POST", "/v1/auth/apple/web/complete", R"({"ticket": "unknown"})", "400 invalid_request" },
        { "POST", "/v1/auth/apple/web/complete",
            R"({"ticket": "unknown", "state": "a-state-of-twenty-two-chars"})", "400 invalid_ticket" },
        { "POST", "/v1/auth/device/recover", R"({"device_public_key": []})", "400 invalid_request" },
        { "GET", "/v1/auth/apple/web/start", "", "405 method_not_allowed" },
        { "DELETE", "/v1/account/delete", "", "405 method_not_allowed" },
        { "GET", "/v1/unknown", "", "404 not_found" },
        { "GET", "/", "", "404 not_found" },
        { "POST", "/v1/account/state/", "", "404 not_found" },
    };
    for (const Case& item : cases)
        EXPECT_EQ(codeOf(send(item.method, item.path, item.body)), item.code)
            << item.method << ' ' << item.path << ' ' << item.body;
}

TEST_F(ControlPlaneServiceTest, AStorageFailureIsRefusedAsUnavailable)
{
    const testing::Member ada = member("Ada");
    {
        QSqlDatabase other = QSqlDatabase::addDatabase("QSQLITE", "saboteur");
        other.setDatabaseName(dir.filePath("cp.sqlite"));
        ASSERT_TRUE(other.open());
        other.exec("DROP TABLE diagnostics");
        other.close();
    }
    QSqlDatabase::removeDatabase("saboteur");
    EXPECT_EQ(codeOf(call(ada, "POST", "/v1/diagnostics",
                  testing::json({ { "event_type", "update_failed" }, { "status", "x" } }))),
        "503 storage_unavailable");
    EXPECT_EQ(call(ada, "GET", "/v1/account/state").status, 200);
}

TEST(ControlPlaneRoutes, PatternsMatchWholeSegments)
{
    struct Case {
        const char* pattern;
        const char* path;
        bool matches;
    };
    for (const Case& c : {
             Case { "/v1/account/state", "/v1/account/state", true },
             Case { "/v1/account/state", "/v1/account/state/", false },
             Case { "/v1/account/state", "/v1/account", false },
             Case { "/v1/content/conversations/{}", "/v1/content/conversations/abc", true },
             Case { "/v1/content/conversations/{}", "/v1/content/conversations/", false },
             Case { "/v1/content/conversations/{}", "/v1/content/conversations", false },
             Case { "/v1/content/conversations/{}/delete/approve",
                 "/v1/content/conversations/x/delete/approve", true },
             Case {
                 "/v1/content/conversations/{}/delete", "/v1/content/conversations/x/delete/approve", false },
             Case { "/v1/content/conversations/{}/hide", "/v1/content/conversations/x/y/hide", false },
         }) {
        SCOPED_TRACE(std::string(c.pattern) + " ~ " + c.path);
        EXPECT_EQ(Router::matches(c.pattern, c.path), c.matches);
    }
}

} // namespace
} // namespace lumora
