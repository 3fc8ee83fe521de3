#include "viewmodel/ViewModelLog.hpp"

namespace lumora {

Q_LOGGING_CATEGORY(startUpLog, "com.lumora.native.start-up")
Q_LOGGING_CATEGORY(accountLog, "com.lumora.native.account")
Q_LOGGING_CATEGORY(conversationLog, "com.lumora.native.conversation")
Q_LOGGING_CATEGORY(liveLog, "com.lumora.native.live")

} // namespace lumora
