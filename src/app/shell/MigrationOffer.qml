pragma ComponentBehavior: Bound
import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Lumora.Shell
import Lumora.Theme

// The one-time question what to do with conversations recorded before the account kept a
// history, or before Corvane noted whose each one is. It shows each of them, chosen until the
// user clears it: the answer applies to the chosen ones. It closes only through one of its two
// answers.
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
        // At the top of a taller sheet; in a shorter one the list of conversations gives way.
        height: Math.min(implicitHeight, root.height - 64)
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
        // Each conversation the answer covers; as many show as the window has room for, and the
        // rest scroll.
        ColumnLayout {
            Layout.fillWidth: true
            Layout.fillHeight: true
            spacing: 8
            ReadableText {
                Layout.fillWidth: true
                text: qsTr("Clear any that someone else recorded: they stay on this computer for them.")
                wrapMode: Text.Wrap
                font: Theme.small
                color: Theme.muted
            }
            Flickable {
                id: offered
                objectName: "offeredConversations"
                // Room for a row's focus ring inside the clipped area.
                readonly property real ringRoom: 6
                readonly property real rowsHeight: rows.implicitHeight + 2 * offered.ringRoom

                // Brings a row the keyboard came to into view whole.
                function show(row: Item) {
                    const area = row.mapToItem(offered.contentItem, 0, 0, row.width, row.height)
                    if (area.y - offered.ringRoom < offered.contentY)
                        offered.contentY = Math.max(0, area.y - offered.ringRoom)
                    else if (area.y + area.height + offered.ringRoom > offered.contentY + offered.height)
                        offered.contentY = area.y + area.height + offered.ringRoom - offered.height
                }

                Layout.fillWidth: true
                Layout.fillHeight: true
                Layout.preferredHeight: offered.rowsHeight
                Layout.maximumHeight: offered.rowsHeight
                Layout.minimumHeight: Math.min(offered.rowsHeight, 100)
                contentWidth: width
                contentHeight: offered.rowsHeight
                interactive: contentHeight > height
                boundsBehavior: Flickable.StopAtBounds
                clip: true
                // Drawn for as long as some of the list is out of view, so that none of it goes unseen.
                ScrollIndicator.vertical: ScrollIndicator {
                    id: indicator
                    padding: 3
                    Accessible.ignored: true
                    contentItem: Rectangle {
                        implicitWidth: 4
                        implicitHeight: 4
                        radius: 2
                        color: Theme.withAlpha(Theme.muted, 0.6)
                        visible: indicator.size < 1
                    }
                }

                Column {
                    id: rows
                    x: offered.ringRoom
                    y: offered.ringRoom
                    width: offered.width - 2 * offered.ringRoom
                    spacing: 4
                    Repeater {
                        model: root.model.offeredConversations
                        delegate: TactileButton {
                            id: row

                            required property int index
                            required property string heading
                            required property string detail
                            required property bool chosen

                            objectName: "offeredConversation" + row.index
                            width: rows.width
                            padding: 8
                            focusRadius: 8
                            enabled: !root.isWorking
                            checkable: true
                            checked: row.chosen
                            Accessible.name: row.heading
                            Accessible.description: row.detail
                            // The click has turned it already; the list keeps what it now says.
                            onClicked: root.model.offeredConversations.setChosen(row.index, row.checked)
                            onChosenChanged: row.checked = row.chosen
                            onActiveFocusChanged: {
                                if (row.activeFocus)
                                    offered.show(row)
                            }
                            background: Rectangle {
                                radius: 8
                                color: row.hovered ? Theme.withAlpha(Theme.rule, 0.75) : Theme.withAlpha(Theme.rule, 0)
                            }
                            contentItem: RowLayout {
                                spacing: 12
                                Icon {
                                    Layout.alignment: Qt.AlignVCenter
                                    symbol: row.checked ? "checkmark.square.fill" : "square"
                                    size: 22
                                    color: row.checked ? Theme.navy : Theme.muted
                                }
                                Column {
                                    Layout.fillWidth: true
                                    spacing: 2
                                    Text {
                                        objectName: "offeredConversation" + row.index + "Heading"
                                        width: parent.width
                                        text: row.heading
                                        textFormat: Text.PlainText
                                        elide: Text.ElideRight
                                        font: Theme.interfaceFont(15, Font.DemiBold)
                                        color: Theme.ink
                                    }
                                    Text {
                                        objectName: "offeredConversation" + row.index + "Detail"
                                        width: parent.width
                                        text: row.detail
                                        textFormat: Text.PlainText
                                        elide: Text.ElideRight
                                        font: Theme.small
                                        color: Theme.muted
                                    }
                                }
                            }
                        }
                    }
                }
            }
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
