#include "RemindersLog.hpp"

namespace lumora::desktop {

Q_LOGGING_CATEGORY(reminderLog, "com.lumora.native.checkin-reminder")

} // namespace lumora::desktop
