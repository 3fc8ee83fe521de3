import QtQuick
import QtQuick.Controls

// What every button of the theme shares: the pointer over it shows (`hovered`, which its
// style reads), a ring shows while the keyboard is on it, Return and Enter press it as Space
// does, and a screen reader meets it while it shows and presses it as a click.
AbstractButton {
    id: root

    // The corner radius of the button's shape, which the focus ring follows.
    property real focusRadius: 12

    hoverEnabled: true
    focusPolicy: Qt.StrongFocus
    Accessible.role: Accessible.Button
    Accessible.name: root.text
    Accessible.ignored: !root.visible
    Accessible.onPressAction: root.press()
    Accessible.onToggleAction: root.press()
    Keys.onReturnPressed: root.press()
    Keys.onEnterPressed: root.press()

    // What a click does: a button that a click turns on and off turns first.
    function press() {
        if (root.checkable)
            root.toggle()
        root.clicked()
    }

    FocusRing {
        objectName: "focusRing"
        z: 2
        visible: root.visualFocus
        controlRadius: root.focusRadius
    }
}
