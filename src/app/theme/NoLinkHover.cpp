#include "NoLinkHover.hpp"

#include <QMetaMethod>
#include <QQuickItem>

namespace lumora {

void NoLinkHover::componentComplete()
{
    auto* text = qobject_cast<QQuickItem*>(parent());
    if (!text)
        return;
    const QMetaMethod off = metaObject()->method(metaObject()->indexOfSlot("turnOff()"));
    const QMetaObject* type = text->metaObject();
    for (const char* signal : { "textChanged", "textFormatChanged" }) {
        for (int at = 0; at < type->methodCount(); ++at) {
            const QMetaMethod method = type->method(at);
            if (method.methodType() == QMetaMethod::Signal && method.name() == signal)
                connect(text, method, this, off);
        }
    }
    turnOff();
}

void NoLinkHover::turnOff()
{
    if (auto* text = qobject_cast<QQuickItem*>(parent()))
        text->setAcceptHoverEvents(false);
}

} // namespace lumora
