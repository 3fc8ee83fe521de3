pragma Singleton
import QtQuick
import Lumora.Theme

// The palette, its role aliases and the faces every screen draws with.
QtObject {
    id: root

    readonly property color navy: Qt.rgba(27 / 255, 44 / 255, 73 / 255, 1)
    readonly property color navySoft: Qt.rgba(49 / 255, 69 / 255, 99 / 255, 1)
    readonly property color ivory: Qt.rgba(248 / 255, 244 / 255, 236 / 255, 1)
    readonly property color paper: Qt.rgba(255 / 255, 253 / 255, 248 / 255, 1)
    readonly property color sand: Qt.rgba(237 / 255, 231 / 255, 220 / 255, 1)
    readonly property color sage: Qt.rgba(167 / 255, 184 / 255, 175 / 255, 1)
    readonly property color sageDark: Qt.rgba(78 / 255, 107 / 255, 96 / 255, 1)
    readonly property color blue: Qt.rgba(183 / 255, 201 / 255, 217 / 255, 1)
    readonly property color blueDark: Qt.rgba(83 / 255, 111 / 255, 135 / 255, 1)
    readonly property color blush: Qt.rgba(242 / 255, 214 / 255, 215 / 255, 1)
    readonly property color blushDark: Qt.rgba(147 / 255, 91 / 255, 96 / 255, 1)
    readonly property color gray: Qt.rgba(107 / 255, 113 / 255, 123 / 255, 1)
    readonly property color rule: Qt.rgba(221 / 255, 215 / 255, 204 / 255, 1)
    readonly property color warning: Qt.rgba(145 / 255, 96 / 255, 47 / 255, 1)

    readonly property color ink: navy
    readonly property color muted: gray
    readonly property color positive: sageDark
    readonly property color information: blueDark
    readonly property color attention: blushDark

    readonly property font body: ThemeFonts.body
    readonly property font small: ThemeFonts.small
    readonly property font label: ThemeFonts.label

    // With reduce motion on, pressed controls do not scale and nothing animates.
    property bool reduceMotion: false

    function display(size, weight) {
        return ThemeFonts.display(size, weight)
    }
    function interfaceFont(size, weight) {
        return ThemeFonts.interface(size, weight)
    }
    function tabular(size, letterSpacing) {
        return ThemeFonts.tabular(size, letterSpacing || 0)
    }
    function withAlpha(colour, alpha) {
        return Qt.rgba(colour.r, colour.g, colour.b, alpha)
    }
}
