#include "CoveredContent.hpp"

#include <QAccessibleObject>
#include <QQmlContext>
#include <QQmlProperty>
#include <QQuickWindow>

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

} // namespace

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
    // A popup's item lies in the overlay as a child of the popup itself.
    bool underDialog = false;
    if (m_dialogs) {
        for (const QQuickItem* item : m_dialogs->childItems()) {
            const QObject* popup = item->parent();
            if (item->isVisible() && popup && popup->inherits("QQuickPopup")
                && popup->property("modal").toBool())
                underDialog = true;
        }
    }
    const bool isCovered = m_covered || underDialog;
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

} // namespace lumora
