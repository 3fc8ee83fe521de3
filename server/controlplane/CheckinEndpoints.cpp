#include "controlplane/CheckinEndpoints.hpp"

#include "controlplane/CheckinPromptBank.hpp"
#include "controlplane/JsonReplies.hpp"
#include "controlplane/Router.hpp"
#include "domain/CheckinWeek.hpp"

namespace lumora {

CheckinEndpoints::CheckinEndpoints(ControlPlaneStore& store, std::function<qint64()> clock)
    : m_workspaces(store)
    , m_clock(std::move(clock))
{
}

void CheckinEndpoints::addRoutes(Router& router)
{
    router.addSignedRoute("/v1/content/checkins/pack", "GET",
        [this](const HttpRequest& request, const DeviceRecord& device) { return pack(request, device); });
}

QUuid CheckinEndpoints::workspaceOf(const QUuid& account) const
{
    return QUuid::fromString(m_workspaces.currentWorkspace(account).id);
}

HttpResponse CheckinEndpoints::pack(const HttpRequest&, const DeviceRecord& device) const
{
    // Weeks are UTC weeks, as for the built-in pack, so partners in different zones and a
    // client that falls back mid-week agree on which week it is.
    const QTimeZone calendar = CheckinWeek::packCalendar();
    const QString week = CheckinWeek::key(QDateTime::fromSecsSinceEpoch(m_clock(), calendar), calendar);
    const auto weekStart = CheckinWeek::start(week, calendar);
    if (!weekStart)
        return errorResponse(503, "checkin_pack_unavailable");
    const CheckinPack pack
        = CheckinPromptBank::compose(workspaceOf(device.accountID), week, weekStart->toSecsSinceEpoch());
    return jsonResponse({ { "pack", pack.toJson() } });
}

} // namespace lumora
