#include "appcore/CheckinService.hpp"

#include "appcore/AppcoreLog.hpp"
#include "appcore/ServiceFailureCode.hpp"
#include "domain/CheckinBundledPack.hpp"
#include "providers/CheckinPackClient.hpp"

#include <QLoggingCategory>

namespace lumora {

std::shared_ptr<CheckinService> CheckinService::create(std::shared_ptr<const CheckinPackClient> client)
{
    return std::shared_ptr<CheckinService>(new CheckinService(std::move(client)));
}

CheckinService::CheckinService(std::shared_ptr<const CheckinPackClient> client)
    : m_client(std::move(client))
{
}

QCoro::Task<CheckinPack> CheckinService::pack(QDateTime now)
{
    const auto keepAlive = shared_from_this();
    auto fetched = co_await m_client->checkinPack();
    if (fetched && fetched->isUsable())
        co_return std::move(*fetched);
    if (fetched) {
        qCWarning(checkinLog, "Check-in pack was incomplete; using the bundled prompts.");
    } else {
        qCWarning(checkinLog, "Check-in pack unavailable: %s",
            qUtf8Printable(ServiceFailureCode::of(fetched.error())));
    }
    co_return CheckinBundledPack::pack(now);
}

} // namespace lumora
