#include "PrimaryAction.hpp"

namespace lumora {

PrimaryAction::Step PrimaryAction::choose(
    bool rehearsalActive, bool isRecording, bool isPaused, RoomModel::Readiness readiness)
{
    if (rehearsalActive)
        return Step::endRehearsal;
    if (isRecording || isPaused)
        return Step::finish;
    switch (readiness) {
    case RoomModel::NeedsRecordingAgreement:
    case RoomModel::NeedsSignIn:
        return Step::openSetup;
    case RoomModel::TemporarilyUnavailable:
        return Step::notReady;
    case RoomModel::Ready:
        break;
    }
    return Step::start;
}

} // namespace lumora
