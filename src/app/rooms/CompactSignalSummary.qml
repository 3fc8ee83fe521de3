pragma ComponentBehavior: Bound

import QtQuick
import Lumora.Rooms
import Lumora.Theme

// A seat's recurring patterns under a faint rule: a header with the number of moments, the
// three most frequent kinds with their counts, and how many more there are.
Column {
    id: root

    // Every seat's moments; only those of exactly `side` count.
    required property roomMoments moments
    required property int side

    spacing: 6

    SignalSummaryModel {
        id: summary
        moments: root.moments
        side: root.side
    }

    Rectangle {
        width: root.width
        height: 1
        color: Theme.rule
        opacity: 0.35
    }
    Item {
        width: root.width
        height: Math.max(caption.implicitHeight, total.implicitHeight)

        TrackedLabel {
            id: caption
            anchors.verticalCenter: parent.verticalCenter
            caption: "patterns"
        }
        ReadableText {
            id: total
            objectName: "summaryTotal"
            anchors.right: parent.right
            anchors.verticalCenter: parent.verticalCenter
            text: summary.momentsText
            textFormat: Text.PlainText
            font: Theme.interfaceFont(11, Font.Medium)
            color: Theme.muted
        }
    }
    Repeater {
        objectName: "summaryRows"
        model: summary

        delegate: Item {
            id: row

            required property string label
            required property string countText
            required property color color
            required property bool dashed

            width: root.width
            height: Math.max(name.implicitHeight, count.implicitHeight)

            Rectangle {
                id: dot
                anchors.verticalCenter: parent.verticalCenter
                width: 6
                height: 6
                radius: 3
                color: Theme.withAlpha(row.color, row.dashed ? 0.42 : 0.82)
            }
            ReadableText {
                id: name
                anchors.left: dot.right
                anchors.leftMargin: 7
                anchors.right: count.left
                anchors.rightMargin: 4
                anchors.verticalCenter: parent.verticalCenter
                text: row.label
                textFormat: Text.PlainText
                maximumLineCount: 1
                elide: Text.ElideRight
                font: Theme.interfaceFont(11, Font.Medium)
                color: Theme.ink
            }
            ReadableText {
                id: count
                anchors.right: parent.right
                anchors.verticalCenter: parent.verticalCenter
                text: row.countText
                textFormat: Text.PlainText
                font: Theme.figures(11, Font.Bold)
                color: row.color
            }
        }
    }
    ReadableText {
        objectName: "summaryMore"
        width: root.width
        visible: text.length > 0
        text: summary.moreText
        textFormat: Text.PlainText
        font: Theme.interfaceFont(11, Font.Medium)
        color: Theme.muted
    }
}
