import QtQuick
import Lumora.Rooms

// One partner's corner as the room places it: the values the room works out for one display
// side, every seat's moments, and the coaching request through the room.
PartnerCorner {
    id: corner

    required property ConversationRoomState room
    required property partnerCornerValues values

    displaySide: corner.values.displaySide
    canonicalSide: corner.values.canonicalSide
    name: corner.values.name
    hasTurns: corner.values.hasTurns
    active: corner.values.active
    rehearsal: corner.values.rehearsal
    share: corner.values.share
    turns: corner.values.turns
    longestTurn: corner.values.longestTurn
    suggestion: corner.values.suggestion
    starter: corner.values.starter
    nudge: corner.values.nudge
    nudgeLoading: corner.values.nudgeLoading
    nudgeError: corner.values.nudgeError
    moments: corner.room.moments

    onGetUnstuck: corner.room.requestNudge(corner.values.canonicalSide)

    // A guidance card coming up closes the coaching popover, which would lie over the card.
    Connections {
        target: corner.room
        function onOverlayChanged() {
            if (corner.room.overlay !== ConversationRoomState.NoOverlay)
                corner.showNudge = false
        }
    }
}
