import QtQuick

// A text the user reads: a screen reader meets it as static text with its words as the name,
// while it shows.
Text {
    id: root

    Accessible.role: Accessible.StaticText
    Accessible.name: root.text
    Accessible.ignored: !root.visible
}
