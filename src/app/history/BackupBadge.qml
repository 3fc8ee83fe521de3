import QtQuick
import Lumora.History
import Lumora.Theme

// Where a conversation is kept: in the account history, waiting for its upload, or only on
// this computer.
Badge {
    id: root

    required property int state

    symbol: HistoryTexts.backupSymbol(root.state)
    title: HistoryTexts.backupTitle(root.state)
    tint: root.state === HistoryEntryList.BackedUp ? Theme.positive : Theme.muted
}
