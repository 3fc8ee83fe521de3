#include "Announcement.hpp"

#include "CoveredContent.hpp"

#include <QAccessible>
#include <QQuickWindow>
#include <QVariant>
#include <algorithm>
#include <cmath>
#include <utility>

namespace lumora {

namespace {

// Room left round the message when it is brought into view.
constexpr qreal margin = 16;
// The most frames a message waits for its page to be laid out before it is said.
constexpr int settlingFrames = 10;

} // namespace

void Announcement::setItem(QQuickItem* item)
{
    if (m_item == item)
        return;
    disconnect(m_visibility);
    m_item = item;
    if (item)
        m_visibility = connect(item, &QQuickItem::visibleChanged, this, &Announcement::noteChange);
    emit itemChanged();
    noteChange();
}

void Announcement::setText(const QString& text)
{
    if (m_text == text)
        return;
    m_text = text;
    emit textChanged();
    noteChange();
}

void Announcement::componentComplete()
{
    m_made = true;
    m_said = shows() ? m_text : QString();
}

bool Announcement::shows() const
{
    return m_item && m_item->window() && m_item->isVisible() && !m_text.isEmpty();
}

void Announcement::noteChange()
{
    if (!m_made)
        return;
    if (!shows()) {
        m_said.clear();
        return;
    }
    if (m_said == m_text)
        return;
    m_said = m_text;
    QQuickWindow* window = m_item->window();
    m_laidOut = QRectF();
    m_frames = 0;
    disconnect(m_drawn);
    m_drawn
        = connect(window, &QQuickWindow::frameSwapped, this, &Announcement::afterFrame, Qt::QueuedConnection);
    window->update();
}

void Announcement::afterFrame()
{
    if (!shows() || m_said != m_text) {
        disconnect(m_drawn);
        return;
    }
    if (bringIntoView() && ++m_frames < settlingFrames) {
        m_item->window()->update();
        return;
    }
    disconnect(m_drawn);
    if (CoveredContent::liesCovered(*m_item))
        return;
    QAccessibleEvent shown(m_item, QAccessible::ObjectShow);
    QAccessible::updateAccessibility(&shown);
}

bool Announcement::bringIntoView()
{
    QQuickItem* page = m_item->parentItem();
    while (page && !page->inherits("QQuickFlickable"))
        page = page->parentItem();
    const auto* content = page ? page->property("contentItem").value<QQuickItem*>() : nullptr;
    const QRectF area = m_item->mapRectToItem(content, QRectF(0, 0, m_item->width(), m_item->height()));
    const bool moved = area != std::exchange(m_laidOut, area);
    if (!content)
        return moved;
    const qreal top = page->property("contentY").toReal();
    const qreal last = std::max(0.0, page->property("contentHeight").toReal() - page->height());
    qreal wanted = top;
    if (area.bottom() + margin > top + page->height())
        wanted = area.bottom() + margin - page->height();
    if (area.top() - margin < wanted)
        wanted = area.top() - margin;
    wanted = std::clamp(wanted, 0.0, last);
    if (std::abs(wanted - top) < 0.5)
        return moved;
    page->setProperty("contentY", wanted);
    return true;
}

} // namespace lumora
