#include "ShownRows.hpp"

#include <QMetaMethod>
#include <algorithm>

namespace lumora {

namespace {

const char* const shownProperty = "shown";

} // namespace

void ShownRows::setPage(QQuickItem* page)
{
    if (page == m_page)
        return;
    if (m_page)
        disconnect(m_page, nullptr, this, nullptr);
    m_page = page;
    follow(page, { "contentYChanged", "heightChanged", "contentHeightChanged" });
    emit pageChanged();
    update();
}

void ShownRows::setRows(QQuickItem* rows)
{
    if (rows == m_rows)
        return;
    if (m_rows)
        disconnect(m_rows, nullptr, this, nullptr);
    m_rows = rows;
    // A column sets its height once it has placed its rows.
    follow(rows, { "heightChanged" });
    m_first = 0;
    m_last = -1;
    emit rowsChanged();
    update();
}

std::pair<qsizetype, qsizetype> ShownRows::meeting(const QList<QQuickItem*>& rows, qreal top, qreal bottom)
{
    const auto first = std::partition_point(
        rows.begin(), rows.end(), [top](const QQuickItem* row) { return row->y() + row->height() < top; });
    const auto end = std::partition_point(
        first, rows.end(), [bottom](const QQuickItem* row) { return row->y() <= bottom; });
    return { first - rows.begin(), end - rows.begin() - 1 };
}

void ShownRows::follow(QQuickItem* item, const QList<const char*>& signalNames)
{
    if (!item)
        return;
    const QMetaMethod slot = metaObject()->method(metaObject()->indexOfSlot("update()"));
    for (const char* name : signalNames) {
        const int signal = item->metaObject()->indexOfSignal(QByteArray(name) + "()");
        if (signal >= 0)
            connect(item, item->metaObject()->method(signal), this, slot);
    }
}

QList<QQuickItem*> ShownRows::rowItems() const
{
    QList<QQuickItem*> rows;
    if (!m_rows)
        return rows;
    for (QQuickItem* child : m_rows->childItems()) {
        if (child->metaObject()->indexOfProperty(shownProperty) >= 0)
            rows.append(child);
    }
    return rows;
}

void ShownRows::update()
{
    if (!m_page || !m_rows)
        return;
    const auto* content = m_page->property("contentItem").value<QQuickItem*>();
    if (!content)
        return;
    // The page's view in the column's own coordinates, a page's height more on each side.
    const qreal height = m_page->height();
    const qreal top = m_rows->mapFromItem(content, QPointF(0, m_page->property("contentY").toReal())).y();
    const QList<QQuickItem*> rows = rowItems();
    const auto [first, last] = meeting(rows, top - height, top + 2 * height);
    // Rows left hidden were never shown or were hidden before.
    const qsizetype from = std::min(first, m_first);
    const qsizetype to = std::min(std::max(last, m_last), rows.size() - 1);
    for (qsizetype row = from; row <= to; ++row) {
        const bool shown = row >= first && row <= last;
        if (rows.at(row)->property(shownProperty).toBool() != shown)
            rows.at(row)->setProperty(shownProperty, shown);
    }
    m_first = first;
    m_last = last;
}

} // namespace lumora
