pragma ComponentBehavior: Bound
import QtQuick
import Lumora.History

// The turns of a review's transcript in the review's scrolling page. The keyboard steps from one
// to the next (the arrows), a view on (Page Up, Page Down) or to either end (Home, End), and the
// page follows the turn it is on. Only the turns near the page's view are drawn (ShownRows).
FocusScope {
    id: root

    required property ReviewTranscript turns
    // The review's page, which scrolls.
    required property Flickable page
    // The turn the keyboard is on.
    property int current: 0

    // Scrolls the page as little as it takes to show `item` (its top, when it is taller than the
    // view), with a margin for its focus ring.
    function bringIntoView(item: Item) {
        const top = item.mapToItem(root.page.contentItem, 0, 0).y - 12
        const bottom = top + item.height + 24
        let y = root.page.contentY
        if (bottom > y + root.page.height)
            y = bottom - root.page.height
        if (top < y)
            y = top
        root.page.contentY = Math.max(0, Math.min(y, root.page.contentHeight - root.page.height))
    }
    // Puts the keyboard on turn `index` (kept in range); false when it is on that turn already,
    // which then comes into view again.
    function step(index: int): bool {
        const to = Math.max(0, Math.min(index, turnRepeater.count - 1))
        const turn = turnRepeater.itemAt(to) as ReviewTranscriptTurn
        if (!turn)
            return false
        if (turn.words.activeFocus) {
            root.bringIntoView(turn.words)
            return false
        }
        root.current = to
        turn.words.forceActiveFocus(Qt.OtherFocusReason)
        return true
    }
    // The farthest turn less than a view's height up (-1) or down (1).
    function pageFrom(direction: int): int {
        const from = turnRepeater.itemAt(root.current)
        let to = root.current
        for (let next = to + direction; from && next >= 0 && next < turnRepeater.count; next += direction) {
            if (Math.abs(turnRepeater.itemAt(next).y - from.y) > root.page.height * 0.9)
                break
            to = next
        }
        return to === root.current ? to + direction : to
    }

    objectName: "reviewTranscript"
    implicitHeight: column.height
    activeFocusOnTab: true
    onActiveFocusChanged: {
        if (root.activeFocus)
            root.step(root.current)
    }
    Keys.onPressed: event => {
        switch (event.key) {
        case Qt.Key_Up:
        case Qt.Key_Down:
            // At the first or the last turn the arrows go on to the page.
            event.accepted = root.step(root.current + (event.key === Qt.Key_Up ? -1 : 1))
            return
        case Qt.Key_PageUp:
        case Qt.Key_PageDown:
            root.step(root.pageFrom(event.key === Qt.Key_PageUp ? -1 : 1))
            break
        case Qt.Key_Home:
            root.step(0)
            break
        case Qt.Key_End:
            root.step(turnRepeater.count - 1)
            break
        default:
            return
        }
        event.accepted = true
    }

    Column {
        id: column
        width: root.width
        spacing: 16
        Repeater {
            id: turnRepeater
            model: root.turns
            delegate: ReviewTranscriptTurn {
                id: turn
                required property int index
                width: column.width
                onFocused: {
                    root.current = turn.index
                    root.bringIntoView(turn.words)
                }
            }
        }
    }
    ShownRows {
        page: root.page
        rows: column
    }
}
