import Lumora.Theme

// A failure over the check-in room: the start error banner itself, which the check-in room
// places without a transition and as wide as it may be.
ConversationStartErrorBanner {
    animated: false
}
