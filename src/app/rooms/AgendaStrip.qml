pragma ComponentBehavior: Bound
import QtQuick
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

        RowLayout {
            Layout.fillWidth: true
            spacing: 6
            Repeater {
                model: root.room.agendaSteps
                delegate: TactileButton {
                    id: step
                    required property int index
                    required property var modelData
                    readonly property bool passed: step.modelData.stage === ConversationRoomState.PassedStep
                    readonly property bool current: step.modelData.stage === ConversationRoomState.CurrentStep
                    objectName: "agendaStep" + step.index
                    Layout.fillWidth: true
                    Layout.preferredWidth: 1
                    implicitHeight: Math.max(36, stepLabel.implicitHeight + 14)
                    focusRadius: height / 2
                    Accessible.name: qsTr("Step %1, %2").arg(step.index + 1).arg(step.modelData.name)
                    Accessible.selected: step.current
                    onClicked: root.room.selectStep(step.index)

                    background: Rectangle {
                        radius: height / 2
                        color: step.current ? Theme.paper
                             : step.hovered ? Theme.withAlpha(Theme.paper, 0.6) : Theme.withAlpha(Theme.paper, 0)
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
                                    color: step.passed ? "white" : step.current ? Theme.attention : Theme.muted
                                    Accessible.ignored: true
                                }
                            }
                            Text {
                                Layout.fillWidth: true
                                text: step.modelData.name
                                textFormat: Text.PlainText
                                font: Theme.interfaceFont(11, step.current ? Font.DemiBold : Font.Normal)
                                fontSizeMode: Text.HorizontalFit
                                minimumPixelSize: 8
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
        RowLayout {
            Layout.fillWidth: true
            spacing: 12
            ReadableText {
                objectName: "stepGuidance"
                Layout.fillWidth: true
                Layout.preferredWidth: 1
                Layout.minimumWidth: 200
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
                // The opening words and the note give way (eliding) before the row outgrows the
                // strip: a layout item that does not fill is held at its full text's width.
                Layout.fillWidth: true
                Layout.preferredWidth: starter.implicitWidth
                Layout.maximumWidth: Math.min(starter.implicitWidth, Math.max(120, root.width * 0.45))
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
                Rectangle {
                    z: -1
                    anchors.fill: parent
                    radius: height / 2
                    color: Theme.withAlpha(Theme.positive, 0.07)
                }
            }
            ReadableText {
                objectName: "agendaNote"
                id: note
                visible: root.room.active && root.room.agendaNote.length > 0
                Layout.fillWidth: true
                Layout.preferredWidth: note.implicitWidth
                Layout.maximumWidth: Math.min(note.implicitWidth, root.width * 0.3)
                text: root.room.agendaNote
                textFormat: Text.PlainText
                elide: Text.ElideRight
                maximumLineCount: 1
                font: Theme.small
                color: Theme.positive
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
