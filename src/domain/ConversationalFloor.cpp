#include "domain/ConversationalFloor.hpp"

#include "domain/Seat.hpp"

namespace lumora {

ConversationalFloor::ConversationalFloor(
    qint64 speaker, double startedAt, std::optional<double> confidence, qint64 interjections)
    : speaker(seatOf(speaker))
    , startedAt(startedAt)
    , confidence(confidence)
    , interjections(interjections)
{
}

} // namespace lumora
