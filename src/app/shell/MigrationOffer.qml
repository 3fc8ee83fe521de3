import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Lumora.Shell
import Lumora.Theme

// The one-time question what to do with conversations recorded before the account kept a
// history. It closes only through one of its two answers.
Item {
    id: root

    required property ShellSession model
    property bool isWorking: false
    signal dismiss

    function answer(accepted) {
        root.isWorking = true
        root.model.answerMigration(accepted)
    }

    implicitWidth: 640
    implicitHeight: column.implicitHeight + 64

    Connections {
        target: root.model
        function onMigrationAnswered() {
            root.dismiss()
        }
    }

    ColumnLayout {
        id: column
        x: 32
        y: 32
        width: root.width - 64
        spacing: 24

        ColumnLayout {
            Layout.fillWidth: true
            spacing: 4
            ReadableText {
                text: qsTr("Your earlier conversations")
                font: Theme.display(32, Font.Medium)
                color: Theme.ink
            }
            ReadableText {
                objectName: "migrationIntroduction"
                Layout.fillWidth: true
                text: ShellTexts.migrationIntroduction(root.model.conversationsAwaitingMigrationOffer)
                textFormat: Text.PlainText
                wrapMode: Text.Wrap
                font: Theme.small
                color: Theme.muted
            }
        }
        Rectangle {
            Layout.fillWidth: true
            Layout.preferredHeight: 1
            color: Theme.rule
        }
        SetupCard {
            Layout.fillWidth: true
            symbol: "clock.arrow.circlepath"
            title: "Add them to your history?"
            detail: "You can save these to your account, encrypted, so they are part of your history and are there on any computer you sign in to. Or keep them only on this computer. Audio is never stored either way, and you can delete any conversation at any time."
        }
        RowLayout {
            spacing: 16
            PrimaryButton {
                objectName: "acceptMigrationButton"
                text: qsTr("Add to my history")
                enabled: !root.isWorking
                onClicked: root.answer(true)
            }
            SecondaryButton {
                objectName: "declineMigrationButton"
                text: qsTr("Not now — keep them on this computer")
                enabled: !root.isWorking
                onClicked: root.answer(false)
            }
            Icon {
                objectName: "migrationProgress"
                visible: root.isWorking
                symbol: "arrow.triangle.2.circlepath"
                size: 20
                color: Theme.muted
                RotationAnimation on rotation {
                    running: root.isWorking && !Theme.reduceMotion
                    from: 0
                    to: 360
                    duration: 1000
                    loops: Animation.Infinite
                }
            }
        }
        ReadableText {
            Layout.fillWidth: true
            text: qsTr("We only ask once. You can change your mind later in History.")
            wrapMode: Text.Wrap
            font: Theme.small
            color: Theme.muted
        }
    }
}
