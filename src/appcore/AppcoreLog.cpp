#include "appcore/AppcoreLog.hpp"

namespace lumora {

Q_LOGGING_CATEGORY(checkinLog, "com.lumora.native.checkin")
Q_LOGGING_CATEGORY(backupLog, "com.lumora.native.conversation-backup")
Q_LOGGING_CATEGORY(pairingLog, "com.lumora.native.pairing")

} // namespace lumora
