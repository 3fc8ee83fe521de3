pragma Singleton
import QtQuick
import Lumora.Theme

// The palette, its role aliases and the faces every screen draws with.
QtObject {
    id: root

    // The colours are the C++ palette's, which painted items read as well.
    readonly property color navy: ThemePalette.navy
    readonly property color navySoft: ThemePalette.navySoft
    readonly property color ivory: ThemePalette.ivory
    readonly property color paper: ThemePalette.paper
    readonly property color sand: ThemePalette.sand
    readonly property color sage: ThemePalette.sage
    readonly property color sageDark: ThemePalette.sageDark
    readonly property color blue: ThemePalette.blue
    readonly property color blueDark: ThemePalette.blueDark
    readonly property color blush: ThemePalette.blush
    readonly property color blushDark: ThemePalette.blushDark
    readonly property color gray: ThemePalette.gray
    readonly property color rule: ThemePalette.rule
    readonly property color warning: ThemePalette.warning

    readonly property color ink: ThemePalette.ink
    readonly property color muted: ThemePalette.muted
    readonly property color positive: ThemePalette.positive
    readonly property color information: ThemePalette.information
    readonly property color attention: ThemePalette.attention
    readonly property color focusRing: ThemePalette.focusRing

    readonly property font body: ThemeFonts.body
    readonly property font small: ThemeFonts.small
    readonly property font label: ThemeFonts.label

    // With reduce motion on, pressed controls do not scale and nothing animates.
    readonly property bool reduceMotion: MotionPreference.reduceMotion

    function display(size, weight) {
        return ThemeFonts.display(size, weight)
    }
    function displayItalic(size, weight) {
        return ThemeFonts.displayItalic(size, weight)
    }
    function interfaceFont(size, weight) {
        return ThemeFonts.interface(size, weight)
    }
    function figures(size, weight) {
        return ThemeFonts.figures(size, weight)
    }
    function tabular(size, letterSpacing) {
        return ThemeFonts.tabular(size, letterSpacing || 0)
    }
    function withAlpha(colour, alpha) {
        return Qt.rgba(colour.r, colour.g, colour.b, alpha)
    }
    // A control's fill under the pointer: three quarters of the way from its resting fill to its
    // pressed one, so that the pointer shows plainly and a press still shows on top of it.
    function hoverFill(resting, pressed) {
        return Qt.rgba(resting.r + (pressed.r - resting.r) * 0.75, resting.g + (pressed.g - resting.g) * 0.75,
            resting.b + (pressed.b - resting.b) * 0.75, resting.a + (pressed.a - resting.a) * 0.75)
    }
    // The fill of a control in its state: pressed, under the pointer, or at rest.
    function buttonFill(control, resting, pressed) {
        return control.down ? pressed : control.hovered ? hoverFill(resting, pressed) : resting
    }
}
