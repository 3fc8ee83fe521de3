import QtQuick
import QtQuick.Templates as T

// The keyboard of a guidance card: when the card appears, the keyboard comes to its `first`
// control, and when it goes, the keyboard goes back where it was (unless the user put it
// elsewhere meanwhile). The card keeps Tab among its own controls: its last control's Tab leads
// to its first, its first control's Shift+Tab to its last.
Item {
    id: keyboard

    required property Item card
    required property Item first

    // Where the keyboard was when the card appeared, and how it came there: a ring that showed
    // shows again.
    property Item previous: null
    property int previousReason: Qt.OtherFocusReason

    function holds(item: Item): bool {
        for (let inside = item; inside; inside = inside.parent) {
            if (inside === keyboard.card)
                return true
        }
        return false
    }
    function follow() {
        const current = keyboard.card.Window.activeFocusItem
        if (keyboard.card.visible) {
            if (current && keyboard.holds(current))
                return
            keyboard.previous = current
            const control = current as T.Control
            keyboard.previousReason = control ? control.focusReason : Qt.OtherFocusReason
            keyboard.first.forceActiveFocus(Qt.TabFocusReason)
        } else {
            const movedAway = current && current.visible && !keyboard.holds(current)
            if (!movedAway && keyboard.previous && keyboard.previous.visible) {
                keyboard.previous.forceActiveFocus(keyboard.previousReason)
            } else if (!movedAway) {
                // That control is gone or hidden meanwhile: the keyboard leaves the hidden card
                // all the same, whose buttons would still press, for what holds it.
                let shown = keyboard.card.parent
                while (shown && !shown.visible)
                    shown = shown.parent
                if (shown)
                    shown.forceActiveFocus()
            }
            keyboard.previous = null
        }
    }
    Connections {
        target: keyboard.card
        function onVisibleChanged() {
            keyboard.follow()
        }
    }
    Component.onCompleted: {
        if (keyboard.card.visible)
            keyboard.follow()
    }
}
