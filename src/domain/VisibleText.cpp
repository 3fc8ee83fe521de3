#include "domain/VisibleText.hpp"

#include <QList>
#include <QTextBoundaryFinder>
#include <algorithm>

namespace lumora {

namespace {

constexpr char32_t zeroWidthNonJoiner = 0x200C;
constexpr char32_t zeroWidthJoiner = 0x200D;
constexpr char32_t replacementCharacter = 0xFFFD;

// What one code point of a text is to a reader.
enum class Kind {
    drawn,
    mark,
    space,
    lineBreak, // line breaks, tabs, line and paragraph separators
    control, // every other control character
    format, // format characters but the joiners
    joiner,
    loneSurrogate,
};

struct Point {
    char32_t value = 0;
    QStringView units;
    Kind kind = Kind::drawn;
};

Kind kindOf(char32_t value, bool lone)
{
    if (lone)
        return Kind::loneSurrogate;
    switch (QChar::category(value)) {
    case QChar::Other_Control:
        return value == u'\t' || value == u'\n' || value == u'\r' || value == 0x0B || value == 0x0C
                || value == 0x85
            ? Kind::lineBreak
            : Kind::control;
    case QChar::Separator_Line:
    case QChar::Separator_Paragraph:
        return Kind::lineBreak;
    case QChar::Other_Format:
        return value == zeroWidthJoiner || value == zeroWidthNonJoiner ? Kind::joiner : Kind::format;
    case QChar::Separator_Space:
        return Kind::space;
    case QChar::Mark_NonSpacing:
    case QChar::Mark_SpacingCombining:
    case QChar::Mark_Enclosing:
        return Kind::mark;
    default:
        return Kind::drawn;
    }
}

// The text's code points; a lone surrogate is a point of its own.
QList<Point> pointsOf(QStringView text)
{
    QList<Point> points;
    points.reserve(text.size());
    for (qsizetype at = 0; at < text.size();) {
        const bool pair = text[at].isHighSurrogate() && at + 1 < text.size() && text[at + 1].isLowSurrogate();
        const char32_t value = pair ? QChar::surrogateToUcs4(text[at], text[at + 1]) : text[at].unicode();
        const qsizetype units = pair ? 2 : 1;
        points.append({ value, text.sliced(at, units), kindOf(value, !pair && text[at].isSurrogate()) });
        at += units;
    }
    return points;
}

// A point that shows something of its own: not a mark, and not one of the fillers that are
// letters in name only, nor a private or unassigned code point.
bool draws(const Point& point)
{
    if (point.kind != Kind::drawn)
        return false;
    const auto category = QChar::category(point.value);
    return category != QChar::Other_PrivateUse && category != QChar::Other_NotAssigned
        && point.value != 0x115F && point.value != 0x1160 && point.value != 0x3164 && point.value != 0xFFA0;
}

// A joiner that joins: after a drawn character or its mark, before a character that draws.
bool joins(const QList<Point>& points, qsizetype at)
{
    if (at == 0 || at + 1 >= points.size())
        return false;
    const Kind before = points.at(at - 1).kind;
    return (before == Kind::drawn || before == Kind::mark) && draws(points.at(at + 1));
}

bool isHidden(const QList<Point>& points, qsizetype at)
{
    switch (points.at(at).kind) {
    case Kind::drawn:
    case Kind::mark:
    case Kind::space:
        return false;
    case Kind::joiner:
        return !joins(points, at);
    default:
        return true;
    }
}

qsizetype marksIn(const QList<Point>& points)
{
    return std::count_if(
        points.begin(), points.end(), [](const Point& point) { return point.kind == Kind::mark; });
}

// Calls `visit` with each user-perceived character of the text (a grapheme cluster).
template <typename Visit> void forEachCharacter(QStringView text, Visit visit)
{
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text.data(), text.size());
    for (qsizetype start = 0, end = finder.toNextBoundary(); end > start;
         start = end, end = finder.toNextBoundary())
        visit(text.sliced(start, end - start));
}

// The text with no character of more than the allowed combining marks: those past it go.
QString withMarksWithinLimit(const QString& text)
{
    if (marksIn(pointsOf(text)) <= VisibleText::maximumMarksPerCharacter)
        return text;
    QString kept;
    kept.reserve(text.size());
    forEachCharacter(text, [&kept](QStringView character) {
        qsizetype marks = 0;
        for (const Point& point : pointsOf(character)) {
            if (point.kind != Kind::mark || ++marks <= VisibleText::maximumMarksPerCharacter)
                kept.append(point.units);
        }
    });
    return kept;
}

} // namespace

bool VisibleText::holdsInvisible(QStringView text)
{
    const QList<Point> points = pointsOf(text);
    for (qsizetype at = 0; at < points.size(); ++at) {
        if (isHidden(points, at))
            return true;
    }
    if (marksIn(points) <= maximumMarksPerCharacter)
        return false;
    bool stacked = false;
    forEachCharacter(text, [&stacked](QStringView character) {
        stacked = stacked || marksIn(pointsOf(character)) > maximumMarksPerCharacter;
    });
    return stacked;
}

QString VisibleText::withoutFormat(QStringView text)
{
    const QList<Point> points = pointsOf(text);
    QString kept;
    kept.reserve(text.size());
    for (qsizetype at = 0; at < points.size(); ++at) {
        const Kind kind = points.at(at).kind;
        if ((kind != Kind::format && kind != Kind::joiner) || !isHidden(points, at))
            kept.append(points.at(at).units);
    }
    return kept;
}

QString VisibleText::cleaned(QStringView text, OtherControls controls)
{
    const QList<Point> points = pointsOf(text);
    QString kept;
    kept.reserve(text.size());
    for (qsizetype at = 0; at < points.size(); ++at) {
        const Point& point = points.at(at);
        if (point.kind == Kind::lineBreak
            || (point.kind == Kind::control && controls == OtherControls::asSpaces))
            kept.append(u' ');
        else if (point.kind == Kind::loneSurrogate)
            kept.append(QChar(replacementCharacter));
        else if (!isHidden(points, at))
            kept.append(point.units);
    }
    return withMarksWithinLimit(kept);
}

bool VisibleText::showsSomething(QStringView text)
{
    const QList<Point> points = pointsOf(text);
    return std::any_of(points.begin(), points.end(), draws);
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
    // A joiner belongs to the character before it: cut after it, it would join nothing.
    while (end > 0 && (text[end - 1] == QChar(zeroWidthJoiner) || text[end - 1] == QChar(zeroWidthNonJoiner)))
        --end;
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
