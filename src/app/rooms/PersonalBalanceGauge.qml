import QtQuick
import Lumora.Rooms
import Lumora.Theme

// One seat's warm/hard gauge in its corner: small tallies beside a small dial, the ratio line
// below, on a faint sand card. A screen reader meets it as one element.
Item {
    id: root

    required property int warm
    required property int hard

    // As wide as the tallies and dial or the ratio line, whichever is wider; a narrower
    // place shortens the line.
    implicitWidth: Math.max(tallies.implicitWidth, ratio.implicitWidth) + 16
    implicitHeight: content.implicitHeight + 20
    Accessible.role: Accessible.Indicator
    Accessible.name: GaugeTexts.personalDescription(root.warm, root.hard)

    Rectangle {
        anchors.fill: parent
        radius: 12
        color: Theme.withAlpha(Theme.sand, 0.42)
        border.color: Theme.withAlpha(Theme.rule, 0.76)
        border.width: 1
    }
    Column {
        id: content
        anchors.centerIn: parent
        spacing: 7

        Row {
            id: tallies
            anchors.horizontalCenter: parent.horizontalCenter
            spacing: 4

            MiniGaugeTally {
                objectName: "hardTally"
                anchors.bottom: parent.bottom
                value: GaugeTexts.hardTally(root.hard)
                label: "hard"
                color: Theme.attention
            }
            Item {
                width: 84
                height: 40

                SpeedometerGauge {
                    objectName: "dial"
                    anchors.fill: parent
                    anchors.margins: -strokeMargin
                    value: GaugeTexts.warmFraction(root.warm, root.hard)
                }
            }
            MiniGaugeTally {
                objectName: "warmTally"
                anchors.bottom: parent.bottom
                value: GaugeTexts.warmTally(root.warm)
                label: "warm"
                color: Theme.positive
            }
        }
        Text {
            id: ratio
            objectName: "ratioLabel"
            anchors.horizontalCenter: parent.horizontalCenter
            width: Math.min(ratio.implicitWidth, root.width - 16)
            text: GaugeTexts.ratioLabel(root.warm, root.hard)
            textFormat: Text.PlainText
            maximumLineCount: 1
            elide: Text.ElideRight
            font: Theme.figures(10, Font.DemiBold)
            color: Theme.muted
        }
    }
}
