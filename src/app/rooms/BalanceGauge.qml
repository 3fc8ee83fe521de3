import QtQuick
import Lumora.Rooms
import Lumora.Theme

// The shared warm/hard gauge of the stage: hard tally, dial, warm tally in one centred row.
// A screen reader meets it as one element.
Item {
    id: root

    required property int warm
    required property int hard

    implicitWidth: row.implicitWidth
    implicitHeight: row.implicitHeight + 8
    Accessible.role: Accessible.Indicator
    Accessible.name: GaugeTexts.balanceDescription(root.warm, root.hard)

    Row {
        id: row
        anchors.horizontalCenter: parent.horizontalCenter
        y: 4
        spacing: 24

        GaugeTally {
            objectName: "hardTally"
            anchors.verticalCenter: parent.verticalCenter
            value: GaugeTexts.hardTally(root.hard)
            label: "hard"
            color: Theme.attention
        }
        Item {
            width: 152
            height: 64
            anchors.verticalCenter: parent.verticalCenter

            SpeedometerGauge {
                id: dial
                objectName: "dial"
                anchors.fill: parent
                anchors.margins: -dial.strokeMargin
                value: GaugeTexts.warmFraction(root.warm, root.hard)
            }
        }
        GaugeTally {
            objectName: "warmTally"
            anchors.verticalCenter: parent.verticalCenter
            value: GaugeTexts.warmTally(root.warm)
            label: "warm"
            color: Theme.positive
        }
    }
}
