import QtQuick
import QtQuick.Templates as T

// Where the keyboard goes when the control it is on goes or turns disabled: on to `to`, the
// control that carries the task on, once that shows and is enabled. Left alone, Qt Quick keeps
// the keyboard on a hidden control (whose keys still press it) or drops it to the page, where a
// screen reader says nothing and Tab starts over from the first control. `to` with
// `takesStrayKeyboard` also takes a keyboard that is on nothing whenever it shows. The user
// putting the keyboard on a control meanwhile ends the wait.
Item {
    id: handOff

    property Item from: null
    property Item to: null
    property bool takesStrayKeyboard: false
    property bool waiting: false
    // Whether the last control the keyboard was on showed its ring: where the keyboard moves on,
    // the ring shows only then, not after a click or where no key was pressed.
    property bool ringShowed: false
    property T.Control lastControl: null
    readonly property bool ready: handOff.to !== null && handOff.to.visible && handOff.to.enabled
    onReadyChanged: {
        if (handOff.ready && handOff.takesStrayKeyboard)
            handOff.arm()
        else
            handOff.land()
    }

    // The keyboard is on no control: on nothing, on a page, or on a control that is gone.
    function strayed(item: Item): bool {
        return !item || !item.activeFocusOnTab || !item.visible || !item.enabled
    }
    function arm() {
        handOff.waiting = true
        settled.restart()
    }
    function land() {
        if (!handOff.waiting)
            return
        if (!handOff.strayed(handOff.Window.activeFocusItem)) {
            handOff.waiting = false
        } else if (handOff.ready) {
            handOff.waiting = false
            handOff.to.forceActiveFocus(handOff.ringShowed ? Qt.TabFocusReason : Qt.OtherFocusReason)
        }
    }
    Connections {
        target: handOff.from
        function onActiveFocusChanged() {
            if (!handOff.from.activeFocus && (!handOff.from.enabled || !handOff.from.visible))
                handOff.arm()
        }
        function onVisibleChanged() {
            if (!handOff.from.visible && handOff.from.activeFocus)
                handOff.arm()
        }
    }
    function noteControl() {
        const control = handOff.Window.activeFocusItem as T.Control
        if (control) {
            handOff.lastControl = control
            handOff.ringShowed = control.visualFocus
        }
    }
    Connections {
        target: handOff.Window.window
        function onActiveFocusItemChanged() {
            handOff.noteControl()
        }
    }
    // A control learns how the keyboard came to it just after it has it.
    Connections {
        target: handOff.lastControl
        function onVisualFocusChanged() {
            if (handOff.lastControl.visualFocus)
                handOff.ringShowed = true
        }
    }
    // Once the changes that hid the control have all been made.
    Timer {
        id: settled
        interval: 0
        onTriggered: handOff.land()
    }
    Component.onCompleted: {
        handOff.noteControl()
        if (handOff.takesStrayKeyboard && handOff.ready)
            handOff.arm()
    }
}
