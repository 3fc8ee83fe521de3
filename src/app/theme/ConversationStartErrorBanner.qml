import QtQuick
import Lumora.Theme

// A failure the view model reports, floating over the page it happened on, with a button that
// dismisses it. It shows while `message` holds text, sliding in from above and fading; the
// message shows unchanged and wraps, and the banner is at most 680 wide. A place that shows and
// hides it on its own terms turns `animated` off: it then appears and goes at once. A `calm`
// banner tells of something done rather than something wrong; `actionText` adds a button that
// says what it offers next (`action`). A screen reader hears each message as it comes to show.
Item {
    id: root

    required property string message
    property bool animated: true
    property bool calm: false
    property string actionText
    readonly property color tint: root.calm ? Theme.positive : Theme.attention
    // The message on screen: the last one, kept while the banner leaves.
    property string shownMessage

    signal dismiss
    signal action
    // The button of `actionText`.
    readonly property alias actionControl: actionButton

    onMessageChanged: {
        if (root.message.length > 0)
            root.shownMessage = root.message
    }
    Component.onCompleted: root.shownMessage = root.message
    // Everything but the message: the padding, the symbol, the action, the dismiss button and
    // the room between them. A banner wider than its message leaves that room before the
    // dismiss button, which stays at the trailing end.
    readonly property real fixedWidth: 16 + 18 + row.spacing + (actionButton.visible ? actionButton.implicitWidth
        + row.spacing : 0) + row.spacing + 32 + 16
    implicitWidth: Math.min(680, root.fixedWidth + text.implicitWidth)
    implicitHeight: Math.max(32, text.implicitHeight) + 24
    opacity: root.message.length > 0 ? 1 : 0
    visible: opacity > 0
    transform: Translate {
        y: root.message.length > 0 ? 0 : -(root.y + root.height)
        Behavior on y {
            enabled: root.animated && !Theme.reduceMotion
            NumberAnimation {
                duration: 220
                easing.type: Easing.OutCubic
            }
        }
    }
    Behavior on opacity {
        enabled: root.animated && !Theme.reduceMotion
        NumberAnimation {
            duration: 220
        }
    }
    Accessible.role: Accessible.Notification
    Accessible.name: root.shownMessage
    Accessible.ignored: !root.visible

    Announcement {
        item: root
        text: root.message
    }
    SoftShadow {}
    Rectangle {
        anchors.fill: parent
        radius: 12
        color: Theme.withAlpha(Theme.ivory, 0.97)
        border.color: Theme.withAlpha(root.tint, 0.28)
        border.width: 1
        // A press on the banner is the banner's own, whatever lies under it.
        MouseArea {
            anchors.fill: parent
        }
    }
    Row {
        id: row
        x: 16
        anchors.verticalCenter: parent.verticalCenter
        spacing: 12

        Icon {
            anchors.verticalCenter: parent.verticalCenter
            symbol: root.calm ? "checkmark.circle.fill" : "exclamationmark.circle.fill"
            size: 18
            color: root.tint
        }
        ReadableText {
            id: text
            objectName: root.objectName + "Message"
            anchors.verticalCenter: parent.verticalCenter
            width: Math.min(implicitWidth, root.width - root.fixedWidth)
            text: root.shownMessage
            textFormat: Text.PlainText
            wrapMode: Text.Wrap
            font: Theme.interfaceFont(13, Font.Medium)
            color: Theme.ink
        }
        SecondaryButton {
            id: actionButton
            objectName: root.objectName + "Action"
            anchors.verticalCenter: parent.verticalCenter
            visible: root.actionText.length > 0
            implicitHeight: 32
            leftPadding: 12
            rightPadding: 12
            topPadding: 4
            bottomPadding: 4
            font: Theme.interfaceFont(13, Font.DemiBold)
            text: root.actionText
            Accessible.name: root.actionText
            onClicked: root.action()
        }
    }
    SymbolButton {
        objectName: root.objectName + "Dismiss"
        anchors.right: parent.right
        anchors.rightMargin: 16
        anchors.verticalCenter: parent.verticalCenter
        symbol: "xmark"
        Accessible.name: qsTr("Dismiss message")
        onClicked: root.dismiss()
    }
}
