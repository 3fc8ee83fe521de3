#include "PartnerCornerState.hpp"

#include "CoachingRules.hpp"
#include "domain/ConversationPresentation.hpp"

namespace lumora {

PartnerCornerState::PartnerCornerState(QObject* parent)
    : QObject(parent)
{
    read();
}

void PartnerCornerState::setMoments(const RoomMoments& moments)
{
    if (moments == m_moments)
        return;
    m_moments = moments;
    emit momentsChanged();
    read();
}

void PartnerCornerState::setCanonicalSide(int side)
{
    if (side == m_side)
        return;
    m_side = side;
    emit canonicalSideChanged();
    read();
}

void PartnerCornerState::setSuggestion(const QString& suggestion)
{
    if (suggestion == m_suggestion)
        return;
    m_suggestion = suggestion;
    emit suggestionChanged();
    read();
}

void PartnerCornerState::setStarter(const QString& starter)
{
    if (starter == m_starter)
        return;
    m_starter = starter;
    emit starterChanged();
    read();
}

void PartnerCornerState::read()
{
    const auto counts = ConversationPresentation::warmHard(m_moments.annotations, m_moments.fouls, m_side);
    const std::optional<BehaviorCode> latest = CoachingRules::latestCoach(m_moments.annotations, m_side);
    m_warm = static_cast<int>(counts.warm);
    m_hard = static_cast<int>(counts.hard);
    m_latestCoach = latest ? toString(*latest) : QString();
    m_genericStarter = CoachingRules::genericStarter(latest, m_suggestion, m_starter);
    emit readingChanged();
}

} // namespace lumora
