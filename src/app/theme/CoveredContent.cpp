#include "CoveredContent.hpp"

#include <QAccessibleObject>
#include <QQmlContext>
#include <QQmlProperty>
#include <QQuickWindow>
#include <algorithm>

namespace lumora {

namespace {

// A screen reader's view of the content while it is covered: one node that shows nothing and
// holds nothing. While uncovered the content leaves the tree and its children stand in its
// place, as Qt Quick has them; this view is then asked only for its place.
class CoveredAccessibility : public QAccessibleObject {
public:
    explicit CoveredAccessibility(CoveredContent* content)
        : QAccessibleObject(content)
    {
    }

    [[nodiscard]] QWindow* window() const override { return content()->window(); }
    [[nodiscard]] QAccessibleInterface* parent() const override
    {
        QQuickWindow* window = content()->window();
        for (QQuickItem* above = content()->parentItem(); above; above = above->parentItem()) {
            if (window && above == window->contentItem())
                return QAccessible::queryAccessibleInterface(window);
            if (QAccessibleInterface* found = QAccessible::queryAccessibleInterface(above))
                return found;
        }
        return nullptr;
    }
    [[nodiscard]] QAccessibleInterface* child(int) const override { return nullptr; }
    [[nodiscard]] int childCount() const override { return 0; }
    [[nodiscard]] int indexOfChild(const QAccessibleInterface*) const override { return -1; }
    [[nodiscard]] QString text(QAccessible::Text) const override { return {}; }
    [[nodiscard]] QRect rect() const override { return {}; }
    [[nodiscard]] QAccessible::Role role() const override { return QAccessible::Client; }
    [[nodiscard]] QAccessible::State state() const override
    {
        QAccessible::State state;
        state.invisible = true;
        return state;
    }

private:
    [[nodiscard]] CoveredContent* content() const { return static_cast<CoveredContent*>(object()); }
};

QAccessibleInterface* presentCovered(const QString& className, QObject* object)
{
    if (className != QLatin1String(CoveredContent::staticMetaObject.className()))
        return nullptr;
    auto* content = qobject_cast<CoveredContent*>(object);
    return content ? new CoveredAccessibility(content) : nullptr;
}

// Whether the overlay's item `item` is a popup's that stops the window under it from being
// read: a modal one, or one that a screen reader meets as a named dialog (a popover, which
// closes at a press outside and lets that press through, is as much in front of what it lies
// over). Menus, tool tips and a list's drop-down are none of these.
bool isDialog(QQuickItem* item)
{
    // A popup's item lies in the overlay as a child of the popup itself.
    const QObject* popup = item->parent();
    if (!item->isVisible() || !popup || !popup->inherits("QQuickPopup"))
        return false;
    if (popup->property("modal").toBool())
        return true;
    const QAccessibleInterface* presented = QAccessible::queryAccessibleInterface(item);
    return presented && presented->role() == QAccessible::Dialog
        && !presented->text(QAccessible::Name).isEmpty();
}

// Whether `item` is drawn over `under`, both children of one parent: the higher z, or at the
// same z the later child.
bool drawnOver(const QQuickItem* item, const QQuickItem* under, const QList<QQuickItem*>& children)
{
    if (item->z() != under->z())
        return item->z() > under->z();
    return children.indexOf(item) > children.indexOf(under);
}

} // namespace

QQuickItem* CoveredContent::topDialog(const QQuickItem& dialogs)
{
    const QList<QQuickItem*> children = dialogs.childItems();
    QQuickItem* top = nullptr;
    for (QQuickItem* item : children) {
        if (isDialog(item) && (!top || drawnOver(item, top, children)))
            top = item;
    }
    return top;
}

bool CoveredContent::liesCovered(const QQuickItem& item)
{
    for (const QQuickItem* above = item.parentItem(); above; above = above->parentItem()) {
        const auto* content = qobject_cast<const CoveredContent*>(above);
        if (content && content->isCovered())
            return true;
    }
    return false;
}

void CoveredContent::install()
{
    QAccessible::installFactory(presentCovered);
}

CoveredContent::CoveredContent(QQuickItem* parent)
    : QQuickItem(parent)
{
}

void CoveredContent::setCovered(bool covered)
{
    if (m_covered == covered)
        return;
    m_covered = covered;
    emit coveredChanged();
    update();
}

void CoveredContent::setDialogs(QQuickItem* dialogs)
{
    if (m_dialogs == dialogs)
        return;
    if (m_dialogs)
        disconnect(m_dialogs, nullptr, this, nullptr);
    m_dialogs = dialogs;
    if (m_dialogs)
        connect(m_dialogs, &QQuickItem::childrenChanged, this, &CoveredContent::watchDialogs);
    emit dialogsChanged();
    watchDialogs();
}

void CoveredContent::watchDialogs()
{
    for (const QMetaObject::Connection& connection : std::as_const(m_watched))
        disconnect(connection);
    m_watched.clear();
    if (m_dialogs) {
        for (QQuickItem* item : m_dialogs->childItems())
            m_watched.append(connect(item, &QQuickItem::visibleChanged, this, &CoveredContent::update));
    }
    update();
}

void CoveredContent::componentComplete()
{
    QQuickItem::componentComplete();
    // Out of the tree while uncovered, so that its children stand in its place; one empty node
    // in it while covered. Found once, while the context that knows the QML type lives.
    m_ignored = QQmlProperty(this, QStringLiteral("Accessible.ignored"), qmlContext(this));
    m_ignored.write(!m_isCovered);
    update();
}

void CoveredContent::update()
{
    const bool isCovered = m_covered || (m_dialogs && dialogAbove());
    if (m_isCovered == isCovered)
        return;
    m_isCovered = isCovered;
    emit isCoveredChanged();
    if (m_ignored.isValid()) {
        m_ignored.write(!isCovered);
        QAccessibleEvent event(this, QAccessible::ObjectReorder);
        QAccessible::updateAccessibility(&event);
    }
}

bool CoveredContent::dialogAbove() const
{
    // Content in a popup (a sheet) lies under the dialogs drawn over the popup's own item only;
    // the window's content lies under every one.
    const QQuickItem* layer = this;
    while (layer && layer->parentItem() != m_dialogs)
        layer = layer->parentItem();
    const QList<QQuickItem*> children = m_dialogs->childItems();
    return std::ranges::any_of(children, [&](QQuickItem* item) {
        return item != layer && isDialog(item) && (!layer || drawnOver(item, layer, children));
    });
}

} // namespace lumora
