import QtQuick
import QtQuick.Layouts
import Lumora.People
import Lumora.Theme

// The People section: the names of the two seats, how to use them, and each seat's trends
// over the reviews stored on this computer.
Item {
    id: root

    required property PeopleModel model
    // The page, which the window gives the scrolling keys no control took.
    readonly property alias scroller: page

    WindowBackground {
        anchors.fill: parent
    }
    ScrollablePage {
        id: page
        objectName: "peopleScroll"
        anchors.fill: parent

        PageHeading {
            width: parent.width
            title: "People"
            subtitle: "name the two seats in the conversation"
        }
        EditorialCard {
            width: parent.width
            RowLayout {
                width: parent.width
                spacing: 24
                Icon {
                    Layout.alignment: Qt.AlignTop
                    symbol: "person.2.circle.fill"
                    size: 38
                    color: Theme.positive
                }
                ColumnLayout {
                    Layout.alignment: Qt.AlignTop
                    Layout.fillWidth: true
                    spacing: 12
                    ReadableText {
                        Layout.fillWidth: true
                        text: qsTr("People gives the room familiar names")
                        wrapMode: Text.Wrap
                        font: Theme.display(26, Font.Medium)
                        color: Theme.ink
                    }
                    ReadableText {
                        Layout.fillWidth: true
                        text: qsTr("Set the names you want to see during conversations and in local reviews. These are simple display labels on this computer\u2014not Corvane accounts, contacts, or voice profiles.")
                        wrapMode: Text.Wrap
                        lineHeightMode: Text.FixedHeight
                        lineHeight: Theme.body.pixelSize * 1.35 + 3
                        font: Theme.body
                        color: Theme.muted
                    }
                }
            }
        }
        RowLayout {
            width: parent.width
            spacing: 16
            PersonNameEditor {
                objectName: "leftEditor"
                Layout.fillWidth: true
                Layout.preferredWidth: 1
                Layout.alignment: Qt.AlignTop
                side: 0
                name: root.model.leftName
                tint: Theme.positive
                onSave: text => root.model.updateParticipantName(0, text)
            }
            PersonNameEditor {
                objectName: "rightEditor"
                Layout.fillWidth: true
                Layout.preferredWidth: 1
                Layout.alignment: Qt.AlignTop
                side: 1
                name: root.model.rightName
                tint: Theme.information
                onSave: text => root.model.updateParticipantName(1, text)
            }
        }
        EditorialCard {
            width: parent.width
            TrackedLabel {
                caption: "how to use people"
            }
            RowLayout {
                width: parent.width
                spacing: 24
                PeopleStep {
                    Layout.fillWidth: true
                    Layout.preferredWidth: 1
                    Layout.alignment: Qt.AlignTop
                    number: "01"
                    title: "Choose names"
                    detail: "Use first names, initials, or roles\u2014whatever feels comfortable."
                }
                PeopleStep {
                    Layout.fillWidth: true
                    Layout.preferredWidth: 1
                    Layout.alignment: Qt.AlignTop
                    number: "02"
                    title: "Take your seats"
                    detail: "The first voice detected is the left seat for that conversation."
                }
                PeopleStep {
                    Layout.fillWidth: true
                    Layout.preferredWidth: 1
                    Layout.alignment: Qt.AlignTop
                    number: "03"
                    title: "Keep it local"
                    detail: "Corvane never enrolls a voiceprint or links another person to your account."
                }
            }
        }
        LocalDataPromise {
            width: parent.width
            title: qsTr("Labels, not identity tracking")
            detail: qsTr("Corvane does not automatically recognize either voice across recordings. If you want meaningful side-by-side trends, keep the same person in the same seat and let that person speak first each time.")
            badge: qsTr("LOCAL ONLY")
        }
        Column {
            objectName: "trends"
            visible: root.model.hasResults
            width: parent.width
            spacing: 16
            TrackedLabel {
                caption: "local conversation-side trends"
            }
            RowLayout {
                width: parent.width
                spacing: 16
                PersonTrendCard {
                    objectName: "leftTrend"
                    Layout.fillWidth: true
                    Layout.preferredWidth: 1
                    Layout.alignment: Qt.AlignTop
                    name: root.model.leftName
                    trend: root.model.leftTrend
                    tint: Theme.positive
                }
                PersonTrendCard {
                    objectName: "rightTrend"
                    Layout.fillWidth: true
                    Layout.preferredWidth: 1
                    Layout.alignment: Qt.AlignTop
                    name: root.model.rightName
                    trend: root.model.rightTrend
                    tint: Theme.information
                }
            }
        }
        EditorialCard {
            objectName: "emptyTrends"
            visible: !root.model.hasResults
            width: parent.width
            ReadableText {
                width: parent.width
                text: qsTr("Trends begin after your first conversation")
                wrapMode: Text.Wrap
                font: Theme.display(24, Font.Medium)
                color: Theme.ink
            }
            ReadableText {
                width: parent.width
                text: qsTr("For now, these names simply make the conversation room feel like yours.")
                wrapMode: Text.Wrap
                font: Theme.body
                color: Theme.muted
            }
        }
    }
}
