pragma ComponentBehavior: Bound
import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Lumora.Rooms
import Lumora.Theme

// The coaching popover of a corner: while a request runs, that it is reading; then the
// coach's answer, or the corner's own starter with a way to ask again. A failure shows above
// the starter. Escape or a press outside closes it.
Popup {
    id: root

    // The coach's answer; empty without one.
    property coachNudge nudge
    required property coachNudge genericStarter
    property bool loading
    // The last request's failure; empty without one.
    property string error
    required property color accent

    readonly property int popoverState: CoachingRules.popoverState(root.loading, root.nudge)
    readonly property coachNudge shown: CoachingRules.shownNudge(root.popoverState, root.nudge, root.genericStarter)
    readonly property bool offersStarter: root.popoverState === CoachingRules.GenericStarter

    // "Read the conversation again": ask the coach once more.
    signal retry

    DialogName {
        popup: root
        name: CoachingRules.title(root.popoverState, root.nudge, root.genericStarter)
    }

    // The pointer to the button the popover answers: on its top edge when the popover is below
    // the button, on its bottom edge when above, `pointerX` from its left edge.
    property bool pointsUp: true
    property real pointerX
    readonly property real pointerSize: 8

    width: 380
    padding: 18
    rightPadding: scroller.contentHeight > scroller.height ? root.padding - 10 : root.padding
    closePolicy: Popup.CloseOnEscape | Popup.CloseOnPressOutside
    // It takes the keyboard as it opens, so that Escape closes it and Tab walks its buttons.
    focus: true

    background: Item {
        // A square turned by 45 degrees, half of it out of the card; the card covers the other
        // half and a strip of paper the card's outline under it.
        Rectangle {
            id: pointer
            objectName: "coachPointer"
            readonly property real side: root.pointerSize * Math.SQRT2
            x: Math.max(16, Math.min(parent.width - 16, root.pointerX)) - pointer.side / 2
            y: root.pointsUp ? -pointer.side / 2 : parent.height - pointer.side / 2
            width: pointer.side
            height: pointer.side
            rotation: 45
            color: Theme.paper
            border.color: Theme.rule
            border.width: 1
        }
        Rectangle {
            anchors.fill: parent
            radius: 12
            color: Theme.paper
            border.color: Theme.rule
            border.width: 1
        }
        Rectangle {
            x: pointer.x + 1
            y: root.pointsUp ? 0 : parent.height - 1
            width: pointer.side - 2
            height: 1
            color: Theme.paper
        }
    }

    // Its content is made while it is open: closed, each corner's popover is only its frame.
    // (A repeater of at most one rather than a Loader: Qt 6.4's Loader cannot make a component
    // bound to this file's scope.) Where the window has less room than the content takes, the
    // popover is as tall as the room and its content scrolls.
    contentItem: Flickable {
        id: scroller
        objectName: "coachContent"
        implicitHeight: contentHeight
        contentWidth: width
        contentHeight: content.childrenRect.height
        boundsBehavior: Flickable.StopAtBounds
        clip: contentHeight > height
        // Shown from the start where there is more below, not only once it moves.
        ScrollIndicator.vertical: ScrollIndicator {
            active: scroller.contentHeight > scroller.height
        }

        Item {
            id: content
            objectName: "coachContentHolder"
            // As wide with the indicator as without: the indicator takes from the padding.
            width: root.width - 2 * root.padding
            Repeater {
                model: root.visible ? 1 : 0
                delegate: Column {
                    width: parent ? parent.width : 0
                    spacing: 14

                    RowLayout {
                        width: parent.width
                        spacing: 10

                        Icon {
                            objectName: "coachSymbol"
                            Layout.alignment: Qt.AlignTop
                            symbol: CoachingRules.headerSymbol(root.popoverState)
                            size: 15
                            color: root.accent
                        }
                        Column {
                            Layout.alignment: Qt.AlignTop
                            Layout.fillWidth: true
                            spacing: 3

                            TrackedLabel {
                                objectName: "coachCaption"
                                caption: CoachingRules.caption(root.popoverState)
                            }
                            ReadableText {
                                objectName: "coachTitle"
                                width: parent.width
                                text: CoachingRules.title(root.popoverState, root.nudge, root.genericStarter)
                                textFormat: Text.PlainText
                                wrapMode: Text.Wrap
                                font: Theme.display(20, Font.DemiBold)
                                color: Theme.ink
                            }
                        }
                        Item {
                            Layout.preferredWidth: 8
                        }
                        SymbolButton {
                            objectName: "closeCoaching"
                            Layout.alignment: Qt.AlignTop
                            symbol: "xmark"
                            size: 28
                            Accessible.name: "Close coaching"
                            onClicked: root.close()
                            // The keyboard's focus brings what it lands on into view.
                            onActiveFocusChanged: {
                                if (activeFocus)
                                    scroller.contentY = 0
                            }
                        }
                    }
                    Column {
                        objectName: "coachReading"
                        visible: root.popoverState === CoachingRules.Loading
                        width: parent.width
                        height: Math.max(88, implicitHeight)
                        spacing: 10

                        Spinner {
                            anchors.horizontalCenter: parent.horizontalCenter
                            size: 24
                        }
                        ReadableText {
                            width: parent.width
                            horizontalAlignment: Text.AlignHCenter
                            text: "Listening back over the last few minutes."
                            textFormat: Text.PlainText
                            wrapMode: Text.Wrap
                            font: Theme.interfaceFont(13, Font.Normal)
                            color: Theme.muted
                        }
                    }
                    ReadableText {
                        objectName: "coachError"
                        visible: root.popoverState !== CoachingRules.Loading && root.error.length > 0
                        width: parent.width
                        text: root.error
                        textFormat: Text.PlainText
                        wrapMode: Text.Wrap
                        font: Theme.interfaceFont(14, Font.Normal)
                        color: Theme.attention
                    }
                    ReadableText {
                        objectName: "coachNote"
                        visible: root.offersStarter
                        width: parent.width
                        text: "This is a general prompt for this step, not a reading of what you just said."
                        textFormat: Text.PlainText
                        wrapMode: Text.Wrap
                        font: Theme.interfaceFont(12, Font.Normal)
                        color: Theme.muted
                    }
                    ReadableText {
                        objectName: "coachGuidance"
                        visible: root.popoverState !== CoachingRules.Loading
                        width: parent.width
                        text: root.shown.guidance
                        textFormat: Text.PlainText
                        wrapMode: Text.Wrap
                        font: Theme.interfaceFont(14, Font.Normal)
                        color: Theme.muted
                    }
                    Rectangle {
                        visible: root.popoverState !== CoachingRules.Loading
                        width: parent.width
                        height: words.implicitHeight + 24
                        radius: 10
                        color: Theme.withAlpha(root.accent, 0.08)

                        Column {
                            id: words
                            x: 12
                            y: 12
                            width: parent.width - 24
                            spacing: 6

                            TrackedLabel {
                                caption: "try saying"
                            }
                            ReadableText {
                                objectName: "coachWords"
                                width: parent.width
                                text: CoachingRules.quoted(root.shown.suggestedWords)
                                textFormat: Text.PlainText
                                wrapMode: Text.Wrap
                                font: Theme.display(17, Font.Medium)
                                color: Theme.ink
                            }
                        }
                    }
                    SecondaryButton {
                        objectName: "readAgain"
                        visible: root.offersStarter
                        text: "Read the conversation again"
                        onClicked: root.retry()
                        onActiveFocusChanged: {
                            if (activeFocus)
                                scroller.contentY = Math.max(0, scroller.contentHeight - scroller.height)
                        }
                    }
                }
            }
        }
    }
}
