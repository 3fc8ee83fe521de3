pragma ComponentBehavior: Bound
import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Lumora.Theme

// A menu of the menu bar in the theme: paper with the cards' faint outline, a sand highlight,
// disabled entries dimmed, and each entry's shortcut at its end.
Menu {
    id: root

    // A screen reader names the menu by its title, as it is drawn.
    DialogName {
        popup: root
        name: root.title.replace("&", "")
    }

    font: Theme.interfaceFont(13, Font.Normal)
    topPadding: 6
    bottomPadding: 6

    background: Rectangle {
        implicitWidth: 240
        radius: 8
        color: Theme.paper
        border.color: Theme.rule
    }
    delegate: MenuItem {
        id: entry

        // A screen reader hears the shortcut too, and its press triggers the entry as a click does.
        Accessible.description: entry.action ? String(entry.action.shortcut || "") : ""
        Accessible.ignored: !entry.visible
        Accessible.onPressAction: {
            if (entry.action)
                entry.action.trigger(entry)
            else
                entry.clicked()
        }
        implicitHeight: 32
        leftPadding: 14
        rightPadding: 14
        font: root.font

        contentItem: RowLayout {
            spacing: 24
            opacity: entry.enabled ? 1 : 0.46
            Text {
                Layout.fillWidth: true
                text: entry.text
                textFormat: Text.PlainText
                elide: Text.ElideRight
                font: entry.font
                color: Theme.ink
            }
            Text {
                objectName: "shortcut"
                text: entry.action ? String(entry.action.shortcut || "") : ""
                visible: text.length > 0
                textFormat: Text.PlainText
                font: entry.font
                color: Theme.muted
            }
        }
        // The keyboard's entry shows its ring too, inside the menu's edges, which cut off
        // anything drawn outside them.
        background: Rectangle {
            x: 6
            y: 2
            width: entry.width - 12
            height: entry.height - 4
            radius: 6
            color: entry.highlighted && entry.enabled ? Theme.sand : "transparent"
            FocusRing {
                objectName: "focusRing"
                anchors.margins: -2
                visible: entry.visualFocus
                controlRadius: 6
            }
        }
    }
}
