import QtQuick
import Lumora.Theme

// The standard content card: paper on a faint rule, filling the available width, over a soft
// navy shadow.
Item {
    id: root

    default property alias content: column.data
    property alias spacing: column.spacing
    // The outline: the faint rule, or a stronger one where the card is a button under the
    // pointer.
    property color outline: Theme.rule
    // A card that grows frame by frame (a long transcript coming in) waits for its shadow until
    // it is whole: the shadow's layer would be made and blurred again at every growth.
    property bool growing: false

    implicitWidth: column.implicitWidth + 40
    implicitHeight: column.implicitHeight + 40

    Rectangle {
        anchors.fill: parent
        radius: 16
        color: Theme.withAlpha(Theme.paper, 0.96)
        border.color: root.outline
        border.width: 1
        // The software renderer has no shaders: there the card goes without its shadow rather
        // than without its paper. The shadow's blur is a shader built and compiled at run time
        // and its layer a texture of the card's size: made only while the card is on screen,
        // not for the cards of pages that are hidden, and not for a card taller than a few
        // screens (a long transcript), whose texture would be blurred again at each growth and
        // past the largest texture would fail, taking the paper with it.
        layer.enabled: root.visible && !root.growing && root.height <= 4096 && Shadows.card !== null
                       && GraphicsInfo.api !== GraphicsInfo.Software
        layer.effect: Shadows.card
    }
    Column {
        id: column
        x: 20
        y: 20
        width: root.width - 40
        spacing: 16
    }
}
