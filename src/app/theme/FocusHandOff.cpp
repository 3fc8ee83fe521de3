#include "FocusHandOff.hpp"

#include "KeyboardKeeper.hpp"

#include <QQuickWindow>

namespace lumora {

FocusHandOff::FocusHandOff(QQuickItem* parent)
    : QQuickItem(parent)
{
}

FocusHandOff::~FocusHandOff()
{
    if (m_keeper)
        m_keeper->remove(*this);
}

void FocusHandOff::setFrom(QQuickItem* from)
{
    if (m_from == from)
        return;
    m_from = from;
    emit fromChanged();
}

void FocusHandOff::setTo(QQuickItem* to)
{
    if (m_to == to)
        return;
    for (const QMetaObject::Connection& connection : std::as_const(m_watched))
        disconnect(connection);
    m_watched.clear();
    m_to = to;
    if (to) {
        m_watched = { connect(to, &QQuickItem::visibleChanged, this, &FocusHandOff::noteReady),
            connect(to, &QQuickItem::enabledChanged, this, &FocusHandOff::noteReady),
            connect(to, &QObject::destroyed, this, &FocusHandOff::noteReady) };
    }
    emit toChanged();
    noteReady();
}

void FocusHandOff::setTakesStrayKeyboard(bool takes)
{
    if (m_takesStrayKeyboard == takes)
        return;
    m_takesStrayKeyboard = takes;
    emit takesStrayKeyboardChanged();
    if (takes && m_ready && m_keeper)
        m_keeper->handOffReady();
}

bool FocusHandOff::ready() const
{
    return m_to && m_to->isVisible() && m_to->isEnabled();
}

void FocusHandOff::noteReady()
{
    const bool ready = this->ready();
    if (ready == m_ready)
        return;
    m_ready = ready;
    if (ready && m_keeper)
        m_keeper->handOffReady();
}

void FocusHandOff::itemChange(ItemChange change, const ItemChangeData& data)
{
    QQuickItem::itemChange(change, data);
    if (change != ItemSceneChange)
        return;
    if (m_keeper)
        m_keeper->remove(*this);
    m_keeper = data.window ? &KeyboardKeeper::of(*data.window) : nullptr;
    if (m_keeper) {
        m_keeper->add(*this);
        if (m_ready)
            m_keeper->handOffReady();
    }
}

} // namespace lumora
