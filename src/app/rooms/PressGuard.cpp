#include "PressGuard.hpp"

#include <QLineF>

namespace lumora {

void PressGuard::rowChanged(Clock::time_point now)
{
    m_changedAt = now;
    m_pointerAtChange = m_pointer;
    m_pointerMoved = false;
}

void PressGuard::pointerAt(QPointF position)
{
    m_pointer = position;
    if (!m_pointerAtChange)
        m_pointerAtChange = position;
    else if (QLineF(*m_pointerAtChange, position).length() >= moveDistance)
        m_pointerMoved = true;
}

bool PressGuard::takesPresses(Clock::time_point now) const
{
    return !m_changedAt || m_pointerMoved || now - *m_changedAt >= settleTime;
}

} // namespace lumora
