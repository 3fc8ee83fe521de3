import QtQuick
import QtQuick.Controls
import Lumora.Theme

// The faint rule between groups of a menu.
MenuSeparator {
    topPadding: 4
    bottomPadding: 4
    leftPadding: 14
    rightPadding: 14
    contentItem: Rectangle {
        implicitHeight: 1
        color: Theme.rule
    }
}
