import QtQuick
import QtQuick.Controls

// A page that scrolls vertically without scroll bars, by the wheel and the keys; while it
// moves, a thin indicator shows where it is.
Flickable {
    id: root

    default property alias content: column.data
    property alias spacing: column.spacing
    property real horizontalPadding: 32
    property real verticalPadding: 40

    contentWidth: width
    contentHeight: column.implicitHeight + 2 * root.verticalPadding
    boundsBehavior: Flickable.StopAtBounds
    clip: true
    focus: true
    ScrollIndicator.vertical: PageScrollIndicator {}

    Keys.onUpPressed: root.flick(0, 800)
    Keys.onDownPressed: root.flick(0, -800)
    Keys.onPressed: event => {
        if (event.key === Qt.Key_PageDown) {
            root.contentY = Math.min(root.contentY + root.height * 0.9, Math.max(0, root.contentHeight - root.height))
            event.accepted = true
        } else if (event.key === Qt.Key_PageUp) {
            root.contentY = Math.max(0, root.contentY - root.height * 0.9)
            event.accepted = true
        }
    }

    Column {
        id: column
        x: root.horizontalPadding
        y: root.verticalPadding
        width: root.width - 2 * root.horizontalPadding
        spacing: 24
    }
}
