#pragma once

#include <QLoggingCategory>

namespace lumora {

Q_DECLARE_LOGGING_CATEGORY(startUpLog)
Q_DECLARE_LOGGING_CATEGORY(accountLog)
Q_DECLARE_LOGGING_CATEGORY(conversationLog)
Q_DECLARE_LOGGING_CATEGORY(liveLog)

} // namespace lumora
