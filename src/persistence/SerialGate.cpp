#include "persistence/SerialGate.hpp"

#include <QCoreApplication>
#include <QTimer>

namespace lumora {

void SerialGate::leave()
{
    m_busy = false;
    if (m_waiting.empty())
        return;
    const std::coroutine_handle<> next = m_waiting.front();
    m_waiting.pop_front();
    // The next operation owns the gate from now on; it continues from the event loop, not
    // inside the destructor of the pass that was just given up.
    m_busy = true;
    QTimer::singleShot(0, QCoreApplication::instance(), [next] { next.resume(); });
}

} // namespace lumora
