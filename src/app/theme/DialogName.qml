import QtQuick
import QtQuick.Templates as T

// Names a popup for a screen reader: the popup's own item, which the desktop meets as a dialog
// (or a menu's as a menu), takes `name` (a Popup has no accessible name of its own).
Binding {
    id: root

    required property T.Popup popup
    property string name

    target: root.popup.contentItem ? root.popup.contentItem.parent : null
    property: "Accessible.name"
    value: root.name
}
