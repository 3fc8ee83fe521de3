import QtQuick
import Lumora.Rooms
import Lumora.Theme

// The live room's emotional arc so far under its caption and current score. The room gives
// it its height. A screen reader meets it as one element.
Item {
    id: root

    // Every seat's moments and the seconds the chart spans (the room's elapsed time).
    required property roomMoments moments
    required property real duration
    // Whether the room is live; the drawing does not depend on it.
    required property bool active

    implicitHeight: 120
    Accessible.role: Accessible.Chart
    Accessible.name: chart.description

    Rectangle {
        width: root.width
        height: 1
        color: Theme.rule
        opacity: 0.35
    }
    Column {
        anchors.fill: parent
        anchors.margins: 12
        spacing: 8

        Item {
            id: caption
            width: parent.width
            height: Math.max(title.implicitHeight, score.implicitHeight)

            TrackedLabel {
                id: title
                anchors.verticalCenter: parent.verticalCenter
                caption: "the arc of it"
                // The chart is read as one element with its score.
                Accessible.ignored: true
            }
            Text {
                id: score
                objectName: "arcScore"
                anchors.right: parent.right
                anchors.verticalCenter: parent.verticalCenter
                text: chart.scoreText
                textFormat: Text.PlainText
                font: Theme.figures(12, Font.Medium)
                color: chart.warm ? Theme.positive : Theme.attention
            }
        }
        Item {
            width: parent.width
            height: parent.height - caption.height - parent.spacing

            EmotionalArcChart {
                id: chart
                objectName: "arcChart"
                anchors.fill: parent
                anchors.margins: -chart.strokeMargin
                moments: root.moments
                duration: root.duration
                style: EmotionalArcChart.Live
            }
        }
    }
}
