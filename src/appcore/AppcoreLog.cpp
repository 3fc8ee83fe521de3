#include "appcore/AppcoreLog.hpp"

namespace lumora {

Q_LOGGING_CATEGORY(checkinLog, "com.lumora.native.checkin")
Q_LOGGING_CATEGORY(backupLog, "com.lumora.native.conversation-backup")
Q_LOGGING_CATEGORY(pairingLog, "com.lumora.native.pairing")
Q_LOGGING_CATEGORY(coordinatorLog, "com.lumora.native.session-coordinator")

} // namespace lumora
