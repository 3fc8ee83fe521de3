import QtQuick
import QtQuick.Layouts
import Lumora.Theme

// What the transcript shows before anyone has spoken: what the room does, in three lines,
// centred; in a stage too short for them they start at the top and scroll.
Flickable {
    id: root

    implicitHeight: Math.max(260, column.implicitHeight + 32)
    contentWidth: width
    contentHeight: Math.max(height, column.implicitHeight + 32)
    interactive: contentHeight > height
    boundsBehavior: Flickable.StopAtBounds
    clip: true

    ColumnLayout {
        id: column
        x: (root.width - width) / 2
        y: (root.contentHeight - implicitHeight) / 2
        width: Math.min(root.width - 32, 450)
        spacing: 16

        ReadableText {
            objectName: "explainerHeading"
            Layout.alignment: Qt.AlignHCenter
            Layout.maximumWidth: root.width - 32
            text: qsTr("A guided conversation, on the record.")
            textFormat: Text.PlainText
            wrapMode: Text.Wrap
            horizontalAlignment: Text.AlignHCenter
            font: Theme.display(24, Font.Medium)
            color: Theme.muted
        }
        ColumnLayout {
            Layout.fillWidth: true
            spacing: 12
            HowItWorks {
                Layout.fillWidth: true
                number: 1
                text: qsTr("Press record and talk to each other — your words appear here live.")
            }
            HowItWorks {
                Layout.fillWidth: true
                number: 2
                text: qsTr("Each person gets a corner with floor share, warm and hard moments, and timely coaching.")
            }
            HowItWorks {
                Layout.fillWidth: true
                number: 3
                text: qsTr("The line below remembers the emotional arc of the whole conversation.")
            }
        }
    }
}
