#include "security/DeviceIdentity.hpp"

#include "FailsWith.hpp"
#include "TestKeyStore.hpp"
#include "security/Base64Url.hpp"
#include "security/KeyCreation.hpp"
#include "security/RequestSigner.hpp"
#include "security/Sha256.hpp"

#include <gtest/gtest.h>
#include <openssl/ecdsa.h>
#include <openssl/evp.h>
#include <openssl/x509.h>

using namespace lumora;

namespace {

const QUuid nonce("{6F1C2A3B-4D5E-4F60-8172-93A4B5C6D7E8}");
const QUuid deviceID("{0A1B2C3D-4E5F-4061-8273-94A5B6C7D8E9}");

const auto loadIdentity = [](std::shared_ptr<SecureKeyStore> store) {
    return test::awaitTask(DeviceIdentity::load(std::move(store))).value();
};

// Checks a signature the way an independent receiver would: OpenSSL's own verifier, fed
// only with the public-key text, the signature text and the signed bytes.
bool opensslAccepts(const QString& publicKeyText, const QString& signatureText, const QByteArray& message)
{
    const QByteArray point = Base64Url::decoded(publicKeyText).value_or(QByteArray());
    const QByteArray spki
        = QByteArray::fromHex("3059301306072a8648ce3d020106082a8648ce3d030107034200") + point;
    const auto* cursor = reinterpret_cast<const unsigned char*>(spki.constData());
    EVP_PKEY* key = d2i_PUBKEY(nullptr, &cursor, long(spki.size()));
    const QByteArray raw = Base64Url::decoded(signatureText).value_or(QByteArray());
    if (!key || raw.size() != 64) {
        EVP_PKEY_free(key);
        return false;
    }
    ECDSA_SIG* signature = ECDSA_SIG_new();
    const auto* bytes = reinterpret_cast<const unsigned char*>(raw.constData());
    ECDSA_SIG_set0(signature, BN_bin2bn(bytes, 32, nullptr), BN_bin2bn(bytes + 32, 32, nullptr));
    unsigned char* der = nullptr;
    const int derSize = i2d_ECDSA_SIG(signature, &der);
    EVP_MD_CTX* context = EVP_MD_CTX_new();
    const bool valid = EVP_DigestVerifyInit(context, nullptr, EVP_sha256(), nullptr, key) == 1
        && EVP_DigestVerify(context, der, size_t(derSize),
               reinterpret_cast<const unsigned char*>(message.constData()), size_t(message.size()))
            == 1;
    EVP_MD_CTX_free(context);
    OPENSSL_free(der);
    ECDSA_SIG_free(signature);
    EVP_PKEY_free(key);
    return valid;
}

const auto unixTime
    = [](qint64 milliseconds) { return QDateTime::fromMSecsSinceEpoch(milliseconds, Qt::UTC); };

} // namespace

TEST(DeviceIdentity, FirstLoadCreatesTheKeyLaterLoadsReuseItAndOpensslAcceptsItsSignatures)
{
    auto store = std::make_shared<test::TestKeyStore>();
    const DeviceIdentity identity = loadIdentity(store);
    EXPECT_EQ(store->stored(DeviceIdentity::storeAccount()).value().size(), 32);
    EXPECT_EQ(DeviceIdentity::storeAccount(), u"device-signing-key-v1"_qs);
    EXPECT_EQ(loadIdentity(store).publicKeyBase64URL(), identity.publicKeyBase64URL());

    // The receiver has nothing but the 87-character key text and the 86-character signature.
    const QString key = identity.publicKeyBase64URL();
    EXPECT_EQ(key.size(), 87);
    const QByteArray message = "POST\n/v1/sessions/reserve\n1700000000\nnonce\nhash";
    const auto signature = identity.sign(message);
    ASSERT_TRUE(signature.has_value());
    EXPECT_EQ(signature->size(), 86);
    EXPECT_TRUE(opensslAccepts(key, *signature, message));
    EXPECT_FALSE(opensslAccepts(key, *signature, message + "x"));
    EXPECT_TRUE(RequestSigner::isValidSignature(key, *signature, message));
    EXPECT_FALSE(RequestSigner::isValidSignature(key, *signature, message + "x"));
    const DeviceIdentity other = loadIdentity(std::make_shared<test::TestKeyStore>());
    EXPECT_FALSE(RequestSigner::isValidSignature(other.publicKeyBase64URL(), *signature, message));
    EXPECT_FALSE(RequestSigner::isValidSignature(u"not a key", *signature, message));
    EXPECT_FALSE(RequestSigner::isValidSignature(key, u"AAAA", message));
}

TEST(DeviceIdentity, UnusableStoredBytesAreInvalidKeyAndStayStored)
{
    for (const QByteArray& bad : { QByteArray(), QByteArray(31, 1), QByteArray(33, 1), QByteArray(32, 0),
             QByteArray(32, char(0xff)) }) {
        SCOPED_TRACE(bad.toHex().toStdString());
        auto store = std::make_shared<test::TestKeyStore>();
        store->put(bad, DeviceIdentity::storeAccount());
        EXPECT_THAT(test::awaitTask(DeviceIdentity::load(store)), FailsWith(SecureStoreError::invalidKey()));
        EXPECT_EQ(store->stored(DeviceIdentity::storeAccount()), bad);
    }
}

// A new device key orphans the device the server knows; it is made only when nothing says a
// key existed, and the key used is the one the store holds afterwards.
TEST(DeviceIdentity, NoNewKeyWhileASessionIsSavedAfterATimeoutOrOtherThanTheStoredOne)
{
    const QString account = DeviceIdentity::storeAccount();
    const QByteArray session = R"({"accountID":"0A1B2C3D-4E5F-4061-8273-94A5B6C7D8E9"})";
    for (const QString& sessionAccount : { u"account-session-v2"_qs, u"account-session-v1"_qs }) {
        SCOPED_TRACE(sessionAccount.toStdString());
        auto store = std::make_shared<test::TestKeyStore>();
        store->put(session, sessionAccount);
        EXPECT_THAT(
            test::awaitTask(DeviceIdentity::load(store)), FailsWith(SecureStoreError::keyUnavailable()));
        EXPECT_EQ(store->writes, 0);
        // Signing out clears the way.
        ASSERT_TRUE(test::awaitTask(store->values.remove(sessionAccount)).has_value());
        EXPECT_TRUE(test::awaitTask(DeviceIdentity::load(store)).has_value());
        EXPECT_EQ(store->writes, 1);
    }
    {
        auto store = std::make_shared<test::TestKeyStore>();
        store->timingOutReads.insert(account);
        const auto timedOut = SecureStoreError::keychain(SecureStoreError::timedOutStatus);
        EXPECT_THAT(test::awaitTask(DeviceIdentity::load(store)), FailsWith(timedOut));
        // The keychain answers again, "not found": still no key in this run.
        store->timingOutReads.clear();
        EXPECT_THAT(test::awaitTask(DeviceIdentity::load(store)), FailsWith(timedOut));
        EXPECT_EQ(store->writes, 0);
        KeyCreation::forgetTimeoutsForTesting();
    }
    {
        // Another process stored its key at the same moment: both end up with the stored one.
        auto store = std::make_shared<test::TestKeyStore>();
        const DeviceIdentity winner = loadIdentity(std::make_shared<MemoryKeyStore>());
        store->racingWrites.insert(account, winner.privateKey().rawRepresentation().toByteArray());
        EXPECT_EQ(loadIdentity(store).publicKeyBase64URL(), winner.publicKeyBase64URL());
    }
}

TEST(RequestSigner, CanonicalText)
{
    const QByteArray emptyHash = "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855";
    const QByteArray empty = RequestSigner::canonical(u"get", u"/v1/account/state", 1700000000, nonce, {});
    EXPECT_EQ(
        empty, "GET\n/v1/account/state\n1700000000\n6f1c2a3b-4d5e-4f60-8172-93a4b5c6d7e8\n" + emptyHash);
    EXPECT_EQ(empty.count('\n'), 4);

    struct Case {
        QString path;
        qint64 timestamp;
        QByteArray body;
        QByteArray expected;
    };
    const Case cases[] = {
        { u"/v1/content/conversations?limit=5&x=%2F"_qs, 0, "{}",
            "POST\n/v1/content/conversations?limit=5&x=%2F\n0\n6f1c2a3b-4d5e-4f60-8172-93a4b5c6d7e8\n"
                + Sha256::hash("{}").toHex() },
        { u"/caf\u00e9"_qs, -42, "",
            "POST\n/caf\xc3\xa9\n-42\n6f1c2a3b-4d5e-4f60-8172-93a4b5c6d7e8\n" + emptyHash },
        { u"/"_qs, 9223372036854775807, "",
            "POST\n/\n9223372036854775807\n6f1c2a3b-4d5e-4f60-8172-93a4b5c6d7e8\n" + emptyHash },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path.toStdString());
        EXPECT_EQ(RequestSigner::canonical(u"Post", c.path, c.timestamp, nonce, c.body), c.expected);
    }
}

TEST(RequestSigner, TimestampsTruncateTowardZero)
{
    const std::pair<qint64, qint64> cases[] = { { 0, 0 }, { 999, 0 }, { 1000, 1 }, { -500, 0 }, { -1000, -1 },
        { -1999, -1 }, { 1700000000999, 1700000000 } };
    for (const auto& [milliseconds, seconds] : cases) {
        SCOPED_TRACE(milliseconds);
        EXPECT_EQ(RequestSigner::timestamp(unixTime(milliseconds)), seconds);
    }
    EXPECT_FALSE(RequestSigner::timestamp(QDateTime()).has_value());
}

TEST(RequestSigner, DeviceAndRecoveryHeadersCarryWhatWasSigned)
{
    const DeviceIdentity identity = loadIdentity(std::make_shared<MemoryKeyStore>());
    const QByteArray body = R"({"pass":"final"})";
    const auto signed_ = RequestSigner::sign(
        identity, deviceID, u"post", u"/v1/providers/anthropic/analyze", body, unixTime(-1500), nonce);
    ASSERT_TRUE(signed_.has_value());
    const QString device = signed_->authorization();
    EXPECT_TRUE(device.startsWith(
        u"Device 0a1b2c3d-4e5f-4061-8273-94a5b6c7d8e9:-1:6f1c2a3b-4d5e-4f60-8172-93a4b5c6d7e8:"));
    EXPECT_EQ(SignedRequestHeaders::fromAuthorization(device), *signed_);
    const QByteArray canonical = RequestSigner::canonical(
        u"POST", u"/v1/providers/anthropic/analyze", signed_->timestamp, nonce, body);
    EXPECT_TRUE(opensslAccepts(identity.publicKeyBase64URL(), signed_->signature, canonical));

    const auto recovery = RequestSigner::signRecovery(
        identity, u"POST", u"/v1/auth/device/recover", {}, unixTime(1000), nonce);
    ASSERT_TRUE(recovery.has_value());
    const QString recover = recovery->authorization();
    EXPECT_TRUE(recover.startsWith(u"Recover 1:6f1c2a3b-4d5e-4f60-8172-93a4b5c6d7e8:"));
    EXPECT_EQ(RecoveryRequestHeaders::fromAuthorization(recover), *recovery);
    EXPECT_TRUE(RequestSigner::isValidSignature(identity.publicKeyBase64URL(), recovery->signature,
        RequestSigner::canonical(u"POST", u"/v1/auth/device/recover", 1, nonce, {})));

    EXPECT_THAT(RequestSigner::sign(identity, deviceID, u"GET", u"/", {}, QDateTime(), nonce),
        FailsWith(CryptoError::invalidInput));
}

TEST(RequestSigner, MalformedAuthorizationValuesAreRefused)
{
    const QString signature(86, u'A');
    const QString good
        = u"Device 0a1b2c3d-4e5f-4061-8273-94a5b6c7d8e9:5:6f1c2a3b-4d5e-4f60-8172-93a4b5c6d7e8:"_qs
        + signature;
    ASSERT_TRUE(SignedRequestHeaders::fromAuthorization(good).has_value());
    const QString bad[] = {
        u"device"_qs + good.sliced(6),
        u"Device  "_qs + good.sliced(7),
        good + u":x"_qs,
        good.chopped(1),
        QString(good).replace(u"0a1b2c3d"_qs, u"0A1B2C3D"_qs),
        QString(good).replace(u":5:"_qs, u":05:"_qs),
        QString(good).replace(u":5:"_qs, u":+5:"_qs),
        QString(good).replace(u":5:"_qs, u"::"_qs),
        u"Recover 5:6f1c2a3b-4d5e-4f60-8172-93a4b5c6d7e8:"_qs + signature,
    };
    for (const QString& value : bad) {
        SCOPED_TRACE(value.toStdString());
        EXPECT_FALSE(SignedRequestHeaders::fromAuthorization(value).has_value());
    }
    EXPECT_TRUE(RecoveryRequestHeaders::fromAuthorization(
        u"Recover -5:6f1c2a3b-4d5e-4f60-8172-93a4b5c6d7e8:"_qs + signature));
    EXPECT_FALSE(
        RecoveryRequestHeaders::fromAuthorization(u"Recover 5:6f1c2a3b-4d5e-4f60-8172-93a4b5c6d7e8"_qs));
    EXPECT_FALSE(RecoveryRequestHeaders::fromAuthorization(good));
}
