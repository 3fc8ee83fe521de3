import QtQuick
import Lumora.Rooms
import Lumora.Theme

// A seat's share of the talk time as a ring from the top, clockwise, with the percentage in
// its centre.
Item {
    id: root

    // 0 to 1.
    required property real share
    required property color color
    // The ring's diameter.
    required property real size

    implicitWidth: root.size
    implicitHeight: root.size
    width: root.size
    height: root.size
    Accessible.role: Accessible.StaticText
    Accessible.name: PatternTexts.ringDescription(root.share)

    TalkShareRing {
        id: ring
        objectName: "ring"
        anchors.fill: parent
        anchors.margins: -ring.strokeMargin
        share: root.share
        color: root.color
    }
    Column {
        anchors.centerIn: parent

        Text {
            objectName: "ringPercent"
            anchors.horizontalCenter: parent.horizontalCenter
            text: PatternTexts.ringPercent(root.share)
            textFormat: Text.PlainText
            font: Theme.interfaceFont(16, Font.DemiBold)
            color: Theme.ink
        }
        Text {
            anchors.horizontalCenter: parent.horizontalCenter
            text: "of talk"
            textFormat: Text.PlainText
            font: Theme.small
            color: Theme.muted
        }
    }
}
