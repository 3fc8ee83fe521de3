#include "Announcement.hpp"

#include <QAccessible>
#include <QQuickWindow>
#include <QVariant>
#include <algorithm>

namespace lumora {

namespace {

// Room left round the message when it is brought into view.
constexpr qreal margin = 16;

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
    return m_item && m_item->isVisible() && !m_text.isEmpty();
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
    if (!window)
        return;
    disconnect(m_drawn);
    m_drawn
        = connect(window, &QQuickWindow::frameSwapped, this, &Announcement::announce, Qt::QueuedConnection);
    window->update();
}

void Announcement::announce()
{
    disconnect(m_drawn);
    if (!shows() || m_said != m_text)
        return;
    bringIntoView();
    QAccessibleEvent shown(m_item, QAccessible::ObjectShow);
    QAccessible::updateAccessibility(&shown);
}

void Announcement::bringIntoView()
{
    QQuickItem* page = m_item->parentItem();
    while (page && !page->inherits("QQuickFlickable"))
        page = page->parentItem();
    const auto* content = page ? page->property("contentItem").value<QQuickItem*>() : nullptr;
    if (!content)
        return;
    const QRectF area = m_item->mapRectToItem(content, QRectF(0, 0, m_item->width(), m_item->height()));
    const qreal top = page->property("contentY").toReal();
    const qreal last = std::max(0.0, page->property("contentHeight").toReal() - page->height());
    qreal wanted = top;
    if (area.bottom() + margin > top + page->height())
        wanted = area.bottom() + margin - page->height();
    if (area.top() - margin < wanted)
        wanted = area.top() - margin;
    page->setProperty("contentY", std::clamp(wanted, 0.0, last));
}

} // namespace lumora
