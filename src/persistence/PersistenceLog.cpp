#include "persistence/PersistenceLog.hpp"

namespace lumora {

Q_LOGGING_CATEGORY(backupStoreLog, "com.lumora.native.backup-store")
Q_LOGGING_CATEGORY(resultStoreLog, "com.lumora.native.result-store")
Q_LOGGING_CATEGORY(sealerLog, "com.lumora.native.file-sealer")

} // namespace lumora
