#pragma once

#include <QLoggingCategory>

namespace lumora {

Q_DECLARE_LOGGING_CATEGORY(identityLog)
Q_DECLARE_LOGGING_CATEGORY(secureStoreLog)

} // namespace lumora
