#include "ServiceFixture.hpp"
#include "domain/JsonWriting.hpp"

#include <QSqlDatabase>
#include <QSqlQuery>

namespace lumora {
namespace {

using testing::bodyOf;
using testing::newIdentity;

class SignedCallsTest : public testing::ControlPlaneServiceTest {
protected:
    SignedCallsTest()
        : identity(newIdentity())
        , device(signIn(identity, "Ada"))
    {
    }

    HttpResponse call(const std::string& method, const std::string& path, const std::string& body = {})
    {
        return sendSigned(identity, device.id, method, path, body);
    }

    static std::string json(const QJsonObject& object)
    {
        return QJsonDocument(object).toJson().toStdString();
    }

    DeviceIdentity identity;
    DeviceRecord device;
};

TEST_F(SignedCallsTest, AccountStateNamesTheAccountAndTheCallingDevice)
{
    const HttpResponse state = call("GET", "/v1/account/state");
    ASSERT_EQ(state.status, 200) << state.body;
    EXPECT_EQ(bodyOf(state).value("account_id").toString(), uuidText(device.accountID, UuidCase::lower));
    EXPECT_EQ(bodyOf(state).value("device_id").toString(), uuidText(device.id, UuidCase::lower));
}

TEST_F(SignedCallsTest, SessionDraftBecomesTheCurrentSessionUntilItExpires)
{
    const QJsonObject none = bodyOf(call("GET", "/v1/sessions/current"));
    EXPECT_TRUE(none.value("session_id").isNull());
    EXPECT_TRUE(none.value("expires_at").isNull());

    const HttpResponse draft = call("POST", "/v1/sessions/draft");
    ASSERT_EQ(draft.status, 200) << draft.body;
    const QJsonObject created = bodyOf(draft);
    EXPECT_EQ(created.value("status"), "draft");
    EXPECT_EQ(created.value("expires_at").toInteger(), now + ControlPlaneService::sessionDraftLifetime);
    EXPECT_EQ(bodyOf(call("GET", "/v1/sessions/current")), created);

    now += ControlPlaneService::sessionDraftLifetime;
    EXPECT_TRUE(bodyOf(call("GET", "/v1/sessions/current")).value("session_id").isNull());
}

TEST_F(SignedCallsTest, ReportsAreStoredAndCheckedForTheirVocabulary)
{
    EXPECT_EQ(call("POST", "/v1/diagnostics",
                  json({ { "event_type", "unclean_termination" }, { "status", "observed" } }))
                  .body,
        R"({"ok":true})");
    const QJsonObject event { { "event_id", QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper() },
        { "event_type", "app_opened" }, { "app_version", "1.0 (7)" }, { "occurred_at", now } };
    EXPECT_EQ(call("POST", "/v1/analytics/product", json(event)).status, 200);
    EXPECT_EQ(store->countRows("diagnostics", device.accountID), 1);
    EXPECT_EQ(store->countRows("product_events", device.accountID), 1);

    struct Case {
        std::string path;
        QJsonObject body;
        const char* code;
    };
    QJsonObject camelCase = event;
    camelCase["event_type"] = "appOpened";
    QJsonObject fractional = event;
    fractional["occurred_at"] = 1.5;
    QJsonObject badID = event;
    badID["event_id"] = "not-a-uuid";
    const Case cases[] = {
        { "/v1/diagnostics", { { "event_type", "uncleanTermination" }, { "status", "observed" } },
            "invalid_event_type" },
        { "/v1/diagnostics", { { "event_type", "unclean_termination" } }, "invalid_request" },
        { "/v1/diagnostics", { { "event_type", "unclean_termination" }, { "status", 3 } },
            "invalid_request" },
        { "/v1/analytics/product", camelCase, "invalid_event_type" },
        { "/v1/analytics/product", fractional, "invalid_request" },
        { "/v1/analytics/product", badID, "invalid_request" },
        { "/v1/devices/revoke", { { "device_id", 42 } }, "invalid_request" },
    };
    for (const Case& item : cases) {
        const HttpResponse response = call("POST", item.path, json(item.body));
        EXPECT_EQ(response.status, 400) << item.path << ' ' << json(item.body);
        EXPECT_EQ(bodyOf(response).value("error").toString().toStdString(), item.code) << json(item.body);
    }
    EXPECT_EQ(call("POST", "/v1/diagnostics", "{broken").status, 400);
    EXPECT_EQ(store->countRows("diagnostics", device.accountID), 1);
    EXPECT_EQ(store->countRows("product_events", device.accountID), 1);
}

TEST_F(SignedCallsTest, SignatureFailuresAreRefusedEachWithItsCode)
{
    const DeviceIdentity stranger = newIdentity();
    const auto signedBy = [&](const DeviceIdentity& key, const QUuid& id, std::optional<qint64> at = {}) {
        return sendSigned(key, id, "GET", "/v1/account/state", {}, at);
    };
    const auto code = [](const HttpResponse& response) {
        return std::to_string(response.status) + " "
            + bodyOf(response).value("error").toString().toStdString();
    };
    EXPECT_EQ(code(signedBy(identity, device.id, now - 300)), "200 ");
    EXPECT_EQ(code(signedBy(identity, device.id, now + 300)), "200 ");
    EXPECT_EQ(code(signedBy(identity, device.id, now - 301)), "401 stale_timestamp");
    EXPECT_EQ(code(signedBy(identity, device.id, now + 301)), "401 stale_timestamp");
    EXPECT_EQ(code(signedBy(stranger, device.id)), "401 invalid_signature");
    EXPECT_EQ(code(signedBy(identity, QUuid::createUuid())), "401 unknown_device");
    EXPECT_EQ(code(send("GET", "/v1/account/state")), "401 invalid_signature");
    EXPECT_EQ(code(send("GET", "/v1/account/state", {}, { { "Authorization", "Device garbage" } })),
        "401 invalid_signature");

    // A body or path other than the signed one.
    const auto headers = RequestSigner::sign(identity, device.id, u"POST", u"/v1/diagnostics",
        QByteArrayView("{\"event_type\":\"update_failed\",\"status\":\"a\"}"),
        QDateTime::fromSecsSinceEpoch(now, Qt::UTC), QUuid::createUuid());
    const std::pair<std::string, std::string> authorization { "Authorization",
        headers->authorization().toStdString() };
    EXPECT_EQ(code(send("POST", "/v1/diagnostics", R"({"event_type":"update_failed","status":"b"})",
                  { authorization })),
        "401 invalid_signature");
    EXPECT_EQ(code(send("POST", "/v1/sessions/draft", R"({"event_type":"update_failed","status":"a"})",
                  { authorization })),
        "401 invalid_signature");
    EXPECT_EQ(store->countRows("diagnostics", device.accountID), 0);
}

TEST_F(SignedCallsTest, ANonceIsAcceptedOnceAndAForgeryDoesNotUseItUp)
{
    const QUuid nonce = QUuid::createUuid();
    const DeviceIdentity stranger = newIdentity();
    EXPECT_EQ(sendSigned(stranger, device.id, "POST", "/v1/sessions/draft", {}, now, nonce).status, 401);
    EXPECT_EQ(sendSigned(identity, device.id, "POST", "/v1/sessions/draft", {}, now, nonce).status, 200);
    const HttpResponse replay = sendSigned(identity, device.id, "POST", "/v1/sessions/draft", {}, now, nonce);
    EXPECT_EQ(replay.status, 401);
    EXPECT_EQ(bodyOf(replay).value("error"), "replayed_nonce");
    EXPECT_EQ(store->countRows("conversation_sessions", device.accountID), 1);
}

TEST_F(SignedCallsTest, ARevokedDeviceIsRefusedFromThenOn)
{
    const DeviceIdentity laptop = newIdentity();
    const DeviceRecord second = signIn(laptop, "Ada");
    ASSERT_EQ(second.accountID, device.accountID);

    const QString secondID = uuidText(second.id, UuidCase::upper);
    EXPECT_EQ(call("POST", "/v1/devices/revoke", json({ { "device_id", secondID } })).body, R"({"ok":true})");
    const HttpResponse refused = sendSigned(laptop, second.id, "GET", "/v1/account/state");
    EXPECT_EQ(refused.status, 401);
    EXPECT_EQ(bodyOf(refused).value("error"), "device_revoked");
    EXPECT_EQ(call("GET", "/v1/account/state").status, 200);

    // Devices of other accounts are not the caller's to revoke.
    const DeviceIdentity other = newIdentity();
    const DeviceRecord bob = signIn(other, "Bob");
    const HttpResponse foreign
        = call("POST", "/v1/devices/revoke", json({ { "device_id", uuidText(bob.id, UuidCase::lower) } }));
    EXPECT_EQ(foreign.status, 404);
    EXPECT_EQ(sendSigned(other, bob.id, "GET", "/v1/account/state").status, 200);
}

TEST_F(SignedCallsTest, DeletingTheAccountRemovesItsDataAndLocksOutItsDevices)
{
    const DeviceIdentity laptop = newIdentity();
    const DeviceRecord second = signIn(laptop, "Ada");
    call("POST", "/v1/sessions/draft");
    call("POST", "/v1/diagnostics", json({ { "event_type", "update_failed" }, { "status", "x" } }));

    EXPECT_EQ(call("POST", "/v1/account/delete").body, R"({"ok":true})");
    for (const char* table : { "accounts", "devices", "conversation_sessions", "diagnostics" })
        EXPECT_EQ(store->countRows(table, device.accountID), 0) << table;
    const std::pair<const DeviceIdentity*, QUuid> devices[]
        = { { &identity, device.id }, { &laptop, second.id } };
    for (const auto& [key, id] : devices) {
        const HttpResponse refused = sendSigned(*key, id, "GET", "/v1/account/state");
        EXPECT_EQ(refused.status, 401);
        EXPECT_EQ(bodyOf(refused).value("error"), "unknown_device");
    }
    // Signing in again under the same name makes a new account.
    EXPECT_NE(signIn(identity, "Ada").accountID, device.accountID);
}

TEST_F(SignedCallsTest, RecoveryFindsTheActiveRegistrationOfTheSigningKey)
{
    const auto recover
        = [&](const DeviceIdentity& signer, const QString& publicKey, QUuid nonce = QUuid::createUuid()) {
              const std::string body = json({ { "device_public_key", publicKey } });
              const auto headers = RequestSigner::signRecovery(signer, u"POST", u"/v1/auth/device/recover",
                  QByteArrayView(body), QDateTime::fromSecsSinceEpoch(now, Qt::UTC), nonce);
              return send("POST", "/v1/auth/device/recover", body,
                  { { "Authorization", headers->authorization().toStdString() } });
          };
    const HttpResponse found = recover(identity, identity.publicKeyBase64URL());
    ASSERT_EQ(found.status, 200) << found.body;
    EXPECT_EQ(bodyOf(found).value("device_id").toString(), uuidText(device.id, UuidCase::lower));

    const DeviceIdentity stranger = newIdentity();
    EXPECT_EQ(bodyOf(recover(stranger, stranger.publicKeyBase64URL())).value("error"), "unknown_device");
    EXPECT_EQ(bodyOf(recover(stranger, identity.publicKeyBase64URL())).value("error"), "invalid_signature");
    const QUuid nonce = QUuid::createUuid();
    EXPECT_EQ(recover(identity, identity.publicKeyBase64URL(), nonce).status, 200);
    EXPECT_EQ(
        bodyOf(recover(identity, identity.publicKeyBase64URL(), nonce)).value("error"), "replayed_nonce");

    call("POST", "/v1/devices/revoke", json({ { "device_id", uuidText(device.id, UuidCase::lower) } }));
    const HttpResponse revoked = recover(identity, identity.publicKeyBase64URL());
    EXPECT_EQ(revoked.status, 401);
    EXPECT_EQ(bodyOf(revoked).value("error"), "unknown_device");
}

TEST_F(SignedCallsTest, AStorageFailureIsRefusedAsUnavailable)
{
    {
        QSqlDatabase other = QSqlDatabase::addDatabase("QSQLITE", "saboteur");
        other.setDatabaseName(dir.filePath("cp.sqlite"));
        ASSERT_TRUE(other.open());
        other.exec("DROP TABLE diagnostics");
        other.close();
    }
    QSqlDatabase::removeDatabase("saboteur");
    const HttpResponse response
        = call("POST", "/v1/diagnostics", json({ { "event_type", "update_failed" }, { "status", "x" } }));
    EXPECT_EQ(response.status, 503);
    EXPECT_EQ(bodyOf(response).value("error"), "storage_unavailable");
    EXPECT_EQ(call("GET", "/v1/account/state").status, 200);
}

} // namespace
} // namespace lumora
