#include "viewmodel/SeatNames.hpp"

#include <QSettings>
#include <QStringView>
#include <QTextBoundaryFinder>
#include <algorithm>

namespace lumora {

namespace {

constexpr char32_t zeroWidthJoiner = 0x200D;

bool isLineBreakOrTab(char32_t character)
{
    return character == u'\t' || character == u'\n' || character == u'\r' || character == 0x0B
        || character == 0x0C || character == 0x85 || character == 0x2028 || character == 0x2029;
}

// Controls and format characters (zero-width spaces, bidi overrides) change how a name reads
// without showing themselves.
bool isHidden(char32_t character)
{
    switch (QChar::category(character)) {
    case QChar::Other_Control:
    case QChar::Other_Format:
    case QChar::Separator_Line:
    case QChar::Separator_Paragraph:
        return true;
    default:
        return false;
    }
}

// A character that draws something: not a hidden one, a space, a mark on nothing, or one of the
// fillers that are letters in name only.
bool isVisible(char32_t character)
{
    if (isHidden(character) || character == 0x115F || character == 0x1160 || character == 0x3164
        || character == 0xFFA0)
        return false;
    switch (QChar::category(character)) {
    case QChar::Separator_Space:
    case QChar::Other_Surrogate:
    case QChar::Other_PrivateUse:
    case QChar::Other_NotAssigned:
    case QChar::Mark_NonSpacing:
    case QChar::Mark_SpacingCombining:
    case QChar::Mark_Enclosing:
        return false;
    default:
        return true;
    }
}

// Line breaks and tabs become spaces and other hidden characters go, except a joiner between two
// parts of one emoji sequence, which is drawn as one picture.
QString withoutHiddenCharacters(const QString& typed)
{
    const QList<uint> characters = typed.toUcs4();
    QString kept;
    kept.reserve(typed.size());
    for (qsizetype i = 0; i < characters.size(); ++i) {
        const char32_t character = characters[i];
        if (isLineBreakOrTab(character)) {
            kept.append(u' ');
            continue;
        }
        const bool joins = character == zeroWidthJoiner && i > 0 && i + 1 < characters.size()
            && !isHidden(characters[i - 1]) && !QChar::isSpace(characters[i - 1])
            && isVisible(characters[i + 1]);
        if (isHidden(character) && !joins)
            continue;
        kept.append(QStringView(QChar::fromUcs4(character)));
    }
    return kept;
}

bool hasVisibleCharacter(const QString& text)
{
    const QList<uint> characters = text.toUcs4();
    return std::ranges::any_of(characters, [](uint character) { return isVisible(character); });
}

} // namespace

int SeatNames::seat(qint64 speaker)
{
    return static_cast<int>(((speaker % 2) + 2) % 2);
}

QString SeatNames::fallback(int seat)
{
    return QStringLiteral("Person ") + QString::number(seat + 1);
}

QString SeatNames::preferenceKey(int seat)
{
    return seat == 0 ? QStringLiteral("corvane.participantName.left")
                     : QStringLiteral("corvane.participantName.right");
}

QString SeatNames::cleaned(const QString& typed)
{
    const QString trimmed = withoutHiddenCharacters(typed).trimmed();
    if (!hasVisibleCharacter(trimmed))
        return {};
    QTextBoundaryFinder graphemes(QTextBoundaryFinder::Grapheme, trimmed);
    qsizetype end = 0;
    for (int kept = 0; kept < maximumLength; ++kept) {
        const qsizetype next = graphemes.toNextBoundary();
        if (next < 0)
            return trimmed;
        end = next;
    }
    return trimmed.left(end);
}

QStringList SeatNames::stored(const QSettings& preferences)
{
    QStringList names;
    for (int seat = 0; seat < 2; ++seat) {
        const QVariant value = preferences.value(preferenceKey(seat));
        const QString name = value.typeId() == QMetaType::QString ? cleaned(value.toString()) : QString();
        names.append(name.isEmpty() ? fallback(seat) : name);
    }
    return names;
}

} // namespace lumora
