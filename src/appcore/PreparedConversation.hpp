#pragma once

#include "providers/AccountRecords.hpp"

#include <QUrl>
#include <QUuid>

namespace lumora {

// What a prepared conversation hands its caller: where to record, the reservation, the
// credential of the live stream and the reservation's maximum exactly as granted.
struct PreparedConversation {
    // "recording.m4a" in the conversation's private temporary folder, as a file URL.
    QUrl audioURL;
    QUuid reservationID;
    DeepgramGrant liveGrant;
    double maximumSeconds = 0;

    bool operator==(const PreparedConversation&) const = default;
};

} // namespace lumora
