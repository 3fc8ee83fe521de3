pragma ComponentBehavior: Bound
import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Lumora.Shell
import Lumora.Theme

// The weekly check-in reminder: on or off, its weekday and time. The controls show what the
// view model publishes; each change is one request to it.
EditorialCard {
    id: root

    required property AccountSession account

    // "00", "01", ... up to count - 1.
    function twoDigitNumbers(count) {
        return Array.from({ length: count }, (_, value) => (value < 10 ? "0" : "") + value)
    }

    RowLayout {
        width: parent.width
        spacing: 20
        Icon {
            Layout.alignment: Qt.AlignTop
            symbol: "bell.badge"
            size: 28
            color: Theme.positive
        }
        ColumnLayout {
            Layout.fillWidth: true
            spacing: 8
            TrackedLabel {
                caption: "weekly check-in"
            }
            ReadableText {
                Layout.fillWidth: true
                text: qsTr("A quiet reminder")
                wrapMode: Text.Wrap
                font: Theme.display(24, Font.Medium)
                color: Theme.ink
            }
            ReadableText {
                Layout.fillWidth: true
                text: qsTr("One notification a week, on the day and time you pick. If you have already checked in that week, it stays quiet.")
                wrapMode: Text.Wrap
                lineHeightMode: Text.FixedHeight
                lineHeight: font.pixelSize + 6
                font: Theme.small
                color: Theme.muted
            }
        }
        // The switch moves when the view model publishes, not on the click itself.
        Switch {
            id: reminderSwitch
            objectName: "reminderSwitch"
            Accessible.ignored: !reminderSwitch.visible
            Accessible.checked: reminderSwitch.checked
            Accessible.onPressAction: reminderSwitch.clicked()
            Accessible.onToggleAction: reminderSwitch.clicked()
            Layout.alignment: Qt.AlignTop
            checkable: false
            checked: root.account.reminderOn
            Accessible.name: qsTr("Weekly check-in reminder")
            onClicked: root.account.setReminderOn(!checked)
            indicator: Rectangle {
                implicitWidth: 44
                implicitHeight: 24
                x: reminderSwitch.leftPadding
                y: (reminderSwitch.height - height) / 2
                radius: 12
                color: reminderSwitch.checked ? Theme.positive : Theme.rule
                FocusRing {
                    objectName: "focusRing"
                    visible: reminderSwitch.visualFocus
                    controlRadius: 12
                }
                Rectangle {
                    x: reminderSwitch.checked ? parent.width - width - 2 : 2
                    y: 2
                    width: 20
                    height: 20
                    radius: 10
                    color: Theme.paper
                    border.color: Theme.withAlpha(Theme.navy, 0.12)
                    Behavior on x {
                        enabled: !Theme.reduceMotion
                        NumberAnimation { duration: 120 }
                    }
                }
            }
        }
    }
    RowLayout {
        objectName: "reminderPickers"
        visible: root.account.reminderOn
        width: parent.width
        spacing: 16
        ReadableText {
            text: qsTr("Day")
            font: Theme.interfaceFont(14, Font.DemiBold)
            color: Theme.ink
        }
        ChoiceBox {
            objectName: "reminderWeekday"
            Layout.maximumWidth: 220
            Layout.preferredWidth: 180
            model: root.account.weekdayNames
            currentIndex: root.account.reminderWeekday - 1
            label: qsTr("Day")
            onActivated: index => root.account.setReminderWeekday(index + 1)
        }
        ReadableText {
            Layout.leftMargin: 8
            text: qsTr("Time")
            font: Theme.interfaceFont(14, Font.DemiBold)
            color: Theme.ink
        }
        ChoiceBox {
            objectName: "reminderHour"
            Layout.preferredWidth: 88
            model: root.twoDigitNumbers(24)
            currentIndex: root.account.reminderHour
            label: qsTr("Hour")
            onActivated: index => root.account.setReminderTime(index, root.account.reminderMinute)
        }
        Text {
            text: ":"
            font: Theme.interfaceFont(14, Font.DemiBold)
            color: Theme.ink
        }
        ChoiceBox {
            objectName: "reminderMinute"
            Layout.preferredWidth: 88
            model: root.twoDigitNumbers(60)
            currentIndex: root.account.reminderMinute
            label: qsTr("Minute")
            onActivated: index => root.account.setReminderTime(root.account.reminderHour, index)
        }
        Item {
            Layout.fillWidth: true
        }
    }
    ReadableText {
        visible: root.account.reminderOn
        width: parent.width
        text: qsTr("Corvane asks your desktop for permission the first time you turn this on.")
        wrapMode: Text.Wrap
        font: Theme.small
        color: Theme.muted
    }
    // Why the reminder could not be turned on: a screen reader says it as it appears.
    Hint {
        objectName: "reminderNote"
        announced: true
        visible: root.account.reminderNote.length > 0
        width: parent.width
        symbol: "exclamationmark.circle"
        text: root.account.reminderNote
        tint: Theme.attention
    }
}
