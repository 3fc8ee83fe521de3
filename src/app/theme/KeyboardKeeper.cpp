#include "KeyboardKeeper.hpp"

#include "CoveredContent.hpp"
#include "FocusHandOff.hpp"

#include <QAccessible>
#include <QQuickItem>
#include <QQuickWindow>
#include <QSet>
#include <QVariant>

namespace lumora {

namespace {

// What Tab comes to: it takes the keyboard from Tab, shows and is enabled.
bool isControl(const QQuickItem* item)
{
    return item && item->activeFocusOnTab() && item->isVisible() && item->isEnabled();
}

// The popup the item lies in, itself included.
QQuickItem* popupOf(QQuickItem* item)
{
    for (QQuickItem* inside = item; inside; inside = inside->parentItem()) {
        if (inside->inherits("QQuickPopupItem"))
            return inside;
    }
    return nullptr;
}

// What a screen reader tells a control by beside its name: which one of controls that read
// alike it is (a seat's, a card's).
QString descriptionOf(QQuickItem& control)
{
    const QAccessibleInterface* reader = QAccessible::queryAccessibleInterface(&control);
    return reader ? reader->text(QAccessible::Description) : QString();
}

// Where the keyboard may be now: in the dialog drawn over every other one, or anywhere in the
// window while none is up.
QQuickItem& roomOf(QQuickWindow& window)
{
    for (QQuickItem* child : window.contentItem()->childItems()) {
        QQuickItem* dialog = child->inherits("QQuickOverlay") ? CoveredContent::topDialog(*child) : nullptr;
        if (dialog)
            return *dialog;
    }
    return *window.contentItem();
}

// A control the person can reach in `room`: nothing covers it.
bool reaches(const QQuickItem& room, QQuickItem* item)
{
    return isControl(item) && room.isAncestorOf(item) && !CoveredContent::liesCovered(*item);
}

} // namespace

KeyboardKeeper& KeyboardKeeper::of(QQuickWindow& window)
{
    if (auto* keeper = window.findChild<KeyboardKeeper*>(QString(), Qt::FindDirectChildrenOnly))
        return *keeper;
    return *new KeyboardKeeper(window);
}

KeyboardKeeper::KeyboardKeeper(QQuickWindow& window)
    : QObject(&window)
    , m_window(window)
{
    // Once the changes that moved the keyboard have all been made.
    m_settled.setSingleShot(true);
    m_settled.setInterval(0);
    connect(&m_settled, &QTimer::timeout, this, &KeyboardKeeper::land);
    connect(&window, &QQuickWindow::activeFocusItemChanged, this, &KeyboardKeeper::focusMoved);
    // What changed while the window had not the focus settles as it has it again.
    connect(&window, &QWindow::activeChanged, this, &KeyboardKeeper::focusMoved);
    focusMoved();
}

void KeyboardKeeper::add(FocusHandOff& handOff)
{
    if (!m_handOffs.contains(&handOff))
        m_handOffs.append(&handOff);
}

void KeyboardKeeper::remove(FocusHandOff& handOff)
{
    m_handOffs.removeAll(&handOff);
    m_handOffs.removeAll(nullptr);
}

void KeyboardKeeper::handOffReady()
{
    m_settled.start();
}

void KeyboardKeeper::focusMoved()
{
    // The window lost the focus, which leaves the keyboard where it is: Qt gives it back there
    // as the window has the focus again.
    if (!m_window.isActive())
        return;
    QQuickItem* item = m_window.activeFocusItem();
    if (item != m_parked)
        m_parked = nullptr;
    if (isControl(item)) {
        if (item != m_last.control)
            follow(*item);
        keepRing(*item);
    } else {
        m_settled.start();
    }
}

void KeyboardKeeper::follow(QQuickItem& control)
{
    for (const QMetaObject::Connection& connection : std::as_const(m_followed))
        disconnect(connection);
    m_last = { &control, control.objectName(), descriptionOf(control), {}, true };
    for (QQuickItem* part = control.parentItem(); part; part = part->parentItem())
        m_last.around.append(part);
    // It hides or turns disabled while it has the keyboard, or comes back from being disabled.
    const auto settle = [this] { m_settled.start(); };
    m_followed = { connect(&control, &QQuickItem::visibleChanged, this, settle),
        connect(&control, &QQuickItem::enabledChanged, this, settle),
        connect(&control, &QObject::destroyed, this, settle) };
}

void KeyboardKeeper::keepRing(QQuickItem& control)
{
    const QVariant reason = control.property("focusReason");
    // A control that draws its ring while it has the keyboard at all (the room's mark).
    if (!reason.isValid())
        return;
    switch (Qt::FocusReason(reason.toInt())) {
    case Qt::TabFocusReason:
    case Qt::BacktabFocusReason:
    case Qt::ShortcutFocusReason:
        m_ringShowed = true;
        break;
    case Qt::MouseFocusReason:
        m_ringShowed = false;
        break;
    default:
        if (m_ringShowed)
            control.setProperty("focusReason", int(Qt::TabFocusReason));
        break;
    }
}

void KeyboardKeeper::land()
{
    if (!m_window.isActive())
        return;
    QQuickItem* now = m_window.activeFocusItem();
    const bool parked = now == m_parked && isControl(now);
    if (!parked) {
        if (!strayed(now) || takenByPopup(now))
            return;
        m_left = m_last;
    }
    QQuickItem& room = roomOf(m_window);
    QQuickItem* next = handOffTo(room, true);
    // Busy: Qt gives it the keyboard back as it turns enabled.
    if (!next && m_left.control && m_left.control->isVisible() && !m_left.control->isEnabled())
        return;
    QQuickItem* part = parked ? nullptr : shownAround();
    if (!next && part && !m_left.name.isEmpty())
        next = controlIn(room, *part, nullptr, true);
    if (!next)
        next = handOffTo(room, false);
    if (next) {
        moveOn(*next, false);
    } else if (!parked && m_left.any) {
        if (QQuickItem* first = landing(room, part))
            moveOn(*first, true);
    }
}

QQuickItem* KeyboardKeeper::handOffTo(const QQuickItem& room, bool fromLeft) const
{
    for (const QPointer<FocusHandOff>& handOff : m_handOffs) {
        if (!handOff || !handOff->ready() || !reaches(room, handOff->to()))
            continue;
        if (fromLeft ? handOff->from() && handOff->from() == m_left.control : handOff->takesStrayKeyboard())
            return handOff->to();
    }
    return nullptr;
}

QQuickItem* KeyboardKeeper::shownAround() const
{
    if (m_left.control && m_left.control->isVisible())
        return nullptr;
    for (const QPointer<QQuickItem>& part : m_left.around) {
        if (part && part->isVisible())
            return part;
    }
    return nullptr;
}

QQuickItem* KeyboardKeeper::landing(QQuickItem& room, QQuickItem* shown) const
{
    QQuickItem* lost = m_left.control;
    for (qsizetype index = shown ? m_left.around.indexOf(shown) : m_left.around.size();
         index < m_left.around.size(); ++index) {
        QQuickItem* part = m_left.around.at(index);
        if (!part || !part->isVisible() || !(part == &room || room.isAncestorOf(part)))
            continue;
        // After the lost control where Tab would go on from it, else from the part's start; a
        // closed popup's order is its own.
        const bool inOrder = lost && part->isAncestorOf(lost) && popupOf(lost) == popupOf(part);
        if (QQuickItem* next = inOrder ? controlIn(room, *part, lost, false) : nullptr)
            return next;
        if (QQuickItem* first = controlIn(room, *part, nullptr, false))
            return first;
    }
    return controlIn(room, room, nullptr, false);
}

QQuickItem* KeyboardKeeper::controlIn(
    const QQuickItem& room, QQuickItem& part, QQuickItem* from, bool madeAnew) const
{
    QSet<QQuickItem*> passed;
    for (QQuickItem* item = from ? from : &part; item && !passed.contains(item);) {
        passed.insert(item);
        item = item->nextItemInFocusChain(true);
        if (!item || !part.isAncestorOf(item))
            return nullptr;
        if (item == m_left.control || !reaches(room, item))
            continue;
        if (!madeAnew || (item->objectName() == m_left.name && descriptionOf(*item) == m_left.description))
            return item;
    }
    return nullptr;
}

void KeyboardKeeper::moveOn(QQuickItem& control, bool parks)
{
    m_parked = parks ? &control : nullptr;
    control.forceActiveFocus(m_ringShowed ? Qt::TabFocusReason : Qt::OtherFocusReason);
}

bool KeyboardKeeper::strayed(QQuickItem* item) const
{
    if (isControl(item))
        return false;
    if (!item || !item->isVisible() || !item->isEnabled())
        return true;
    // It fell back to what the control lay in, or the control has gone; a text the person
    // pressed to select in holds it.
    const QQuickItem* last = m_last.control;
    return !isControl(last) || item->isAncestorOf(last);
}

bool KeyboardKeeper::takenByPopup(QQuickItem* item) const
{
    QQuickItem* popup = popupOf(item);
    return popup && popup->isVisible() && !m_last.around.contains(popup);
}

} // namespace lumora
