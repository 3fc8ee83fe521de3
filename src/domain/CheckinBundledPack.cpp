#include "domain/CheckinBundledPack.hpp"

#include "domain/CheckinWeek.hpp"

#include <array>

namespace lumora {

namespace {

struct Question {
    QStringView id;
    QStringView text;
};

constexpr std::array<Question, 6> questions { {
    { u"c_close_moment", u"When did you feel closest to me this week?" },
    { u"f_good_year", u"If this year went really well, what would be different by the end of it?" },
    { u"l_take_off_plate", u"What is one thing I could take off your plate this week?" },
    { u"i_close", u"What makes it easier for you to feel close to me?" },
    { u"p_laugh", u"What made you laugh this week?" },
    { u"g_small", u"What small thing made this week better?" },
} };

constexpr std::array<QStringView, 3> temperaturePrompts {
    u"In one word, how did this week feel for you? Then say a little more.",
    u"Give this week a number out of ten, and say why you picked it.",
    u"What was the weather like inside you this week?",
};

constexpr std::array<QStringView, 3> appreciationPrompts {
    u"Tell me one specific thing I did this week that you appreciated.",
    u"What is one thing I did this week that made your life easier?",
    u"Name a moment this week when you were glad it was me.",
};

constexpr std::array<QStringView, 4> followUpPrompts {
    u"What is something from last week that is still on your mind?",
    u"Is there anything we started talking about and never finished?",
    u"Was there a moment this week you wish had gone differently?",
    u"Is there something you asked me for recently that we should check on?",
};

constexpr std::array<std::array<QStringView, 2>, 3> closePrompts { {
    { u"What is one thing you are looking forward to next week?",
        u"Name one small thing I could do for you this week." },
    { u"What are you hoping for in the week ahead?",
        u"Ask me for one small thing, and I will ask you for one." },
    { u"What is one good thing already on next week's calendar?",
        u"What is one small kindness we could do for each other this week?" },
} };

// The remainder in 0 ... size − 1 whatever the sign of the week index.
template <typename Pool> const auto& pick(const Pool& pool, qint64 index)
{
    const auto size = static_cast<qint64>(pool.size());
    return pool[static_cast<std::size_t>((index % size + size) % size)];
}

CheckinPrompt prompt(QStringView text)
{
    return { text.toString(), std::nullopt };
}

CheckinSection section(QStringView id, QStringView title, qint64 minutes, QList<CheckinPrompt> prompts)
{
    return { id.toString(), title.toString(), minutes, std::move(prompts) };
}

} // namespace

CheckinPack CheckinBundledPack::pack(const QDateTime& date)
{
    const QString week = CheckinWeek::key(date, CheckinWeek::packCalendar());
    const qint64 n = CheckinWeek::index(week);
    const Question& question = pick(questions, n);
    const auto& close = pick(closePrompts, n);

    CheckinPack pack;
    pack.week = week;
    pack.source = CheckinPackSource::fallback;
    pack.generatedAt = date.isValid() ? date.toSecsSinceEpoch() : 0;
    pack.questionID = question.id.toString();
    pack.sections = {
        section(u"temperature", u"Temperature", 1, { prompt(pick(temperaturePrompts, n)) }),
        section(u"appreciation", u"Appreciation", 2, { prompt(pick(appreciationPrompts, n)) }),
        section(u"follow_up", u"Follow-up", 4,
            { prompt(pick(followUpPrompts, n)), prompt(pick(followUpPrompts, n + 1)) }),
        section(u"question", u"This week's question", 4, { prompt(question.text) }),
        section(u"close", u"Close", 2, { prompt(close[0]), prompt(close[1]) }),
    };
    return pack;
}

} // namespace lumora
