#include "domain/DemoConversation.hpp"

namespace lumora {

namespace {

SpeakerTurn line(qint64 speaker, double start, double end, const char16_t* text)
{
    return SpeakerTurn(speaker, start, end, QString::fromUtf16(text));
}

} // namespace

const QList<SpeakerTurn>& DemoConversation::turns()
{
    static const QList<SpeakerTurn> script {
        line(0, 0, 8, u"One thing I appreciated this week: you made room for me to rest. That mattered."),
        line(1, 9, 15, u"Thank you. I appreciated the note you left me. I kept it."),
        line(0, 16, 22, u"I want to talk about the phone at dinner."),
        line(0, 23, 30, u"You\u2019re always on it. It feels like we aren\u2019t even there."),
        line(1, 31, 39, u"That isn\u2019t fair. I answer two messages and suddenly I don\u2019t care?"),
        line(0, 40, 46, u"Right. You work so hard and never do anything wrong."),
        line(1, 47, 54, u"Fine. Whatever you say."),
        line(0, 55, 63, u"Wait. I don\u2019t want to do it like this. I\u2019m sorry \u2014 that was mean."),
        line(1, 64, 73, u"Thank you. What I hear is that dinner is our one hour together."),
        line(0, 74, 81, u"Yes. It\u2019s not the messages. I feel like I\u2019m competing for you."),
        line(1, 82, 91, u"The part that\u2019s true is I do check out. Work is my excuse."),
        line(0, 92, 101, u"What I need is one hour where we\u2019re all actually together."),
        line(1, 102, 112, u"What if the phone stays in the kitchen, then I clear the queue after?"),
        line(0, 113, 121, u"Deal. I\u2019ll save the logistics list for after dinner too."),
        line(1, 122, 132, u"I hear that you were asking for an hour. Thank you for staying with it."),
        line(0, 133, 141, u"Thank you for hearing me. That felt different."),
    };
    return script;
}

const QList<BehaviorAnnotation>& DemoConversation::annotations()
{
    using enum BehaviorCode;
    static const QList<BehaviorAnnotation> script {
        { 0, 0, positive, 0.88, 1, 7 },
        { 1, 1, positive, 0.84, 10, 15 },
        { 3, 0, criticism, 0.91, 23, 26 },
        { 4, 1, defensiveness, 0.86, 32, 39 },
        { 5, 0, contempt, 0.87, 41, 46 },
        { 6, 1, stonewalling, 0.86, 48, 53 },
        { 7, 0, repair, 0.92, 57, 63 },
        { 8, 1, positive, 0.87, 65, 73 },
        { 10, 1, repair, 0.86, 83, 91 },
        { 12, 1, repair, 0.83, 103, 112 },
        { 13, 0, positive, 0.78, 114, 121 },
        { 14, 1, positive, 0.86, 123, 132 },
        { 15, 0, positive, 0.88, 134, 141 },
    };
    return script;
}

const QList<ProcessFoulAnnotation>& DemoConversation::fouls()
{
    using enum ProcessFoul;
    static const QList<ProcessFoulAnnotation> script {
        { 3, 0, globalizing, 0.86, 23, 26 },
        { 3, 0, mindReading, 0.74, 26, 30 },
        { 4, 1, mindReading, 0.68, 34, 39 },
    };
    return script;
}

} // namespace lumora
