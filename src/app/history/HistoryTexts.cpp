#include "HistoryTexts.hpp"

#include "display/DisplayFormats.hpp"
#include "domain/CheckinWeek.hpp"

#include <cmath>

namespace lumora {

namespace {

const QString separator = QStringLiteral(" \u00b7 ");

// Letters that draw as nothing: the Hangul fillers and the blank Braille pattern.
bool isBlankLetter(char32_t c)
{
    return c == 0x115F || c == 0x1160 || c == 0x3164 || c == 0xFFA0 || c == 0x2800;
}

// Whether the text draws anything a reader can see: a letter, digit, punctuation mark or symbol
// other than the blank ones. Spaces, control and format characters and combining marks with
// nothing to sit on draw nothing.
bool showsSomething(const QString& text)
{
    for (const char32_t c : text.toUcs4()) {
        switch (QChar::category(c)) {
        case QChar::Letter_Uppercase:
        case QChar::Letter_Lowercase:
        case QChar::Letter_Titlecase:
        case QChar::Letter_Modifier:
        case QChar::Letter_Other:
        case QChar::Number_DecimalDigit:
        case QChar::Number_Letter:
        case QChar::Number_Other:
        case QChar::Punctuation_Connector:
        case QChar::Punctuation_Dash:
        case QChar::Punctuation_Open:
        case QChar::Punctuation_Close:
        case QChar::Punctuation_InitialQuote:
        case QChar::Punctuation_FinalQuote:
        case QChar::Punctuation_Other:
        case QChar::Symbol_Math:
        case QChar::Symbol_Currency:
        case QChar::Symbol_Modifier:
        case QChar::Symbol_Other:
            if (!isBlankLetter(c))
                return true;
            break;
        default:
            break;
        }
    }
    return false;
}

} // namespace

std::optional<QString> HistoryTexts::shownTitle(const ConversationHistoryEntry& entry)
{
    if (entry.title && showsSomething(*entry.title))
        return entry.title;
    return std::nullopt;
}

QString HistoryTexts::heading(const ConversationHistoryEntry& entry, const DateTexts& dates)
{
    if (const std::optional<QString> title = shownTitle(entry))
        return *title;
    const QString kind
        = entry.isCheckin() ? QStringLiteral("Weekly check-in") : QStringLiteral("Conversation");
    return kind + separator + dates.date(entry.completedAt);
}

QString HistoryTexts::subtitle(const ConversationHistoryEntry& entry)
{
    const QString clock = DisplayFormats::clock(entry.duration);
    if (!entry.turns)
        return clock;
    return clock + separator + QString::number(*entry.turns) + QStringLiteral(" turns");
}

std::optional<ConversationPresentation::WarmHard> HistoryTexts::tally(
    const ConversationHistoryEntry& entry, const DerivedSessionResult* result)
{
    if (!result || entry.isCheckin())
        return std::nullopt;
    return ConversationPresentation::warmHard(
        result->annotations, result->fouls.value_or(QList<ProcessFoulAnnotation> {}), std::nullopt);
}

QString HistoryTexts::warmText(qint64 warm)
{
    return QStringLiteral("+") + QString::number(warm);
}

QString HistoryTexts::hardText(qint64 hard)
{
    return QStringLiteral("\u2212") + QString::number(hard);
}

QString HistoryTexts::checkinLabel(const QDateTime& completedAt, const QLocale& locale)
{
    const std::optional<QString> week
        = DisplayFormats::weekLabel(CheckinWeek::key(completedAt, QTimeZone::utc()), locale);
    return week ? QStringLiteral("Check-in") + separator + *week : QStringLiteral("Check-in");
}

QString HistoryTexts::summaryLine(const DerivedSessionResult* result)
{
    return result ? result->summary : QStringLiteral("Saved in your account. Open it to read the review.");
}

QString HistoryTexts::hiddenTitle(const ConversationHistoryEntry& entry)
{
    return shownTitle(entry).value_or(QStringLiteral("Conversation"));
}

HistoryTexts::Visibility HistoryTexts::visibilityItem(HistoryEntryList::Backup backup, bool isHidden)
{
    if (backup != HistoryEntryList::BackedUp)
        return NoVisibilityItem;
    return isHidden ? ShowItem : HideItem;
}

QString HistoryTexts::deleteItemTitle(HistoryModel::DeletionKind kind)
{
    switch (kind) {
    case HistoryModel::Immediate:
        break;
    case HistoryModel::SharedWithPartner:
        return QStringLiteral("Request deletion");
    case HistoryModel::Undetermined:
        return QStringLiteral("Delete\u2026");
    }
    return QStringLiteral("Delete");
}

DeletionPrompt HistoryTexts::deletionPrompt(HistoryModel::DeletionKind kind)
{
    switch (kind) {
    case HistoryModel::Immediate:
        break;
    case HistoryModel::SharedWithPartner:
        return { QStringLiteral("Request deletion"), QStringLiteral("Ask to delete this conversation?"),
            QStringLiteral("You recorded this together, so your partner has to agree before it is removed. "
                           "Nothing changes until they do."),
            QStringLiteral("Request deletion") };
    case HistoryModel::Undetermined:
        return { QStringLiteral("Delete"), QStringLiteral("Delete this conversation?"),
            QStringLiteral("If you recorded this on your own, it is removed now. If you recorded it with a "
                           "partner, they have to agree first \u2014 Corvane will show you which one "
                           "happened."),
            QStringLiteral("Delete") };
    }
    return { QStringLiteral("Delete"), QStringLiteral("Delete this conversation?"),
        QStringLiteral("This removes the transcript and the review from your account and from this computer. "
                       "It cannot be undone."),
        QStringLiteral("Delete") };
}

QString HistoryTexts::backupTitle(HistoryEntryList::Backup backup)
{
    switch (backup) {
    case HistoryEntryList::BackedUp:
        return QStringLiteral("In your history");
    case HistoryEntryList::Waiting:
        return QStringLiteral("Not backed up yet");
    case HistoryEntryList::OnlyOnThisComputer:
        break;
    }
    return QStringLiteral("Only on this computer");
}

QString HistoryTexts::backupSymbol(HistoryEntryList::Backup backup)
{
    switch (backup) {
    case HistoryEntryList::BackedUp:
        return QStringLiteral("checkmark.icloud");
    case HistoryEntryList::Waiting:
        return QStringLiteral("arrow.triangle.2.circlepath");
    case HistoryEntryList::OnlyOnThisComputer:
        break;
    }
    return QStringLiteral("macbook");
}

QString HistoryTexts::backupNote(const ConversationHistoryEntry& entry)
{
    if (!entry.waitsForRoom)
        return {};
    // Only what this account uploaded counts towards its storage: neither the partner's uploads
    // nor what a former partner left it, so deleting those makes no room.
    return QStringLiteral(
        "Your account\u2019s storage is full. Only conversations recorded with this account "
        "count towards it: deleting ones you no longer need from History makes room, and "
        "this one is sent then.");
}

QString HistoryTexts::pendingDeletionText(bool requestedByMe)
{
    return requestedByMe ? QStringLiteral("Deletion requested \u2014 waiting for your partner")
                         : QStringLiteral("Your partner asked to delete this");
}

bool HistoryTexts::showsKeptLocalNotice(int count, HistoryModel::MigrationChoice choice)
{
    return count >= 1 && choice == HistoryModel::Declined;
}

QString HistoryTexts::keptLocalLine(int count)
{
    if (count == 1)
        return QStringLiteral("One conversation is only on this computer");
    return QStringLiteral("%1 conversations are only on this computer").arg(count);
}

QString HistoryTexts::hiddenToggle(int count)
{
    return QStringLiteral("Hidden from your view (%1)").arg(count);
}

int HistoryTexts::gridColumns(double width)
{
    // Each column takes 420 points and the 16 before it, but the first has no gap before it. A
    // width that is not a number, or absurdly wide, still gives a count that converts.
    const double fits = std::floor((width + 16) / 436);
    if (!(fits >= 1))
        return 1;
    return fits > 64 ? 64 : int(fits);
}

} // namespace lumora
