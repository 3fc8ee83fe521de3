#pragma once

#include <QLoggingCategory>

namespace lumora::desktop {

Q_DECLARE_LOGGING_CATEGORY(reminderLog)

} // namespace lumora::desktop
