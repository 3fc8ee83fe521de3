#include "FindingChips.hpp"

#include "PatternTexts.hpp"
#include "theme/ThemeFonts.hpp"
#include "theme/ThemePalette.hpp"

#include <QFontMetricsF>
#include <QPainter>
#include <QPainterPath>

namespace lumora {

namespace {

// Around the words: 8 px on each side, 4 above and below; 8 px between chips and between lines.
constexpr qreal horizontalPadding = 16;
constexpr qreal verticalPadding = 8;
constexpr qreal spacing = 8;

} // namespace

FindingChips::FindingChips(QQuickItem* parent)
    : QQuickPaintedItem(parent)
    , m_rows(this)
{
    setAntialiasing(true);
}

void FindingChips::setBehaviorChips(const QList<TranscriptChipValue>& chips)
{
    if (chips == m_behaviorChips)
        return;
    m_behaviorChips = chips;
    remake();
}

void FindingChips::setFoulChips(const QList<TranscriptChipValue>& chips)
{
    if (chips == m_foulChips)
        return;
    m_foulChips = chips;
    remake();
}

void FindingChips::setRightToLeft(bool rightToLeft)
{
    if (rightToLeft == m_rightToLeft)
        return;
    m_rightToLeft = rightToLeft;
    emit rightToLeftChanged();
    place();
}

QStringList FindingChips::texts() const
{
    QStringList texts;
    for (const Chip& chip : m_chips)
        texts.append(chip.text);
    return texts;
}

void FindingChips::remake()
{
    const QFontMetricsF metrics(ThemeFonts::chip());
    const auto add = [&](const QString& label, const QColor& tint, bool dashed) {
        // A code this build does not know has no words, and no chip.
        if (label.isEmpty())
            return;
        const QString text = ThemeFonts::upperCased(label);
        const QSizeF size(
            metrics.horizontalAdvance(text) + horizontalPadding, metrics.height() + verticalPadding);
        m_chips.append({ label, text, tint, dashed, size, QRectF() });
    };
    m_chips.clear();
    for (const TranscriptChipValue& chip : std::as_const(m_behaviorChips)) {
        add(PatternTexts::behaviorChipLabel(chip.code, -1, chip.confidence),
            PatternTexts::isWarmCode(chip.code) ? ThemePalette::positive() : ThemePalette::attention(),
            false);
    }
    for (const TranscriptChipValue& chip : std::as_const(m_foulChips))
        add(PatternTexts::foulChipLabel(chip.code, -1, chip.confidence), ThemePalette::attention(), true);
    emit chipsChanged();
    place();
}

void FindingChips::place()
{
    // Lines fill from the row's side; a chip that does not fit where a line has got to starts the
    // next line (a chip wider than the row has a line of its own). The item would be as wide as
    // all its chips on one line: its width follows that unless it is given one.
    qreal x = 0;
    qreal y = 0;
    qreal lineHeight = 0;
    qreal oneLine = 0;
    for (Chip& chip : m_chips) {
        if (x > 0 && x + chip.size.width() > width()) {
            x = 0;
            y += lineHeight + spacing;
            lineHeight = 0;
        }
        chip.place = QRectF(QPointF(m_rightToLeft ? width() - x - chip.size.width() : x, y), chip.size);
        x += chip.size.width() + spacing;
        lineHeight = std::max(lineHeight, chip.size.height());
        oneLine += chip.size.width() + (oneLine > 0 ? spacing : 0);
    }
    setImplicitSize(oneLine, m_chips.isEmpty() ? 0 : y + lineHeight);
    QList<FindingChipRow> rows;
    for (const Chip& chip : std::as_const(m_chips))
        rows.append({ chip.label, chip.dashed, chip.place });
    m_rows.setChips(rows);
    update();
}

void FindingChips::paint(QPainter* painter)
{
    painter->setRenderHint(QPainter::Antialiasing);
    painter->setFont(ThemeFonts::chip());
    for (const Chip& chip : std::as_const(m_chips)) {
        const QRectF inside = chip.place.adjusted(0.5, 0.5, -0.5, -0.5);
        if (inside.isEmpty())
            continue;
        QPainterPath outline;
        outline.addRoundedRect(inside, inside.height() / 2, inside.height() / 2);
        // A foul's capsule is fainter inside and stronger at its dashed edge.
        QPen pen(ThemePalette::withAlpha(chip.tint, chip.dashed ? 0.45 : 0.28), 1);
        if (chip.dashed)
            pen.setDashPattern({ 3, 2 });
        painter->setPen(pen);
        painter->setBrush(ThemePalette::withAlpha(chip.tint, chip.dashed ? 0.05 : 0.08));
        painter->drawPath(outline);
        painter->setPen(chip.tint);
        painter->drawText(chip.place, Qt::AlignCenter, chip.text);
    }
}

void FindingChips::geometryChange(const QRectF& newGeometry, const QRectF& oldGeometry)
{
    QQuickPaintedItem::geometryChange(newGeometry, oldGeometry);
    if (newGeometry.width() != oldGeometry.width())
        place();
    else if (newGeometry.size() != oldGeometry.size())
        update();
}

} // namespace lumora
