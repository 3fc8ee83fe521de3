#pragma once

#include "domain/ConversationRecordSummary.hpp"

#include <QList>
#include <QString>
#include <optional>

namespace lumora {

// One page of the account's stored conversations.
struct ConversationPage {
    // In the server's order.
    QList<ConversationRecordSummary> conversations;
    // Where the next page starts; absent on the last page.
    std::optional<QString> nextCursor;

    bool operator==(const ConversationPage&) const = default;
};

} // namespace lumora
