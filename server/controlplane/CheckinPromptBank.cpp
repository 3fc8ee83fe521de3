#include "controlplane/CheckinPromptBank.hpp"

#include <QCryptographicHash>
#include <array>

namespace lumora {

namespace {

constexpr qint64 secondsPerWeek = 7 * 24 * 60 * 60;
// 1970-01-01 was a Thursday: the first Monday before it lies three days earlier.
constexpr qint64 mondayBeforeEpoch = -3 * 24 * 60 * 60;

struct Question {
    const char* id;
    const char* text;
};

constexpr std::array temperaturePrompts {
    "How connected have you felt to me lately, and what made the difference?",
    "How full is your tank this week: running on empty, half full, or topped up?",
    "If this week had a soundtrack, what song would it be, and why?",
    "What did you need more of this week, and what did you need less of?",
    "How rested, and how stretched, have you felt since we last sat down like this?",
    "Which part of this week felt heaviest, and which felt lightest?",
    "In a sentence or two, how close or far apart have we felt this week?",
};

constexpr std::array appreciationPrompts {
    "When did I lighten your mood or make you laugh this week?",
    "What is something I did recently that you have not thanked me for yet?",
    "Which of my everyday habits quietly made this week better for you?",
    "Share one thing you admired about how I handled something this week.",
    "What did I say or do this week that made you feel cared for?",
    "Name a small moment from the last few days that you would happily live again.",
    "What about us are you grateful for this week?",
    "When did you feel proud of me lately?",
    "Which little thing I do would you miss most if it stopped?",
};

// Two a week, half the pool apart, so a week's pair never repeats the week before.
constexpr std::array followUpPrompts {
    "Is there a conversation from the past few days that deserves a second try?",
    "Did anything I said this week land differently than I meant it?",
    "Is there a promise either of us made that still needs keeping?",
    "What worry have you been carrying on your own that we could share?",
    "Was there a plan we made that slipped, and do we still want it?",
    "Is there a small hurt from this week that would feel better said out loud?",
    "What did we agree to try last time, and how did it go?",
    "Is there a decision waiting on us that we keep putting off?",
};

constexpr std::array questions {
    Question { "bank_free_weekend",
        "If we had a whole weekend with nothing planned, how would you want to spend it together?" },
    Question { "bank_feel_supported", "What helps you feel supported by me when you are stressed?" },
    Question { "bank_early_memory", "Which memory from our early days still makes you smile?" },
    Question { "bank_recharge", "What really recharges you, and how can I help make room for it?" },
    Question { "bank_new_tradition", "Is there a little tradition you would like us to start?" },
    Question { "bank_learned_self", "What have you learned about yourself since we have been together?" },
    Question { "bank_restful_home", "What would make our home feel more restful for you right now?" },
    Question { "bank_small_adventure", "What small adventure would you like us to have in the next month?" },
    Question { "bank_ask_more", "What do you wish I asked you about more often?" },
    Question { "bank_good_team", "When did we feel like a really good team lately?" },
    Question {
        "bank_show_love", "What is a simple way I could show you love that you would notice right away?" },
    Question { "bank_five_years", "What do you hope we will be doing together five years from now?" },
    Question { "bank_kinder_self", "Where could you be a little kinder to yourself this week?" },
};

constexpr std::array lookingAheadPrompts {
    "Which moment next week would you like us to keep just for the two of us?",
    "What are you most curious about in the days ahead?",
    "Which day next week could use a little extra care from me?",
    "What would make next week feel like a good one for you?",
    "Is there something coming up that you would like me to be there for?",
};

constexpr std::array smallAskPrompts {
    "Tell me one thing you would like from me this week, however small.",
    "What is one kind thing we can each do for the other before we sit down again?",
    "Pick one thing we will do together this week, just for fun.",
    "What is one way I could make tomorrow morning a little easier for you?",
    "Choose one chore we will each take off the other's list this week.",
    "What small gesture from me would make you smile this week?",
};

qint64 nonNegativeRemainder(qint64 value, qint64 divisor)
{
    const qint64 remainder = value % divisor;
    return remainder < 0 ? remainder + divisor : remainder;
}

// Weeks counted without gaps (unlike week keys, which jump at the turn of a year).
qint64 weekNumber(qint64 weekStart)
{
    const qint64 sinceMonday = weekStart - mondayBeforeEpoch;
    return sinceMonday / secondsPerWeek - (sinceMonday % secondsPerWeek < 0 ? 1 : 0);
}

// Where each section's pool starts for a workspace: stable across runs and platforms.
class WorkspaceOffsets {
public:
    explicit WorkspaceOffsets(const QUuid& workspace)
        : m_digest(QCryptographicHash::hash(workspace.toRfc4122(), QCryptographicHash::Sha256))
    {
    }

    qint64 offset(int section) const
    {
        quint32 value = 0;
        for (int i = 0; i < 4; ++i)
            value = (value << 8) | static_cast<quint8>(m_digest.at(section * 4 + i));
        return value;
    }

private:
    QByteArray m_digest;
};

class Rotation {
public:
    Rotation(qint64 week, const WorkspaceOffsets& offsets)
        : m_week(week)
        , m_offsets(offsets)
    {
    }

    // The pool's entry for this week, `shift` entries further along.
    template <typename Pool> const auto& pick(const Pool& pool, int section, qint64 shift = 0) const
    {
        const auto size = static_cast<qint64>(pool.size());
        return pool[static_cast<std::size_t>(nonNegativeRemainder(
            nonNegativeRemainder(m_week, size) + m_offsets.offset(section) + shift, size))];
    }

private:
    qint64 m_week;
    const WorkspaceOffsets& m_offsets;
};

CheckinPrompt prompt(const char* text)
{
    return CheckinPrompt { QString::fromUtf8(text), std::nullopt };
}

} // namespace

CheckinPack CheckinPromptBank::compose(const QUuid& workspace, const QString& week, qint64 weekStart)
{
    const WorkspaceOffsets offsets(workspace);
    const Rotation rotation(weekNumber(weekStart), offsets);
    const Question& question = rotation.pick(questions, 3);
    const auto halfFollowUps = static_cast<qint64>(followUpPrompts.size() / 2);

    return CheckinPack {
        .week = week,
        .source = CheckinPackSource::model,
        .generatedAt = weekStart,
        .note = std::nullopt,
        .questionID = QString::fromUtf8(question.id),
        .sections = {
            CheckinSection { "temperature", "Temperature check", 2,
                { prompt(rotation.pick(temperaturePrompts, 0)) } },
            CheckinSection { "appreciation", "Appreciations", 2,
                { prompt(rotation.pick(appreciationPrompts, 1)) } },
            CheckinSection { "follow_up", "Loose ends", 4,
                { prompt(rotation.pick(followUpPrompts, 2)),
                    prompt(rotation.pick(followUpPrompts, 2, halfFollowUps)) } },
            CheckinSection { "question", "Question of the week", 5, { prompt(question.text) } },
            CheckinSection { "close", "Looking ahead", 2,
                { prompt(rotation.pick(lookingAheadPrompts, 4)),
                    prompt(rotation.pick(smallAskPrompts, 5)) } },
        },
    };
}

} // namespace lumora
