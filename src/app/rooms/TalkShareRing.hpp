#pragma once

#include <QColor>
#include <QQuickPaintedItem>
#include <QtQml/qqmlregistration.h>

namespace lumora {

// A faint full ring and, over it, the part of the circle a seat's share of the talk covers,
// from the top clockwise with round ends. The circle is the item less `strokeMargin` on every
// side. At a share of 0 only the faint ring shows: a round end of nothing would be a dot.
class TalkShareRing : public QQuickPaintedItem {
    Q_OBJECT
    QML_ELEMENT
    Q_PROPERTY(double share READ share WRITE setShare NOTIFY shareChanged)
    Q_PROPERTY(QColor color READ color WRITE setColor NOTIFY colorChanged)
    Q_PROPERTY(double strokeMargin READ strokeMargin CONSTANT)

public:
    static constexpr double strokeWidth = 7;

    explicit TalkShareRing(QQuickItem* parent = nullptr);

    [[nodiscard]] double share() const { return m_share; }
    void setShare(double share);
    [[nodiscard]] QColor color() const { return m_color; }
    void setColor(const QColor& color);
    [[nodiscard]] static double strokeMargin() { return strokeWidth / 2; }

    // The degrees the share's arc sweeps, clockwise: the share limited to 0...1 (not a
    // number: 0) of a full turn.
    static double sweep(double share);

    void paint(QPainter* painter) override;

signals:
    void shareChanged();
    void colorChanged();

private:
    double m_share = 0;
    QColor m_color;
};

} // namespace lumora
