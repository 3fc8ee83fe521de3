import QtQuick
import Lumora.Theme

// The faint rule between the rows of a card.
Rectangle {
    implicitHeight: 1
    height: 1
    color: Theme.rule
    opacity: 0.36
}
