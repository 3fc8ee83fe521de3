import QtQuick
import QtQuick.Controls

// A modal popup over the whole window, drawn like the sheets: ivory with a faint outline and
// rounded corners, over the theme's veil. It goes without the pages' glows: a closed popup leaves
// the window, and Qt 6.4's software renderer crashes on a Shape that comes back into one.
// Escape closes it unless the popup says otherwise. It is as tall as its content, at least
// `minimumHeight`, and never taller than the window allows.
Popup {
    id: root

    property real minimumHeight: 0
    // What a screen reader names the dialog, as its title reads.
    property string accessibleName

    DialogName {
        popup: root
        name: root.accessibleName
    }

    parent: Overlay.overlay
    anchors.centerIn: parent
    width: 440
    height: Math.min(Math.max(root.minimumHeight, root.implicitContentHeight + root.topPadding + root.bottomPadding),
        root.parent ? root.parent.height - 48 : Infinity)
    padding: 24
    modal: true
    focus: true
    closePolicy: Popup.CloseOnEscape

    Overlay.modal: Veil {}
    background: Rectangle {
        radius: 12
        color: Theme.ivory
        border.color: Theme.rule
    }
}
