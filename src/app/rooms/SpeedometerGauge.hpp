#pragma once

#include <QQuickPaintedItem>
#include <QtQml/qqmlregistration.h>

namespace lumora {

// The warm/hard dial: track, hard, middle and warm zones, needle and hub. The dial's frame
// is the item less `strokeMargin` on every side: strokes reach that far past the frame, and a
// painted item cannot draw outside itself. A new value moves the needle without animation.
class SpeedometerGauge : public QQuickPaintedItem {
    Q_OBJECT
    QML_ELEMENT
    Q_PROPERTY(double value READ value WRITE setValue NOTIFY valueChanged)
    Q_PROPERTY(double strokeMargin READ strokeMargin CONSTANT)

public:
    explicit SpeedometerGauge(QQuickItem* parent = nullptr);

    [[nodiscard]] double value() const { return m_value; }
    void setValue(double value);
    [[nodiscard]] static double strokeMargin();

    void paint(QPainter* painter) override;

signals:
    void valueChanged();

private:
    double m_value = 0.5;
};

} // namespace lumora
