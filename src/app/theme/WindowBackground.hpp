#pragma once

#include <QQuickPaintedItem>
#include <QtQml/qqmlregistration.h>

namespace lumora {

// The background of full pages: ivory with a blush glow from the top right and a sage glow from
// the bottom left, each a colour fading to clear between two circles around its corner. It is
// painted when the page's size changes and drawn from that painting at every other frame: filled
// as gradients, the glows were worked out again, pixel by pixel, wherever anything moved over
// them (the live transcript, at every new turn).
class WindowBackground : public QQuickPaintedItem {
    Q_OBJECT
    QML_ELEMENT

public:
    explicit WindowBackground(QQuickItem* parent = nullptr);

    void paint(QPainter* painter) override;

protected:
    void geometryChange(const QRectF& newGeometry, const QRectF& oldGeometry) override;
};

} // namespace lumora
