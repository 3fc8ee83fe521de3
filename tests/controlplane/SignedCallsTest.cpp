#include "ServiceFixture.hpp"
#include "domain/JsonWriting.hpp"

namespace lumora {
namespace {

using testing::bodyOf;
using testing::codeOf;
using testing::json;
using testing::Member;
using testing::newIdentity;

class SignedCallsTest : public testing::BackendServiceTest {
protected:
    HttpResponse call(const std::string& method, const std::string& path, const std::string& body = {})
    {
        return ControlPlaneServiceTest::call(ada, method, path, body);
    }

    HttpResponse stateAs(const DeviceIdentity& key, const QUuid& id, std::optional<qint64> at = {})
    {
        return sendSigned(key, id, "GET", "/v1/account/state", {}, at);
    }

    Member ada = member("Ada");
};

LUMORA_ON_EVERY_BACKEND(SignedCallsTest);

TEST_P(SignedCallsTest, AccountStateAndTheSessionDraft)
{
    const QJsonObject state = get(ada, "/v1/account/state");
    EXPECT_EQ(state.value("account_id").toString(), uuidText(ada.device.accountID, UuidCase::lower));
    EXPECT_EQ(state.value("device_id").toString(), uuidText(ada.device.id, UuidCase::lower));

    const QJsonObject none = get(ada, "/v1/sessions/current");
    EXPECT_TRUE(none.value("session_id").isNull());
    EXPECT_TRUE(none.value("expires_at").isNull());
    const QJsonObject created = post(ada, "/v1/sessions/draft");
    EXPECT_EQ(created.value("status"), "draft");
    EXPECT_EQ(created.value("expires_at").toInteger(), now + AccountEndpoints::sessionDraftLifetime);
    EXPECT_EQ(get(ada, "/v1/sessions/current"), created);
    now += AccountEndpoints::sessionDraftLifetime;
    EXPECT_TRUE(get(ada, "/v1/sessions/current").value("session_id").isNull());
}

TEST_P(SignedCallsTest, ReportsAreStoredAndCheckedForTheirVocabulary)
{
    EXPECT_EQ(call("POST", "/v1/diagnostics",
                  json({ { "event_type", "unclean_termination" }, { "status", "observed" } }))
                  .body,
        R"({"ok":true})");
    const QJsonObject event { { "event_id", QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper() },
        { "event_type", "app_opened" }, { "app_version", "1.0 (7)" }, { "occurred_at", now } };
    // A repeated event is stored once.
    for (int time = 0; time < 2; ++time)
        EXPECT_EQ(call("POST", "/v1/analytics/product", json(event)).status, 200);

    const auto with = [&](const char* key, const QJsonValue& value) {
        QJsonObject changed = event;
        changed[key] = value;
        return json(changed);
    };
    struct Case {
        std::string path;
        std::string body;
        const char* code;
    };
    const Case cases[] = {
        { "/v1/diagnostics", json({ { "event_type", "uncleanTermination" }, { "status", "observed" } }),
            "400 invalid_event_type" },
        { "/v1/diagnostics", json({ { "event_type", "unclean_termination" } }), "400 invalid_request" },
        { "/v1/diagnostics", json({ { "event_type", "unclean_termination" }, { "status", 3 } }),
            "400 invalid_request" },
        { "/v1/diagnostics", "{broken", "400 invalid_json" },
        { "/v1/analytics/product", with("event_type", "appOpened"), "400 invalid_event_type" },
        { "/v1/analytics/product", with("occurred_at", 1.5), "400 invalid_request" },
        { "/v1/analytics/product", with("event_id", "not-a-uuid"), "400 invalid_request" },
        { "/v1/devices/revoke", json({ { "device_id", 42 } }), "400 invalid_request" },
    };
    for (const Case& item : cases)
        EXPECT_EQ(codeOf(call("POST", item.path, item.body)), item.code) << item.body;
    EXPECT_EQ(store->countRows("diagnostics", ada.device.accountID), 1);
    EXPECT_EQ(store->countRows("product_events", ada.device.accountID), 1);
}

TEST_P(SignedCallsTest, SignatureFailuresAreRefusedEachWithItsCode)
{
    const DeviceIdentity stranger = newIdentity();
    const QUuid id = ada.device.id;
    EXPECT_EQ(codeOf(stateAs(ada.identity, id, now - 300)), "200 ");
    EXPECT_EQ(codeOf(stateAs(ada.identity, id, now + 300)), "200 ");
    EXPECT_EQ(codeOf(stateAs(ada.identity, id, now - 301)), "401 stale_timestamp");
    EXPECT_EQ(codeOf(stateAs(ada.identity, id, now + 301)), "401 stale_timestamp");
    EXPECT_EQ(codeOf(stateAs(stranger, id)), "401 invalid_signature");
    EXPECT_EQ(codeOf(stateAs(ada.identity, QUuid::createUuid())), "401 unknown_device");
    EXPECT_EQ(codeOf(send("GET", "/v1/account/state")), "401 invalid_signature");
    EXPECT_EQ(codeOf(send("GET", "/v1/account/state", {}, { { "Authorization", "Device garbage" } })),
        "401 invalid_signature");

    // A body or path other than the signed one.
    const auto headers = RequestSigner::sign(ada.identity, id, u"POST", u"/v1/diagnostics",
        QByteArrayView(R"({"event_type":"update_failed","status":"a"})"),
        QDateTime::fromSecsSinceEpoch(now, Qt::UTC), QUuid::createUuid());
    const std::pair<std::string, std::string> authorization { "Authorization",
        headers->authorization().toStdString() };
    EXPECT_EQ(codeOf(send("POST", "/v1/diagnostics", R"({"event_type":"update_failed","status":"b"})",
                  { authorization })),
        "401 invalid_signature");
    EXPECT_EQ(codeOf(send("POST", "/v1/sessions/draft", R"({"event_type":"update_failed","status":"a"})",
                  { authorization })),
        "401 invalid_signature");
    EXPECT_EQ(store->countRows("diagnostics", ada.device.accountID), 0);

    // A nonce is accepted once, and a forgery does not use it up.
    const QUuid nonce = QUuid::createUuid();
    const auto draft = [&](const DeviceIdentity& key) {
        return codeOf(sendSigned(key, id, "POST", "/v1/sessions/draft", {}, now, nonce));
    };
    EXPECT_EQ(draft(stranger), "401 invalid_signature");
    EXPECT_EQ(draft(ada.identity), "200 ");
    EXPECT_EQ(draft(ada.identity), "401 replayed_nonce");
    EXPECT_EQ(store->countRows("conversation_sessions", ada.device.accountID), 1);
}

TEST_P(SignedCallsTest, ARevokedDeviceIsRefusedFromThenOn)
{
    const DeviceIdentity laptop = newIdentity();
    const DeviceRecord second = signIn(laptop, "Ada");
    ASSERT_EQ(second.accountID, ada.device.accountID);
    const QString secondID = uuidText(second.id, UuidCase::upper);
    EXPECT_EQ(call("POST", "/v1/devices/revoke", json({ { "device_id", secondID } })).body, R"({"ok":true})");
    EXPECT_EQ(codeOf(stateAs(laptop, second.id)), "401 device_revoked");
    EXPECT_EQ(call("GET", "/v1/account/state").status, 200);

    // Devices of other accounts are not the caller's to revoke.
    const Member bob = member("Bob");
    const std::string foreign = json({ { "device_id", uuidText(bob.device.id, UuidCase::lower) } });
    EXPECT_EQ(call("POST", "/v1/devices/revoke", foreign).status, 404);
    EXPECT_EQ(stateAs(bob.identity, bob.device.id).status, 200);
}

TEST_P(SignedCallsTest, RecoveryFindsTheActiveRegistrationOfTheSigningKey)
{
    const auto recover
        = [&](const DeviceIdentity& signer, const DeviceIdentity& owner, QUuid nonce = QUuid::createUuid()) {
              const std::string body = json({ { "device_public_key", owner.publicKeyBase64URL() } });
              const auto headers = RequestSigner::signRecovery(signer, u"POST", u"/v1/auth/device/recover",
                  QByteArrayView(body), QDateTime::fromSecsSinceEpoch(now, Qt::UTC), nonce);
              return send("POST", "/v1/auth/device/recover", body,
                  { { "Authorization", headers->authorization().toStdString() } });
          };
    const HttpResponse found = recover(ada.identity, ada.identity);
    ASSERT_EQ(found.status, 200) << found.body;
    EXPECT_EQ(bodyOf(found).value("device_id").toString(), uuidText(ada.device.id, UuidCase::lower));

    const DeviceIdentity stranger = newIdentity();
    EXPECT_EQ(codeOf(recover(stranger, stranger)), "401 unknown_device");
    EXPECT_EQ(codeOf(recover(stranger, ada.identity)), "401 invalid_signature");
    const QUuid nonce = QUuid::createUuid();
    EXPECT_EQ(recover(ada.identity, ada.identity, nonce).status, 200);
    EXPECT_EQ(codeOf(recover(ada.identity, ada.identity, nonce)), "401 replayed_nonce");

    post(ada, "/v1/devices/revoke", { { "device_id", uuidText(ada.device.id, UuidCase::lower) } });
    EXPECT_EQ(codeOf(recover(ada.identity, ada.identity)), "401 unknown_device");
}

} // namespace
} // namespace lumora
