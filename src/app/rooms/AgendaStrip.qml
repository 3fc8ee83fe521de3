pragma ComponentBehavior: Bound
import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Lumora.Rooms
import Lumora.Theme

// The six-step agenda across the room: one button per step (passed, current or upcoming), the
// current step's guidance and opening words, and while the room is live the note on how the
// conversation keeps to the step.
Rectangle {
    id: root

    required property ConversationRoomState room

    implicitHeight: column.implicitHeight + 16
    color: Theme.withAlpha(Theme.paper, 0.34)

    ColumnLayout {
        id: column
        x: 12
        y: 8
        width: root.width - 24
        spacing: 8

        // The steps share the width evenly; a new current step changes the buttons in place.
        Row {
            id: steps
            Layout.fillWidth: true
            spacing: 6
            Repeater {
                id: stepButtons
                model: root.room.agendaSteps
                delegate: TactileButton {
                    id: step
                    required property int index
                    required property string name
                    required property bool passed
                    required property bool current
                    objectName: "agendaStep" + step.index
                    width: (column.width - steps.spacing * (stepButtons.count - 1)) / stepButtons.count
                    implicitHeight: Math.max(36, stepLabel.implicitHeight + 14)
                    focusRadius: height / 2
                    Accessible.name: qsTr("Step %1, %2").arg(step.index + 1).arg(step.name)
                    Accessible.selected: step.current
                    onClicked: root.room.selectStep(step.index)

                    // A name cut short by a narrow strip is there in full under the pointer and
                    // for the keyboard.
                    ThemedToolTip {
                        objectName: "agendaStepTip" + step.index
                        text: step.name
                        visible: stepName.truncated && (step.hovered || step.visualFocus)
                    }

                    background: Rectangle {
                        radius: height / 2
                        color: step.current ? Theme.paper
                             : step.hovered ? Theme.withAlpha(Theme.rule, 0.75) : Theme.withAlpha(Theme.rule, 0)
                        border.width: 1
                        border.color: step.current ? Theme.withAlpha(Theme.attention, 0.34)
                                                   : Theme.withAlpha(Theme.ink, 0.06)
                    }
                    contentItem: Item {
                        RowLayout {
                            id: stepLabel
                            anchors.fill: parent
                            anchors.leftMargin: 6
                            anchors.rightMargin: 6
                            spacing: 5
                            Rectangle {
                                Layout.preferredWidth: 18
                                Layout.preferredHeight: 18
                                radius: 9
                                color: step.passed ? Theme.positive
                                     : step.current ? Theme.withAlpha(Theme.attention, 0.09)
                                                    : Theme.withAlpha(Theme.ink, 0.07)
                                Text {
                                    anchors.centerIn: parent
                                    text: Number(step.index + 1).toLocaleString(Qt.locale(), "f", 0)
                                    textFormat: Text.PlainText
                                    font: Theme.interfaceFont(11, Font.Bold)
                                    // Ink under the pointer: the muted tone on the hovered fill reads below 4.5:1.
                                    color: step.passed ? "white" : step.current ? Theme.attention
                                         : step.hovered ? Theme.ink : Theme.muted
                                    Accessible.ignored: true
                                }
                            }
                            Text {
                                id: stepName
                                objectName: "agendaStepName" + step.index
                                Layout.fillWidth: true
                                text: step.name
                                textFormat: Text.PlainText
                                font: Theme.interfaceFont(11, step.current ? Font.DemiBold : Font.Normal)
                                // A name too long for its step shrinks, down to 0.72 of its size,
                                // before it is cut.
                                fontSizeMode: Text.HorizontalFit
                                minimumPixelSize: Math.round(font.pixelSize * 0.72)
                                elide: Text.ElideRight
                                maximumLineCount: 1
                                color: Theme.ink
                                Accessible.ignored: true
                            }
                        }
                    }
                }
            }
        }
        // The current step's guidance, its opening words and, while the room is live, the note:
        // the words and the note take the width their text needs while the row has room, and
        // give way together (elided, their full text a tooltip and what a screen reader reads)
        // when it has not, each keeping at least half of what the guidance leaves them.
        Item {
            id: detail
            objectName: "agendaDetail"
            readonly property real guidanceMinimum: 200
            readonly property real gap: 12
            readonly property real spare: detail.width - detail.guidanceMinimum
                - detail.gap * (note.visible ? 2 : 1)
            readonly property real noteWidth: note.visible
                ? Math.min(note.implicitWidth, Math.max(detail.spare / 2, detail.spare - starter.implicitWidth)) : 0
            readonly property real starterWidth: Math.max(0, Math.min(starter.implicitWidth, detail.spare - detail.noteWidth))

            Layout.fillWidth: true
            implicitHeight: Math.max(guidance.implicitHeight, starter.implicitHeight, note.implicitHeight)

            ReadableText {
                id: guidance
                objectName: "stepGuidance"
                anchors.verticalCenter: parent.verticalCenter
                width: detail.width - detail.starterWidth - detail.noteWidth - detail.gap * (note.visible ? 2 : 1)
                text: root.room.stepGuidance
                textFormat: Text.PlainText
                wrapMode: Text.Wrap
                maximumLineCount: 3
                elide: Text.ElideRight
                font: Theme.interfaceFont(12, Font.Normal)
                color: Theme.muted
            }
            ReadableText {
                id: starter
                objectName: "stepStarter"
                anchors.verticalCenter: parent.verticalCenter
                x: guidance.width + detail.gap
                width: detail.starterWidth
                leftPadding: 12
                rightPadding: 12
                topPadding: 4
                bottomPadding: 4
                text: "\u201c" + root.room.stepStarter + "\u201d"
                textFormat: Text.PlainText
                elide: Text.ElideRight
                maximumLineCount: 1
                font: Theme.displayItalic(12, Font.Normal)
                color: Theme.ink
                ThemedToolTip {
                    text: starter.text
                    visible: starter.truncated && starterPointer.hovered
                }
                HoverHandler {
                    id: starterPointer
                }
                Rectangle {
                    z: -1
                    anchors.fill: parent
                    radius: height / 2
                    color: Theme.withAlpha(Theme.positive, 0.07)
                }
            }
            ReadableText {
                id: note
                objectName: "agendaNote"
                anchors.verticalCenter: parent.verticalCenter
                x: starter.x + starter.width + detail.gap
                width: detail.noteWidth
                visible: root.room.active && root.room.agendaNote.length > 0
                text: root.room.agendaNote
                textFormat: Text.PlainText
                elide: Text.ElideRight
                maximumLineCount: 1
                font: Theme.small
                color: Theme.positive
                ThemedToolTip {
                    text: note.text
                    visible: note.truncated && notePointer.hovered
                }
                HoverHandler {
                    id: notePointer
                }
            }
        }
    }
    Rectangle {
        anchors.left: parent.left
        anchors.right: parent.right
        anchors.bottom: parent.bottom
        height: 1
        color: Theme.withAlpha(Theme.rule, 0.35)
    }
}
