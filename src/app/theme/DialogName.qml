import QtQuick
import QtQuick.Controls

// Names a popup for a screen reader: the popup's own item, which the desktop meets as a dialog,
// takes `name` (a Popup has no accessible name of its own).
Binding {
    id: root

    required property Popup popup
    property string name

    target: root.popup.contentItem ? root.popup.contentItem.parent : null
    property: "Accessible.name"
    value: root.name
}
