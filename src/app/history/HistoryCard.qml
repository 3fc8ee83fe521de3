import QtQuick
import QtQuick.Layouts
import Lumora.History
import Lumora.Theme

// The card of one history entry: heading, time and length, both partners' warm and hard
// moments, who held the floor, the summary, and where it is kept. The last 30 points of its
// status row stay free for the actions button the page lays over them.
EditorialCard {
    id: root

    required property string heading
    required property string time
    required property string subtitle
    required property bool isCheckin
    required property string checkinLabel
    required property bool hasResult
    required property string summary
    required property bool hasTally
    required property string warm
    required property string hard
    required property list<floorSegment> floor
    required property int backup
    required property string backupNote
    required property bool isFromEarlierHistory
    required property bool isOpening

    // A screen reader meets the card as one button named by its heading; these tell it from
    // another card of the same heading. What it is and when, and how long it took:
    readonly property string when: (root.isCheckin ? root.checkinLabel + ", " : "") + root.time + ", "
        + root.subtitle
    // and then its badges, its summary and its note, as the card shows them.
    readonly property string spokenDetails: root.when + ", " + backupBadge.title
        + (root.isFromEarlierHistory ? ", " + earlierBadge.title : "") + "."
        + (root.summary.length > 0 ? " " + root.summary : "")
        + (root.backupNote.length > 0 ? " " + root.backupNote : "")

    RowLayout {
        width: parent.width
        spacing: 8

        ColumnLayout {
            Layout.alignment: Qt.AlignTop
            Layout.fillWidth: true
            spacing: 8
            CheckinBadge {
                visible: root.isCheckin
                label: root.checkinLabel
            }
            // A title may be a partner's: at most three lines of it, whatever its length, drawn
            // within its lines however many marks a character stacks above or below.
            ReadableText {
                objectName: root.objectName + ":heading"
                Layout.fillWidth: true
                clip: true
                text: root.heading
                textFormat: Text.PlainText
                wrapMode: Text.Wrap
                maximumLineCount: 3
                elide: Text.ElideRight
                font: Theme.display(24, Font.DemiBold)
                color: Theme.ink
            }
            Row {
                spacing: 16
                Repeater {
                    model: [root.time, root.subtitle]
                    delegate: ReadableText {
                        required property string modelData
                                                text: ThemeFonts.upperCased(modelData)
                        textFormat: Text.PlainText
                        font.family: Theme.small.family
                        font.pixelSize: Theme.small.pixelSize
                        font.weight: Theme.small.weight
                        font.letterSpacing: 1.1
                        color: Theme.muted
                        Accessible.name: modelData
                    }
                }
            }
        }
        Row {
            objectName: root.objectName + ":tally"
            Layout.alignment: Qt.AlignTop
            visible: root.hasTally
            spacing: 8
            ReadableText {
                text: root.warm
                textFormat: Text.PlainText
                font: Theme.body
                color: Theme.positive
            }
            ReadableText {
                text: root.hard
                textFormat: Text.PlainText
                font: Theme.body
                color: Theme.attention
            }
        }
    }
    FloorBar {
        visible: root.hasResult && !root.isCheckin
        width: parent.width
        segments: root.floor
    }
    ReadableText {
        objectName: root.objectName + ":summary"
        width: parent.width
        text: root.summary
        textFormat: Text.PlainText
        wrapMode: Text.Wrap
        maximumLineCount: root.hasResult ? 2 : 1000
        elide: Text.ElideRight
        font.family: Theme.display(16, Font.Normal).family
        font.pixelSize: 16
        font.italic: true
        color: Theme.muted
    }
    RowLayout {
        width: parent.width
        spacing: 16
        BackupBadge {
            id: backupBadge
            state: root.backup
        }
        Spinner {
            objectName: root.objectName + ":opening"
            visible: root.isOpening
            running: root.isOpening
            size: 18
            Accessible.name: qsTr("Opening the review")
        }
        EarlierHistoryBadge {
            id: earlierBadge
            visible: root.isFromEarlierHistory
        }
        Item {
            Layout.fillWidth: true
        }
        Item {
            Layout.preferredWidth: 30
            Layout.preferredHeight: 1
        }
    }
    ReadableText {
        objectName: root.objectName + ":backupNote"
        visible: root.backupNote.length > 0
        // Clear of the actions button the page lays over the status row's end.
        width: parent.width - 46
        text: root.backupNote
        textFormat: Text.PlainText
        wrapMode: Text.Wrap
        font: Theme.small
        color: Theme.ink
    }
}
