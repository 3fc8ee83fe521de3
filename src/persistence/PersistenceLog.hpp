#pragma once

#include <QLoggingCategory>

namespace lumora {

Q_DECLARE_LOGGING_CATEGORY(backupStoreLog)
Q_DECLARE_LOGGING_CATEGORY(resultStoreLog)
Q_DECLARE_LOGGING_CATEGORY(sealerLog)

} // namespace lumora
