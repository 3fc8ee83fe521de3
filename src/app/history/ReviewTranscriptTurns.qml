pragma ComponentBehavior: Bound
import QtQuick
import Lumora.History
import Lumora.Theme

// The turns of a review's transcript in the review's scrolling page. The keyboard steps from one
// to the next (the arrows), a view on (Page Up, Page Down) or to either end (Home, End), and the
// page follows the turn it is on; a turn taller than the view is read through by the same keys
// before they step off it. Past either end of the transcript the keys scroll the page on. Only
// the turns near the page's view are drawn (ShownRows).
FocusScope {
    id: root

    required property ReviewTranscript turns
    // The review's page, which scrolls.
    required property ScrollablePage page
    // The turn the keyboard is on.
    property int current: 0
    // Room left around a turn brought into view, for its focus ring.
    readonly property real margin: 12

    // Where `item` lies in the page, its ring's room included.
    function extentOf(item: Item): rect {
        const top = item.mapToItem(root.page.contentItem, 0, 0).y - root.margin
        return Qt.rect(0, top, item.width, item.height + 2 * root.margin)
    }
    // Scrolls the page as little as it takes to show `item`; of one taller than the view, its
    // start, or its end when `end`.
    function bringIntoView(item: Item, end: bool) {
        const area = root.extentOf(item)
        let y = root.page.contentY
        if (end) {
            if (area.y < y)
                y = area.y
            if (area.y + area.height > y + root.page.height)
                y = area.y + area.height - root.page.height
        } else {
            if (area.y + area.height > y + root.page.height)
                y = area.y + area.height - root.page.height
            if (area.y < y)
                y = area.y
        }
        root.page.moveTo(y)
    }
    // Scrolls on through the turn the keyboard is on, down (1) or up (-1), by at most `by`; false
    // when that end of it shows already.
    function readOn(direction: int, by: real): bool {
        const turn = turnRepeater.itemAt(root.current) as ReviewTranscriptTurn
        if (!turn)
            return false
        const area = root.extentOf(turn.words)
        const rest = direction > 0 ? area.y + area.height - (root.page.contentY + root.page.height)
                                   : root.page.contentY - area.y
        if (rest < 1)
            return false
        root.page.moveTo(root.page.contentY + direction * Math.min(by, rest))
        return true
    }
    // Puts the keyboard on turn `index` (kept in range) and brings it into view, its end first
    // when `end`.
    function step(index: int, end: bool) {
        const to = Math.max(0, Math.min(index, turnRepeater.count - 1))
        const turn = turnRepeater.itemAt(to) as ReviewTranscriptTurn
        if (!turn)
            return
        root.current = to
        turn.words.forceActiveFocus(Qt.OtherFocusReason)
        root.bringIntoView(turn.words, end)
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
    // The keys on the transcript, down (1) or up (-1): the rest of the turn by `by`, else the
    // turn `next`; false past the end of the transcript, where the page takes the key.
    function move(direction: int, by: real, next: int): bool {
        if (root.readOn(direction, by))
            return true
        const last = direction > 0 ? turnRepeater.count - 1 : 0
        if (root.current === last)
            return false
        root.step(direction > 0 ? Math.min(next, last) : Math.max(next, last), direction < 0)
        return true
    }
    // Home (-1) and End (1): the first or the last turn, then that end of it; false once it
    // shows, where the page takes the key.
    function toEnd(direction: int): bool {
        const last = direction > 0 ? turnRepeater.count - 1 : 0
        if (root.current === last)
            return root.readOn(direction, Infinity)
        root.step(last, direction > 0)
        return true
    }

    objectName: "reviewTranscript"
    implicitHeight: column.height
    activeFocusOnTab: true
    onActiveFocusChanged: {
        if (root.activeFocus)
            root.step(root.current, false)
    }
    Keys.onPressed: event => {
        if (event.modifiers & (Qt.ControlModifier | Qt.AltModifier | Qt.MetaModifier))
            return
        const line = root.page.lineStep
        const view = (root.page.height - 2 * root.margin) * 0.9
        switch (event.key) {
        case Qt.Key_Down:
            event.accepted = root.move(1, line, root.current + 1)
            break
        case Qt.Key_Up:
            event.accepted = root.move(-1, line, root.current - 1)
            break
        case Qt.Key_PageDown:
            event.accepted = root.move(1, view, root.pageFrom(1))
            break
        case Qt.Key_PageUp:
            event.accepted = root.move(-1, view, root.pageFrom(-1))
            break
        case Qt.Key_End:
            event.accepted = root.toEnd(1)
            break
        case Qt.Key_Home:
            event.accepted = root.toEnd(-1)
            break
        }
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
                    root.bringIntoView(turn.words, false)
                }
            }
        }
    }
    ShownRows {
        page: root.page
        rows: column
    }
}
