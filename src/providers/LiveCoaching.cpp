#include "providers/LiveCoaching.hpp"

#include "providers/InertAnalysisProvider.hpp"

namespace lumora {

std::shared_ptr<const AnalysisProvider> LiveCoaching::analyzer(
    ConversationMode mode, std::shared_ptr<const AnalysisProvider> client)
{
    switch (mode) {
    case ConversationMode::conversation:
        return client;
    case ConversationMode::checkin:
        break;
    }
    return std::make_shared<const InertAnalysisProvider>();
}

} // namespace lumora
