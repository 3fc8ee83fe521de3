#include "ReviewTexts.hpp"

#include "display/DisplayFormats.hpp"
#include "domain/BehaviorCodePresentation.hpp"
#include "domain/ConversationSignals.hpp"
#include "domain/ConversationUploadPayload.hpp"
#include "domain/ProcessFoulPresentation.hpp"

#include <cmath>
#include <limits>

namespace lumora {

namespace {

const QString separator = QStringLiteral(" \u00b7 ");

// A turn's pieces with white space and line breaks trimmed from both ends, empty ones left out.
QList<ConversationTurnPiece> spokenPieces(const ConversationTurn& turn)
{
    QList<ConversationTurnPiece> pieces;
    for (ConversationTurnPiece piece : turn.pieces) {
        piece.text = piece.text.trimmed();
        if (!piece.text.isEmpty())
            pieces.append(std::move(piece));
    }
    return pieces;
}

QString countText(qint64 count)
{
    return QStringLiteral("\u00d7") + QString::number(count);
}

} // namespace

QString ReviewTexts::title(bool isCheckin)
{
    return isCheckin ? QStringLiteral("Check-in") : QStringLiteral("Conversation review");
}

QString ReviewTexts::subtitle(const DerivedSessionResult& result, const DateTexts& dates)
{
    // The length the account keeps, which is what the History card and the partner's computer show.
    const auto seconds
        = static_cast<double>(ConversationUploadPayload::wholeDurationSeconds(result.duration));
    return dates.numericDateAndTime(result.completedAt) + separator + DisplayFormats::clock(seconds);
}

QString ReviewTexts::speakerLabel(qint64 speaker)
{
    const qint64 number = speaker == std::numeric_limits<qint64>::max() ? speaker : speaker + 1;
    return QStringLiteral("Speaker ") + QString::number(number);
}

QList<FloorSegment> ReviewTexts::floor(const QList<SpeakerStats>& stats)
{
    QList<FloorSegment> segments;
    for (const SpeakerStats& seat : stats) {
        segments.append({ speakerLabel(seat.speaker) + separator
                + QString::number(DisplayFormats::percent(seat.share)) + QStringLiteral("%"),
            DisplayFormats::fraction(seat.share), seat.speaker == 0 });
    }
    return segments;
}

QList<ShapeRow> ReviewTexts::shape(const QList<SpeakerStats>& stats)
{
    QList<ShapeRow> rows;
    for (const SpeakerStats& seat : stats) {
        rows.append({ speakerLabel(seat.speaker), QString::number(seat.turns) + QStringLiteral(" turns"),
            DisplayFormats::clock(seat.longestTurn) + QStringLiteral(" longest"), seat.speaker == 0 });
    }
    return rows;
}

QList<DefinitionRow> ReviewTexts::definitions(const DerivedSessionResult& result)
{
    QList<DefinitionRow> rows;
    for (const BehaviorCode code : EnumTraits<BehaviorCode>::allCases) {
        qint64 count = 0;
        for (const BehaviorAnnotation& annotation : result.annotations) {
            if (annotation.code == code && ConversationSignals::meetsConfidenceFloor(annotation.confidence))
                ++count;
        }
        if (count > 0)
            rows.append({ displayName(code), countText(count), isWarm(code), false });
    }
    const QList<ProcessFoulAnnotation> fouls = result.fouls.value_or(QList<ProcessFoulAnnotation> {});
    for (const ProcessFoul foul : EnumTraits<ProcessFoul>::allCases) {
        qint64 count = 0;
        for (const ProcessFoulAnnotation& annotation : fouls) {
            if (annotation.foul == foul && ConversationSignals::meetsConfidenceFloor(annotation.confidence))
                ++count;
        }
        if (count > 0)
            rows.append({ displayName(foul), countText(count), false, true });
    }
    return rows;
}

ReviewTexts::Startup ReviewTexts::startup(const DerivedSessionResult& result)
{
    if (!result.harshStartupDetected)
        return Startup::Unknown;
    return *result.harshStartupDetected ? Startup::InTheCycle : Startup::FromASecurePlace;
}

QString ReviewTexts::startupText(Startup startup)
{
    switch (startup) {
    case Startup::Unknown:
        break;
    case Startup::InTheCycle:
        return QStringLiteral("Opened in the cycle.");
    case Startup::FromASecurePlace:
        return QStringLiteral("Opened from a secure place.");
    }
    return {};
}

QString ReviewTexts::lifecycleText(HistoryEntryList::Backup backup)
{
    if (backup == HistoryEntryList::BackedUp)
        return QStringLiteral("The transcript and review are encrypted on this computer and in your account. "
                              "Deleting this conversation removes both copies.");
    return QStringLiteral("The transcript and review are encrypted on this computer. This one has not "
                          "reached your account yet.");
}

QString ReviewTexts::recordingText(bool fromLiveTranscript)
{
    if (fromLiveTranscript)
        return QStringLiteral("The recording was deleted. This review uses the live transcript.");
    return QStringLiteral("The recording was deleted after the careful second read.");
}

QString ReviewTexts::partnerAskedNote()
{
    return QStringLiteral("Your partner has been asked. This conversation stays until they agree.");
}

int ReviewTexts::seat(qint64 speaker)
{
    return int(std::abs(speaker % 2));
}

QString ReviewTexts::paragraph(
    const ConversationTurn& turn, const QString& interjectionName, const QColor& interjectionColour)
{
    QStringList parts;
    for (const ConversationTurnPiece& piece : spokenPieces(turn)) {
        if (!piece.isInterjection) {
            parts.append(piece.text.toHtmlEscaped());
            continue;
        }
        parts.append(QStringLiteral("<span style=\"font-size: 12px; font-style: italic; color: %1\">")
                         .arg(interjectionColour.name())
            + interjectionName.toHtmlEscaped() + QStringLiteral(": \u201c") + piece.text.toHtmlEscaped()
            + QStringLiteral("\u201d</span>"));
    }
    // Spaces inside a piece stay as they were said: the paragraph keeps its white space.
    return QStringLiteral("<span style=\"white-space: pre-wrap\">") + parts.join(QLatin1Char(' '))
        + QStringLiteral("</span>");
}

QString ReviewTexts::plainParagraph(const ConversationTurn& turn, const QString& interjectionName)
{
    QStringList parts;
    for (const ConversationTurnPiece& piece : spokenPieces(turn)) {
        parts.append(piece.isInterjection
                ? interjectionName + QStringLiteral(": \u201c") + piece.text + QStringLiteral("\u201d")
                : piece.text);
    }
    return parts.join(QLatin1Char(' '));
}

} // namespace lumora
