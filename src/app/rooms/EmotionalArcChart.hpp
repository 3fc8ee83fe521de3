#pragma once

#include "RoomMoments.hpp"
#include "domain/EmotionalArcPoint.hpp"

#include <QPolygonF>
#include <QQuickPaintedItem>
#include <QtQml/qqmlregistration.h>

namespace lumora {

// The emotional arc of a conversation as a line over a dashed zero line, warmer higher, time
// from left to right, stroked in a gradient from hard through the middle to warm. The live
// room draws it as it goes; a review draws a stored conversation's, a little flatter.
//
// The chart's area is the item less `strokeMargin` on every side, so that round caps at its
// edges show whole. A point later than the chart's span (a moment that ended after the
// duration) lies past the right edge; the line is cut there, as a painted item cannot draw
// outside itself. Points whose time or score is not a finite number are left out.
class EmotionalArcChart : public QQuickPaintedItem {
    Q_OBJECT
    QML_ELEMENT
    Q_PROPERTY(lumora::RoomMoments moments READ moments WRITE setMoments NOTIFY momentsChanged)
    Q_PROPERTY(double duration READ duration WRITE setDuration NOTIFY durationChanged)
    Q_PROPERTY(Style style READ style WRITE setStyle NOTIFY styleChanged)
    Q_PROPERTY(double strokeMargin READ strokeMargin CONSTANT)
    // The last point's score, and as the caption and a screen reader read it.
    Q_PROPERTY(double score READ score NOTIFY pointsChanged)
    Q_PROPERTY(QString scoreText READ scoreText NOTIFY pointsChanged)
    Q_PROPERTY(bool warm READ warm NOTIFY pointsChanged)
    Q_PROPERTY(QString description READ description NOTIFY pointsChanged)

public:
    enum Style { Live, Review };
    Q_ENUM(Style)

    explicit EmotionalArcChart(QQuickItem* parent = nullptr);

    [[nodiscard]] const RoomMoments& moments() const { return m_moments; }
    void setMoments(const RoomMoments& moments);
    [[nodiscard]] double duration() const { return m_duration; }
    void setDuration(double duration);
    [[nodiscard]] Style style() const { return m_style; }
    void setStyle(Style style);
    [[nodiscard]] static double strokeMargin() { return 2; }
    [[nodiscard]] const QList<EmotionalArcPoint>& points() const { return m_points; }
    [[nodiscard]] double score() const;
    [[nodiscard]] QString scoreText() const { return scoreText(score()); }
    [[nodiscard]] bool warm() const { return isWarm(score()); }
    [[nodiscard]] QString description() const { return description(score()); }

    // The seconds the chart's width stands for: the duration, or 1 for a duration of a
    // second or less (or one that is not a finite number).
    static double span(double duration);
    // Where a score lies in a chart `height` high: 0 on the middle line, +4 at 0.08 of the
    // height from the top (a review: 0.1), −4 as far below.
    static double y(Style style, double score, double height);
    // The line through the points in a chart of `size`, leaving out what is not finite.
    static QPolygonF line(const QList<EmotionalArcPoint>& points, double duration, QSizeF size, Style style);
    // The parts of a line between x = `left` and x = `right`, each segment cut where it
    // crosses them: what a chart can show of it.
    static QList<QPolygonF> partsBetween(const QPolygonF& line, double left, double right);
    // Always signed, one decimal, with the ASCII hyphen-minus: "+0.0", "-1.4".
    static QString scoreText(double score);
    // Warm at 0 and above.
    static bool isWarm(double score) { return score >= 0; }
    static QString description(double score);

    void paint(QPainter* painter) override;

signals:
    void momentsChanged();
    void durationChanged();
    void styleChanged();
    void pointsChanged();

private:
    void recompute();

    RoomMoments m_moments;
    double m_duration = 1;
    Style m_style = Live;
    QList<EmotionalArcPoint> m_points;
};

} // namespace lumora
