#include "domain/ConversationSignals.hpp"

#include "domain/Seat.hpp"
#include "domain/TurnGrouping.hpp"

#include <QSet>
#include <QTextBoundaryFinder>
#include <algorithm>
#include <array>
#include <limits>

namespace lumora {

namespace {

// Repeated-cycle thresholds, shared by the text heuristic and the readiness rule.
constexpr double circularityMinimumConfidence = 0.72;
constexpr qint64 circularityMinimumTurns = 8;
constexpr double circularityMinimumSeconds = 90.0;
// The prompt waits until more than this many turns have settled since first detection.
constexpr qint64 circularityTurnsSinceDetection = 2;

constexpr qsizetype circularRecentTurns = 8;
constexpr qsizetype minimumSignificantWords = 3;
constexpr qsizetype minimumWordLength = 3;
constexpr double circularOverlap = 0.62;

constexpr qsizetype interjectionMaxWords = 14;
constexpr double interjectionMaxSeconds = 6.0;
constexpr double interjectionConfidence = 0.45;
constexpr double handoffConfidence = 0.35;

constexpr std::array<QStringView, 17> stopWords { u"about", u"after", u"again", u"because", u"could", u"from",
    u"have", u"just", u"that", u"the", u"this", u"what", u"when", u"with", u"would", u"you", u"your" };

char32_t codePointAt(const QString& text, qsizetype index)
{
    const QChar unit = text.at(index);
    if (unit.isHighSurrogate() && index + 1 < text.size() && text.at(index + 1).isLowSurrogate())
        return QChar::surrogateToUcs4(unit, text.at(index + 1));
    return unit.unicode();
}

// The lower-cased words of at least three characters that are not stop words. Words
// are maximal runs of letters; a character is a user-perceived one (a letter with its
// combining marks), so accented and non-Latin words count like any other.
QSet<QString> significantWords(const QString& text)
{
    const QString lower = text.toLower().normalized(QString::NormalizationForm_C);
    QSet<QString> words;
    qsizetype wordStart = 0;
    qsizetype wordLength = 0;
    auto closeWord = [&](qsizetype end) {
        if (wordLength >= minimumWordLength) {
            const QString word = lower.sliced(wordStart, end - wordStart);
            if (std::find(stopWords.begin(), stopWords.end(), word) == stopWords.end())
                words.insert(word);
        }
        wordLength = 0;
    };

    QTextBoundaryFinder characters(QTextBoundaryFinder::Grapheme, lower);
    qsizetype start = 0;
    for (qsizetype next = characters.toNextBoundary(); next > start; next = characters.toNextBoundary()) {
        if (QChar::isLetter(codePointAt(lower, start))) {
            if (wordLength == 0)
                wordStart = start;
            ++wordLength;
        } else {
            closeWord(start);
        }
        start = next;
    }
    closeWord(start);
    return words;
}

double overlap(const QSet<QString>& a, const QSet<QString>& b)
{
    qsizetype shared = 0;
    for (const QString& word : a)
        shared += b.contains(word) ? 1 : 0;
    return double(shared) / double(a.size() + b.size() - shared);
}

} // namespace

bool ConversationSignals::isFlooding(const QList<BehaviorAnnotation>& annotations,
    const QList<ProcessFoulAnnotation>& fouls, qint64 settledTurnCount)
{
    constexpr qint64 lowest = std::numeric_limits<qint64>::min();
    const qint64 windowStart
        = settledTurnCount < lowest + floodingWindow ? lowest : settledTurnCount - floodingWindow;
    auto inWindow
        = [&](qint64 turnIndex) { return turnIndex >= windowStart && turnIndex < settledTurnCount; };

    qint64 hardMoments = 0;
    std::optional<qint64> firstSpeaker;
    bool secondSpeaker = false;
    auto note = [&](qint64 speaker) {
        ++hardMoments;
        if (!firstSpeaker)
            firstSpeaker = speaker;
        else if (*firstSpeaker != speaker)
            secondSpeaker = true;
    };
    for (const BehaviorAnnotation& annotation : annotations) {
        if (meetsConfidenceFloor(annotation.confidence) && !isWarm(annotation.code)
            && inWindow(annotation.turnIndex))
            note(annotation.speaker);
    }
    for (const ProcessFoulAnnotation& foul : fouls) {
        if (meetsConfidenceFloor(foul.confidence) && inWindow(foul.turnIndex))
            note(foul.speaker);
    }
    return hardMoments >= floodingThreshold && secondSpeaker;
}

bool ConversationSignals::isLikelyCircular(const QList<SpeakerTurn>& turns, double elapsed)
{
    // Written so that an elapsed time that is not a number is never enough.
    if (turns.size() < circularRecentTurns || !(elapsed >= circularityMinimumSeconds))
        return false;
    const qsizetype first = turns.size() - circularRecentTurns;

    std::array<std::optional<QSet<QString>>, circularRecentTurns> words;
    auto wordsOf = [&](qsizetype i) -> const QSet<QString>& {
        if (!words[i])
            words[i] = significantWords(turns.at(first + i).text);
        return *words[i];
    };

    for (qint64 speaker : { 0, 1 }) {
        for (qsizetype i = 0; i < circularRecentTurns; ++i) {
            if (turns.at(first + i).speaker != speaker)
                continue;
            for (qsizetype j = i + 1; j < circularRecentTurns; ++j) {
                if (turns.at(first + j).speaker != speaker)
                    continue;
                const QSet<QString>& a = wordsOf(i);
                const QSet<QString>& b = wordsOf(j);
                if (a.size() >= minimumSignificantWords && b.size() >= minimumSignificantWords
                    && overlap(a, b) >= circularOverlap)
                    return true;
            }
        }
    }
    return false;
}

bool ConversationSignals::circularityReady(
    double confidence, qint64 firstDetectedAtTurn, qint64 settledTurnCount, double elapsed)
{
    // settledTurnCount is at least 8 when the last test runs, so subtracting from it
    // cannot overflow whatever the first detection says.
    return confidence >= circularityMinimumConfidence && settledTurnCount >= circularityMinimumTurns
        && elapsed >= circularityMinimumSeconds
        && firstDetectedAtTurn < settledTurnCount - circularityTurnsSinceDetection;
}

std::optional<TurnPromptLevel> ConversationSignals::turnPrompt(double elapsed, bool extensionUsed)
{
    if (elapsed >= finalTurnPromptSeconds)
        return TurnPromptLevel::final;
    if (elapsed >= firstTurnPromptSeconds && !extensionUsed)
        return TurnPromptLevel::first;
    return std::nullopt;
}

ConversationalFloor ConversationSignals::applyBoundary(
    const ConversationalFloor& floor, const SpeakerTurn& candidate, const TurnBoundaryDecision& decision)
{
    if (seatOf(candidate.speaker) == floor.speaker)
        return floor;
    switch (decision.kind) {
    case TurnBoundaryKind::handoff:
        return ConversationalFloor(candidate.speaker, candidate.start, decision.confidence, 0);
    case TurnBoundaryKind::interjection: {
        ConversationalFloor held = floor;
        held.confidence = decision.confidence;
        if (held.interjections < std::numeric_limits<qint64>::max())
            ++held.interjections;
        return held;
    }
    }
    return floor;
}

TurnBoundaryDecision ConversationSignals::fallbackBoundary(const ConversationalFloor& floor,
    const SpeakerTurn& candidate, const std::optional<SpeakerTurn>& following)
{
    const TurnBoundaryDecision handoff { TurnBoundaryKind::handoff, handoffConfidence };
    if (!following)
        return handoff;
    // A reversed utterance counts as lasting 0 s, which is short; one whose length is not
    // a number is not known to be short.
    const double duration = candidate.end - candidate.start;
    const bool shortUtterance = TurnGrouping::wordCount(candidate.text) <= interjectionMaxWords
        && duration <= interjectionMaxSeconds;
    if (seatOf(following->speaker) == floor.speaker && shortUtterance)
        return { TurnBoundaryKind::interjection, interjectionConfidence };
    return handoff;
}

} // namespace lumora
