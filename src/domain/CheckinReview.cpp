#include "domain/CheckinReview.hpp"

namespace lumora {

DerivedSessionResult CheckinReview::gentled(DerivedSessionResult review)
{
    review.mode = ConversationMode::checkin;
    review.annotations.clear();
    review.fouls = QList<ProcessFoulAnnotation>();
    review.harshStartupDetected.reset();
    return review;
}

} // namespace lumora
