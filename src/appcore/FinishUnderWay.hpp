#pragma once

namespace lumora {

// What becomes of a conversation's finish under way when the conversation is given up: it goes
// on and saves its review (a sign-out, a quit without a choice keep the conversation), or, for a
// conversation the user discarded or an account being deleted, it ends before anything more is
// asked or saved.
enum class FinishUnderWay { kept, discarded };

} // namespace lumora
