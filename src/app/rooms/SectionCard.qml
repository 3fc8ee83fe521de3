import QtQuick
import QtQuick.Layouts
import Lumora.Rooms
import Lumora.Theme

// The open section's heading: its place in the pack with the pacing, and its title. Its prompts
// are `SectionPrompts`, which scroll under it while the heading stays in view.
ColumnLayout {
    id: root

    property checkinSection section
    property int position
    property int total
    property string pacingText
    property bool isPastSuggestion

    spacing: 12

    RowLayout {
        Layout.fillWidth: true
        TrackedLabel {
            objectName: "sectionPosition"
            Layout.alignment: Qt.AlignBaseline
            caption: qsTr("section %1 of %2").arg(root.position).arg(root.total)
        }
        Item {
            Layout.fillWidth: true
        }
        Row {
            id: pacing
            objectName: "pacing"
            Layout.alignment: Qt.AlignVCenter
            spacing: 6
            Accessible.role: Accessible.StaticText
            Accessible.name: qsTr("About %1 minutes suggested for this section").arg(root.section.suggestedMinutes)
            Accessible.ignored: !pacing.visible
            Rectangle {
                objectName: "pacingDot"
                width: 7
                height: 7
                radius: 3.5
                anchors.verticalCenter: parent.verticalCenter
                color: root.isPastSuggestion ? Theme.withAlpha(Theme.warning, 0.7) : Theme.sage
            }
            ReadableText {
                objectName: "pacingText"
                text: root.pacingText
                textFormat: Text.PlainText
                font: Theme.figures(11, Font.Medium)
                color: Theme.muted
                Accessible.ignored: true
            }
        }
    }
    ReadableText {
        objectName: "sectionTitle"
        Layout.fillWidth: true
        text: root.section.title
        textFormat: Text.PlainText
        wrapMode: Text.Wrap
        font: Theme.display(32, Font.Medium)
        color: Theme.ink
    }
}
