#include "security/KeyCreation.hpp"

#include "security/SecureKeyStore.hpp"
#include "security/SecurityLog.hpp"

#include <QLoggingCategory>
#include <atomic>

namespace lumora {
namespace {

std::atomic<bool> timedOut { false };

} // namespace

void KeyCreation::note(const SecureStoreError& error)
{
    if (error.kind == SecureStoreError::Case::keychain && error.status == SecureStoreError::timedOutStatus)
        timedOut = true;
}

bool KeyCreation::timedOutThisRun()
{
    return timedOut;
}

void KeyCreation::forgetTimeoutsForTesting()
{
    timedOut = false;
}

QCoro::Task<std::expected<KeyCreation::Stored, SecureStoreError>> KeyCreation::store(
    std::shared_ptr<SecureKeyStore> keyStore, QString account, QByteArray bytes)
{
    if (timedOutThisRun()) {
        qCWarning(secureStoreLog, "Not creating %s: the keychain did not answer in time earlier in this run",
            qUtf8Printable(account));
        co_return std::unexpected(SecureStoreError::keychain(SecureStoreError::timedOutStatus));
    }
    const auto written = co_await keyStore->set(std::move(bytes), account);
    if (!written) {
        note(written.error());
        co_return std::unexpected(written.error());
    }
    const auto stored = co_await keyStore->data(account);
    if (!stored) {
        note(stored.error());
        co_return std::unexpected(stored.error());
    }
    if (!stored->bytes) {
        qCCritical(secureStoreLog, "The new key %s could not be read back", qUtf8Printable(account));
        co_return std::unexpected(SecureStoreError::keyUnavailable());
    }
    co_return Stored { *stored->bytes };
}

} // namespace lumora
