#include "ButtonAccessibility.hpp"

#include <QQuickItem>
#include <QQuickWindow>
#include <QtQml/qqml.h>
#include <algorithm>

namespace lumora {

namespace {

// The item's `Accessible` attached object, a child of the item; an item without one is not in
// the tree a screen reader meets, as Qt Quick decides.
QObject* accessibleChildOf(const QQuickItem& item)
{
    const QObjectList& children = item.children();
    const auto found = std::ranges::find_if(children, [](const QObject* child) {
        return qstrcmp(child->metaObject()->className(), "QQuickAccessibleAttached") == 0;
    });
    return found == children.end() ? nullptr : *found;
}

// Whether the item is drawn in a window.
bool isShown(const QQuickItem& item)
{
    return item.window() && item.isVisible() && !qFuzzyIsNull(item.opacity());
}

QAccessibleInterface* presentButton(const QString& className, QObject* object)
{
    // Asked once for each class of the object from the most derived: a button class comes
    // before QQuickItem, for which Qt Quick makes its own.
    if (className != QLatin1String("QQuickAbstractButton"))
        return nullptr;
    auto* item = qobject_cast<QQuickItem*>(object);
    return item && accessibleChildOf(*item) ? new ButtonAccessibility(item) : nullptr;
}

} // namespace

void ButtonAccessibility::install()
{
    QAccessible::installFactory(presentButton);
}

ButtonAccessibility::ButtonAccessibility(QQuickItem* item)
    : QAccessibleObject(item)
{
}

// The item's `Accessible` attached object that its QML writes to and Qt Quick reads; asked each
// time, as the first question may come while the object is still being made. (A control may
// hold a second of the same class that nothing writes.)
QObject* ButtonAccessibility::attached() const
{
    const QObject* child = accessibleChildOf(*item());
    return child ? qmlAttachedPropertiesObject(
               item(), qmlAttachedPropertiesFunction(nullptr, child->metaObject()), false)
                 : nullptr;
}

QQuickItem* ButtonAccessibility::item() const
{
    return static_cast<QQuickItem*>(object());
}

QWindow* ButtonAccessibility::window() const
{
    return item()->window();
}

QAccessibleInterface* ButtonAccessibility::parent() const
{
    // The nearest item that a screen reader meets, or the window in place of its content item.
    QQuickWindow* window = item()->window();
    for (QQuickItem* above = item()->parentItem(); above; above = above->parentItem()) {
        if (window && above == window->contentItem())
            return QAccessible::queryAccessibleInterface(window);
        if (QAccessibleInterface* found = QAccessible::queryAccessibleInterface(above))
            return found;
    }
    return nullptr;
}

QAccessibleInterface* ButtonAccessibility::child(int) const
{
    return nullptr;
}

int ButtonAccessibility::childCount() const
{
    return 0;
}

int ButtonAccessibility::indexOfChild(const QAccessibleInterface*) const
{
    return -1;
}

QString ButtonAccessibility::text(QAccessible::Text kind) const
{
    const QObject* values = attached();
    if (!values)
        return {};
    if (kind == QAccessible::Name)
        return values->property("name").toString();
    if (kind == QAccessible::Description)
        return values->property("description").toString();
    return {};
}

QRect ButtonAccessibility::rect() const
{
    const QQuickItem* button = item();
    if (!isShown(*button))
        return {};
    const QPoint scene = button->mapToScene(QPointF(0, 0)).toPoint();
    return { button->window()->mapToGlobal(scene), QSize(int(button->width()), int(button->height())) };
}

// A control that names no role of its own is a button, as Qt Quick has it. Qt Quick 6.4 writes
// a control's role from its class as a screen reader starts listening, over what its QML says,
// and some say the wrong thing: a menu bar's title calls itself a menu bar (it is an item of the
// bar); a switch that a click does not toggle by itself (it moves when its model says so) and a
// button that a click turns on and off call themselves push buttons (each is on or off, as a
// check box is).
QAccessible::Role ButtonAccessibility::role() const
{
    if (item()->inherits("QQuickMenuBarItem"))
        return QAccessible::MenuItem;
    if (item()->inherits("QQuickSwitch"))
        return QAccessible::CheckBox;
    const QObject* values = attached();
    const auto role = values ? values->property("role").value<QAccessible::Role>() : QAccessible::NoRole;
    if (role == QAccessible::NoRole)
        return QAccessible::Button;
    if (role == QAccessible::Button && item()->property("checkable").toBool())
        return QAccessible::CheckBox;
    return role;
}

QAccessible::State ButtonAccessibility::state() const
{
    QAccessible::State state;
    const QQuickItem* button = item();
    if (const QObject* values = attached()) {
        state.selected = values->property("selected").toBool();
        // A check box is checkable by what it is: Qt Quick sets the value from the control,
        // which a switch that moves only when its model says so is not.
        state.checkable = values->property("checkable").toBool() || role() == QAccessible::CheckBox;
        state.checked = values->property("checked").toBool();
        state.pressed = values->property("pressed").toBool();
        state.defaultButton = values->property("defaultButton").toBool();
        state.focusable = values->property("focusable").toBool();
    }
    if (!isShown(*button) || !button->window()->isVisible())
        state.invisible = true;
    if (button->activeFocusOnTab())
        state.focusable = true;
    if (button->hasActiveFocus())
        state.focused = true;
    if (!button->isEnabled()) {
        state.disabled = true;
        state.focusable = false;
    }
    return state;
}

void* ButtonAccessibility::interface_cast(QAccessible::InterfaceType type)
{
    if (type == QAccessible::ActionInterface)
        return static_cast<QAccessibleActionInterface*>(this);
    return QAccessibleObject::interface_cast(type);
}

// Every button of the views answers its press (and a switch its toggle) in QML.
QStringList ButtonAccessibility::actionNames() const
{
    if (!item()->isEnabled())
        return {};
    const QAccessible::State now = state();
    QStringList names;
    if (now.checkable)
        names.append(toggleAction());
    names.append(pressAction());
    if (now.focusable)
        names.append(setFocusAction());
    return names;
}

void ButtonAccessibility::doAction(const QString& name)
{
    // A disabled control does nothing, as a click on it does nothing.
    QObject* values = attached();
    if (!item()->isEnabled() || !values)
        return;
    if (name == setFocusAction())
        item()->forceActiveFocus(Qt::OtherFocusReason);
    else if (name == pressAction())
        QMetaObject::invokeMethod(values, "pressAction");
    else if (name == toggleAction())
        QMetaObject::invokeMethod(values, "toggleAction");
}

QStringList ButtonAccessibility::keyBindingsForAction(const QString&) const
{
    return {};
}

} // namespace lumora
