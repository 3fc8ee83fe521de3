pragma ComponentBehavior: Bound
import QtQuick
import QtQuick.Layouts
import Lumora.Rooms
import Lumora.Theme

// The bar across the top of the room: the brand (whose double click reveals the hidden
// message), the status pill, and the header buttons: swap sides, the theory guide and the
// other three sections.
Rectangle {
    id: root

    required property ConversationRoomState room
    // The room's first control.
    readonly property alias mark: mark
    signal sectionChosen(int section)
    // The theory guide was asked for; the window opens it.
    signal theoryChosen

    implicitHeight: row.implicitHeight + 32
    color: Theme.withAlpha(Theme.paper, 0.82)

    // Where the labelled buttons would not fit beside the brand and the pill, the buttons show
    // their symbols alone, so that every one of them stays whole inside the padding.
    readonly property real labelledButtonsWidth: (swap.visible ? swap.labelledWidth + buttons.spacing : 0)
        + theory.labelledWidth + history.labelledWidth + people.labelledWidth + account.labelledWidth
        + 3 * buttons.spacing + 8
    readonly property bool iconsOnly: brand.implicitWidth + (pill.visible ? pill.implicitWidth + row.spacing : 0)
        + 2 * row.spacing + root.labelledButtonsWidth > row.width

    component SectionButton: HeaderNavigationButton {
        required property int section
        objectName: "section" + Sections.title(section)
        text: Sections.title(section)
        symbol: Sections.symbol(section)
        iconOnly: root.iconsOnly
        onClicked: root.sectionChosen(section)
    }

    RowLayout {
        id: row
        anchors.fill: parent
        anchors.leftMargin: 32
        anchors.rightMargin: 32
        anchors.topMargin: 16
        anchors.bottomMargin: 16
        spacing: 16

        Row {
            id: brand
            spacing: 12
            CorvaneBrandMark {
                id: mark
                objectName: "brandMark"
                size: 44
                anchors.verticalCenter: parent.verticalCenter
                activeFocusOnTab: true
                Accessible.role: Accessible.Button
                Accessible.name: qsTr("Corvane mark")
                Accessible.description: qsTr("Reveal the thread underneath")
                Accessible.onPressAction: root.room.revealThreadMessage()
                Keys.onReturnPressed: event => {
                    root.room.revealThreadMessage()
                    event.accepted = true
                }
                Keys.onSpacePressed: event => {
                    root.room.revealThreadMessage()
                    event.accepted = true
                }
                TapHandler {
                    onDoubleTapped: root.room.revealThreadMessage()
                }
                // The pointer over it shows, as it does over the header's buttons.
                readonly property alias hovered: markHover.hovered
                HoverHandler {
                    id: markHover
                }
                Rectangle {
                    z: -1
                    anchors.fill: parent
                    anchors.margins: -4
                    radius: 12
                    color: markHover.hovered ? Theme.withAlpha(Theme.rule, 0.75) : "transparent"
                }
                FocusRing {
                    visible: mark.activeFocus
                    controlRadius: 10
                }
            }
            Column {
                spacing: 4
                anchors.verticalCenter: parent.verticalCenter
                ReadableText {
                    text: "Corvane"
                    textFormat: Text.PlainText
                    font: Theme.display(28, Font.Medium)
                    color: Theme.ink
                }
                ReadableText {
                    text: qsTr("CONNECT  •  UNDERSTAND  •  GROW")
                    textFormat: Text.PlainText
                    font.family: Theme.label.family
                    font.pixelSize: 10
                    font.weight: Font.Bold
                    font.letterSpacing: 1.4
                    color: Theme.muted
                }
            }
        }
        Item {
            Layout.fillWidth: true
        }
        StatusPill {
            id: pill
            objectName: "statusPill"
            visible: root.room.showsPill
            label: root.room.pillLabel
            dotLive: root.room.pillDotLive
            showsClock: root.room.showsClock
            clockText: root.room.clockText
        }
        Rectangle {
            objectName: "headerButtons"
            implicitWidth: buttons.implicitWidth + 8
            implicitHeight: buttons.implicitHeight + 8
            radius: 14
            color: Theme.withAlpha(Theme.paper, 0.86)
            border.color: Theme.rule
            border.width: 1

            Row {
                id: buttons
                x: 4
                y: 4
                spacing: 4
                HeaderNavigationButton {
                    id: swap
                    objectName: "swapSidesButton"
                    visible: root.room.turnCount > 0
                    iconOnly: root.iconsOnly
                    text: qsTr("Swap sides")
                    symbol: "arrow.left.arrow.right"
                    Accessible.name: qsTr("Swap which side each voice appears on")
                    onClicked: root.room.swapSides()
                }
                HeaderNavigationButton {
                    id: theory
                    objectName: "theoryButton"
                    iconOnly: root.iconsOnly
                    text: qsTr("Theory")
                    symbol: "book.closed"
                    Accessible.description: qsTr("Opens the six-stage Corvane theory guide")
                    onClicked: root.theoryChosen()
                }
                SectionButton {
                    id: history
                    section: Sections.History
                }
                SectionButton {
                    id: people
                    section: Sections.People
                }
                SectionButton {
                    id: account
                    section: Sections.Account
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
