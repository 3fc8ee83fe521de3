#include "domain/VisibleText.hpp"

#include <QTextBoundaryFinder>

namespace lumora {

namespace {

// Calls `visit` with each code point of the text and the units it takes; a lone surrogate is
// a point of its own.
template <typename Visit> void forEachPoint(QStringView text, Visit visit)
{
    for (qsizetype at = 0; at < text.size();) {
        const bool pair = text[at].isHighSurrogate() && at + 1 < text.size() && text[at + 1].isLowSurrogate();
        const char32_t point = pair ? QChar::surrogateToUcs4(text[at], text[at + 1]) : text[at].unicode();
        const qsizetype units = pair ? 2 : 1;
        visit(point, text.sliced(at, units));
        at += units;
    }
}

// The text without format characters, each control character turned into `control` (kept
// as it is when null).
QString withoutFormatAndControl(QStringView text, QChar control)
{
    QString kept;
    kept.reserve(text.size());
    forEachPoint(text, [&](char32_t point, QStringView units) {
        const auto category = QChar::category(point);
        if (category == QChar::Other_Control && !control.isNull())
            kept.append(control);
        else if (category != QChar::Other_Format)
            kept.append(units);
    });
    return kept;
}

} // namespace

bool VisibleText::holdsInvisible(QStringView text)
{
    bool found = false;
    forEachPoint(text, [&found](char32_t point, QStringView) {
        const auto category = QChar::category(point);
        found = found || category == QChar::Other_Control || category == QChar::Other_Format;
    });
    return found;
}

QString VisibleText::withoutFormat(QStringView text)
{
    return withoutFormatAndControl(text, QChar());
}

QString VisibleText::cleaned(QStringView text)
{
    return withoutFormatAndControl(text, u' ');
}

QString VisibleText::leading(const QString& text, qsizetype characters, qsizetype units)
{
    if (text.size() <= characters && text.size() <= units)
        return text;
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    qsizetype end = 0;
    for (qsizetype kept = 0; kept < characters; ++kept) {
        const qsizetype next = finder.toNextBoundary();
        if (next < 0 || next > units)
            break;
        end = next;
    }
    return text.left(end);
}

bool VisibleText::longerThan(const QString& text, qsizetype characters)
{
    if (text.size() <= characters)
        return false;
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    for (qsizetype counted = 0; counted < characters; ++counted) {
        if (finder.toNextBoundary() < 0)
            return false;
    }
    return finder.position() < text.size();
}

} // namespace lumora
