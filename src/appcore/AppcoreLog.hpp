#pragma once

#include <QLoggingCategory>

namespace lumora {

Q_DECLARE_LOGGING_CATEGORY(checkinLog)
Q_DECLARE_LOGGING_CATEGORY(backupLog)
Q_DECLARE_LOGGING_CATEGORY(pairingLog)
Q_DECLARE_LOGGING_CATEGORY(coordinatorLog)

} // namespace lumora
