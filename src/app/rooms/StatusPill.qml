import QtQuick
import Lumora.Theme

// The header's status: a dot, the status label and, while the room is live or processing, the
// clock; on a sand capsule.
Rectangle {
    id: root

    property string label
    property bool dotLive
    // The live dot's colour: the conversation room's attention, the check-in's positive.
    property color liveColour: Theme.attention
    property bool showsClock
    property string clockText

    implicitWidth: row.implicitWidth + 24
    implicitHeight: Math.max(36, row.implicitHeight)
    radius: height / 2
    color: Theme.withAlpha(Theme.sand, 0.72)
    border.color: Theme.withAlpha(Theme.rule, 0.84)
    border.width: 1

    Row {
        id: row
        anchors.centerIn: parent
        spacing: 8
        Rectangle {
            objectName: "statusDot"
            width: 7
            height: 7
            radius: 3.5
            anchors.verticalCenter: parent.verticalCenter
            color: root.dotLive ? root.liveColour : Theme.withAlpha(Theme.muted, 0.28)
        }
        ReadableText {
            objectName: "statusLabel"
            text: root.label
            textFormat: Text.PlainText
            font: Theme.interfaceFont(11, Font.DemiBold)
            color: Theme.ink
            anchors.verticalCenter: parent.verticalCenter
        }
        ReadableText {
            objectName: "statusClock"
            visible: root.showsClock
            text: root.clockText
            textFormat: Text.PlainText
            font: Theme.figures(11, Font.Medium)
            color: Theme.muted
            anchors.verticalCenter: parent.verticalCenter
        }
    }
}
