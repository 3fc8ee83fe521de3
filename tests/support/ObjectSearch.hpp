#pragma once

#include <QList>
#include <QObject>
#include <QQuickItem>
#include <QSet>
#include <QString>

namespace lumora::testing {

// The object of that name under `root`, through both the QObject and the item tree: items a
// Repeater makes have their place in the item tree only, popups in the QObject tree only.
inline QObject* findUnder(QObject* root, const QString& name)
{
    QList<QObject*> pending { root };
    QSet<QObject*> seen;
    while (!pending.isEmpty()) {
        QObject* object = pending.takeFirst();
        if (!object || seen.contains(object))
            continue;
        seen.insert(object);
        if (object->objectName() == name)
            return object;
        pending.append(object->children());
        if (auto* item = qobject_cast<QQuickItem*>(object)) {
            for (QQuickItem* child : item->childItems())
                pending.append(child);
        }
    }
    return nullptr;
}

} // namespace lumora::testing
