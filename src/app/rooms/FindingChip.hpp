#pragma once

#include <QColor>
#include <QPainterPath>
#include <QQuickPaintedItem>
#include <QString>
#include <QtQml/qqmlregistration.h>

namespace lumora {

// A finding's chip in the live transcript: its words in capitals (the theme's chip face) in its
// tint, on a capsule (a rectangle with half-circle ends) of the tint, outlined in a solid line of
// one pixel or, for a process foul, in dashes three on and two off, the line half a pixel inside
// the item so that all of it shows. It is painted when its words or its look change and drawn from
// that painting at every other frame; one item instead of a capsule and a text, since a row's chips
// are all made again at each analysis that changes its findings.
class FindingChip : public QQuickPaintedItem {
    Q_OBJECT
    QML_ELEMENT
    // What the chip says, as a screen reader reads it ("Protest · 82%").
    Q_PROPERTY(QString label READ label WRITE setLabel NOTIFY labelChanged)
    // The words as drawn: the label in capitals.
    Q_PROPERTY(QString text READ text NOTIFY labelChanged)
    Q_PROPERTY(QColor tint READ tint WRITE setTint NOTIFY tintChanged)
    Q_PROPERTY(bool dashed READ dashed WRITE setDashed NOTIFY dashedChanged)

public:
    explicit FindingChip(QQuickItem* parent = nullptr);

    [[nodiscard]] const QString& label() const { return m_label; }
    void setLabel(const QString& label);
    [[nodiscard]] const QString& text() const { return m_text; }
    [[nodiscard]] QColor tint() const { return m_tint; }
    void setTint(const QColor& tint);
    [[nodiscard]] bool dashed() const { return m_dashed; }
    void setDashed(bool dashed);

    // The capsule's outline in an item of `size`, half a pixel in from each edge.
    static QPainterPath outline(QSizeF size);

    void paint(QPainter* painter) override;

signals:
    void labelChanged();
    void tintChanged();
    void dashedChanged();

protected:
    void geometryChange(const QRectF& newGeometry, const QRectF& oldGeometry) override;

private:
    void measure();

    QString m_label;
    QString m_text;
    QColor m_tint;
    bool m_dashed = false;
};

} // namespace lumora
