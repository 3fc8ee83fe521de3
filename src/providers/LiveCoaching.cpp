#include "providers/LiveCoaching.hpp"

#include "providers/InertAnalysisProvider.hpp"

namespace lumora {

const AnalysisProvider& LiveCoaching::analyzer(ConversationMode mode, const AnalysisProvider& client)
{
    static const InertAnalysisProvider inert;
    switch (mode) {
    case ConversationMode::conversation:
        return client;
    case ConversationMode::checkin:
        break;
    }
    return inert;
}

} // namespace lumora
