#include "controlplane/RequestAuthenticator.hpp"

#include "domain/JsonWriting.hpp"
#include "security/Base64Url.hpp"
#include "security/P256PublicKey.hpp"
#include "security/RecoveryRequestHeaders.hpp"
#include "security/RequestSigner.hpp"
#include "security/SignedRequestHeaders.hpp"

#include <QHash>
#include <memory>
#include <mutex>

namespace lumora {

namespace {

QString authorizationHeader(const HttpRequest& request)
{
    return QString::fromStdString(std::string(request.header("Authorization")));
}

struct DeviceKey {
    QString text;
    P256PublicKey key;
    // A device never moves to another account.
    QUuid accountID;
};

// Parsed public keys of devices with their accounts, shared by every thread. A device's key
// never changes, so a key found here is never stale; whether the device may still sign is read from the
// database on every request. Made once and never destroyed: its keys must not outlive
// the crypto library at exit.
class DeviceKeyCache {
public:
    static DeviceKeyCache& instance()
    {
        static auto* cache = new DeviceKeyCache;
        return *cache;
    }

    std::shared_ptr<const DeviceKey> find(const QUuid& device)
    {
        const std::lock_guard lock(m_lock);
        return m_keys.value(device);
    }

    void insert(const QUuid& device, std::shared_ptr<const DeviceKey> key)
    {
        const std::lock_guard lock(m_lock);
        if (m_keys.size() >= capacity)
            m_keys.clear();
        m_keys.insert(device, std::move(key));
    }

private:
    static constexpr qsizetype capacity = 100000;
    std::mutex m_lock;
    QHash<QUuid, std::shared_ptr<const DeviceKey>> m_keys;
};

// The device's key, read from the database once per process.
std::expected<std::shared_ptr<const DeviceKey>, AuthenticationFailure> deviceKey(
    const ControlPlaneStore& store, const QUuid& id)
{
    if (auto key = DeviceKeyCache::instance().find(id))
        return key;
    const auto device = store.device(id);
    if (!device)
        return std::unexpected(AuthenticationFailure::unknownDevice);
    auto parsed = P256PublicKey::fromBase64Url(device->publicKey);
    if (!parsed)
        return std::unexpected(AuthenticationFailure::invalidSignature);
    auto key = std::make_shared<const DeviceKey>(
        DeviceKey { device->publicKey, std::move(*parsed), device->accountID });
    DeviceKeyCache::instance().insert(id, key);
    return key;
}

} // namespace

QString toString(AuthenticationFailure failure)
{
    switch (failure) {
    case AuthenticationFailure::invalidSignature:
        return QStringLiteral("invalid_signature");
    case AuthenticationFailure::staleTimestamp:
        return QStringLiteral("stale_timestamp");
    case AuthenticationFailure::replayedNonce:
        return QStringLiteral("replayed_nonce");
    case AuthenticationFailure::unknownDevice:
        return QStringLiteral("unknown_device");
    case AuthenticationFailure::deviceRevoked:
        return QStringLiteral("device_revoked");
    }
    return QStringLiteral("invalid_signature");
}

RequestAuthenticator::RequestAuthenticator(ControlPlaneStore& store, std::function<qint64()> clock)
    : m_store(store)
    , m_clock(std::move(clock))
{
}

// The order of the checks keeps what a stranger learns small: the clock and the header's
// form first, then whether the device exists, then the signature; only a holder of the key
// learns that the device was revoked, and a forged request never consumes a nonce.
std::expected<SignedCall, AuthenticationFailure> RequestAuthenticator::checkDeviceSignature(
    const HttpRequest& request)
{
    const auto fields = SignedRequestHeaders::fromAuthorization(authorizationHeader(request));
    if (!fields)
        return std::unexpected(AuthenticationFailure::invalidSignature);
    if (auto fresh = checkFreshness(fields->timestamp); !fresh)
        return std::unexpected(fresh.error());
    const auto key = deviceKey(m_store, fields->deviceID);
    if (!key)
        return std::unexpected(key.error());
    const QByteArray canonical = RequestSigner::canonical(QString::fromStdString(request.method),
        QString::fromStdString(request.path), fields->timestamp, fields->nonce, QByteArrayView(request.body));
    const auto signature = Base64Url::decoded(fields->signature);
    if (!signature || !(*key)->key.isValidSignature(*signature, canonical))
        return std::unexpected(AuthenticationFailure::invalidSignature);
    return SignedCall { DeviceRecord { fields->deviceID, (*key)->accountID, (*key)->text, false },
        "device:" + uuidText(fields->deviceID, UuidCase::lower), fields->nonce, fields->timestamp };
}

AuthenticationFailure RequestAuthenticator::refusalOf(const SignedCall& call) const
{
    // Said for the holder of the key alone.
    const auto device = m_store.device(call.device.id);
    if (!device)
        return AuthenticationFailure::unknownDevice;
    if (device->revoked)
        return AuthenticationFailure::deviceRevoked;
    return AuthenticationFailure::replayedNonce;
}

std::expected<DeviceRecord, AuthenticationFailure> RequestAuthenticator::authenticateDevice(
    const HttpRequest& request)
{
    const auto call = checkDeviceSignature(request);
    if (!call)
        return std::unexpected(call.error());
    if (const auto account
        = m_store.rememberNonceOfActiveDevice(call->device.id, call->signer, call->nonce, call->timestamp))
        return DeviceRecord { call->device.id, *account, call->device.publicKey, false };
    return std::unexpected(refusalOf(*call));
}

// Without the body there is no signature to check, so whoever sent the head may not hold the
// key: a revoked device is refused as a forged request of it is once its body is read
// (invalid_signature), and only the full check tells the key's holder that it was revoked.
std::expected<DeviceRecord, AuthenticationFailure> RequestAuthenticator::checkHead(const HttpRequest& head)
{
    const auto fields = SignedRequestHeaders::fromAuthorization(authorizationHeader(head));
    if (!fields)
        return std::unexpected(AuthenticationFailure::invalidSignature);
    if (auto fresh = checkFreshness(fields->timestamp); !fresh)
        return std::unexpected(fresh.error());
    const auto device = m_store.device(fields->deviceID);
    if (!device)
        return std::unexpected(AuthenticationFailure::unknownDevice);
    if (device->revoked)
        return std::unexpected(AuthenticationFailure::invalidSignature);
    return *device;
}

std::expected<void, AuthenticationFailure> RequestAuthenticator::authenticateRecovery(
    const HttpRequest& request, const QString& publicKey)
{
    const auto fields = RecoveryRequestHeaders::fromAuthorization(authorizationHeader(request));
    if (!fields)
        return std::unexpected(AuthenticationFailure::invalidSignature);
    if (auto fresh = checkFreshness(fields->timestamp); !fresh)
        return fresh;
    if (auto valid = checkSignature(request, publicKey, fields->timestamp, fields->nonce, fields->signature);
        !valid)
        return valid;
    return checkNonce("key:" + publicKey, fields->nonce, fields->timestamp);
}

std::expected<void, AuthenticationFailure> RequestAuthenticator::checkFreshness(qint64 timestamp) const
{
    const qint64 now = m_clock();
    // Written so that no subtraction can overflow for timestamps near the 64-bit limits.
    if (timestamp < now - allowedClockSkew || timestamp > now + allowedClockSkew)
        return std::unexpected(AuthenticationFailure::staleTimestamp);
    return {};
}

std::expected<void, AuthenticationFailure> RequestAuthenticator::checkNonce(
    const QString& signer, const QUuid& nonce, qint64 timestamp)
{
    if (!m_store.rememberNonce(signer, nonce, timestamp))
        return std::unexpected(AuthenticationFailure::replayedNonce);
    return {};
}

std::expected<void, AuthenticationFailure> RequestAuthenticator::checkSignature(const HttpRequest& request,
    const QString& publicKey, qint64 timestamp, const QUuid& nonce, const QString& signature) const
{
    // The path as it came on the wire, without the query: what the client signed.
    const QByteArray canonical = RequestSigner::canonical(QString::fromStdString(request.method),
        QString::fromStdString(request.path), timestamp, nonce, QByteArrayView(request.body));
    if (!RequestSigner::isValidSignature(publicKey, signature, canonical))
        return std::unexpected(AuthenticationFailure::invalidSignature);
    return {};
}

} // namespace lumora
