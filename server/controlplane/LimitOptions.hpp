#pragma once

#include "analysis/ModelAnalyzer.hpp"
#include "controlplane/ConversationContentEndpoints.hpp"
#include "controlplane/ProviderCallRates.hpp"
#include "controlplane/SignInLimits.hpp"

#include <QString>
#include <expected>

namespace lumora {

// The command-line options that bound what one account may cost the operator: the calls to
// the paid providers, the size of a prompt sent to the analysis service, and the
// conversations it stores; and what sign-in starts, which anyone may make, may store.
struct LimitOptions {
    ProviderCallRates rates;
    SignInLimits signIns;
    qint64 promptBytes = ModelAnalyzerSettings::defaultMaximumPromptBytes;
    qint64 storageQuota = ConversationContentEndpoints::defaultStorageQuota;

    // Whether `name` is one of these options (each takes a value).
    static bool isOption(QStringView name);
    // Stores one option's value; an error text when the value is unusable.
    std::expected<void, QString> set(QStringView name, const QString& value);
    static QString helpText();
};

} // namespace lumora
