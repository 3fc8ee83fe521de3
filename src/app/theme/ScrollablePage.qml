import QtQuick
import QtQuick.Controls
import QtQuick.Templates as T

// A page that scrolls vertically without scroll bars, by the wheel and the keys; while it
// moves, a thin indicator shows where it is. The control the keyboard comes to on the page is
// brought into view whole, its focus ring included.
Flickable {
    id: root

    default property alias content: column.data
    property alias spacing: column.spacing
    property real horizontalPadding: 32
    property real verticalPadding: 40
    // What Up and Down scroll by.
    readonly property real lineStep: 48
    // Room left around a control brought into view, for its ring.
    readonly property real focusMargin: 16
    // How much of the view's top is covered by what stays in view over the page.
    property real coveredTop: 0

    // Scrolls by Up, Down, Page Up, Page Down, Home or End without Control, Alt or Meta; false
    // for any other key. The window gives the page shown the scrolling keys that no control
    // took, as a browser does.
    function scrollByKey(key: int, modifiers: int): bool {
        if (modifiers & (Qt.ControlModifier | Qt.AltModifier | Qt.MetaModifier))
            return false
        switch (key) {
        case Qt.Key_Up:
            root.moveTo(root.contentY - root.lineStep)
            return true
        case Qt.Key_Down:
            root.moveTo(root.contentY + root.lineStep)
            return true
        case Qt.Key_PageUp:
            root.moveTo(root.contentY - (root.height - root.coveredTop) * 0.9)
            return true
        case Qt.Key_PageDown:
            root.moveTo(root.contentY + (root.height - root.coveredTop) * 0.9)
            return true
        case Qt.Key_Home:
            root.moveTo(0)
            return true
        case Qt.Key_End:
            root.moveTo(root.contentHeight)
            return true
        }
        return false
    }
    // The page moved by the keys, or to show the control the keyboard came to.
    signal moved()

    function moveTo(y: real) {
        const bounded = Math.max(0, Math.min(y, root.contentHeight - root.height))
        if (bounded === root.contentY)
            return
        root.cancelFlick()
        root.contentY = bounded
        root.moved()
    }
    // Untyped: Qt 6.4's qmlcachegen crashes now and then compiling the type assertion below
    // ahead of time; the interpreter runs it instead.
    function showFocused(item) {
        let inside = item
        while (inside && inside !== root.contentItem)
            inside = inside.parent
        // A control pressed with the pointer is where the user sees it already.
        const control = item as T.Control
        if (!inside || (control && control.focusReason === Qt.MouseFocusReason))
            return
        const area = item.mapToItem(root.contentItem, 0, 0, item.width, item.height)
        const top = area.y - root.focusMargin - root.coveredTop
        if (top < root.contentY)
            root.moveTo(top)
        else if (area.y + area.height + root.focusMargin > root.contentY + root.height)
            root.moveTo(Math.min(top, area.y + area.height + root.focusMargin - root.height))
    }
    Connections {
        target: root.Window.window
        enabled: root.visible
        function onActiveFocusItemChanged() {
            const item = root.Window.activeFocusItem
            if (item)
                root.showFocused(item)
        }
    }

    contentWidth: width
    contentHeight: column.implicitHeight + 2 * root.verticalPadding
    boundsBehavior: Flickable.StopAtBounds
    clip: true
    focus: true
    ScrollIndicator.vertical: PageScrollIndicator {}

    // A control of a page no longer shown can keep the keyboard: that page leaves the keys to
    // the page shown.
    Keys.onPressed: event => {
        if (root.visible)
            event.accepted = root.scrollByKey(event.key, event.modifiers)
    }

    Column {
        id: column
        x: root.horizontalPadding
        y: root.verticalPadding
        width: root.width - 2 * root.horizontalPadding
        spacing: 24
    }
}
