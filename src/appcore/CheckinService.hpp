#pragma once

#include "domain/CheckinPack.hpp"

#include <QDateTime>
#include <memory>
#include <qcoro/qcorotask.h>

namespace lumora {

class CheckinPackClient;

// Supplies the week's check-in pack: the control plane's when it sends a usable one, the
// built-in pack otherwise, so that a check-in can always start. Nothing is cached; every
// call asks again. Made through `create`: a call in flight keeps the service alive.
class CheckinService : public std::enable_shared_from_this<CheckinService> {
public:
    static std::shared_ptr<CheckinService> create(std::shared_ptr<const CheckinPackClient> client);

    // Never fails. `now` picks the built-in pack's UTC week and is its generation time; a
    // server pack is passed on as it came, whatever its week. Each fallback logs one line
    // that names the failure only by its short code.
    QCoro::Task<CheckinPack> pack(QDateTime now);

private:
    explicit CheckinService(std::shared_ptr<const CheckinPackClient> client);

    std::shared_ptr<const CheckinPackClient> m_client;
};

} // namespace lumora
