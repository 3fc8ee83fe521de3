import QtQuick
import Lumora.Theme

// What lies under a sheet or a dialog, held back: washed towards paper, then shaded with navy,
// so that all of it dims alike. A navy shade alone leaves the navy parts (a dial's hub, the
// brand mark, a primary button) as they were while the rest darkens around them.
Rectangle {
    color: Theme.withAlpha(Theme.paper, 0.4)

    Rectangle {
        anchors.fill: parent
        color: Theme.withAlpha(Theme.navy, 0.2)
    }
}
