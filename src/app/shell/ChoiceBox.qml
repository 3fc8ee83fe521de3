pragma ComponentBehavior: Bound
import QtQuick
import QtQuick.Controls
import Lumora.Shell
import Lumora.Theme

// A drop-down choice on paper with the cards' faint outline. Its list is drawn in the theme
// too: ink entries on paper, the entry under the pointer or the keys on sand, and the chosen
// one in semibold. A screen reader reads it as what it chooses (`label`) and the value it
// shows. Its open list takes the keyboard, on the entry under the keys, so that a screen reader
// says each entry the keys come to; the box still moves through the list and takes or drops
// the choice, and has the keyboard back as the list closes.
ComboBox {
    id: root

    // What it chooses ("Day").
    property string label

    implicitHeight: 40
    leftPadding: 12
    rightPadding: root.indicator.width + 4
    font: Theme.interfaceFont(14, Font.Normal)
    Accessible.name: root.label + ", " + root.displayText
    Accessible.ignored: !root.visible

    background: Rectangle {
        radius: 10
        color: root.down ? Theme.sand : Theme.paper
        border.color: root.visualFocus ? Theme.navy : Theme.rule
        border.width: 1
    }
    // The theme's own glyph: the style's image indicator would be the only bitmap on the page.
    indicator: Icon {
        x: root.width - width - 10
        y: (root.height - height) / 2
        symbol: "chevron.up.chevron.down"
        size: 18
        color: Theme.muted
    }
    contentItem: Text {
        text: root.displayText
        textFormat: Text.PlainText
        font: root.font
        color: Theme.ink
        verticalAlignment: Text.AlignVCenter
        elide: Text.ElideRight
    }
    delegate: ItemDelegate {
        id: entry

        required property int index
        required property var modelData

        // Its press chooses the entry, as a click does.
        Accessible.onPressAction: entry.clicked()
        // The keyboard is on the entry under the keys; the box takes the keys.
        focus: entry.highlighted
        focusPolicy: Qt.NoFocus
        Keys.forwardTo: [root]

        width: ListView.view ? ListView.view.width : implicitWidth
        implicitHeight: 34
        leftPadding: 12
        rightPadding: 12
        highlighted: root.highlightedIndex === entry.index
        text: entry.modelData

        contentItem: Text {
            text: entry.text
            textFormat: Text.PlainText
            font: Theme.interfaceFont(14, root.currentIndex === entry.index ? Font.DemiBold : Font.Normal)
            color: Theme.ink
            verticalAlignment: Text.AlignVCenter
            elide: Text.ElideRight
        }
        background: Rectangle {
            x: 4
            width: entry.width - 8
            radius: 6
            color: entry.highlighted ? Theme.sand : "transparent"
        }
    }
    popup: Popup {
        // Whether the list had the keyboard as it began to close.
        property bool hadKeyboard: false

        y: root.height + 4
        focus: true
        onAboutToHide: hadKeyboard = activeFocus
        onClosed: {
            if (hadKeyboard)
                root.forceActiveFocus(Qt.PopupFocusReason)
        }
        width: root.width
        implicitHeight: Math.min(contentItem.implicitHeight + topPadding + bottomPadding, 292)
        topPadding: 4
        bottomPadding: 4
        leftPadding: 0
        rightPadding: 0

        contentItem: ListView {
            focus: true
            implicitHeight: contentHeight
            clip: true
            model: root.popup.visible ? root.delegateModel : null
            currentIndex: root.highlightedIndex
            boundsBehavior: Flickable.StopAtBounds
            highlightMoveDuration: 0
            ScrollIndicator.vertical: ScrollIndicator {}
        }
        background: Rectangle {
            radius: 10
            color: Theme.paper
            border.color: Theme.rule
        }
    }
}
