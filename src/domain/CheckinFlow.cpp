#include "domain/CheckinFlow.hpp"

#include "domain/CheckinSection.hpp"

#include <algorithm>

namespace lumora {

namespace {

// Not-a-number fails the comparison and so counts as 0 too.
double atLeastZero(double seconds)
{
    return seconds > 0 ? seconds : 0;
}

} // namespace

CheckinFlow::CheckinFlow(qint64 sectionCount, qint64 index, double sectionOpenedAtElapsed)
    : m_sectionCount(std::max<qint64>(sectionCount, 1))
    , m_index(std::clamp<qint64>(index, 0, m_sectionCount - 1))
    , m_sectionOpenedAtElapsed(atLeastZero(sectionOpenedAtElapsed))
{
}

bool CheckinFlow::advance(double elapsed)
{
    if (isLast())
        return false;
    ++m_index;
    m_sectionOpenedAtElapsed = atLeastZero(elapsed);
    return true;
}

bool CheckinFlow::goBack(double elapsed)
{
    if (isFirst())
        return false;
    --m_index;
    m_sectionOpenedAtElapsed = atLeastZero(elapsed);
    return true;
}

void CheckinFlow::restart(double elapsed)
{
    m_index = 0;
    m_sectionOpenedAtElapsed = atLeastZero(elapsed);
}

double CheckinFlow::elapsedInSection(double elapsed) const
{
    return atLeastZero(elapsed - m_sectionOpenedAtElapsed);
}

bool CheckinFlow::isPastSuggestion(const CheckinSection& section, double elapsed) const
{
    const double limit = section.suggestedSeconds();
    return limit > 0 && elapsedInSection(elapsed) > limit;
}

} // namespace lumora
