import QtQuick
import QtQuick.Templates as T

// The keyboard of a guidance card: when the card appears, the keyboard comes to its `first`
// control, and when it goes, the keyboard goes back where it was (unless the user put it
// elsewhere meanwhile). The card keeps Tab among its own controls: its last control's Tab leads
// to its first, its first control's Shift+Tab to its last. A dialog over the window (the question
// about quitting) keeps the keyboard while it is open: its keys would otherwise press the card's
// buttons under it. The card takes the keyboard once the dialog lets it go. A window that has lost
// the focus has not moved the keyboard: a card that comes up meanwhile takes it as the window has
// the focus again, unless a dialog has it then.
Item {
    id: keyboard

    required property Item card
    required property Item first

    // Where the keyboard was when the card appeared, and how it came there: a ring that showed
    // shows again.
    property Item previous: null
    property int previousReason: Qt.OtherFocusReason
    // The card came up, or was up, while a dialog had the keyboard.
    property bool waiting: false
    // Where the window's dialogs and popups lie.
    readonly property Item dialogs: T.Overlay.overlay

    function holds(item: Item): bool {
        return keyboard.under(item, keyboard.card)
    }
    function under(item: Item, ancestor: Item): bool {
        for (let inside = item; inside; inside = inside.parent) {
            if (inside === ancestor)
                return true
        }
        return false
    }
    // The keyboard of another card that holds `item` and knows where the keyboard was before it.
    function holderOf(item: Item): Item {
        for (let inside = item; inside; inside = inside.parent) {
            for (let index = 0; index < inside.children.length; ++index) {
                const child = inside.children[index]
                if (child !== keyboard && child.card === inside && child.previous)
                    return child
            }
        }
        return null
    }
    function follow() {
        const current = keyboard.card.Window.activeFocusItem
        const afterDialog = keyboard.waiting
        keyboard.waiting = false
        if (keyboard.card.visible) {
            if (!keyboard.Window.active) {
                keyboard.waiting = true
                return
            }
            // Given back by a dialog, the card's control shows its ring again.
            if (current && keyboard.holds(current)) {
                const control = current as T.Control
                if (afterDialog && control)
                    control.focusReason = Qt.TabFocusReason
                return
            }
            if (current && keyboard.under(current, keyboard.dialogs)) {
                keyboard.waiting = true
                return
            }
            // Taken back after a dialog, the card gives the keyboard back where it first was. Taken
            // from a card that is going (a floor card after the cycle card), it is given back
            // where it was before that card.
            if (!keyboard.previous) {
                const before = keyboard.holderOf(current)
                keyboard.previous = before ? before.previous : current
                const control = current as T.Control
                keyboard.previousReason = before ? before.previousReason
                                                 : control ? control.focusReason : Qt.OtherFocusReason
            }
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
    Connections {
        target: keyboard.Window.window
        enabled: keyboard.card.visible
        function onActiveFocusItemChanged() {
            if (!keyboard.Window.active)
                return
            const current = keyboard.card.Window.activeFocusItem
            if (current && keyboard.under(current, keyboard.dialogs))
                keyboard.waiting = true
            else if (keyboard.waiting)
                settled.restart()
        }
    }
    // Once the keyboard has settled where the closed dialog gave it back.
    Timer {
        id: settled
        interval: 0
        onTriggered: keyboard.follow()
    }
    Component.onCompleted: {
        if (keyboard.card.visible)
            keyboard.follow()
    }
}
