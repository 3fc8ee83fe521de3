pragma ComponentBehavior: Bound
import QtQuick
import Lumora.Shell
import Lumora.Theme

// The header bar: the brand, one tab per section and the theory guide.
Rectangle {
    id: root

    property int section
    signal sectionChosen(int section)
    // The theory guide was asked for; the window opens it.
    signal theoryChosen

    implicitHeight: row.implicitHeight + 16
    color: Theme.withAlpha(Theme.paper, 0.98)

    Row {
        id: row
        x: 20
        y: 8
        spacing: 8

        CorvaneBrandMark {
            size: 32
            isDecorative: true
            anchors.verticalCenter: parent.verticalCenter
        }
        ReadableText {
            text: "Corvane"
            textFormat: Text.PlainText
            font: Theme.display(20, Font.Medium)
            color: Theme.navy
            rightPadding: 12
            anchors.verticalCenter: parent.verticalCenter
        }
        Repeater {
            model: Sections.allCases
            delegate: TactileButton {
                id: tab
                required property int modelData
                readonly property bool current: tab.modelData === root.section
                objectName: "tab" + Sections.title(tab.modelData)
                anchors.verticalCenter: parent.verticalCenter
                implicitHeight: Math.max(40, tabLabel.implicitHeight + 16)
                implicitWidth: tabLabel.implicitWidth + 24
                Accessible.name: Sections.title(tab.modelData)
                Accessible.selected: tab.current
                onClicked: root.sectionChosen(tab.modelData)

                background: Rectangle {
                    radius: 12
                    color: tab.current ? Theme.withAlpha(Theme.sand, 0.82)
                         : tab.hovered ? Theme.withAlpha(Theme.rule, 0.75) : Theme.withAlpha(Theme.rule, 0)
                    Behavior on color {
                        enabled: !Theme.reduceMotion
                        ColorAnimation { duration: 200; easing.type: Easing.OutQuad }
                    }
                }
                contentItem: Item {
                    TabLabel {
                        id: tabLabel
                        anchors.centerIn: parent
                        symbol: Sections.symbol(tab.modelData)
                        text: Sections.title(tab.modelData)
                        weight: tab.current ? Font.DemiBold : Font.Normal
                    }
                }
            }
        }
        TactileButton {
            id: theory
            objectName: "theoryButton"
            anchors.verticalCenter: parent.verticalCenter
            implicitHeight: Math.max(40, theoryLabel.implicitHeight + 16)
            implicitWidth: theoryLabel.implicitWidth + 24
            Accessible.name: qsTr("Theory")
            Accessible.description: qsTr("Opens the six-stage Corvane theory guide")
            onClicked: root.theoryChosen()
            background: Rectangle {
                radius: 12
                color: theory.hovered ? Theme.withAlpha(Theme.rule, 0.75) : Theme.withAlpha(Theme.rule, 0)
            }
            contentItem: Item {
                TabLabel {
                    id: theoryLabel
                    anchors.centerIn: parent
                    symbol: "book.closed"
                    text: qsTr("Theory")
                    weight: Font.Normal
                }
            }
        }
    }
    Rectangle {
        anchors.left: parent.left
        anchors.right: parent.right
        anchors.bottom: parent.bottom
        height: 1
        color: Theme.rule
    }
}
