#include "security/SecurityLog.hpp"

namespace lumora {

Q_LOGGING_CATEGORY(identityLog, "com.lumora.native.device-identity")
Q_LOGGING_CATEGORY(secureStoreLog, "com.lumora.native.secure-store")

} // namespace lumora
