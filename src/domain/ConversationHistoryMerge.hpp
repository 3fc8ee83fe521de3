#pragma once

#include "domain/ConversationBackupRecord.hpp"
#include "domain/ConversationHistoryEntry.hpp"
#include "domain/ConversationRecordSummary.hpp"
#include "domain/DerivedSessionResult.hpp"

#include <QList>

namespace lumora {

// Builds the one history list from the local reviews, the account's rows, the backup
// records and the rows the user hid.
struct ConversationHistoryMerge {
    // One entry per local review and one per account row that no stored record already
    // stands for, newest first; entries of equal time keep their order (local reviews first).
    // `server` is the cached account list, `hidden` the rows the user hid.
    static QList<ConversationHistoryEntry> entries(const QList<DerivedSessionResult>& local,
        const QList<ConversationRecordSummary>& server, const QList<ConversationBackupRecord>& records,
        const QList<ConversationRecordSummary>& hidden);
};

} // namespace lumora
