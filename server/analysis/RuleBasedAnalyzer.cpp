#include "analysis/RuleBasedAnalyzer.hpp"

#include "domain/ConversationSummary.hpp"
#include "domain/Seat.hpp"
#include "domain/TurnGrouping.hpp"
#include "wire/AnalysisRubric.hpp"

#include <QHash>
#include <QSet>
#include <algorithm>
#include <cmath>

namespace lumora {

QString errorCode(AnalyzerError error)
{
    switch (error) {
    case AnalyzerError::unknownRubric:
        return QStringLiteral("unknown_rubric");
    }
    return {};
}

namespace {

// Lower case with typographic apostrophes folded, so "I’m" and "I'm" match alike.
QString normalised(const QString& text)
{
    QString result = text.toLower();
    result.replace(QChar(0x2019), QLatin1Char('\''));
    return result;
}

QRegularExpression pattern(const char* expression)
{
    return QRegularExpression(QString::fromUtf8(expression), QRegularExpression::UseUnicodePropertiesOption);
}

// Words of at least four letters that carry the topic; letter runs, lower case.
QStringList significantWords(const QString& text)
{
    static const QSet<QString> stopWords { "about", "after", "again", "because", "could", "from", "have",
        "just", "that", "then", "there", "they", "this", "what", "when", "where", "which", "with", "would",
        "your", "yours", "were", "will", "want", "know", "really", "think", "like", "been", "them", "some",
        "more", "into", "only", "also", "than", "even" };
    QStringList words;
    QSet<QString> seen;
    QString word;
    const QString lower = text.toLower();
    auto flush = [&] {
        if (word.size() >= 4 && !stopWords.contains(word) && !seen.contains(word)) {
            seen.insert(word);
            words.append(word);
        }
        word.clear();
    };
    for (QChar c : lower) {
        if (c.isLetter())
            word.append(c);
        else
            flush();
    }
    flush();
    return words;
}

// A turn's topic words in order, and as numbers of the request's words, sorted, so that two
// turns compare by one merge rather than by building sets.
struct TopicWords {
    QStringList words;
    std::vector<int> numbers;
    std::vector<int> sortedNumbers;
};

QList<TopicWords> topicWordsOf(const QList<SpeakerTurn>& turns)
{
    QHash<QString, int> numberOf;
    QList<TopicWords> all;
    all.reserve(turns.size());
    for (const SpeakerTurn& turn : turns) {
        TopicWords topic { significantWords(turn.text), {}, {} };
        topic.numbers.reserve(std::size_t(topic.words.size()));
        for (const QString& word : topic.words) {
            auto found = numberOf.constFind(word);
            if (found == numberOf.cend())
                found = numberOf.insert(word, int(numberOf.size()));
            topic.numbers.push_back(*found);
        }
        topic.sortedNumbers = topic.numbers;
        std::ranges::sort(topic.sortedNumbers);
        all.append(std::move(topic));
    }
    return all;
}

// The words two turns share over the words either has (each turn's words are distinct).
double wordingOverlap(const TopicWords& a, const TopicWords& b)
{
    std::size_t both = 0;
    auto left = a.sortedNumbers.begin();
    auto right = b.sortedNumbers.begin();
    while (left != a.sortedNumbers.end() && right != b.sortedNumbers.end()) {
        if (*left < *right) {
            ++left;
        } else if (*right < *left) {
            ++right;
        } else {
            ++both;
            ++left;
            ++right;
        }
    }
    const std::size_t all = a.sortedNumbers.size() + b.sortedNumbers.size() - both;
    return all == 0 ? 0.0 : double(both) / double(all);
}

// The most two turns of these sizes could share: the smaller over the larger.
double mostOverlap(const TopicWords& a, const TopicWords& b)
{
    const std::size_t fewer = std::min(a.sortedNumbers.size(), b.sortedNumbers.size());
    const std::size_t more = std::max(a.sortedNumbers.size(), b.sortedNumbers.size());
    return more == 0 ? 0.0 : double(fewer) / double(more);
}

qint64 wordCount(const QString& text)
{
    return text.split(QRegularExpression(QStringLiteral("\\s+")), Qt::SkipEmptyParts).size();
}

QString coachingLine(BehaviorCode code)
{
    switch (code) {
    case BehaviorCode::criticism:
        return QStringLiteral("Describe what happened and ask for what you need, without blame.");
    case BehaviorCode::contempt:
        return QStringLiteral("Pause, and name the hurt under the sharp words.");
    case BehaviorCode::defensiveness:
        return QStringLiteral("Find one part of the complaint you can agree with.");
    case BehaviorCode::stonewalling:
        return QStringLiteral("Say you need a short break, and when you will come back.");
    case BehaviorCode::repair:
    case BehaviorCode::positive:
        return QStringLiteral("Keep turning toward each other: it is working.");
    }
    return {};
}

QString coachingLine(ProcessFoul foul)
{
    switch (foul) {
    case ProcessFoul::kitchenSinking:
        return QStringLiteral("Stay with one concern at a time.");
    case ProcessFoul::globalizing:
        return QStringLiteral("Swap always and never for the one moment that hurt.");
    case ProcessFoul::dredgingPast:
        return QStringLiteral("Leave the old hurt for another talk; stay with today.");
    case ProcessFoul::mindReading:
        return QStringLiteral("Ask what your partner meant instead of guessing.");
    }
    return {};
}

QString adherenceNote(qint64 detectedStep, qint64 currentStep)
{
    if (detectedStep == currentStep)
        return QStringLiteral("The talk follows the agenda step.");
    return QStringLiteral("The talk sounds like step %1 while the agenda is on step %2.")
        .arg(detectedStep + 1)
        .arg(currentStep + 1);
}

// Blame among the opening turns; nothing when the request does not hold the conversation's
// opening, as a start-up can only be judged then.
std::optional<HarshStartupEvidence> harshStartupIn(
    const QList<SpeakerTurn>& turns, const QList<BehaviorAnnotation>& annotations)
{
    if (turns.isEmpty() || turns.first().start >= RuleBasedAnalyzer::openingWindowSeconds)
        return std::nullopt;
    double harshest = 0;
    for (const BehaviorAnnotation& annotation : annotations) {
        const bool harshCode
            = annotation.code == BehaviorCode::criticism || annotation.code == BehaviorCode::contempt;
        if (annotation.turnIndex < RuleBasedAnalyzer::openingTurns && harshCode)
            harshest = std::max(harshest, annotation.confidence);
    }
    if (harshest > 0)
        return HarshStartupEvidence { true, harshest,
            QStringLiteral("The conversation opened with blame; a softer start helps both of you.") };
    return HarshStartupEvidence { false, 0.7, QStringLiteral("The conversation opened gently.") };
}

// How far apart two utterances came, counted in turns as the transcript shows them: a partner's
// utterances in a row are one turn, and so is a short interjection held inside the other's.
QString cameBack(const QList<SpeakerTurn>& turns, qsizetype earlier, qsizetype later)
{
    const QHash<qint64, qsizetype> groupOf = TurnGrouping::groupIndexByTurnIndex(TurnGrouping::group(turns));
    const qsizetype apart = groupOf.value(later) - groupOf.value(earlier);
    if (apart <= 0)
        return QStringLiteral("The same point came back within one turn in nearly the same words.");
    if (apart == 1)
        return QStringLiteral("The same point came back 1 turn later in nearly the same words.");
    return QStringLiteral("The same point came back %1 turns later in nearly the same words.").arg(apart);
}

// The pair of one seat's turns that share the most of their topic words, when that reaches the
// repeated-wording overlap.
CircularityEvidence circularityIn(const QList<SpeakerTurn>& turns, const QList<TopicWords>& topics)
{
    CircularityEvidence circularity { false, 0, QString(), QStringLiteral("No point has come back yet."),
        QString() };
    double bestOverlap = 0;
    qsizetype earlierIndex = 0;
    qsizetype laterIndex = 0;
    for (qsizetype j = 0; j < turns.size(); ++j) {
        const TopicWords& later = topics[j];
        for (qsizetype i = 0; i < j && later.words.size() >= 3; ++i) {
            if (seatOf(turns[i].speaker) != seatOf(turns[j].speaker))
                continue;
            const TopicWords& earlier = topics[i];
            // Turns whose sizes alone keep them below what is needed are not compared.
            const double most = earlier.words.size() >= 3 ? mostOverlap(earlier, later) : 0.0;
            if (most < RuleBasedAnalyzer::repeatedWordingOverlap || most <= bestOverlap)
                continue;
            const double overlap = wordingOverlap(earlier, later);
            if (overlap >= RuleBasedAnalyzer::repeatedWordingOverlap && overlap > bestOverlap) {
                bestOverlap = overlap;
                QStringList shared;
                for (qsizetype k = 0; k < later.words.size(); ++k)
                    if (std::ranges::binary_search(earlier.sortedNumbers, later.numbers[std::size_t(k)]))
                        shared.append(later.words.at(k));
                circularity = { true, std::min(0.95, 0.5 + overlap / 2), shared.join(' '), QString(),
                    QStringLiteral(
                        "Pause and name the loop together, then each say what you need under it.") };
                earlierIndex = i;
                laterIndex = j;
            }
        }
    }
    if (circularity.detected)
        circularity.rationale = cameBack(turns, earlierIndex, laterIndex);
    return circularity;
}

// "About" the topic word that comes up most, first seen first on ties; nothing without one.
std::optional<QString> titleOf(const QList<TopicWords>& topics)
{
    QHash<QString, int> counts;
    QStringList order;
    for (const TopicWords& topic : topics) {
        for (const QString& word : topic.words) {
            if (!counts.contains(word))
                order.append(word);
            counts[word] += 1;
        }
    }
    QString topic;
    for (const QString& word : order)
        if (topic.isEmpty() || counts[word] > counts[topic])
            topic = word;
    if (topic.isEmpty())
        return std::nullopt;
    return QStringLiteral("About ") + topic;
}

// One line for each kind of moment found, in the order found; a general one when none was.
QStringList coachingLinesFor(
    const QList<BehaviorAnnotation>& annotations, const QList<ProcessFoulAnnotation>& fouls)
{
    QStringList lines;
    const auto add = [&](const QString& line) {
        if (!lines.contains(line))
            lines.append(line);
    };
    for (const BehaviorAnnotation& annotation : annotations)
        add(coachingLine(annotation.code));
    for (const ProcessFoulAnnotation& foul : fouls)
        add(coachingLine(foul.foul));
    if (lines.isEmpty())
        add(QStringLiteral("Keep reflecting what you hear before you answer."));
    return lines;
}

ConversationNudge nudgeFor(BehaviorCode code)
{
    switch (code) {
    case BehaviorCode::criticism:
        return { "Soften the start", "Name the situation and your feeling, then ask for one thing.",
            "When that happened I felt alone. Could we…" };
    case BehaviorCode::contempt:
        return { "Step back from the sting", "Put the sharp words down and say what hurt.",
            "I said that because I’m hurt. What I need is…" };
    case BehaviorCode::defensiveness:
        return { "Let one thing land", "Take in one part of what your partner said before you answer.",
            "You’re right that I…" };
    case BehaviorCode::stonewalling:
        return { "Take a break, not a leave", "Ask for a short pause and say when you will come back.",
            "I need ten minutes to calm down. I’m not leaving this." };
    case BehaviorCode::repair:
    case BehaviorCode::positive:
        break;
    }
    return { "Keep turning toward", "What you are doing is working; stay with it.",
        "Thank you for staying with me." };
}

ConversationNudge nudgeFor(ProcessFoul foul)
{
    switch (foul) {
    case ProcessFoul::kitchenSinking:
        return { "One thing at a time", "Choose the one concern that matters most tonight.",
            "The thing I most want us to talk about is…" };
    case ProcessFoul::globalizing:
        return { "One moment, not a verdict", "Talk about the one moment instead of always or never.",
            "Last night, when…, I felt…" };
    case ProcessFoul::dredgingPast:
        return { "Stay with today", "Leave older hurts for another talk.",
            "What happened today that hurt was…" };
    case ProcessFoul::mindReading:
        return { "Ask, don’t assume", "Check what your partner meant instead of guessing.",
            "What was going on for you when…?" };
    }
    return {};
}

ConversationNudge nudgeForStep(qint64 step)
{
    static const ConversationNudge steps[] = {
        { "Settle first", "Take one slow breath together before you begin.", "Before we start, I feel…" },
        { "Name the loop", "Describe the pattern you both get caught in, not each other.",
            "The loop we get into is…" },
        { "Go underneath", "Say the softer feeling under the anger or the silence.",
            "Underneath it, I feel…" },
        { "Reflect first", "Say back what you heard before you answer.", "What I hear you saying is…" },
        { "Your side", "Share your side of the same loop, gently.", "For me, the same loop feels like…" },
        { "One small step", "Offer one small thing you will do this week.", "This week I can…" },
    };
    return steps[std::clamp<qint64>(step, 0, 5)];
}

} // namespace

RuleBasedAnalyzer::RuleBasedAnalyzer()
{
    m_codeRules = {
        { BehaviorCode::criticism,
            { { pattern(R"(\byou (?:never|always)\b)"), 0.8 },
                { pattern(R"(\bwhat(?:'s| is) wrong with you\b)"), 0.85 },
                { pattern(R"(\bwhy (?:can't|don't|won't) you\b)"), 0.7 },
                { pattern(R"(\byou don't (?:even )?(?:care|listen)\b)"), 0.75 },
                { pattern(R"(\byou're so (?:selfish|lazy|careless|inconsiderate)\b)"), 0.85 } } },
        { BehaviorCode::contempt,
            { { pattern(R"(^\W*whatever\W*$)"), 0.8 }, { pattern(R"(^\W*whatever\b)"), 0.7 },
                { pattern(R"(\b(?:pathetic|ridiculous|stupid|idiot|useless)\b)"), 0.8 },
                { pattern(R"(\b(?:give me a break|are you kidding me|oh please)\b)"), 0.7 },
                { pattern(R"(\bwho do you think you are\b)"), 0.85 } } },
        { BehaviorCode::defensiveness,
            { { pattern(R"(\b(?:it's|it is|that's|that is) not my fault\b)"), 0.8 },
                { pattern(R"(\bi (?:didn't|did not) (?:do|say|mean) (?:anything|that)\b)"), 0.7 },
                { pattern(R"(\b(?:yes|yeah),? but\b)"), 0.6 },
                { pattern(R"(\bthat's not (?:true|fair)\b)"), 0.65 },
                { pattern(R"(\bwhat about (?:you|when you)\b)"), 0.7 } } },
        { BehaviorCode::stonewalling,
            { { pattern(R"(\bi(?:'m| am) done\b)"), 0.75 },
                { pattern(R"(\b(?:leave me alone|forget it|i don't want to talk)\b)"), 0.8 },
                { pattern(R"(^\W*fine\W*$)"), 0.6 },
                { pattern(R"(\bi'm not (?:talking|discussing) (?:about )?(?:this|it)\b)"), 0.8 } } },
        { BehaviorCode::repair,
            { { pattern(R"(\bi(?:'m| am) sorry\b)"), 0.85 }, { pattern(R"(\bi apologi[sz]e\b)"), 0.85 },
                { pattern(R"(\bi see what you mean\b)"), 0.85 }, { pattern(R"(\byou're right\b)"), 0.75 },
                { pattern(R"(\b(?:can we|let's) (?:start over|take a break|slow down)\b)"), 0.8 },
                { pattern(R"(\bi understand\b)"), 0.65 }, { pattern(R"(\bmy (?:part|bad)\b)"), 0.7 } } },
        { BehaviorCode::positive,
            { { pattern(R"(\bthank(?:s| you)\b)"), 0.75 },
                { pattern(R"(\bi (?:love|appreciate|admire)\b)"), 0.8 },
                { pattern(R"(\b(?:good|great|fair) point\b)"), 0.7 }, { pattern(R"(\bi agree\b)"), 0.7 },
                { pattern(R"(\bthat means a lot\b)"), 0.8 } } },
    };
    m_foulRules = {
        { ProcessFoul::kitchenSinking,
            { { pattern(R"(\b(?:and another thing|while we're at it|not to mention|on top of that)\b)"),
                0.75 } } },
        { ProcessFoul::globalizing,
            { { pattern(R"(\byou (?:always|never)\b)"), 0.75 },
                { pattern(R"(\bevery (?:single )?time\b)"), 0.7 },
                { pattern(R"(\bnothing ever\b)"), 0.7 } } },
        { ProcessFoul::dredgingPast,
            { { pattern(
                    R"(\b(?:last (?:year|christmas|summer)|remember when|back when|years ago|that time you)\b)"),
                0.7 } } },
        { ProcessFoul::mindReading,
            { { pattern(R"(\byou (?:just|obviously|clearly) (?:want|think|don't care)\b)"), 0.75 },
                { pattern(R"(\bi know (?:exactly )?what you(?:'re| are) thinking\b)"), 0.8 },
                { pattern(R"(\byou only care about\b)"), 0.75 } } },
    };
    m_stepCues = {
        { pattern(R"(\b(?:breathe|breath|calm|settle|activated)\b)") },
        { pattern(R"(\b(?:cycle|pattern|loop|stuck)\b)") },
        { pattern(R"(\b(?:underneath|afraid|scared|lonely|vulnerable)\b)") },
        { pattern(R"(\b(?:what i'm hearing|did i get that|sounds like you|i hear you)\b)") },
        { pattern(R"(\b(?:my side|from my side|my experience)\b)") },
        { pattern(R"(\b(?:this week|turn toward|one thing i can|next time i)\b)") },
    };
}

QList<BehaviorAnnotation> RuleBasedAnalyzer::codesIn(const QList<SpeakerTurn>& turns) const
{
    QList<BehaviorAnnotation> found;
    for (qsizetype i = 0; i < turns.size(); ++i) {
        const SpeakerTurn& turn = turns.at(i);
        const QString text = normalised(turn.text);
        for (const auto& set : m_codeRules) {
            double best = 0;
            for (const Rule& rule : set.rules)
                if (rule.pattern.match(text).hasMatch())
                    best = std::max(best, rule.confidence);
            if (best > 0)
                found.append(
                    BehaviorAnnotation(i, seatOf(turn.speaker), set.finding, best, turn.start, turn.end));
        }
    }
    return found;
}

QList<ProcessFoulAnnotation> RuleBasedAnalyzer::foulsIn(const QList<SpeakerTurn>& turns) const
{
    QList<ProcessFoulAnnotation> found;
    for (qsizetype i = 0; i < turns.size(); ++i) {
        const SpeakerTurn& turn = turns.at(i);
        const QString text = normalised(turn.text);
        for (const auto& set : m_foulRules) {
            double best = 0;
            for (const Rule& rule : set.rules)
                if (rule.pattern.match(text).hasMatch())
                    best = std::max(best, rule.confidence);
            if (best > 0)
                found.append(ProcessFoulAnnotation(i, turn.speaker, set.finding, best, turn.start, turn.end));
        }
    }
    return found;
}

std::optional<StepDetection> RuleBasedAnalyzer::stepIn(const QList<SpeakerTurn>& turns) const
{
    qint64 bestStep = -1;
    qint64 bestHits = 0;
    for (qsizetype step = 0; step < qsizetype(m_stepCues.size()); ++step) {
        qint64 hits = 0;
        for (const SpeakerTurn& turn : turns) {
            const QString text = normalised(turn.text);
            for (const QRegularExpression& cue : m_stepCues[step]) {
                auto matches = cue.globalMatch(text);
                while (matches.hasNext()) {
                    matches.next();
                    ++hits;
                }
            }
        }
        // Ties go to the later step: the partners have moved on.
        if (hits > 0 && hits >= bestHits) {
            bestStep = step;
            bestHits = hits;
        }
    }
    if (bestStep < 0)
        return std::nullopt;
    return StepDetection { bestStep, std::min(0.95, 0.55 + 0.1 * double(bestHits)) };
}

std::expected<AnalysisProviderResult, AnalyzerError> RuleBasedAnalyzer::analyze(
    const AnalysisProviderPayload& request) const
{
    const auto rubric = fromString<AnalysisRubric>(request.rubricVersion);
    if (!rubric)
        return std::unexpected(AnalyzerError::unknownRubric);
    const bool gentle = *rubric == AnalysisRubric::checkin;
    const QList<SpeakerTurn>& turns = request.turns;
    const QList<TopicWords> topics = topicWordsOf(turns);

    AnalysisProviderResult result;
    result.model = QString::fromLatin1(modelName);
    for (const BehaviorAnnotation& annotation : codesIn(turns)) {
        // A check-in is kept gentle: only the warm moments are reported.
        if (!gentle || isWarm(annotation.code))
            result.annotations.append(annotation);
    }
    result.fouls = gentle ? QList<ProcessFoulAnnotation> {} : foulsIn(turns);
    result.stepDetected = stepIn(turns);
    if (request.currentStep && result.stepDetected)
        result.adherenceNote = adherenceNote(result.stepDetected->index, *request.currentStep);
    if (!gentle) {
        result.harshStartup = harshStartupIn(turns, result.annotations);
        result.circularity = circularityIn(turns, topics);
    }
    result.title = titleOf(topics);
    result.summary = ConversationSummary::counted(turns, result.annotations, *result.fouls,
        result.harshStartup && result.harshStartup->detected,
        result.circularity && result.circularity->detected);
    result.nudges = coachingLinesFor(result.annotations, *result.fouls);
    for (const SpeakerTurn& turn : turns)
        result.inputTokens += (wordCount(turn.text) * 4 + 2) / 3;
    result.outputTokens = wordCount(result.summary) + wordCount(result.nudges->join(' '));
    return result;
}

std::expected<ConversationNudge, AnalyzerError> RuleBasedAnalyzer::nudge(
    const NudgeProviderPayload& request) const
{
    if (request.rubricVersion != QLatin1String(nudgeRubricVersion))
        return std::unexpected(AnalyzerError::unknownRubric);
    const qint64 target = seatOf(request.targetSpeaker);
    // The latest hard moment of the partner the nudge is for decides it.
    const auto codes = codesIn(request.turns);
    const auto fouls = foulsIn(request.turns);
    for (qsizetype i = request.turns.size() - 1; i >= 0; --i) {
        if (seatOf(request.turns[i].speaker) != target)
            continue;
        for (const BehaviorAnnotation& annotation : codes)
            if (annotation.turnIndex == i && !isWarm(annotation.code))
                return nudgeFor(annotation.code);
        for (const ProcessFoulAnnotation& foul : fouls)
            if (foul.turnIndex == i)
                return nudgeFor(foul.foul);
    }
    return nudgeForStep(request.currentStep);
}

} // namespace lumora
