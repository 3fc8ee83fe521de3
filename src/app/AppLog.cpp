#include "AppLog.hpp"

namespace lumora {

Q_LOGGING_CATEGORY(appLog, "lumora.app")

} // namespace lumora
