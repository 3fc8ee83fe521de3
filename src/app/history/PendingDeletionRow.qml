import QtQuick
import QtQuick.Layouts
import Lumora.History
import Lumora.Theme

// Under a conversation whose deletion waits for the partner: who asked and, when it was the
// partner, the answer.
Item {
    id: root

    required property bool requestedByMe
    signal decline
    signal approve

    implicitHeight: row.implicitHeight + 24

    Rectangle {
        anchors.fill: parent
        radius: 12
        color: Theme.withAlpha(Theme.blush, 0.28)
        border.color: Theme.withAlpha(Theme.attention, 0.4)
        border.width: 1
    }
    RowLayout {
        id: row
        x: 16
        y: 12
        width: root.width - 32
        spacing: 12

        Icon {
            symbol: "trash.circle"
            size: 20
            color: Theme.attention
        }
        ReadableText {
            objectName: root.objectName + ":text"
            Layout.fillWidth: true
            text: HistoryTexts.pendingDeletionText(root.requestedByMe)
            textFormat: Text.PlainText
            wrapMode: Text.Wrap
            font: Theme.small
            color: Theme.ink
        }
        // As compact as the danger button beside it, to suit the row's small text.
        SecondaryButton {
            objectName: root.objectName + ":decline"
            visible: !root.requestedByMe
            implicitHeight: 40
            leftPadding: 16
            rightPadding: 16
            font: Theme.interfaceFont(12, Font.DemiBold)
            text: qsTr("Decline")
            onClicked: root.decline()
        }
        DangerButton {
            objectName: root.objectName + ":approve"
            visible: !root.requestedByMe
            text: qsTr("Approve")
            onClicked: root.approve()
        }
    }
}
