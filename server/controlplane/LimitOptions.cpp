#include "controlplane/LimitOptions.hpp"

#include <limits>
#include <optional>

namespace lumora {

namespace {

// A whole number of bytes, with an optional binary K, M or G after it ("512M").
std::optional<qint64> byteCount(QString text)
{
    qint64 unit = 1;
    for (const auto& [suffix, factor] : { std::pair { u'K', qint64(1) << 10 },
             std::pair { u'M', qint64(1) << 20 }, std::pair { u'G', qint64(1) << 30 } })
        if (text.endsWith(suffix, Qt::CaseInsensitive)) {
            text.chop(1);
            unit = factor;
            break;
        }
    bool ok = false;
    const qint64 count = text.toLongLong(&ok);
    if (!ok || count < 0 || count > std::numeric_limits<qint64>::max() / unit / 2)
        return std::nullopt;
    return count * unit;
}

// The limit of sign-in starts an option sets; null for another option.
int* signInLimit(SignInLimits& limits, QStringView name)
{
    if (name == u"--sign-in-rate-per-address")
        return &limits.perAddress;
    if (name == u"--sign-in-rate-per-network")
        return &limits.perNetwork;
    if (name == u"--open-sign-ins-per-key")
        return &limits.openPerKey;
    if (name == u"--open-sign-ins-per-network")
        return &limits.openPerNetwork;
    if (name == u"--open-sign-ins")
        return &limits.open;
    return nullptr;
}

bool signInLimit(QStringView name)
{
    SignInLimits any;
    return signInLimit(any, name) != nullptr;
}

} // namespace

bool LimitOptions::isOption(QStringView name)
{
    return name == u"--provider-rate-per-reservation" || name == u"--provider-rate-per-account"
        || name == u"--prompt-limit" || name == u"--storage-quota" || signInLimit(name);
}

std::expected<void, QString> LimitOptions::set(QStringView name, const QString& value)
{
    if (int* limit = signInLimit(signIns, name)) {
        constexpr int most = 1'000'000;
        bool ok = false;
        const int count = value.toInt(&ok);
        if (!ok || count < 1 || count > most)
            return std::unexpected(QStringLiteral("%1 needs a number from 1 to %2").arg(name).arg(most));
        *limit = count;
        return {};
    }
    if (name.startsWith(u"--provider-rate-")) {
        constexpr int maximumCalls = 100'000;
        bool ok = false;
        const int count = value.toInt(&ok);
        if (!ok || count < 1 || count > maximumCalls)
            return std::unexpected(
                QStringLiteral("%1 needs a number of calls from 1 to %2").arg(name).arg(maximumCalls));
        (name == u"--provider-rate-per-reservation" ? rates.perReservation : rates.perAccount) = count;
        return {};
    }
    const auto bytes = byteCount(value);
    // A prompt holds at least the instructions; a quota of nothing stores nothing.
    constexpr qint64 smallestPrompt = 16 * 1024;
    const qint64 least = name == u"--prompt-limit" ? smallestPrompt : 0;
    if (!bytes || *bytes < least)
        return std::unexpected(
            QStringLiteral("%1 needs a number of bytes of at least %2 (K, M or G may follow)")
                .arg(name)
                .arg(least));
    (name == u"--prompt-limit" ? promptBytes : storageQuota) = *bytes;
    return {};
}

QString LimitOptions::helpText()
{
    return QStringLiteral(
        "\n"
        "What one account may cost (counted on every control plane of one database):\n"
        "  --provider-rate-per-reservation N\n"
        "                        calls to the paid providers (speech grants, analyses, nudges)\n"
        "                        one reservation may make a minute (default 30); past it the\n"
        "                        rule-based analyzer answers and a speech grant gets 429\n"
        "  --provider-rate-per-account N\n"
        "                        the same for all the reservations of one account (default 60)\n"
        "  --prompt-limit BYTES  the largest prompt sent to the analysis service (default 256K);\n"
        "                        the rule-based analyzer answers a larger one\n"
        "  --storage-quota BYTES what one account's stored conversations may hold (default 1G);\n"
        "                        an upload past it gets 507\n"
        "\n"
        "What sign-in starts may store (counted on every control plane of one database); a start\n"
        "past a limit gets 429:\n"
        "  --sign-in-rate-per-address N\n"
        "                        starts a minute from one client address, an IPv6 one by its /64\n"
        "                        (default 10)\n"
        "  --sign-in-rate-per-network N\n"
        "                        starts a minute from one network, an IPv4 /24 or IPv6 /48\n"
        "                        (default 60); past it an address of the network without a\n"
        "                        start in the minute still starts one, up to twice N\n"
        "  --open-sign-ins-per-key N\n"
        "                        sign-ins open at once (neither completed nor past their ten\n"
        "                        minutes) for one device key (default 5); a further start with\n"
        "                        the key supersedes its oldest instead of being refused\n"
        "  --open-sign-ins-per-network N\n"
        "                        sign-ins open at once from one network (default 60); there an\n"
        "                        address holding fewer than one key may is taken at the cost\n"
        "                        of the oldest of the address holding most\n"
        "  --open-sign-ins N     sign-ins open at once in all (default 10000); past it a network\n"
        "                        holds no more than one key may\n");
}

} // namespace lumora
