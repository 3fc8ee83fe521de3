import QtQuick
import Qt5Compat.GraphicalEffects

// The shadow of a card floating over a room: wide and dark.
DropShadow {
    transparentBorder: true
    color: Qt.rgba(0, 0, 0, 0.33)
    radius: 30
    samples: 61
}
