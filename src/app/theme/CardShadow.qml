import QtQuick
import Qt5Compat.GraphicalEffects

// The standard content card's shadow: soft navy, just below it.
DropShadow {
    objectName: "cardShadow"
    transparentBorder: true
    color: Theme.withAlpha(Theme.navy, 0.06)
    radius: 16
    samples: 33
    horizontalOffset: 0
    verticalOffset: 4
}
