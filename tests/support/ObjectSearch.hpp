#pragma once

#include <QList>
#include <QObject>
#include <QQuickItem>
#include <QSet>
#include <QString>

namespace lumora::testing {

// The first object under `root` (itself included) that `matches`, through both the QObject and
// the item tree: items a Repeater makes have their place in the item tree only, popups in the
// QObject tree only.
template <typename Matches> QObject* searchUnder(QObject* root, Matches matches)
{
    QList<QObject*> pending { root };
    QSet<QObject*> seen;
    while (!pending.isEmpty()) {
        QObject* object = pending.takeFirst();
        if (!object || seen.contains(object))
            continue;
        seen.insert(object);
        if (matches(object))
            return object;
        pending.append(object->children());
        if (auto* item = qobject_cast<QQuickItem*>(object)) {
            for (QQuickItem* child : item->childItems())
                pending.append(child);
        }
    }
    return nullptr;
}

// The object of that name under `root`.
inline QObject* findUnder(QObject* root, const QString& name)
{
    return searchUnder(root, [&](const QObject* object) { return object->objectName() == name; });
}

// Every object of that name under `root`.
inline QList<QObject*> allUnder(QObject* root, const QString& name)
{
    QList<QObject*> found;
    searchUnder(root, [&](QObject* object) {
        if (object->objectName() == name)
            found.append(object);
        return false;
    });
    return found;
}

} // namespace lumora::testing
