import QtQuick

// Where the keyboard is: a ring in the focus colour just outside a control, following the
// control's own corner radius. The control shows it while its focus came from the keyboard.
Rectangle {
    // The corner radius of the control's own shape.
    property real controlRadius: 0

    anchors.fill: parent
    anchors.margins: -4
    radius: controlRadius > 0 ? controlRadius + 4 : 0
    color: "transparent"
    border.width: 2
    border.color: Theme.focusRing
}
