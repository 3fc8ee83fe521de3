#include "providers/ProvidersLog.hpp"

namespace lumora {

Q_LOGGING_CATEGORY(controlPlaneLog, "com.lumora.native.control-plane")

} // namespace lumora
