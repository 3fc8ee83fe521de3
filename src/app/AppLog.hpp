#pragma once

#include <QLoggingCategory>

namespace lumora {

Q_DECLARE_LOGGING_CATEGORY(appLog)

} // namespace lumora
